#pragma once
// Periodic timers for the whole process: one thread sleeps until the earliest deadline on an
// injectable clock and runs each timer's callback there. Callbacks are meant to count, flag and
// post; a slow one delays every other timer.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "clock.h"

namespace vant {

using TimerId = uint32_t;

class TimerService {
 public:
  using Callback = std::function<void(TimerId)>;

  virtual ~TimerService() = default;
  // Starts a periodic timer whose first tick falls one period from now. Returns 0 when no timer
  // can be started (a period below 1 ms, or no thread). Ticks that fall due while the callbacks
  // are late are dropped, never fired in a burst.
  virtual TimerId StartPeriodic(int period_ms, Callback callback) = 0;
  // Stops `id`; an unknown or already killed id is ignored. On return no callback of the timer
  // is running or can still start, except when called from that timer's own callback, whose
  // current run is then its last.
  virtual void Kill(TimerId id) = 0;
  virtual bool IsTimerThread() const = 0;

  // Callers written for a platform with a coarse default tick ask for a finer one around their
  // timers; deadlines here always keep the clock's precision, so the requests change nothing.
  void BeginPeriod(int /*period_ms*/) {}
  void EndPeriod(int /*period_ms*/) {}
  int MinPeriod() const { return 1; }
};

class ThreadTimerService final : public TimerService {
 public:
  // `clock` must outlive the service.
  explicit ThreadTimerService(Clock& clock);
  ~ThreadTimerService() override;
  ThreadTimerService(const ThreadTimerService&) = delete;
  ThreadTimerService& operator=(const ThreadTimerService&) = delete;

  TimerId StartPeriodic(int period_ms, Callback callback) override;
  void Kill(TimerId id) override;
  bool IsTimerThread() const override;

  // For clocks that tests move by hand: waits until every tick due at the clock's present
  // reading has been handled. Returns false when that takes longer than `timeout_ms`.
  bool Settle(int timeout_ms = 5000);
  // Timers alive now.
  int Count() const;
  // The clock reading the thread waits for while it has nothing to do (the next tick), or
  // nothing when it waits only for a timer to be started, changed or killed.
  std::optional<int64_t> SleepsUntil() const;

 private:
  struct State;
  // Shared with the thread, which may outlive a service destroyed from one of its callbacks.
  std::shared_ptr<State> state_;
};

// The process-wide service: a ThreadTimerService on the steady clock unless a test installs
// another. It lives until the process ends, so objects destroyed at exit may still kill timers.
TimerService& GetTimerService();
// Installs `service` (not owned); nullptr restores the default.
void SetTimerService(TimerService* service);

}  // namespace vant
