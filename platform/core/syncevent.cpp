#include "syncevent.h"

#include <algorithm>
#include <chrono>

namespace vant {

// A thread in WaitAny registers one of these with every event it waits for; Set pokes it.
struct Event::Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool poked = false;
  void Poke() {
    {
      std::lock_guard lock(mutex);
      poked = true;
    }
    cv.notify_one();
  }
};

Event::Event(bool manual_reset, bool initially_set) : manual_(manual_reset), set_(initially_set) {}
Event::~Event() = default;

void Event::Set() {
  std::lock_guard lock(mutex_);
  set_ = true;
  if (manual_)
    cv_.notify_all();
  else
    cv_.notify_one();
  for (Waiter* w : waiters_) w->Poke();
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::TryTakeLocked() {
  if (!set_) return false;
  if (!manual_) set_ = false;
  return true;
}

bool Event::Wait(int64_t timeout_ms) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(timeout_ms, 0)),
               [&] { return set_; });
  return TryTakeLocked();
}

int Event::WaitAny(std::initializer_list<Event*> events, int64_t timeout_ms) {
  return WaitAny(std::vector<Event*>(events), timeout_ms);
}

int Event::WaitAny(const std::vector<Event*>& events, int64_t timeout_ms) {
  Waiter waiter;
  for (Event* e : events) {
    std::lock_guard lock(e->mutex_);
    e->waiters_.push_back(&waiter);
  }
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(std::max<int64_t>(timeout_ms, 0));
  int found = -1;
  for (;;) {
    {
      std::lock_guard lock(waiter.mutex);
      waiter.poked = false;
    }
    // A Set after this scan pokes the waiter, so the wait below cannot miss it.
    for (size_t i = 0; i < events.size() && found < 0; ++i) {
      std::lock_guard lock(events[i]->mutex_);
      if (events[i]->TryTakeLocked()) found = static_cast<int>(i);
    }
    if (found >= 0) break;
    std::unique_lock lock(waiter.mutex);
    if (!waiter.cv.wait_until(lock, deadline, [&] { return waiter.poked; })) break;
  }
  for (Event* e : events) {
    std::lock_guard lock(e->mutex_);
    auto& ws = e->waiters_;
    ws.erase(std::find(ws.begin(), ws.end(), &waiter));
  }
  return found;
}

}  // namespace vant
