#pragma once
// The wave-out device calls the audio engine makes: device count and capabilities, open (or only
// ask whether a format plays), prepare, write, pause, restart, reset, position, close and error
// text, with the result codes and header flags the engine expects.
//
// A written header is returned (WHDR_DONE set, MM_WOM_DONE sent) once the listener has heard
// its last frame, not when its bytes were handed to the sound system. Callbacks come on one
// driver thread per open device, in the order the headers were written; they never run on the
// renderer's real-time thread or under this layer's locks, and never overlap for one device.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vant::audio {

using MMRESULT = uint32_t;

// Result codes.
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

// Header flags.
inline constexpr uint32_t WHDR_DONE = 0x01;
inline constexpr uint32_t WHDR_PREPARED = 0x02;
inline constexpr uint32_t WHDR_BEGINLOOP = 0x04;  // accepted, not acted on: no loops here
inline constexpr uint32_t WHDR_ENDLOOP = 0x08;
inline constexpr uint32_t WHDR_INQUEUE = 0x10;

// Open flags.
inline constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
inline constexpr uint32_t WAVE_MAPPED = 0x0004;
inline constexpr uint32_t CALLBACK_NULL = 0x00000;
inline constexpr uint32_t CALLBACK_FUNCTION = 0x30000;
inline constexpr uint32_t CALLBACK_TYPEMASK = 0x70000;

// Device number of the mapper; here it is the system's default output, like device 0.
inline constexpr int WAVE_MAPPER = -1;

// Callback messages.
inline constexpr uint32_t MM_WOM_OPEN = 0x3BB;
inline constexpr uint32_t MM_WOM_CLOSE = 0x3BC;
inline constexpr uint32_t MM_WOM_DONE = 0x3BD;

// Position units.
inline constexpr uint32_t TIME_MS = 0x0001;
inline constexpr uint32_t TIME_SAMPLES = 0x0002;
inline constexpr uint32_t TIME_BYTES = 0x0004;

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

// The wave format record, laid out byte for byte as a file's `fmt ` chunk stores it (18 bytes,
// no alignment: it may sit anywhere in a file image).
#pragma pack(push, 1)
struct WaveFormatEx {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;  // bytes of format-specific data after the record
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18);

// A buffer handed to the device. The caller owns it and its data; from waveOutWrite until the
// header comes back with WHDR_DONE the device reads dwBufferLength bytes at lpData.
struct WaveHdr {
  char* lpData;
  uint32_t dwBufferLength;
  uint32_t dwBytesRecorded;
  uintptr_t dwUser;
  uint32_t dwFlags;
  uint32_t dwLoops;
  WaveHdr* lpNext;
  uintptr_t reserved;
};

struct WaveOutCaps {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;
  std::string szPname;  // UTF-8
  uint16_t wChannels = 0;
};

struct MMTime {
  uint32_t wType = TIME_SAMPLES;
  uint32_t value = 0;  // in wType's unit; a 32-bit counter that wraps like the hardware's
};

class WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;

// Called with MM_WOM_OPEN, MM_WOM_DONE (with the header) and MM_WOM_CLOSE.
using WaveOutCallback = std::function<void(HWAVEOUT, uint32_t msg, WaveHdr* hdr)>;

uint32_t waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(int device, WaveOutCaps* caps);
// `flags`: CALLBACK_FUNCTION or CALLBACK_NULL, optionally WAVE_FORMAT_QUERY (then `out` may be
// null and nothing is opened) and WAVE_MAPPED (no effect: every device converts).
MMRESULT waveOutOpen(HWAVEOUT* out, int device, const WaveFormatEx* format,
                     WaveOutCallback callback, uint32_t flags);
// Refused with WAVERR_STILLPLAYING while a header is queued or not yet returned; refused with
// MMSYSERR_HANDLEBUSY from the device's own callback. Delivers MM_WOM_CLOSE before it returns.
MMRESULT waveOutClose(HWAVEOUT h);
MMRESULT waveOutPrepareHeader(HWAVEOUT h, WaveHdr* hdr);
MMRESULT waveOutUnprepareHeader(HWAVEOUT h, WaveHdr* hdr);
MMRESULT waveOutWrite(HWAVEOUT h, WaveHdr* hdr);
MMRESULT waveOutPause(HWAVEOUT h);
MMRESULT waveOutRestart(HWAVEOUT h);
// Stops playback, returns every queued header (MM_WOM_DONE, in order) and sets the position to
// 0. Called from outside the device's callback, it returns only after those callbacks ran.
MMRESULT waveOutReset(HWAVEOUT h);
// Asks for `time->wType`; answers in that unit (TIME_SAMPLES, TIME_BYTES or TIME_MS).
MMRESULT waveOutGetPosition(HWAVEOUT h, MMTime* time);
// Our text for a result code; MMSYSERR_BADERRNUM (and an empty text) for an unknown one.
MMRESULT waveOutGetErrorText(MMRESULT code, std::string* text);

// Whether a format is one this layer can play at all (PCM 8/16/32 bits or 32-bit float, 1 to 8
// channels, rate 1,000 to 384,000 Hz, consistent block align and byte rate).
bool IsPlayableFormat(const WaveFormatEx& format);

}  // namespace vant::audio
