#pragma once
// Real sound through SDL2, on whatever output the desktop has (SDL_AUDIODRIVER picks the
// driver; CI uses "dummy" or "disk"). Device 0 is SDL's default output, devices 1.. the outputs
// SDL lists by name. SDL is told to leave the program's signal handlers alone.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audiobackend.h"

namespace vant::audio {

class SdlBackend final : public Backend {
 public:
  SdlBackend() = default;
  // Quits SDL's audio again when this backend started it (a test may then start it anew with
  // another driver).
  ~SdlBackend() override;
  // False once SDL found no driver: the process's default is chosen again at the next use, so a
  // sound server that comes up later is reached.
  bool Alive() const override;
  // Closes SDL's `device` on a thread of its own (SDL lets it drain two periods first), then
  // runs `then`; the destructor waits for every such close.
  void CloseLater(uint32_t device, std::function<void()> then);
  int DeviceCount() override;
  bool GetCaps(int device, WaveOutCaps* caps) override;
  bool Supports(int device, const WaveFormatEx& format) override;
  std::unique_ptr<BackendStream> Open(int device, const WaveFormatEx& format, RenderSource* source,
                                      MMRESULT* error) override;

 private:
  bool EnsureInitLocked();
  // Waits for the devices still closing; whether there were any.
  bool FinishClosing();
  std::mutex mutex_;
  std::atomic<int> init_state_{0};  // 0 not tried, 1 running, -1 failed; set under the lock
  struct Closing {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex closing_mutex_;
  std::vector<Closing> closing_;
};

}  // namespace vant::audio
