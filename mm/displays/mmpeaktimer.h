#pragma once
// The shared 25 ms timer event a display's peak mark falls with. It exists at run time only and
// is suspended while the display does not want it; its tick runs on the timer thread, so it may
// only move counters and flags.
#include <functional>

#include "mmtimer.h"

class TMMPeakTimer {
 public:
  TMMPeakTimer() = default;
  TMMPeakTimer(const TMMPeakTimer&) = delete;
  TMMPeakTimer& operator=(const TMMPeakTimer&) = delete;
  ~TMMPeakTimer() { Kill(); }

  // Registers the event once (nothing when it exists) running `tick`, then applies `want`.
  void Create(std::function<void()> tick, bool want) {
    if (handle_) return;
    tick_ = std::move(tick);
    handle_ = vant::MMTimeSetEvent(
        vant::kMMTimerPeriod, false,
        [](vant::PMMTimeEvent, void* self) { static_cast<TMMPeakTimer*>(self)->tick_(); }, this);
    suspended_ = false;
    Update(want);
  }
  // Suspends or resumes the event.
  void Update(bool want) {
    if (!handle_) return;
    if (want && suspended_) vant::MMTimeResumeEvent(handle_);
    if (!want && !suspended_) vant::MMTimeSuspendEvent(handle_);
    suspended_ = !want;
  }
  // Removes the event; the display calls it first thing in its destructor.
  void Kill() {
    vant::MMTimeKillEvent(handle_);
    handle_ = nullptr;
  }

 private:
  vant::PMMTimeEvent handle_ = nullptr;
  bool suspended_ = false;
  std::function<void()> tick_;
};
