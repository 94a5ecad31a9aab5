#include "manualbackend.h"

#include <algorithm>

namespace vant::audio {

// Bound of the wait for the callbacks a render made due.
constexpr int kCallbackWaitMs = 10000;

class ManualBackend::Stream final : public BackendStream {
 public:
  Stream(ManualBackend& owner, RenderSource* source, const WaveFormatEx& format, int64_t origin)
      : owner_(owner), source_(source), format_(format), origin_(origin) {}

  ~Stream() override {
    std::lock_guard render(owner_.render_mutex_);
    std::lock_guard lock(owner_.mutex_);
    auto& s = owner_.streams_;
    s.erase(std::remove(s.begin(), s.end(), this), s.end());
  }

  void Start() override {
    std::lock_guard lock(owner_.mutex_);
    owner_.streams_.push_back(this);
  }

  int64_t CounterOriginFrames() const override { return origin_; }
  RenderSource* source() const { return source_; }
  const WaveFormatEx& format() const { return format_; }

  // What the latency covers is dropped: at most what was rendered. Answered at once, or not
  // before AnswerDiscards where the test holds the answers back.
  void Discard(bool hold) override {
    int64_t frames = 0;
    {
      std::lock_guard lock(owner_.mutex_);
      if (!flushable_) return;
      holding_ = hold;
      if (owner_.discard_fails_) {
        failed_ = true;
      } else {
        // What is left was heard: a second discard drops only what was rendered since.
        frames = std::min<int64_t>(owner_.latency_frames_, rendered_frames_);
        rendered_frames_ = 0;
        // Never heard: gone from what the listener got.
        auto& captured = owner_.captured_;
        const auto bytes = std::min<size_t>(frames * format_.nBlockAlign, captured.size());
        captured.resize(captured.size() - bytes);
      }
      if (owner_.hold_answers_) {
        owner_.answers_.push_back(failed_ ? -1 : frames * format_.nBlockAlign);
        return;
      }
    }
    Answer(failed_ ? -1 : frames * format_.nBlockAlign);
  }
  // A negative answer: the backend failed.
  void Answer(int64_t bytes) {
    if (bytes < 0) {
      source_->Lost();
    } else {
      source_->TakeBack(bytes);
    }
  }
  bool CanDiscard() const override { return flushable_; }
  void Resume() override {
    std::lock_guard lock(owner_.mutex_);
    holding_ = false;
  }
  bool flushable_ = false;
  bool failed_ = false;
  bool holding_ = false;
  int64_t rendered_frames_ = 0;  // since open or the last discard

 private:
  ManualBackend& owner_;
  RenderSource* source_;
  const WaveFormatEx format_;
  const int64_t origin_;
};

ManualBackend::ManualBackend() : devices_{"Manual output"} {}
ManualBackend::~ManualBackend() = default;

void ManualBackend::SetDevices(std::vector<std::string> names) {
  std::lock_guard lock(mutex_);
  devices_ = std::move(names);
}

void ManualBackend::SetLatencyFrames(int frames) {
  std::lock_guard lock(mutex_);
  latency_frames_ = std::max(frames, 0);
}

void ManualBackend::SetCounterOriginFrames(int64_t frames) {
  std::lock_guard lock(mutex_);
  origin_frames_ = frames;
}

void ManualBackend::SetFlushable(bool flushable) {
  std::lock_guard lock(mutex_);
  flushable_ = flushable;
}

bool ManualBackend::Holding() const {
  std::lock_guard lock(mutex_);
  return !streams_.empty() && streams_.back()->holding_;
}

void ManualBackend::SetFormatFilter(std::function<bool(const WaveFormatEx&)> accepts) {
  std::lock_guard lock(mutex_);
  accepts_ = std::move(accepts);
}

void ManualBackend::SetDiscardFails(bool fails) {
  std::lock_guard lock(mutex_);
  discard_fails_ = fails;
}

void ManualBackend::HoldDiscardAnswers(bool hold) {
  std::lock_guard lock(mutex_);
  hold_answers_ = hold;
}

void ManualBackend::AnswerDiscards() {
  std::lock_guard render(render_mutex_);
  Stream* stream = nullptr;
  std::vector<int64_t> answers;
  {
    std::lock_guard lock(mutex_);
    if (streams_.empty()) return;
    stream = streams_.back();
    answers.swap(answers_);
  }
  for (const int64_t bytes : answers) stream->Answer(bytes);
}

void ManualBackend::Lose() {
  std::lock_guard render(render_mutex_);
  Stream* stream = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (streams_.empty()) return;
    stream = streams_.back();
    stream->failed_ = true;
  }
  stream->source()->Lost();
}

std::vector<uint8_t> ManualBackend::Render(int frames) {
  std::lock_guard render(render_mutex_);
  Stream* stream = nullptr;
  int64_t latency_frames = 0;
  bool holding = false;
  {
    std::lock_guard lock(mutex_);
    if (streams_.empty() || frames <= 0) return {};
    stream = streams_.back();
    if (stream->failed_) return {};
    latency_frames = latency_frames_;
    // A stream whose discard is not answered yet renders nothing of the source either.
    holding = stream->holding_ || !answers_.empty();
    if (!holding) stream->rendered_frames_ += frames;
  }
  const WaveFormatEx& f = stream->format();
  const int align = f.nBlockAlign;
  const uint8_t silence = f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 8 ? 0x80 : 0;
  std::vector<uint8_t> out(static_cast<size_t>(frames) * align, silence);
  // A held stream plays silence of its own and asks the source for nothing.
  if (!holding) stream->source()->Render(out.data(), out.size(), latency_frames * align, false);
  stream->source()->WaitCallbacksIdle(kCallbackWaitMs);
  std::lock_guard lock(mutex_);
  captured_.insert(captured_.end(), out.begin(), out.end());
  return out;
}

std::vector<uint8_t> ManualBackend::Captured() const {
  std::lock_guard lock(mutex_);
  return captured_;
}

void ManualBackend::ClearCaptured() {
  std::lock_guard lock(mutex_);
  captured_.clear();
}

int ManualBackend::OpenStreams() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(streams_.size());
}

int ManualBackend::QueueMsAsked() const {
  std::lock_guard lock(mutex_);
  return queue_ms_asked_;
}

int ManualBackend::DeviceCount() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(devices_.size());
}

bool ManualBackend::GetCaps(int device, WaveOutCaps* caps) {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= static_cast<int>(devices_.size())) return false;
  *caps = WaveOutCaps{};
  caps->szPname = devices_[device];
  caps->vDriverVersion = 0x0100;
  caps->wChannels = 2;
  return true;
}

bool ManualBackend::Supports(int device, const WaveFormatEx& format) {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= static_cast<int>(devices_.size())) return false;
  return !accepts_ || accepts_(format);
}

std::unique_ptr<BackendStream> ManualBackend::Open(int, const WaveFormatEx& format,
                                                   RenderSource* source, MMRESULT* error) {
  *error = MMSYSERR_NOERROR;
  const int queue_ms = source->QueueMs();
  std::lock_guard lock(mutex_);
  queue_ms_asked_ = queue_ms;
  auto stream = std::make_unique<Stream>(*this, source, format, origin_frames_);
  stream->flushable_ = flushable_;
  return stream;
}

}  // namespace vant::audio
