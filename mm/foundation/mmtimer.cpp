#include "mmtimer.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
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
    std::lock_guard lock(lock_);
    if (++event_count_ == 1) {
      service_ = &GetTimerService();
      service_->BeginPeriod(kMMTimerPeriod);
      timer_id_ = service_->StartPeriodic(kMMTimerPeriod, [this](TimerId id) { Tick(id); });
      if (timer_id_ == 0) {
        service_->EndPeriod(kMMTimerPeriod);
        service_ = nullptr;
        event_count_ = 0;
        return nullptr;
      }
    }
    auto event = std::make_shared<TMMTimeEvent>(TMMTimeEvent{std::max(interval, kMMTimerPeriod),
                                                             user_data, std::move(callback),
                                                             suspended ? 1 : 0, 0, ++last_serial_});
    events_.push_back(std::move(event));
    return events_.back().get();
  }

  // Runs `change` on the event under the lock when the handle is alive.
  template <typename Change>
  void Update(PMMTimeEvent handle, Change change) {
    if (!handle) return;
    std::lock_guard lock(lock_);
    if (auto it = Find(handle); it != events_.end()) change(**it);
  }

  void KillEvent(PMMTimeEvent handle) {
    if (!handle) return;
    TimerService* service = nullptr;
    TimerId timer = 0;
    {
      std::lock_guard lock(lock_);
      auto it = Find(handle);
      if (it == events_.end()) return;
      events_.erase(it);
      if (--event_count_ > 0) return;
      std::swap(service, service_);
      std::swap(timer, timer_id_);
    }
    // Outside the lock: a tick that is waiting for it must be let through before Kill returns.
    service->Kill(timer);
    service->EndPeriod(kMMTimerPeriod);
  }

  // Stops a platform timer still running when the program ends.
  static void Finalize() {
    SharedTimer& t = Get();
    std::unique_lock lock(t.lock_);
    TimerService* service = std::exchange(t.service_, nullptr);
    TimerId timer = std::exchange(t.timer_id_, 0);
    t.events_.clear();
    t.event_count_ = 0;
    lock.unlock();
    if (service) {
      service->Kill(timer);
      service->EndPeriod(kMMTimerPeriod);
    }
  }

 private:
  SharedTimer() = default;

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
      event->Elapsed += kMMTimerPeriod;
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
  SharedTimer::Get().Update(handle, [](TMMTimeEvent& e) {
    ++e.SuspendCount;
    e.Elapsed = 0;
  });
}

void MMTimeResumeEvent(PMMTimeEvent handle) {
  SharedTimer::Get().Update(handle, [](TMMTimeEvent& e) {
    if (e.SuspendCount > 0) --e.SuspendCount;
  });
}

void MMTimeKillEvent(PMMTimeEvent handle) { SharedTimer::Get().KillEvent(handle); }

}  // namespace vant
