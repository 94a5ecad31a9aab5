#pragma once
// The 25 ms ticks a display's peak mark holds and falls with. The mark is only seen when the
// display draws, which it does for every slice of the sound it is fed; so the ticks are counted
// on the process clock and run when the display next draws (CatchUp), on its own thread. No timer
// wakes the program for a peak, playing or at rest.
#include <functional>

#include "clock.h"
#include "mmtimer.h"

class TMMPeakTimer {
 public:
  TMMPeakTimer() = default;
  TMMPeakTimer(const TMMPeakTimer&) = delete;
  TMMPeakTimer& operator=(const TMMPeakTimer&) = delete;

  // `tick` moves the peak one tick and answers whether it is still falling; the ticks stop once
  // it answers false. Once only (nothing when it has a tick already).
  void Create(std::function<bool()> tick) {
    if (!tick_) tick_ = std::move(tick);
  }
  // Counts ticks while `falling` (the display wants its peak to move), from 25 ms after a peak
  // began to fall. Call it after changing the peak.
  void Update(bool falling) {
    if (!tick_ || !falling) {
      running_ = false;
      return;
    }
    if (!running_) next_ = vant::GetClock().NowMicros() + kTickMicros;
    running_ = true;
  }
  // Runs the ticks that fell due since the last call; the display calls it before it takes
  // new data and draws.
  void CatchUp() {
    if (!running_ || !tick_) return;
    const int64_t now = vant::GetClock().NowMicros();
    while (running_ && next_ <= now) {
      next_ += kTickMicros;
      running_ = tick_();
    }
  }
  // Forgets the tick; the display calls it first thing in its destructor.
  void Kill() {
    running_ = false;
    tick_ = nullptr;
  }

 private:
  static constexpr int64_t kTickMicros = int64_t{vant::kMMTimerPeriod} * 1000;
  std::function<bool()> tick_;
  bool running_ = false;
  int64_t next_ = 0;  // microseconds of the process clock
};
