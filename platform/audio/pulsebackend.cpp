#include "pulsebackend.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "clock.h"
#include "trace.h"

namespace vant::audio {
namespace {

// Bound of every wait for the server: one that does not answer in this time is gone for us.
constexpr int kServerWaitMs = 3000;
// Sound the server must hold before it starts a stream (a short sound is started by trigger).
constexpr int kPrebufMs = 20;
// The server asks for more once this much of its queue has played: at most a few wake-ups a
// second however deep the queue; new sound is handed over at once anyway (Kick).
constexpr int kMaxRequestMs = 100;
// While a stream plays the server is asked where the listener is this often; between answers
// the position moves on by the clock, at most this much longer than a period.
constexpr int kTimingMs = 100;
constexpr int kTimingSlackMs = 50;
// What an open that found no usable output answers.
constexpr MMRESULT kCannotOpen = MMSYSERR_NOTENABLED;

void Signal(pa_threaded_mainloop* loop) { pa_threaded_mainloop_signal(loop, 0); }

// Waits, with the loop's lock held, until `done` holds or `timeout_ms` passed; a timer of the
// loop wakes the wait at the deadline, so no wait is unbounded.
template <typename Done>
bool WaitLocked(pa_threaded_mainloop* loop, int timeout_ms, Done done) {
  if (done()) return true;
  struct Deadline {
    pa_threaded_mainloop* loop;
    bool passed = false;
  } deadline{loop};
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
  timeval tv{};
  pa_gettimeofday(&tv);
  pa_timeval_add(&tv, static_cast<pa_usec_t>(timeout_ms) * 1000);
  pa_time_event* timer = api->time_new(
      api, &tv,
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
        auto* d = static_cast<Deadline*>(userdata);
        d->passed = true;
        Signal(d->loop);
      },
      &deadline);
  while (!done() && !deadline.passed) pa_threaded_mainloop_wait(loop);
  api->time_free(timer);
  return done();
}

void Forget(pa_operation* op) {
  if (op) pa_operation_unref(op);
}

bool SampleSpec(const WaveFormatEx& f, pa_sample_spec* spec) {
  if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
    spec->format = PA_SAMPLE_FLOAT32LE;
  } else {
    switch (f.wBitsPerSample) {
      case 8:
        spec->format = PA_SAMPLE_U8;
        break;
      case 16:
        spec->format = PA_SAMPLE_S16LE;
        break;
      case 32:
        spec->format = PA_SAMPLE_S32LE;
        break;
      default:
        return false;
    }
  }
  spec->rate = f.nSamplesPerSec;
  spec->channels = static_cast<uint8_t>(f.nChannels);
  return pa_sample_spec_valid(spec) != 0;
}

// Holds the loop's lock unless the caller runs on the loop's own thread (a callback), which
// holds it already.
class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop)
      : loop_(loop), take_(!pa_threaded_mainloop_in_thread(loop)) {
    if (take_) pa_threaded_mainloop_lock(loop_);
  }
  ~LoopLock() {
    if (take_) pa_threaded_mainloop_unlock(loop_);
  }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
  bool take_;
};

class PulseStream final : public BackendStream {
 public:
  PulseStream(pa_threaded_mainloop* loop, pa_context* context, RenderSource* source,
              const WaveFormatEx& format)
      : loop_(loop), context_(context), source_(source), format_(format) {}

  ~PulseStream() override {
    pa_threaded_mainloop_lock(loop_);
    if (timer_) {
      pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
      api->time_free(timer_);
    }
    // No answer reaches this stream once it is gone.
    for (pa_operation* op : ops_) {
      pa_operation_cancel(op);
      pa_operation_unref(op);
    }
    if (stream_) {
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
    }
    pa_threaded_mainloop_unlock(loop_);
  }

  MMRESULT Open(const char* sink) {
    pa_sample_spec spec{};
    if (!SampleSpec(format_, &spec)) return WAVERR_BADFORMAT;
    pa_channel_map map{};
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX);
    pa_threaded_mainloop_lock(loop_);
    stream_ = pa_stream_new(context_, "VANT playback", &spec, &map);
    if (!stream_) {
      pa_threaded_mainloop_unlock(loop_);
      return MMSYSERR_NOMEM;
    }
    pa_stream_set_state_callback(
        stream_, [](pa_stream*, void* self) { static_cast<PulseStream*>(self)->StateChanged(); },
        this);
    pa_stream_set_write_callback(
        stream_, [](pa_stream*, size_t, void* self) { static_cast<PulseStream*>(self)->Fill(); },
        this);
    // An underrun stops the listener's clock until the server tells where it stands.
    pa_stream_set_underflow_callback(
        stream_, [](pa_stream*, void* self) { static_cast<PulseStream*>(self)->Underflow(); },
        this);

    const int queue_ms = std::max(source_->QueueMs(), 1);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = Bytes(queue_ms);
    attr.prebuf = std::min(attr.tlength, Bytes(kPrebufMs));
    attr.minreq = std::min(Bytes(std::max(queue_ms / 4, 1)), Bytes(kMaxRequestMs));
    attr.fragsize = static_cast<uint32_t>(-1);
    // No volume of ours: the server gives the stream the level the user chose for this program
    // (or its default), and the sink keeps its own. Our volume is in the samples.
    // Timing is asked for while the stream plays (see RequestTiming), never while it is corked.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED);
    // Not waited for: the stream plays once the server has made it, and one the server
    // refuses is lost (StateChanged), which the source hears of.
    MMRESULT result = MMSYSERR_NOERROR;
    if (pa_stream_connect_playback(stream_, sink, &attr, flags, nullptr, nullptr) < 0) {
      TraceF("pa_stream_connect_playback: %s", pa_strerror(pa_context_errno(context_)));
      result = kCannotOpen;
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
  }

  void Start() override {
    LoopLock lock(loop_);
    started_ = true;
    Fill();
  }

  bool HeardMovesBetweenRenders() const override { return true; }

  int64_t HeardSinceRender() const override {
    std::lock_guard lock(snap_mutex_);
    const int64_t since = HeardEstimateLocked() - snap_.heard_at_render;
    return std::max<int64_t>(since - since % format_.nBlockAlign, 0);
  }

  // Corks, flushes and asks where the server stands, without waiting: the answer comes on the
  // library's thread (Discarded), and nothing is handed over until then.
  void Discard(bool hold) override {
    LoopLock lock(loop_);
    held_ = hold;
    if (discarding_ == 0) discard_failed_ = false;
    if (failed_) {
      source_->Lost();
      return;
    }
    // A stream the server has not made yet holds nothing.
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      source_->TakeBack(0);
      return;
    }
    // Corked until new sound comes: a stream left running with nothing queued would move the
    // server's read position on through silence, and then skip as much of the new sound.
    corked_ = true;
    ++discarding_;
    {
      std::lock_guard snap(snap_mutex_);
      snap_.running = false;
    }
    const bool sent = Track(pa_stream_cork(stream_, 1, &PulseStream::DiscardStep, this)) &&
                      Track(pa_stream_flush(stream_, &PulseStream::DiscardStep, this)) &&
                      Track(pa_stream_update_timing_info(stream_, &PulseStream::Discarded, this));
    if (!sent) Fail();
  }

  bool CanDiscard() const override { return true; }

  void Resume() override {
    LoopLock lock(loop_);
    if (!held_) return;
    held_ = false;
    Fill();
  }

  void Kick() override {
    LoopLock lock(loop_);
    Fill();
  }

 private:
  // Where the listener was, as the server last told, and what was handed over since.
  struct Snap {
    int64_t heard = 0;     // bytes
    int64_t at_us = 0;     // when the server told it
    int64_t written = 0;   // bytes handed to the server
    bool running = false;  // the server plays on from there
    int64_t heard_at_render = 0;
  };

  static PulseStream* Self(void* self) { return static_cast<PulseStream*>(self); }

  static void DiscardStep(pa_stream*, int success, void* self) {
    if (!success) Self(self)->discard_failed_ = true;
  }
  static void Discarded(pa_stream*, int success, void* self) {
    Self(self)->FinishDiscard(success != 0);
  }

  uint32_t Bytes(int ms) const {
    const uint64_t bytes = uint64_t{format_.nAvgBytesPerSec} * static_cast<uint64_t>(ms) / 1000;
    return static_cast<uint32_t>(
        std::max<uint64_t>(bytes - bytes % format_.nBlockAlign, format_.nBlockAlign));
  }

  // Keeps `op` until it is done, so that a stream closed meanwhile cancels its answer; false
  // for a call the library refused (loop locked).
  bool Track(pa_operation* op) {
    std::erase_if(ops_, [](pa_operation* o) {
      if (pa_operation_get_state(o) == PA_OPERATION_RUNNING) return false;
      pa_operation_unref(o);
      return true;
    });
    if (!op) return false;
    ops_.push_back(op);
    return true;
  }

  // The stream failed or the server went away (loop locked).
  void StateChanged() {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (!PA_STREAM_IS_GOOD(state)) {
      Fail();
    } else if (state == PA_STREAM_READY) {
      Fill();
    }
  }

  void Fail() {
    if (failed_) return;
    failed_ = true;
    TraceF("sound server stream lost: %s", pa_strerror(pa_context_errno(context_)));
    {
      std::lock_guard snap(snap_mutex_);
      snap_.running = false;
    }
    source_->Lost();
  }

  void FinishDiscard(bool success) {
    --discarding_;
    if (!success || discard_failed_) {
      Fail();
      return;
    }
    // Corked, the server has stopped taking sound from the stream, and what it took is heard
    // (a sink that can still call its own buffer back has done so, moving the read place back).
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    const int64_t taken = timing && !timing->read_index_corrupt
                              ? timing->read_index - timing->read_index % format_.nBlockAlign
                              : HeardByServer();
    const int64_t heard = std::clamp<int64_t>(taken, 0, written_);
    const int64_t dropped = written_ - heard;
    written_ = heard;
    {
      std::lock_guard snap(snap_mutex_);
      snap_ = {heard, GetClock().NowMicros(), written_, false, heard};
    }
    source_->TakeBack(dropped);
    if (discarding_ == 0) Fill();
  }

  void Underflow() {
    {
      std::lock_guard snap(snap_mutex_);
      snap_.running = false;
    }
    RequestTiming();
  }

  // Bytes the listener has heard, as the server last told (loop locked): what the sink took
  // from the stream less what it still holds. The time the answer took to come is not added (a
  // loaded machine makes it long, and the position would run ahead of the sound), nor is the
  // answer made to move only forward (after a flush the sink may have given some back).
  int64_t HeardByServer() const {
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (!timing || timing->read_index_corrupt) {
      std::lock_guard snap(snap_mutex_);
      return snap_.heard;
    }
    int64_t bytes = timing->read_index;
    if (!corked_) {
      bytes -= static_cast<int64_t>(timing->sink_usec * format_.nAvgBytesPerSec / 1000000);
    }
    bytes = std::max<int64_t>(bytes, 0);
    return bytes - bytes % format_.nBlockAlign;
  }

  // Asks where the listener is; the answer is taken as one snapshot, and while the stream plays
  // the next question follows a period later. One question at a time: a stalled server is
  // asked nothing more until it answers (loop locked).
  void RequestTiming() {
    if (failed_ || timing_asked_) return;
    if (Track(pa_stream_update_timing_info(
            stream_, [](pa_stream*, int success, void* self) { Self(self)->TimingTold(success); },
            this))) {
      timing_asked_ = true;
    }
  }

  void TimingTold(int success) {
    timing_asked_ = false;
    if (!success || failed_ || discarding_ > 0) return;
    const int64_t heard = std::min(HeardByServer(), written_);
    const bool running = !corked_ && heard < written_;
    {
      std::lock_guard snap(snap_mutex_);
      snap_.heard = std::max(heard, std::min(snap_.heard, written_));
      snap_.at_us = GetClock().NowMicros();
      snap_.written = written_;
      snap_.running = running;
    }
    if (running) ArmTimer();
  }

  void ArmTimer() {
    timer_armed_ = true;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval tv{};
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, static_cast<pa_usec_t>(kTimingMs) * 1000);
    if (timer_) {
      api->time_restart(timer_, &tv);
      return;
    }
    timer_ = api->time_new(
        api, &tv,
        [](pa_mainloop_api* a, pa_time_event* e, const timeval*, void* self) {
          a->time_restart(e, nullptr);  // disarmed until armed again
          Self(self)->timer_armed_ = false;
          Self(self)->RequestTiming();
        },
        this);
  }

  // Where the listener is now: the last report moved on by the clock while the server plays,
  // at most a little over one period of questions (a server that stopped answering may have
  // stopped playing), never past what was written (snap locked).
  int64_t HeardEstimateLocked() const {
    int64_t heard = snap_.heard;
    if (snap_.running) {
      const int64_t elapsed = std::clamp<int64_t>(GetClock().NowMicros() - snap_.at_us, 0,
                                                  int64_t{kTimingMs + kTimingSlackMs} * 1000);
      const int64_t moved = elapsed * format_.nAvgBytesPerSec / 1000000;
      heard += moved - moved % format_.nBlockAlign;
    }
    return std::min(heard, snap_.written);
  }

  // Hands the server what the source has, up to what the server asked for (loop locked).
  void Fill() {
    if (!started_ || held_ || failed_ || discarding_ > 0 ||
        pa_stream_get_state(stream_) != PA_STREAM_READY) {
      return;
    }
    size_t asked = pa_stream_writable_size(stream_);
    if (asked == static_cast<size_t>(-1) || asked < format_.nBlockAlign) return;
    void* data = nullptr;
    if (pa_stream_begin_write(stream_, &data, &asked) < 0 || !data) return;
    asked -= asked % format_.nBlockAlign;
    int64_t heard = 0;
    {
      std::lock_guard snap(snap_mutex_);
      heard = HeardEstimateLocked();
      snap_.heard_at_render = heard;
    }
    const size_t sound = source_->Render(static_cast<uint8_t*>(data), asked,
                                         written_ - heard + static_cast<int64_t>(asked), true);
    if (sound == 0) {
      pa_stream_cancel_write(stream_);
      return;
    }
    pa_stream_write(stream_, data, sound, nullptr, 0, PA_SEEK_RELATIVE);
    written_ += static_cast<int64_t>(sound);
    {
      std::lock_guard snap(snap_mutex_);
      snap_.written = written_;
    }
    if (corked_) {
      corked_ = false;
      Forget(pa_stream_cork(stream_, 0, nullptr, nullptr));
    }
    // Less than asked: the source has no more for now (the end of a sound, or a short one),
    // which must play even if shorter than the server waits for before it starts.
    if (sound < asked) Forget(pa_stream_trigger(stream_, nullptr, nullptr));
    // While it plays the timer asks; otherwise now, so the position starts to move.
    if (!timer_armed_) RequestTiming();
  }

  pa_threaded_mainloop* loop_;
  pa_context* context_;
  RenderSource* source_;
  const WaveFormatEx format_;
  pa_stream* stream_ = nullptr;
  // Under the loop's lock.
  bool started_ = false;
  bool held_ = false;
  bool failed_ = false;
  bool corked_ = true;  // the stream starts corked, and is corked by a discard until new sound
  int discarding_ = 0;  // discards the server has not answered yet
  bool discard_failed_ = false;
  bool timing_asked_ = false;
  int64_t written_ = 0;  // bytes handed to the server since open, less those dropped
  std::vector<pa_operation*> ops_;
  pa_time_event* timer_ = nullptr;
  bool timer_armed_ = false;
  // Read by the device on its own threads.
  mutable std::mutex snap_mutex_;
  Snap snap_;
};

}  // namespace

std::unique_ptr<PulseBackend> PulseBackend::Connect() {
  std::unique_ptr<PulseBackend> backend(new PulseBackend);
  backend->loop_ = pa_threaded_mainloop_new();
  if (!backend->loop_) return nullptr;
  pa_threaded_mainloop* loop = backend->loop_;
  backend->context_ = pa_context_new(pa_threaded_mainloop_get_api(loop), "VANT");
  if (!backend->context_) return nullptr;
  pa_context_set_state_callback(
      backend->context_,
      [](pa_context*, void* l) { Signal(static_cast<pa_threaded_mainloop*>(l)); }, loop);
  if (pa_context_connect(backend->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return nullptr;
  }
  if (pa_threaded_mainloop_start(loop) < 0) return nullptr;
  pa_threaded_mainloop_lock(loop);
  pa_context* context = backend->context_;
  WaitLocked(loop, kServerWaitMs, [context] {
    const pa_context_state_t s = pa_context_get_state(context);
    return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
  });
  const bool ready = pa_context_get_state(context) == PA_CONTEXT_READY;
  if (ready) {
    // The outputs are known before the first use and kept up to date by the server's news, so
    // no caller waits for the server to list them.
    pa_context_set_subscribe_callback(
        context,
        [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
          static_cast<PulseBackend*>(self)->RefreshSinksLocked();
        },
        backend.get());
    Forget(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK, nullptr, nullptr));
    backend->RefreshSinksLocked();
    PulseBackend* b = backend.get();
    WaitLocked(loop, kServerWaitMs, [b] {
      std::lock_guard lock(b->sinks_mutex_);
      return b->sinks_known_;
    });
  }
  pa_threaded_mainloop_unlock(loop);
  if (!ready) return nullptr;
  return backend;
}

PulseBackend::~PulseBackend() {
  if (loop_) pa_threaded_mainloop_stop(loop_);
  if (context_) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_) pa_threaded_mainloop_free(loop_);
}

// Asks the server for its outputs; the answer replaces the list (loop locked).
void PulseBackend::RefreshSinksLocked() {
  struct Listing {
    PulseBackend* backend;
    std::vector<Sink> sinks;
  };
  Forget(pa_context_get_sink_info_list(
      context_,
      [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
        auto* l = static_cast<Listing*>(userdata);
        if (!eol && info) {
          l->sinks.push_back(
              {info->name ? info->name : "", info->description ? info->description : ""});
          return;
        }
        if (eol > 0) {
          std::lock_guard lock(l->backend->sinks_mutex_);
          l->backend->sinks_ = std::move(l->sinks);
          l->backend->sinks_known_ = true;
        }
        Signal(l->backend->loop_);
        delete l;
      },
      new Listing{this, {}}));
}

std::vector<PulseBackend::Sink> PulseBackend::Sinks() const {
  std::lock_guard lock(sinks_mutex_);
  return sinks_;
}

bool PulseBackend::Alive() const {
  LoopLock lock(loop_);
  return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

bool PulseBackend::Ready() const {
  LoopLock lock(loop_);
  return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

int PulseBackend::DeviceCount() {
  if (!Ready()) return 0;
  return 1 + static_cast<int>(Sinks().size());
}

bool PulseBackend::GetCaps(int device, WaveOutCaps* caps) {
  if (device < 0 || !Ready()) return false;
  *caps = WaveOutCaps{};
  caps->wChannels = 2;
  caps->vDriverVersion = (PA_MAJOR << 8) | PA_MINOR;
  if (device == 0) {
    caps->szPname = "Default output";
    return true;
  }
  const std::vector<Sink> sinks = Sinks();
  if (device > static_cast<int>(sinks.size())) return false;
  caps->szPname = sinks[device - 1].description;
  return true;
}

bool PulseBackend::Supports(int device, const WaveFormatEx& format) {
  pa_sample_spec spec{};
  return device >= 0 && device < DeviceCount() && IsPlayableFormat(format) &&
         SampleSpec(format, &spec);
}

std::unique_ptr<BackendStream> PulseBackend::Open(int device, const WaveFormatEx& format,
                                                  RenderSource* source, MMRESULT* error) {
  if (!Ready()) {
    *error = MMSYSERR_NODRIVER;
    return nullptr;
  }
  std::string sink;
  if (device > 0) {
    const std::vector<Sink> sinks = Sinks();
    if (device > static_cast<int>(sinks.size())) {
      *error = MMSYSERR_BADDEVICEID;
      return nullptr;
    }
    sink = sinks[device - 1].name;
  }
  auto stream = std::make_unique<PulseStream>(loop_, context_, source, format);
  *error = stream->Open(device > 0 ? sink.c_str() : nullptr);
  if (*error != MMSYSERR_NOERROR) return nullptr;
  return stream;
}

}  // namespace vant::audio
