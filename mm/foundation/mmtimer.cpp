#include "mmtimer.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <numeric>
#include <utility>
#include <vector>

#include "critsect.h"
#include "timerservice.h"

namespace vant {

struct TMMTimeEvent {
  int32_t Interval;
  void* UserData;
  TMMTimeCallback Callback;
  int32_t SuspendCount;
  int32_t Elapsed;
  uint64_t Serial;  // tells a live record from a freed one whose address came back
};

namespace {

class SharedTimer {
 public:
  // Lives as long as the process: handles are only ever looked up in the list, so a stale one
  // (or a call after every event is gone) finds nothing and changes nothing.
  static SharedTimer& Get() {
    static SharedTimer* instance = new SharedTimer;
    return *instance;
  }

  PMMTimeEvent SetEvent(int32_t interval, bool suspended, TMMTimeCallback callback,
                        void* user_data) {
    Stopped stopped;
    PMMTimeEvent handle = nullptr;
    {
      std::lock_guard lock(lock_);
      events_.push_back(std::make_shared<TMMTimeEvent>(
          TMMTimeEvent{std::max(interval, kMMTimerPeriod), user_data, std::move(callback),
                       suspended ? 1 : 0, 0, ++last_serial_}));
      // A running event needs the platform timer now; without one it is refused. A suspended
      // one waits for its resume to start it.
      if (Retune(stopped)) {
        ++event_count_;
        handle = events_.back().get();
      } else {
        events_.pop_back();
      }
    }
    stopped.Kill();
    return handle;
  }

  // Runs `change` on the suspend count of a live event under the lock.
  template <typename Change>
  void Suspend(PMMTimeEvent handle, Change change) {
    if (!handle) return;
    Stopped stopped;
    {
      std::lock_guard lock(lock_);
      auto it = Find(handle);
      if (it == events_.end()) return;
      change(**it);
      if ((*it)->SuspendCount != 0) (*it)->Elapsed = 0;
      Retune(stopped);
    }
    stopped.Kill();
  }

  // Runs `change` on the event under the lock when the handle is alive.
  template <typename Change>
  void Update(PMMTimeEvent handle, Change change) {
    if (!handle) return;
    Stopped stopped;
    {
      std::lock_guard lock(lock_);
      auto it = Find(handle);
      if (it == events_.end()) return;
      change(**it);
      Retune(stopped);
    }
    stopped.Kill();
  }

  void KillEvent(PMMTimeEvent handle) {
    if (!handle) return;
    Stopped stopped;
    {
      std::lock_guard lock(lock_);
      auto it = Find(handle);
      if (it == events_.end()) return;
      events_.erase(it);
      --event_count_;
      Retune(stopped);
    }
    stopped.Kill();
  }

  // Stops a platform timer still running when the program ends.
  static void Finalize() {
    SharedTimer& t = Get();
    Stopped stopped;
    {
      std::lock_guard lock(t.lock_);
      stopped = t.TakeTimer();
      t.events_.clear();
      t.event_count_ = 0;
    }
    stopped.Kill();
  }

 private:
  SharedTimer() = default;

  // A platform timer taken out of service under the lock, killed after it is left: a tick that
  // waits for the lock must be let through before the kill returns. From the timer's own tick
  // (a callback suspending or killing the last running event) the kill only ends that tick.
  struct Stopped {
    TimerService* service = nullptr;
    TimerId timer = 0;
    void Kill() {
      if (!service) return;
      service->Kill(timer);
      service->EndPeriod(kMMTimerPeriod);
    }
  };
  Stopped TakeTimer() {
    step_ = 0;
    return {std::exchange(service_, nullptr), std::exchange(timer_id_, 0)};
  }

  // Every tick wakes the timer thread, so the platform timer ticks only on the 25 ms ticks
  // that some running event can fire on: every greatest common share of their intervals'
  // ticks. An event then fires on the same ticks as with a tick every 25 ms; 0 when none runs.
  int32_t WantedStep() const {
    int32_t ticks = 0;
    for (const auto& e : events_) {
      if (e->SuspendCount == 0)
        ticks = std::gcd(ticks, (e->Interval + kMMTimerPeriod - 1) / kMMTimerPeriod);
    }
    return ticks * kMMTimerPeriod;
  }
  // Starts, restarts or stops the platform timer for the running events (the one it replaces
  // goes into `stopped`); false when a timer is needed and cannot be started, when the running
  // one, if any, stays.
  bool Retune(Stopped& stopped) {
    const int32_t step = WantedStep();
    if (step == step_) return true;
    if (step == 0) {
      stopped = TakeTimer();
      return true;
    }
    TimerService& service = GetTimerService();
    service.BeginPeriod(kMMTimerPeriod);
    const TimerId id = service.StartPeriodic(step, [this](TimerId id) { Tick(id); });
    if (id == 0) {
      service.EndPeriod(kMMTimerPeriod);
      return false;
    }
    stopped = TakeTimer();
    service_ = &service;
    timer_id_ = id;
    step_ = step;
    return true;
  }

  // Shared, so a tick can hold the record of the callback it runs: a callback may kill its own
  // event, and must not free the function it is running.
  using List = std::vector<std::shared_ptr<TMMTimeEvent>>;
  List::iterator Find(PMMTimeEvent handle) {
    return std::find_if(events_.begin(), events_.end(),
                        [&](const auto& e) { return e.get() == handle; });
  }
  std::shared_ptr<TMMTimeEvent> FindLive(PMMTimeEvent handle, uint64_t serial) {
    auto it = Find(handle);
    return it != events_.end() && (*it)->Serial == serial ? *it : nullptr;
  }

  void Tick(TimerId id) {
    // A tick that arrives while the previous one is still being handled is lost for everyone.
    if (busy_.fetch_add(1) == 0) {
      std::lock_guard lock(lock_);
      if (id == timer_id_) RunEvents();
    }
    busy_.fetch_sub(1);
  }

  void RunEvents() {
    // Callbacks may create and kill events, so walk a snapshot and look each record up again.
    snapshot_.clear();
    for (const auto& e : events_) snapshot_.push_back({e.get(), e->Serial});
    for (const auto& [handle, serial] : snapshot_) {
      const std::shared_ptr<TMMTimeEvent> event = FindLive(handle, serial);
      if (!event || event->SuspendCount != 0) continue;
      event->Elapsed += step_;
      if (event->Elapsed < event->Interval) continue;
      if (event->Callback) event->Callback(handle, event->UserData);
      if (FindLive(handle, serial)) event->Elapsed = 0;
    }
  }

  CriticalSection lock_;             // re-entrant: callbacks may change events
  TimerService* service_ = nullptr;  // the one the running timer was started on
  TimerId timer_id_ = 0;
  List events_;  // in creation order
  int32_t event_count_ = 0;
  int32_t step_ = 0;  // the running platform timer's period, 0 when none runs
  std::atomic<int32_t> busy_{0};
  uint64_t last_serial_ = 0;
  std::vector<std::pair<PMMTimeEvent, uint64_t>> snapshot_;
};

struct FinalizeAtExit {
  ~FinalizeAtExit() { SharedTimer::Finalize(); }
} finalize_at_exit;

}  // namespace

PMMTimeEvent MMTimeSetEvent(int32_t interval, bool suspended, TMMTimeCallback callback,
                            void* user_data) {
  return SharedTimer::Get().SetEvent(interval, suspended, std::move(callback), user_data);
}

void MMTimeSetInterval(PMMTimeEvent handle, int32_t interval) {
  SharedTimer::Get().Update(handle, [&](TMMTimeEvent& e) {
    e.Interval = std::max(interval, kMMTimerPeriod);
    e.Elapsed = 0;
  });
}

void MMTimeSuspendEvent(PMMTimeEvent handle) {
  SharedTimer::Get().Suspend(handle, [](TMMTimeEvent& e) {
    ++e.SuspendCount;
    e.Elapsed = 0;
  });
}

void MMTimeResumeEvent(PMMTimeEvent handle) {
  SharedTimer::Get().Suspend(handle, [](TMMTimeEvent& e) {
    if (e.SuspendCount > 0) --e.SuspendCount;
  });
}

void MMTimeSetSuspended(PMMTimeEvent handle, bool suspended) {
  SharedTimer::Get().Suspend(handle,
                             [suspended](TMMTimeEvent& e) { e.SuspendCount = suspended ? 1 : 0; });
}

void MMTimeKillEvent(PMMTimeEvent handle) { SharedTimer::Get().KillEvent(handle); }

}  // namespace vant
