#include "audiobackend.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "sdlbackend.h"

namespace vant::audio {
namespace {
std::atomic<Backend*> g_installed{nullptr};
}  // namespace

Backend& GetBackend() {
  if (Backend* b = g_installed.load()) return *b;
  static auto* sdl = new SdlBackend;  // never destroyed: devices may still render at exit
  return *sdl;
}

void SetBackend(Backend* backend) { g_installed = backend; }

int DeepQueueMs() {
  constexpr int kDefault = 100;
  const char* v = std::getenv("VANT_AUDIO_QUEUE_MS");
  if (!v || !*v) return kDefault;
  char* end = nullptr;
  const long ms = std::strtol(v, &end, 10);
  if (*end != '\0') return kDefault;
  return static_cast<int>(std::clamp(ms, 10L, 1000L));
}

int RenderSource::QueueMs() const { return DeepQueueMs(); }

}  // namespace vant::audio
