#pragma once
// The shared 25 ms timer event a display's peak mark falls with. It exists at run time only and
// runs only while a peak is falling: the display wakes it when it sets a peak, and the event puts
// itself to sleep from its own tick once the peak has come down, so a display at rest costs no
// wake-ups. Its tick runs on the timer thread, so it may only move counters and flags.
#include <functional>

#include "mmtimer.h"

class TMMPeakTimer {
 public:
  TMMPeakTimer() = default;
  TMMPeakTimer(const TMMPeakTimer&) = delete;
  TMMPeakTimer& operator=(const TMMPeakTimer&) = delete;
  ~TMMPeakTimer() { Kill(); }

  // Registers the event once (nothing when it exists), asleep. `tick` moves the peak one tick
  // and answers whether it is still falling; the event sleeps once it answers false.
  void Create(std::function<bool()> tick) {
    if (handle_) return;
    tick_ = std::move(tick);
    handle_ = vant::MMTimeSetEvent(
        vant::kMMTimerPeriod, true,
        [](vant::PMMTimeEvent me, void* self) {
          // The display's wake (Update) takes the service's lock this runs under, so a peak set
          // after this read wakes the event again after this sleep.
          if (!static_cast<TMMPeakTimer*>(self)->tick_()) vant::MMTimeSetSuspended(me, true);
        },
        this);
  }
  // Runs the event while `falling` (the display wants its peak to move), else lets it sleep.
  // GUI thread; call it after changing the peak.
  void Update(bool falling) {
    if (handle_) vant::MMTimeSetSuspended(handle_, !falling);
  }
  // Removes the event; the display calls it first thing in its destructor.
  void Kill() {
    vant::MMTimeKillEvent(handle_);
    handle_ = nullptr;
  }

 private:
  vant::PMMTimeEvent handle_ = nullptr;
  std::function<bool()> tick_;
};
