#pragma once
// Wave-out-like operations over one looping stream buffer per stream: written headers queue up,
// a shared 31 ms refill step copies them fragment by fragment into the ring ahead of the play
// cursor, and each header is reported done (MM_WOM_DONE) once its last byte has been heard.
//
// One lock guards the list of streams and every stream. Callbacks run under it, on the thread
// that caused them: the caller's for open, close and reset, the timer service's for the done
// reports of a playing stream. A callback must only count, flag and post.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mmdspcomponent.h"
#include "streambuffer.h"

struct TDSWaveOutStream;
using HDSWAVEOUT = TDSWaveOutStream*;
using TDSWaveOutCallback = std::function<void(HDSWAVEOUT, uint32_t msg, PMMWaveHdr hdr)>;

// Answers of the layer's calls.
inline constexpr uint32_t DSWAVE_OK = 0;
inline constexpr uint32_t DSWAVE_FAILED = 1;

// Open flags beside WAVE_FORMAT_QUERY and CALLBACK_FUNCTION (the only callback kind here).
inline constexpr uint32_t DSWAVE_CTRLVOLUME = 0x10000000;
inline constexpr uint32_t DSWAVE_CTRLPAN = 0x20000000;
inline constexpr uint32_t DSWAVE_CTRLFREQUENCY = 0x40000000;

// Period of the shared refill step.
inline constexpr int DSWAVEOUT_REFILL_MS = 31;

// True: a header's done report waits until its sound has been heard; false: it comes as soon as
// the header was copied into the ring.
extern bool EXACTRETURN;
// Milliseconds added to that wait on emulated drivers.
extern int32_t TIMEADJUST;

// A fragment is a sixteenth of a second cut down to a multiple of 4 bytes; the ring holds four
// (eight on an emulated driver).
uint32_t DSWaveOutFragmentSize(uint32_t bytes_per_second);
uint32_t DSWaveOutBufferSize(uint32_t bytes_per_second, bool emulated);

// The drivers streams can open on; driver 0 is the system's default output.
std::vector<vant::audio::StreamDriver> DSWaveOutGetDrivers();

// With WAVE_FORMAT_QUERY only answers whether `format` opens on `driver` (`out` may be null).
// Otherwise opens a stream, muted and silent, and reports MM_WOM_OPEN before it returns.
uint32_t DSWaveOutOpen(HDSWAVEOUT* out, int driver, const WAVEFORMATEX* format,
                       TDSWaveOutCallback callback, uint32_t flags);
// Resets the stream (every header comes back), reports MM_WOM_CLOSE and frees it.
uint32_t DSWaveOutClose(HDSWAVEOUT h);
uint32_t DSWaveOutPrepareHeader(HDSWAVEOUT h, PMMWaveHdr hdr);
// Forgets a pending done report of the header and marks it done.
uint32_t DSWaveOutUnprepareHeader(HDSWAVEOUT h, PMMWaveHdr hdr);
// Queues the header; the first write of a stream neither playing nor paused starts it.
uint32_t DSWaveOutWrite(HDSWAVEOUT h, PMMWaveHdr hdr);
// Stops the stream and mutes it; what the ring handed out before the pause still reaches the
// listener, and the position follows it there.
uint32_t DSWaveOutPause(HDSWAVEOUT h);
// Goes on from the first byte not handed out; a stream paused before its first write starts
// afresh.
uint32_t DSWaveOutRestart(HDSWAVEOUT h);
// Stops, returns every header not yet returned (in the order written) and rewinds to 0.
uint32_t DSWaveOutReset(HDSWAVEOUT h);
// Samples heard since the last reset; only TIME_SAMPLES (another unit: the unit is set to
// samples and the call fails).
uint32_t DSWaveOutGetPosition(HDSWAVEOUT h, vant::audio::MMTime* time);
// Hundredths of a decibel, -10,000..0; stored only when the buffer accepts it.
uint32_t DSWaveOutSetVolume(HDSWAVEOUT h, int32_t volume);
uint32_t DSWaveOutGetVolume(HDSWAVEOUT h, int32_t* volume);
uint32_t DSWaveOutSetPan(HDSWAVEOUT h, int32_t pan);
uint32_t DSWaveOutGetPan(HDSWAVEOUT h, int32_t* pan);
// Samples per second, 100..100,000; 0 restores the format's own rate.
uint32_t DSWaveOutSetPlayBackRate(HDSWAVEOUT h, uint32_t rate);
uint32_t DSWaveOutGetPlayBackRate(HDSWAVEOUT h, uint32_t* rate);
