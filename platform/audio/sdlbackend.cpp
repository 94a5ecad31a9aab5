#include "sdlbackend.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "clock.h"
#include "trace.h"

namespace vant::audio {
namespace {

SDL_AudioFormat SdlFormat(const WaveFormatEx& f) {
  if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return AUDIO_F32LSB;
  switch (f.wBitsPerSample) {
    case 8:
      return AUDIO_U8;
    case 16:
      return AUDIO_S16LSB;
    default:
      return AUDIO_S32LSB;
  }
}

// SDL keeps one period in the sound server and fills the next while that one plays, so the
// listener has at least a period queued ahead: the period is the smallest power of two of at
// least 80 % of the queue the source asks for. With the deep queue a loaded machine may keep
// SDL's thread waiting that long without a gap in the sound; the position and the completions
// are corrected for the two periods unheard (see Callback).
Uint16 PeriodFrames(uint32_t rate, int queue_ms) {
  const uint64_t wanted = uint64_t{rate} * static_cast<uint64_t>(std::max(queue_ms, 1)) * 8 / 10000;
  Uint16 frames = 256;
  while (frames < 16384 && frames < wanted) frames *= 2;
  return frames;
}

// What SDL's audio thread reads: apart from the stream, so that a device still closing in the
// background never reaches a stream that is gone.
struct Feed {
  RenderSource* source = nullptr;
  int64_t period_bytes = 0;
  int unheard_periods = 1;  // queued in SDL after a render, besides the render itself
  uint8_t silence = 0;
  bool closed = false;  // under SDL's lock of the device
  std::atomic<int64_t> last_render_us{-1};
};

class SdlStream final : public BackendStream {
 public:
  SdlStream(SdlBackend& owner, RenderSource* source, const WaveFormatEx& format)
      : owner_(owner), format_(format), feed_(new Feed) {
    feed_->source = source;
  }

  // SDL lets a device drain for two periods when it closes; that happens in the background,
  // with the source out of reach from now on.
  ~SdlStream() override {
    if (id_ == 0) {
      delete feed_;
      return;
    }
    SDL_LockAudioDevice(id_);  // waits for a running callback
    feed_->closed = true;
    SDL_UnlockAudioDevice(id_);
    Feed* feed = feed_;
    owner_.CloseLater(id_, [feed] { delete feed; });
  }

  MMRESULT Open(const char* name) {
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(format_.nSamplesPerSec);
    want.format = SdlFormat(format_);
    want.channels = static_cast<Uint8>(format_.nChannels);
    want.samples = PeriodFrames(format_.nSamplesPerSec, feed_->source->QueueMs());
    want.callback = &SdlStream::Callback;
    want.userdata = feed_;
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts to what the hardware takes, so our bytes stay ours.
    id_ = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (id_ == 0) {
      TraceF("SDL_OpenAudioDevice: %s", SDL_GetError());
      return MMSYSERR_NOTENABLED;  // no output that opens: not one taken by another program
    }
    feed_->period_bytes = static_cast<int64_t>(have.samples) * format_.nBlockAlign;
    feed_->silence = have.silence;
    // The file and null drivers have nothing queued after a render: what it fills is written
    // out (or dropped) as soon as it returns, and the end is told then, however long the period.
    const char* driver = SDL_GetCurrentAudioDriver();
    feed_->unheard_periods =
        driver && (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0) ? 0 : 1;
    return MMSYSERR_NOERROR;
  }

  void Start() override { SDL_PauseAudioDevice(id_, 0); }

  bool HeardMovesBetweenRenders() const override { return feed_->unheard_periods > 0; }

  int64_t HeardSinceRender() const override {
    const int64_t last = feed_->last_render_us.load(std::memory_order_acquire);
    if (last < 0) return 0;
    const int64_t elapsed = std::max<int64_t>(GetClock().NowMicros() - last, 0);
    int64_t bytes = elapsed * format_.nAvgBytesPerSec / 1000000;
    bytes = std::min(bytes, feed_->period_bytes);
    return bytes - bytes % format_.nBlockAlign;
  }

 private:
  static void SDLCALL Callback(void* userdata, Uint8* out, int len) {
    auto* feed = static_cast<Feed*>(userdata);
    if (feed->closed) {
      std::memset(out, feed->silence, static_cast<size_t>(len));
      return;
    }
    // On a sound device what this call fills plays after the period already queued in SDL:
    // two periods unheard. The file and null drivers take it as soon as the call returns.
    const int64_t unheard = feed->unheard_periods > 0 ? len + feed->period_bytes : 0;
    feed->source->Render(out, static_cast<size_t>(len), unheard, false);
    feed->last_render_us.store(GetClock().NowMicros(), std::memory_order_release);
  }

  SdlBackend& owner_;
  const WaveFormatEx format_;
  Feed* feed_;  // handed to the background close with the device
  SDL_AudioDeviceID id_ = 0;
};

}  // namespace

SdlBackend::~SdlBackend() {
  FinishClosing();
  if (init_state_ == 1) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlBackend::FinishClosing() {
  std::vector<Closing> closing;
  {
    std::lock_guard lock(closing_mutex_);
    closing.swap(closing_);
  }
  for (Closing& c : closing) c.thread.join();
  return !closing.empty();
}

void SdlBackend::CloseLater(uint32_t device, std::function<void()> then) {
  std::lock_guard lock(closing_mutex_);
  // Those closed by now are let go.
  std::erase_if(closing_, [](Closing& c) {
    if (!c.done->load()) return false;
    c.thread.join();
    return true;
  });
  auto done = std::make_shared<std::atomic<bool>>(false);
  closing_.push_back({std::thread([device, then = std::move(then), done] {
                        SDL_CloseAudioDevice(device);
                        then();
                        done->store(true);
                      }),
                      done});
}

// Without the lock: an open holds it while the source asks for its queue, which asks this.
bool SdlBackend::Alive() const { return init_state_.load() != -1; }

bool SdlBackend::EnsureInitLocked() {
  if (init_state_ == 0) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
      init_state_ = 1;
    } else {
      TraceF("SDL audio: %s", SDL_GetError());
      init_state_ = -1;
    }
  }
  return init_state_ == 1;
}

int SdlBackend::DeviceCount() {
  std::lock_guard lock(mutex_);
  if (!EnsureInitLocked()) return 0;
  return 1 + std::max(SDL_GetNumAudioDevices(0), 0);
}

bool SdlBackend::GetCaps(int device, WaveOutCaps* caps) {
  std::lock_guard lock(mutex_);
  if (!EnsureInitLocked()) return false;
  *caps = WaveOutCaps{};
  caps->wChannels = 2;
  caps->vDriverVersion = (SDL_MAJOR_VERSION << 8) | SDL_MINOR_VERSION;
  if (device == 0) {
    char* name = nullptr;
    SDL_AudioSpec spec{};
    if (SDL_GetDefaultAudioInfo(&name, &spec, 0) == 0 && name) {
      caps->szPname = name;
      caps->wChannels = spec.channels;
    } else {
      caps->szPname = "Default output";
    }
    SDL_free(name);
    return true;
  }
  const char* name = SDL_GetAudioDeviceName(device - 1, 0);
  if (!name) return false;
  caps->szPname = name;
  return true;
}

bool SdlBackend::Supports(int device, const WaveFormatEx& format) {
  // SDL converts every format we accept; whether the hardware is free shows at open.
  return device >= 0 && device < DeviceCount() && IsPlayableFormat(format);
}

std::unique_ptr<BackendStream> SdlBackend::Open(int device, const WaveFormatEx& format,
                                                RenderSource* source, MMRESULT* error) {
  std::lock_guard lock(mutex_);
  if (!EnsureInitLocked()) {
    *error = MMSYSERR_NODRIVER;
    return nullptr;
  }
  std::string name;
  if (device > 0) {
    const char* n = SDL_GetAudioDeviceName(device - 1, 0);
    if (!n) {
      *error = MMSYSERR_BADDEVICEID;
      return nullptr;
    }
    name = n;
  }
  auto stream = std::make_unique<SdlStream>(*this, source, format);
  *error = stream->Open(device > 0 ? name.c_str() : nullptr);
  // A driver with one output at a time opens once the last device has closed.
  if (*error == MMSYSERR_NOTENABLED && FinishClosing()) {
    *error = stream->Open(device > 0 ? name.c_str() : nullptr);
  }
  if (*error != MMSYSERR_NOERROR) return nullptr;
  return stream;
}

}  // namespace vant::audio
