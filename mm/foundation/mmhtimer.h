#pragma once
// TMMHiTimer: a non-visual component that fires OnTimer every Interval milliseconds from the
// platform timer service. The tick reaches the handler as a message on the thread that owns the
// component (cmWindow, normally the GUI thread), or on a worker thread of its own (cmThread),
// optionally passed on to the GUI thread (Synchronize). The player window reports the play
// position with one; each connector drives its displays with one.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "exceptions.h"
#include "mmobj.h"
#include "mmutils.h"
#include "mmworker.h"
#include "timerservice.h"

namespace vant {

VANT_DECLARE_EXCEPTION(EMMHiTimerError, Exception);

// Message that carries a tick to the owning thread (wParam: the platform timer's id).
constexpr uint32_t MM_HITIMER_TICK = 0x800A;
// Ticks that may wait for a busy handler; later ones are dropped.
constexpr int kMMHiTimerMaxPending = 10;

class TMMHiTimer : public TMMNonVisualComponent {
 public:
  explicit TMMHiTimer(TComponent* owner);
  ~TMMHiTimer() override;
  std::string ClassName() const override { return "TMMHiTimer"; }

  // Each setter of these rebuilds the timer when the value changes.
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  uint32_t GetInterval() const { return interval_; }
  void SetInterval(uint32_t value);
  TMMCBMode GetCallBackMode() const { return mode_; }
  // cmCallback would run the handler on the timer thread itself; that is refused here: a message
  // box says so and the mode stays.
  void SetCallBackMode(TMMCBMode value);
  TNotifyEvent GetOnTimer() const;
  void SetOnTimer(TNotifyEvent value);

  TThreadPriority GetPriority() const { return priority_; }
  // Best effort; applies to a running worker at once.
  void SetPriority(TThreadPriority value);
  bool GetSynchronize() const { return synchronize_; }
  void SetSynchronize(bool value) { synchronize_ = value; }
  // In cmWindow mode on the GUI thread, a timer whose handler only shows something (seen at the
  // display's frames anyway) takes its ticks from the GUI thread's timers at frames: a tick at
  // the frame nearest its time, in the same wake as the frame's other work, and no platform
  // timer (GetTimerID is 0) nor timer thread woken for it.
  bool GetAtFrames() const { return at_frames_; }
  void SetAtFrames(bool value);
  bool GetWaitForTerminate() const { return wait_for_terminate_; }
  void SetWaitForTerminate(bool value) { wait_for_terminate_ = value; }

  // In cmThread mode with a running worker, runs `method` on the GUI thread and waits for it.
  void SynchronizeVCL(const std::function<void()>& method);

  // The platform timer's id, 0 when none runs.
  TimerId GetTimerID() const;

  void ChangeDesigning(bool value) override;

 protected:
  // Fires OnTimer when it is set and Enabled holds.
  virtual void Timer();

 private:
  struct Build;
  void UpdateTimer();
  void TearDown();
  // Takes the installed build (or installs `next` in its place) and retires its worker, in one
  // step under the build lock, so that the destructor always sees one or the other.
  std::shared_ptr<Build> Exchange(std::shared_ptr<Build> next);
  // Stops what a build taken by Exchange runs: its worker, its platform timer, its tick window.
  void Release(const std::shared_ptr<Build>& b);
  void BuildTimer();
  void RunWorker(MMWorker& w, const std::shared_ptr<Build>& build);

  std::atomic<bool> enabled_{true};
  uint32_t interval_ = 1000;
  TMMCBMode mode_ = cmWindow;
  TThreadPriority priority_ = tpNormal;
  std::atomic<bool> synchronize_{true};
  bool wait_for_terminate_ = false;
  bool at_frames_ = false;

  mutable std::mutex handler_mutex_;  // OnTimer is read by the timer and worker threads
  TNotifyEvent on_timer_;

  mutable std::mutex build_mutex_;
  std::shared_ptr<Build> build_;  // what the current timer was built with
  MMRetiredWorkers retired_;
};

}  // namespace vant
