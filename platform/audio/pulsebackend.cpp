#include "pulsebackend.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>

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

// Waits for `op` (which may be null: a call the server refused) and lets it go.
bool WaitOperation(pa_threaded_mainloop* loop, pa_operation* op) {
  if (!op) return false;
  const bool done = WaitLocked(loop, kServerWaitMs,
                               [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
  if (!done) pa_operation_cancel(op);
  pa_operation_unref(op);
  return done;
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
    if (stream_) {
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
      pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
      pa_stream_set_started_callback(stream_, nullptr, nullptr);
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
        stream_, [](pa_stream*, void* self) { Signal(static_cast<PulseStream*>(self)->loop_); },
        this);
    pa_stream_set_write_callback(
        stream_, [](pa_stream*, size_t, void* self) { static_cast<PulseStream*>(self)->Fill(); },
        this);
    pa_stream_set_latency_update_callback(
        stream_, [](pa_stream*, void* self) { static_cast<PulseStream*>(self)->Snapshot(); }, this);
    // An underrun stops the listener's clock until the server plays again.
    pa_stream_set_underflow_callback(
        stream_,
        [](pa_stream*, void* self) { static_cast<PulseStream*>(self)->running_.store(false); },
        this);
    pa_stream_set_started_callback(
        stream_, [](pa_stream*, void* self) { static_cast<PulseStream*>(self)->Snapshot(); }, this);

    const int queue_ms = std::max(source_->QueueMs(), 1);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = Bytes(queue_ms);
    attr.prebuf = std::min(attr.tlength, Bytes(kPrebufMs));
    attr.minreq = std::min(Bytes(std::max(queue_ms / 4, 1)), Bytes(kMaxRequestMs));
    attr.fragsize = static_cast<uint32_t>(-1);
    // No volume of ours: the server gives the stream the level the user chose for this program
    // (or its default), and the sink keeps its own. Our volume is in the samples.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                       PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_NOT_MONOTONIC);
    MMRESULT result = MMSYSERR_NOERROR;
    if (pa_stream_connect_playback(stream_, sink, &attr, flags, nullptr, nullptr) < 0 ||
        !WaitLocked(loop_, kServerWaitMs,
                    [this] {
                      const pa_stream_state_t s = pa_stream_get_state(stream_);
                      return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
                    }) ||
        pa_stream_get_state(stream_) != PA_STREAM_READY) {
      TraceF("pa_stream_connect_playback: %s", pa_strerror(pa_context_errno(context_)));
      result = MMSYSERR_ALLOCATED;
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
    const int64_t since = HeardEstimate() - heard_at_render_.load(std::memory_order_acquire);
    return std::max<int64_t>(since - since % format_.nBlockAlign, 0);
  }

  int64_t Discard(bool hold) override {
    LoopLock lock(loop_);
    held_ = hold;
    // Corked until new sound comes: a stream left running with nothing queued would move the
    // server's read position on through silence, and then skip as much of the new sound.
    running_.store(false);
    corked_ = true;
    WaitOperation(loop_, pa_stream_cork(stream_, 1, &PulseStream::Done, this));
    WaitOperation(loop_, pa_stream_flush(stream_, &PulseStream::Done, this));
    WaitOperation(loop_, pa_stream_update_timing_info(stream_, &PulseStream::Done, this));
    // Corked, the server has stopped taking sound from the stream, and what it took is heard
    // (a sink that can still call its own buffer back has done so, moving the read place back).
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    const int64_t taken = timing && !timing->read_index_corrupt
                              ? timing->read_index - timing->read_index % format_.nBlockAlign
                              : HeardByServer();
    const int64_t heard = std::clamp<int64_t>(taken, 0, written_);
    const int64_t dropped = written_ - heard;
    written_ = heard;
    heard_at_render_.store(heard, std::memory_order_release);
    Snapshot();
    return dropped;
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
  static void Done(pa_stream*, int, void* self) { Signal(static_cast<PulseStream*>(self)->loop_); }

  uint32_t Bytes(int ms) const {
    const uint64_t bytes = uint64_t{format_.nAvgBytesPerSec} * static_cast<uint64_t>(ms) / 1000;
    return static_cast<uint32_t>(
        std::max<uint64_t>(bytes - bytes % format_.nBlockAlign, format_.nBlockAlign));
  }

  // Bytes the listener has heard, as the server last told (loop locked).
  int64_t HeardByServer() const {
    pa_usec_t usec = 0;
    if (pa_stream_get_time(stream_, &usec) < 0) return heard_snap_.load();
    const int64_t bytes = static_cast<int64_t>(usec * format_.nAvgBytesPerSec / 1000000);
    return bytes - bytes % format_.nBlockAlign;
  }

  // Records where the listener is and when, for estimates between the server's reports.
  void Snapshot() {
    const int64_t heard = std::min(HeardByServer(), written_);
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    heard_snap_.store(heard, std::memory_order_relaxed);
    snap_us_.store(GetClock().NowMicros(), std::memory_order_relaxed);
    written_snap_.store(written_, std::memory_order_relaxed);
    running_.store(state == PA_STREAM_READY && !corked_ && heard < written_);
  }

  // Where the listener is now: the last report moved on by the clock while the server plays,
  // never past what was written.
  int64_t HeardEstimate() const {
    int64_t heard = heard_snap_.load(std::memory_order_relaxed);
    if (running_.load()) {
      const int64_t elapsed =
          std::max<int64_t>(GetClock().NowMicros() - snap_us_.load(std::memory_order_relaxed), 0);
      heard += elapsed * format_.nAvgBytesPerSec / 1000000;
    }
    return std::min(heard, written_snap_.load(std::memory_order_relaxed));
  }

  // Hands the server what the source has, up to what the server asked for (loop locked).
  void Fill() {
    if (!started_ || held_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    size_t asked = pa_stream_writable_size(stream_);
    if (asked == static_cast<size_t>(-1) || asked < format_.nBlockAlign) return;
    void* data = nullptr;
    if (pa_stream_begin_write(stream_, &data, &asked) < 0 || !data) return;
    asked -= asked % format_.nBlockAlign;
    const int64_t heard = std::min(HeardByServer(), written_);
    heard_at_render_.store(heard, std::memory_order_release);
    const size_t sound = source_->Render(static_cast<uint8_t*>(data), asked,
                                         written_ - heard + static_cast<int64_t>(asked), true);
    if (sound == 0) {
      pa_stream_cancel_write(stream_);
      Snapshot();
      return;
    }
    pa_stream_write(stream_, data, sound, nullptr, 0, PA_SEEK_RELATIVE);
    written_ += static_cast<int64_t>(sound);
    if (corked_) {
      corked_ = false;
      Forget(pa_stream_cork(stream_, 0, nullptr, nullptr));
    }
    // Less than asked: the source has no more for now (the end of a sound, or a short one),
    // which must play even if shorter than the server waits for before it starts.
    if (sound < asked) Forget(pa_stream_trigger(stream_, nullptr, nullptr));
    Snapshot();
  }

  pa_threaded_mainloop* loop_;
  pa_context* context_;
  RenderSource* source_;
  const WaveFormatEx format_;
  pa_stream* stream_ = nullptr;
  // Under the loop's lock.
  bool started_ = false;
  bool held_ = false;
  bool corked_ = true;   // the stream starts corked, and is corked by a discard until new sound
  int64_t written_ = 0;  // bytes handed to the server since open, less those dropped
  // Read by the device without the loop's lock.
  std::atomic<int64_t> heard_at_render_{0};
  std::atomic<int64_t> heard_snap_{0};
  std::atomic<int64_t> written_snap_{0};
  std::atomic<int64_t> snap_us_{0};
  std::atomic<bool> running_{false};
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

std::vector<PulseBackend::Sink> PulseBackend::ListSinksLocked() {
  struct Listing {
    pa_threaded_mainloop* loop;
    std::vector<Sink> sinks;
  } listing{loop_, {}};
  WaitOperation(loop_, pa_context_get_sink_info_list(
                           context_,
                           [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
                             auto* l = static_cast<Listing*>(userdata);
                             if (eol || !info) {
                               Signal(l->loop);
                               return;
                             }
                             l->sinks.push_back({info->name ? info->name : "",
                                                 info->description ? info->description : ""});
                           },
                           &listing));
  return listing.sinks;
}

bool PulseBackend::Alive() const {
  LoopLock lock(loop_);
  return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

int PulseBackend::DeviceCount() {
  LoopLock lock(loop_);
  if (pa_context_get_state(context_) != PA_CONTEXT_READY) return 0;
  return 1 + static_cast<int>(ListSinksLocked().size());
}

bool PulseBackend::GetCaps(int device, WaveOutCaps* caps) {
  LoopLock lock(loop_);
  if (device < 0 || pa_context_get_state(context_) != PA_CONTEXT_READY) return false;
  *caps = WaveOutCaps{};
  caps->wChannels = 2;
  caps->vDriverVersion = (PA_MAJOR << 8) | PA_MINOR;
  if (device == 0) {
    caps->szPname = "Default output";
    return true;
  }
  const std::vector<Sink> sinks = ListSinksLocked();
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
  std::string sink;
  {
    LoopLock lock(loop_);
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
      *error = MMSYSERR_NODRIVER;
      return nullptr;
    }
    if (device > 0) {
      const std::vector<Sink> sinks = ListSinksLocked();
      if (device > static_cast<int>(sinks.size())) {
        *error = MMSYSERR_BADDEVICEID;
        return nullptr;
      }
      sink = sinks[device - 1].name;
    }
  }
  auto stream = std::make_unique<PulseStream>(loop_, context_, source, format);
  *error = stream->Open(device > 0 ? sink.c_str() : nullptr);
  if (*error != MMSYSERR_NOERROR) return nullptr;
  return stream;
}

}  // namespace vant::audio
