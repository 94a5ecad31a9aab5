#include "audiobackend.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "pulsebackend.h"
#include "sdlbackend.h"

namespace vant::audio {
namespace {
std::atomic<Backend*> g_installed{nullptr};
}  // namespace

// The sound server's library unless SDL is asked for another driver (dummy or disk in tests).
Backend* ChooseDefault() {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  const std::string name = driver ? driver : "";
  if (name.empty() || name == "pulseaudio" || name == "pulse" || name == "pipewire") {
    if (auto pulse = PulseBackend::Connect()) return pulse.release();
  }
  return new SdlBackend;
}

Backend& GetBackend() {
  if (Backend* b = g_installed.load()) return *b;
  static Backend* chosen = ChooseDefault();  // never destroyed: devices may still render at exit
  return *chosen;
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
