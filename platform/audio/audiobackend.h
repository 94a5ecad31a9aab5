#pragma once
// The seam between the wave-out device layer and whatever renders the sound. A backend lists
// devices and opens a stream that pulls bytes from a RenderSource (an open device's queue) on
// the backend's own schedule: SDL's audio thread, or a test calling ManualBackend::Render.
#include <cstdint>
#include <memory>

#include "waveout.h"

namespace vant::audio {

class RenderSource {
 public:
  virtual ~RenderSource() = default;
  // Fills `out` (`bytes` long, whole frames) with the next queued sound, silence where nothing
  // is queued or while paused, and answers how many bytes from the start are sound.
  // `latency_bytes`: how much of what has been rendered, this call included, the listener has
  // not heard yet. With `sound_only` the backend plays only the sound it is answered (a sound
  // server plays silence by itself while a stream runs dry), so only that counts as output;
  // otherwise it plays all `bytes`. Real-time safe: takes one short lock, never calls out of the
  // layer.
  virtual size_t Render(uint8_t* out, size_t bytes, int64_t latency_bytes, bool sound_only) = 0;
  // Waits up to `timeout_ms` until every callback due so far has run; true when they have.
  virtual bool WaitCallbacksIdle(int timeout_ms) = 0;
  // The answer to BackendStream::Discard: the last `bytes` of output were dropped unheard and the
  // output stands that much earlier; the source renders them again later from the first byte
  // not heard. Called once per Discard, on the backend's thread or inside Discard, with no lock
  // of the source held.
  virtual void TakeBack(int64_t /*bytes*/) {}
  // The backend lost what it plays through for good (a sound server that went away, or one that
  // failed a discard): nothing more is rendered or heard. Called once, on the backend's thread.
  virtual void Lost() {}
  // How much sound, in milliseconds, the backend should keep queued ahead of the listener. A
  // deep queue rides out a busy machine; a source that plays from a ring of its own asks for no
  // more than the ring leaves its writer room for.
  virtual int QueueMs() const;
};

// The deep queue: the backend's own depth (Backend::DefaultQueueMs), or VANT_AUDIO_QUEUE_MS
// (10..4000), read at each open.
int DeepQueueMs();

class BackendStream {
 public:
  // Stops rendering; no Render call is running or starts after it returns.
  virtual ~BackendStream() = default;
  // Starts pulling from the source.
  virtual void Start() = 0;
  // Bytes heard since the last Render call (an estimate from the clock), never more than what
  // that call reported as unheard. Lets the position move smoothly between renders.
  virtual int64_t HeardSinceRender() const { return 0; }
  // Whether HeardSinceRender grows with time; then the device returns a header when its end is
  // due to be heard rather than at the next render.
  virtual bool HeardMovesBetweenRenders() const { return false; }
  // Where the device's position counters start, in frames (hardware counters need not start
  // at 0; tests use it to reach the 32-bit wrap).
  virtual int64_t CounterOriginFrames() const { return 0; }

  // Drops what was rendered and not heard yet, so a pause, stop or seek is heard at once however
  // deep the queue; with `hold` the output then stays silent until Resume. Never waits for the
  // sound system: the answer comes as the source's TakeBack (how many bytes of its output were
  // dropped) or, where the backend failed, its Lost; nothing is rendered in between. Only where
  // CanDiscard. Call it without holding a lock the source's Render takes.
  virtual void Discard(bool /*hold*/) {}
  // Whether Discard can drop anything: only then must a source keep what it rendered and not yet
  // heard, to render it again.
  virtual bool CanDiscard() const { return false; }
  // Ends the hold of Discard.
  virtual void Resume() {}
  // The source has sound again after answering less than it was asked for; a backend that plays
  // only the sound asks for it now rather than at its next period. Same locking rule as Discard.
  virtual void Kick() {}
};

class Backend {
 public:
  virtual ~Backend() = default;
  // The queue a source asks for unless VANT_AUDIO_QUEUE_MS says otherwise: as deep as the
  // backend can keep without delaying a pause, stop or seek.
  virtual int DefaultQueueMs() const { return 100; }
  // False once the backend has lost what it plays through for good (a sound server that went
  // away); the process's default is then chosen again at the next use.
  virtual bool Alive() const { return true; }
  // Devices 0..DeviceCount()-1; device 0 is the system's default output.
  virtual int DeviceCount() = 0;
  virtual bool GetCaps(int device, WaveOutCaps* caps) = 0;
  virtual bool Supports(int device, const WaveFormatEx& format) = 0;
  // Opens `device` for `format` (already checked by Supports); on failure returns null and sets
  // `*error`.
  virtual std::unique_ptr<BackendStream> Open(int device, const WaveFormatEx& format,
                                              RenderSource* source, MMRESULT* error) = 0;
};

// The backend of the process unless a test installs another: the sound server's own client
// library when a PulseAudio (or PipeWire) server answers, otherwise SDL2 (also where
// VANT_AUDIO_BACKEND=sdl, or SDL_AUDIODRIVER names a driver other than the server's).
// Chosen at the first call, and again once the chosen one is no longer Alive (a sound server
// that restarted is reached anew).
Backend& GetBackend();
// Installs `backend` (not owned) for devices opened from now on; nullptr restores the default.
void SetBackend(Backend* backend);

}  // namespace vant::audio
