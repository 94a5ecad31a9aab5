#include "timerservice.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "trace.h"

namespace vant {

struct ThreadTimerService::State {
  struct Timer {
    int64_t period;  // microseconds
    int64_t next;    // deadline on the clock
    std::shared_ptr<Callback> callback;
  };

  explicit State(Clock& c) : clock(c) {}

  void Run();
  void WaitForWork(std::unique_lock<std::mutex>& lock, int64_t now);

  Clock& clock;
  mutable std::mutex mutex;
  std::condition_variable wake;  // something for the thread to look at
  std::condition_variable idle;  // the thread finished a callback or found nothing due
  std::map<TimerId, Timer> timers;
  TimerId last_id = 0;
  TimerId running = 0;
  int64_t settled_at = LLONG_MIN;
  uint64_t idle_passes = 0;             // times the thread found nothing due
  std::optional<int64_t> sleeps_until;  // while the thread waits for work
  bool changed = false;
  bool stop = false;
  std::thread thread;
  std::atomic<std::thread::id> thread_id{};
};

void ThreadTimerService::State::Run() {
  // Named, so that a look at the process's threads tells who wakes.
  pthread_setname_np(pthread_self(), "timers");
  std::unique_lock lock(mutex);
  while (!stop) {
    const int64_t now = clock.NowMicros();
    auto due = timers.end();
    for (auto it = timers.begin(); it != timers.end(); ++it) {
      if (it->second.next <= now && (due == timers.end() || it->second.next < due->second.next))
        due = it;
    }
    if (due == timers.end()) {
      settled_at = now;
      ++idle_passes;
      idle.notify_all();
      WaitForWork(lock, now);
      continue;
    }
    const TimerId id = due->first;
    std::shared_ptr<Callback> callback = due->second.callback;
    running = id;
    lock.unlock();
    try {
      (*callback)(id);
    } catch (const std::exception& e) {
      TraceF("timer %u: callback raised: %s", id, e.what());
    } catch (...) {
      TraceF("timer %u: callback raised", id);
    }
    lock.lock();
    running = 0;
    idle.notify_all();
    if (stop) break;  // the service is gone (maybe by this callback): so may be the clock
    auto it = timers.find(id);
    if (it == timers.end()) continue;  // killed by its own callback
    Timer& t = it->second;
    t.next += t.period;
    // Ticks that fell due while we were late are dropped, so a slow callback never sees a burst.
    const int64_t after = clock.NowMicros();
    if (t.next <= after) t.next += ((after - t.next) / t.period + 1) * t.period;
  }
}

void ThreadTimerService::State::WaitForWork(std::unique_lock<std::mutex>& lock, int64_t now) {
  const auto woken = [&] { return changed || stop; };
  if (timers.empty()) {
    // Nothing can fall due until a timer is started, which wakes us, as do a kill and the
    // end of the service: an idle program is not woken for nothing.
    wake.wait(lock, woken);
  } else {
    int64_t next = LLONG_MAX;
    for (const auto& [id, t] : timers) next = std::min(next, t.next);
    if (next <= now) return;
    sleeps_until = next;
    // The remaining time is measured on the injected clock but slept on the steady one: for
    // the real clock they agree, and a hand-moved clock wakes us through Settle.
    wake.wait_for(lock, std::chrono::microseconds(next - now), woken);
    sleeps_until.reset();
  }
  changed = false;
}

ThreadTimerService::ThreadTimerService(Clock& clock) : state_(std::make_shared<State>(clock)) {}

ThreadTimerService::~ThreadTimerService() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stop = true;
  }
  state_->wake.notify_all();
  if (!state_->thread.joinable()) return;
  if (IsTimerThread())
    state_->thread.detach();  // destroyed from a callback: the thread ends after it
  else
    state_->thread.join();
}

TimerId ThreadTimerService::StartPeriodic(int period_ms, Callback callback) {
  if (period_ms < 1 || !callback) return 0;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (s.stop) return 0;
  if (!s.thread.joinable()) {
    try {
      s.thread = std::thread([state = state_] { state->Run(); });
    } catch (const std::system_error& e) {
      TraceF("timer thread: %s", e.what());
      return 0;
    }
    s.thread_id = s.thread.get_id();
  }
  TimerId id = ++s.last_id;
  if (id == 0) id = ++s.last_id;
  const int64_t period = int64_t{period_ms} * 1000;
  s.timers[id] = State::Timer{period, s.clock.NowMicros() + period,
                              std::make_shared<Callback>(std::move(callback))};
  s.changed = true;
  s.wake.notify_all();
  return id;
}

void ThreadTimerService::Kill(TimerId id) {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  if (s.timers.erase(id) == 0) return;
  s.changed = true;
  s.wake.notify_all();
  if (IsTimerThread()) return;  // either its own callback or another timer's: none of it runs
  // The caller is about to free what the callback uses, so we must outwait it; a callback that
  // never returns is a fault worth shouting about, not one we can recover from here.
  bool reported = false;
  while (s.running == id) {
    if (!s.idle.wait_for(lock, std::chrono::seconds(5), [&] { return s.running != id; }) &&
        !reported) {
      TraceF("timer %u: kill still waiting for its callback", id);
      reported = true;
    }
  }
}

bool ThreadTimerService::IsTimerThread() const {
  return state_->thread_id.load() == std::this_thread::get_id();
}

bool ThreadTimerService::Settle(int timeout_ms) {
  State& s = *state_;
  if (IsTimerThread()) return false;
  std::unique_lock lock(s.mutex);
  if (!s.thread.joinable()) return true;
  const int64_t target = s.clock.NowMicros();
  // The thread must look again after this call, or a timer started or killed just before
  // would count as seen.
  const uint64_t passes = s.idle_passes;
  s.changed = true;
  s.wake.notify_all();
  return s.idle.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return s.stop || (s.idle_passes > passes && s.settled_at >= target && s.running == 0);
  });
}

std::optional<int64_t> ThreadTimerService::SleepsUntil() const {
  std::lock_guard lock(state_->mutex);
  return state_->sleeps_until;
}

int ThreadTimerService::Count() const {
  std::lock_guard lock(state_->mutex);
  return static_cast<int>(state_->timers.size());
}

namespace {
std::atomic<TimerService*> g_installed{nullptr};
}

TimerService& GetTimerService() {
  if (TimerService* s = g_installed.load()) return *s;
  // Never destroyed: objects torn down at exit may still kill their timers.
  static SystemClock* clock = new SystemClock;
  static ThreadTimerService* service = new ThreadTimerService(*clock);
  return *service;
}

void SetTimerService(TimerService* service) { g_installed = service; }

}  // namespace vant
