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
  // is queued or while paused. `latency_bytes`: how much of what has been rendered, this call
  // included, the listener has not heard yet. Real-time safe: takes one short lock, never calls
  // out of the layer.
  virtual void Render(uint8_t* out, size_t bytes, int64_t latency_bytes) = 0;
  // Waits up to `timeout_ms` until every callback due so far has run; true when they have.
  virtual bool WaitCallbacksIdle(int timeout_ms) = 0;
  // How much sound, in milliseconds, the backend should keep queued ahead of the listener. A
  // deep queue rides out a busy machine; a source that keeps its own ring filled ahead of the
  // listener (and counts free space from what was heard) wants a short one.
  virtual int QueueMs() const;
};

// The deep queue: 100 ms, or VANT_AUDIO_QUEUE_MS (10..1000), read at each open.
int DeepQueueMs();
inline constexpr int kShortQueueMs = 20;

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
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Devices 0..DeviceCount()-1; device 0 is the system's default output.
  virtual int DeviceCount() = 0;
  virtual bool GetCaps(int device, WaveOutCaps* caps) = 0;
  virtual bool Supports(int device, const WaveFormatEx& format) = 0;
  // Opens `device` for `format` (already checked by Supports); on failure returns null and sets
  // `*error`.
  virtual std::unique_ptr<BackendStream> Open(int device, const WaveFormatEx& format,
                                              RenderSource* source, MMRESULT* error) = 0;
};

// The backend of the process: SDL2 unless a test installs another.
Backend& GetBackend();
// Installs `backend` (not owned) for devices opened from now on; nullptr restores SDL2.
void SetBackend(Backend* backend);

}  // namespace vant::audio
