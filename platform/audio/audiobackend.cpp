#include "audiobackend.h"

#include <atomic>

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

}  // namespace vant::audio
