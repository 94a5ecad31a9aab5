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

// The sound server's library where asked for (VANT_AUDIO_BACKEND=pulse) and a server answers;
// otherwise SDL with SDL_AUDIODRIVER's driver. Not yet the default: the wave-out device plays
// silence on it still.
Backend* ChooseDefault() {
  const char* wanted = std::getenv("VANT_AUDIO_BACKEND");
  if (wanted && std::string(wanted) == "pulse") {
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
