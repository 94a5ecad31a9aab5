#include "audiobackend.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "pulsebackend.h"
#include "sdlbackend.h"

namespace vant::audio {
namespace {
std::atomic<Backend*> g_installed{nullptr};

std::string EnvOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}
}  // namespace

// The sound server's library when a server answers, unless VANT_AUDIO_BACKEND=sdl or
// SDL_AUDIODRIVER names another of SDL's drivers (the dummy and disk drivers of the tests);
// otherwise SDL.
Backend* ChooseDefault() {
  const std::string wanted = EnvOr("VANT_AUDIO_BACKEND");
  const std::string sdl_driver = EnvOr("SDL_AUDIODRIVER");
  const bool server_driver =
      sdl_driver.empty() || sdl_driver == "pulseaudio" || sdl_driver == "pipewire";
  if (wanted == "pulse" || (wanted != "sdl" && server_driver)) {
    if (auto pulse = PulseBackend::Connect()) return pulse.release();
  }
  return new SdlBackend;
}

Backend& GetBackend() {
  if (Backend* b = g_installed.load()) return *b;
  // Never destroyed, nor one given up: devices opened on it may still render, at exit too.
  static std::atomic<Backend*> chosen{nullptr};
  Backend* b = chosen.load();
  if (b && b->Alive()) return *b;
  static std::mutex choosing;
  std::lock_guard lock(choosing);
  b = chosen.load();
  if (!b || !b->Alive()) {
    b = ChooseDefault();
    chosen.store(b);
  }
  return *b;
}

void SetBackend(Backend* backend) { g_installed = backend; }

int DeepQueueMs() {
  const int fallback = GetBackend().DefaultQueueMs();
  const char* v = std::getenv("VANT_AUDIO_QUEUE_MS");
  if (!v || !*v) return fallback;
  char* end = nullptr;
  const long ms = std::strtol(v, &end, 10);
  if (*end != '\0') return fallback;
  return static_cast<int>(std::clamp(ms, 10L, 4000L));
}

int RenderSource::QueueMs() const { return DeepQueueMs(); }

}  // namespace vant::audio
