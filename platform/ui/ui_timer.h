#pragma once
// TTimer: a timer on the GUI thread. Due times follow the process clock (vant::GetClock), so a
// test that installs a ManualClock moves timers by advancing it and calling
// Application->ProcessMessages(); nothing sleeps.
#include "ui_component.h"

namespace vant {

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;
  std::string ClassName() const override { return "TTimer"; }
  unsigned GetInterval() const { return interval_; }
  // Restarts the period from now.
  void SetInterval(unsigned ms);
  bool GetEnabled() const { return enabled_; }
  // Enabling starts a full period from now.
  void SetEnabled(bool v);
  // Fires OnTimer (the scheduler calls it when the period has passed).
  virtual void Timer();
  TNotifyEvent OnTimer;

  // Milliseconds of the process clock at which the timer fires next (for the scheduler).
  int64_t DueMillis() const { return due_; }
  void Rearm();

 private:
  void Update();
  unsigned interval_ = 1000;
  bool enabled_ = true;
  int64_t due_ = 0;
};

// Fires every timer whose time has come; answers how many fired.
int RunDueTimers();

}  // namespace vant
