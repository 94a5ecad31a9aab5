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
  // A timer whose work is only seen when the display next shows a picture fires at the
  // display's frame nearest its due time (never the frame it was armed in), together with every
  // other such timer, so that what draws and shows at frames wakes the program once per frame.
  bool GetAtFrames() const { return at_frames_; }
  void SetAtFrames(bool v);
  // Fires OnTimer (the scheduler calls it when the period has passed).
  virtual void Timer();
  TNotifyEvent OnTimer;

  // Milliseconds of the process clock at which the period ends (for the scheduler).
  int64_t DueMillis() const { return due_; }
  // Microseconds of the process clock at which the timer fires next: the period's end, or the
  // frame for a timer at frames.
  int64_t FireAtMicros() const;
  void Rearm();

 private:
  void Update();
  unsigned interval_ = 1000;
  bool enabled_ = true;
  bool at_frames_ = false;
  int64_t due_ = 0;
  int64_t armed_at_ = 0;  // microseconds
};

// Fires every timer whose time has come; answers how many fired.
int RunDueTimers();

// The display's refresh period in microseconds (the primary screen's; 60 Hz when it does not
// say or there is none).
int64_t DisplayFramePeriodMicros();

}  // namespace vant
