#pragma once
// A backend for tests: nothing plays until the test renders frames by hand, and the latency
// between rendering a frame and hearing it is whatever the test sets. Install it with
// SetBackend for the duration of a test.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audiobackend.h"

namespace vant::audio {

class ManualBackend final : public Backend {
 public:
  ManualBackend();
  ~ManualBackend() override;

  // The devices' names; device 0 first. An empty list means a machine without sound output.
  void SetDevices(std::vector<std::string> names);
  // Frames rendered but not yet heard, for renders from now on.
  void SetLatencyFrames(int frames);
  // Where position counters of devices opened from now on start, in frames.
  void SetCounterOriginFrames(int64_t frames);
  // Whether the streams opened from now on can drop what was rendered and not heard yet (the
  // latency) as a sound server can; not by default, as SDL.
  void SetFlushable(bool flushable);
  // Whether that stream holds silent after a Discard until Resume.
  bool Holding() const;
  // Whether the discards of the streams fail (the stream is then lost, as a sound server's that
  // failed a cork or flush); whether their answers wait for AnswerDiscards (a stalled server).
  void SetDiscardFails(bool fails);
  void HoldDiscardAnswers(bool hold);
  void AnswerDiscards();
  // The most recently opened stream loses its output for good, as one on a server that went away.
  void Lose();
  // Formats the devices refuse although the layer could play them.
  void SetFormatFilter(std::function<bool(const WaveFormatEx&)> accepts);

  // Renders `frames` frames of the most recently opened, still open device (none: returns
  // empty), appends them to Captured(), and returns them once the driver thread has run every
  // callback the render made due.
  std::vector<uint8_t> Render(int frames);
  // Everything rendered since the last ClearCaptured, silence included, less what a Discard
  // dropped unheard.
  std::vector<uint8_t> Captured() const;
  void ClearCaptured();
  int OpenStreams() const;
  // How much sound, in milliseconds, the source of the most recently opened stream asked to keep
  // queued (RenderSource::QueueMs); 0 before any open. The test sets the latency itself.
  int QueueMsAsked() const;

  int DeviceCount() override;
  bool GetCaps(int device, WaveOutCaps* caps) override;
  bool Supports(int device, const WaveFormatEx& format) override;
  std::unique_ptr<BackendStream> Open(int device, const WaveFormatEx& format, RenderSource* source,
                                      MMRESULT* error) override;

 private:
  class Stream;
  friend class Stream;

  mutable std::mutex mutex_;
  std::mutex render_mutex_;  // held while rendering; a stream's destruction waits for it
  std::vector<std::string> devices_;
  std::function<bool(const WaveFormatEx&)> accepts_;
  int latency_frames_ = 0;
  bool flushable_ = false;
  bool discard_fails_ = false;
  bool hold_answers_ = false;
  std::vector<int64_t> answers_;  // held back: bytes dropped, or -1 for a failure
  int64_t origin_frames_ = 0;
  int queue_ms_asked_ = 0;
  std::vector<Stream*> streams_;  // open order
  std::vector<uint8_t> captured_;
};

}  // namespace vant::audio
