#pragma once
// Real sound through the desktop's sound server, on its own client library (PulseAudio's, which
// PipeWire serves too). The server holds a deep queue, so a busy machine does not starve the
// sound, and it can be told to drop what it holds (a pause, stop, seek or volume change is heard
// at once) and where exactly the listener is. The server's own volumes are never set. Device 0 is the
// server's default output, devices 1.. its outputs by name.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audiobackend.h"

struct pa_threaded_mainloop;
struct pa_context;

namespace vant::audio {

class PulseBackend final : public Backend {
 public:
  // Connects to the server PULSE_SERVER names, or the desktop's; null when none answers within
  // a bounded wait (no server is started for it).
  static std::unique_ptr<PulseBackend> Connect();
  ~PulseBackend() override;
  PulseBackend(const PulseBackend&) = delete;
  PulseBackend& operator=(const PulseBackend&) = delete;

  // A pause, stop or seek drops what the server holds, so the queue may be deep.
  int DefaultQueueMs() const override { return 1000; }
  bool Alive() const override;
  int DeviceCount() override;
  bool GetCaps(int device, WaveOutCaps* caps) override;
  bool Supports(int device, const WaveFormatEx& format) override;
  std::unique_ptr<BackendStream> Open(int device, const WaveFormatEx& format, RenderSource* source,
                                      MMRESULT* error) override;

 private:
  struct Sink {
    std::string name;
    std::string description;
  };
  PulseBackend() = default;
  // Asks for the server's outputs (loop locked); the answer comes on the loop's thread.
  void RefreshSinksLocked();
  // The outputs as the server last listed them.
  std::vector<Sink> Sinks() const;
  bool Ready() const;

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  mutable std::mutex sinks_mutex_;
  std::vector<Sink> sinks_;
  bool sinks_known_ = false;
};

}  // namespace vant::audio
