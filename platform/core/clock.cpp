#include "clock.h"

#include <chrono>

namespace vant {
namespace {
SystemClock g_system;
std::atomic<Clock*> g_clock{&g_system};
}  // namespace

int64_t SystemClock::NowMicros() const {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

Clock& GetClock() { return *g_clock.load(); }
void SetClock(Clock* clock) { g_clock = clock ? clock : &g_system; }

}  // namespace vant
