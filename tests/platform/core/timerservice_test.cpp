#include "timerservice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

using vant::ManualClock;
using vant::ThreadTimerService;
using vant::TimerId;

// Moves the hand-driven clock in steps and lets the timer thread catch up after each.
void Step(ManualClock& clock, ThreadTimerService& service, int millis, int steps = 1) {
  for (int i = 0; i < steps; ++i) {
    clock.AdvanceMillis(millis);
    ASSERT_TRUE(service.Settle());
  }
}

TEST(TimerService, FiresOncePerPeriodOnTheTimerThread) {
  ManualClock clock;
  ThreadTimerService service(clock);
  std::atomic<int> a{0}, b{0};
  std::atomic<bool> on_timer_thread{true};
  TimerId ta = service.StartPeriodic(25, [&](TimerId) {
    ++a;
    if (!service.IsTimerThread()) on_timer_thread = false;
  });
  TimerId tb = service.StartPeriodic(10, [&](TimerId) { ++b; });
  ASSERT_NE(ta, 0u);
  ASSERT_NE(tb, 0u);
  EXPECT_NE(ta, tb);
  Step(clock, service, 5, 20);  // 100 ms in 5 ms steps
  EXPECT_EQ(a, 4);
  EXPECT_EQ(b, 10);
  EXPECT_TRUE(on_timer_thread);
  EXPECT_FALSE(service.IsTimerThread());
  service.Kill(ta);
  service.Kill(tb);
}

// An idle program must not be woken by its timer thread: with no timer alive the thread waits
// for work without a deadline; with timers, until the earliest one is due.
TEST(TimerService, TheThreadSleepsUntilTheNextTickAndWithoutDeadlineWhenNoTimerLives) {
  ManualClock clock;
  clock.Set(1'000'000);
  ThreadTimerService service(clock);
  const TimerId slow = service.StartPeriodic(5000, [](TimerId) {});
  const TimerId fast = service.StartPeriodic(40, [](TimerId) {});
  ASSERT_TRUE(service.Settle());
  EXPECT_EQ(service.SleepsUntil(), std::optional<int64_t>(1'040'000));
  Step(clock, service, 30);
  EXPECT_EQ(service.SleepsUntil(), std::optional<int64_t>(1'040'000));
  service.Kill(fast);
  ASSERT_TRUE(service.Settle());
  EXPECT_EQ(service.SleepsUntil(), std::optional<int64_t>(6'000'000));
  service.Kill(slow);
  ASSERT_TRUE(service.Settle());
  EXPECT_EQ(service.SleepsUntil(), std::nullopt);
  // Long after, still nothing to wake for; a new timer sets a deadline again.
  Step(clock, service, 60'000);
  EXPECT_EQ(service.SleepsUntil(), std::nullopt);
  service.StartPeriodic(25, [](TimerId) {});
  ASSERT_TRUE(service.Settle());
  EXPECT_EQ(service.SleepsUntil(), std::optional<int64_t>(61'055'000));
}

TEST(TimerService, RefusesBadArgumentsAndIgnoresUnknownIds) {
  ManualClock clock;
  ThreadTimerService service(clock);
  EXPECT_EQ(service.StartPeriodic(0, [](TimerId) {}), 0u);
  EXPECT_EQ(service.StartPeriodic(-5, [](TimerId) {}), 0u);
  EXPECT_EQ(service.StartPeriodic(10, nullptr), 0u);
  TimerId id = service.StartPeriodic(10, [](TimerId) {});
  service.Kill(id + 100);
  service.Kill(0);
  EXPECT_EQ(service.Count(), 1);
  service.Kill(id);
  service.Kill(id);  // twice is harmless
  EXPECT_EQ(service.Count(), 0);
}

TEST(TimerService, TicksMissedDuringASlowCallbackAreDropped) {
  ManualClock clock;
  ThreadTimerService service(clock);
  std::vector<int64_t> fired_at;
  service.StartPeriodic(25, [&](TimerId) {
    fired_at.push_back(clock.NowMillis());
    if (fired_at.size() == 1) clock.AdvanceMillis(60);  // the callback takes 60 ms
  });
  Step(clock, service, 25);  // 25: fires, runs until 85; 50 and 75 are lost
  Step(clock, service, 15);  // 100: the next one on the original grid
  EXPECT_EQ(fired_at, (std::vector<int64_t>{25, 100}));
}

TEST(TimerService, KillFromItsOwnCallbackEndsTheTimer) {
  ManualClock clock;
  ThreadTimerService service(clock);
  std::atomic<int> runs{0};
  service.StartPeriodic(10, [&](TimerId self) {
    ++runs;
    service.Kill(self);
  });
  Step(clock, service, 10, 5);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(service.Count(), 0);
}

TEST(TimerService, KillWaitsForARunningCallback) {
  ManualClock clock;
  ThreadTimerService service(clock);
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, release = false;
  std::atomic<bool> finished{false};
  TimerId id = service.StartPeriodic(10, [&](TimerId) {
    std::unique_lock lock(m);
    entered = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
    finished = true;
  });
  clock.AdvanceMillis(10);
  (void)service.Settle(0);  // wakes the thread; it cannot settle while the callback blocks
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return entered; }));
  }
  std::atomic<bool> finished_when_kill_returned{false};
  std::thread killer([&] {
    service.Kill(id);
    finished_when_kill_returned = finished.load();
  });
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  killer.join();
  EXPECT_TRUE(finished_when_kill_returned);
}

TEST(TimerService, ACallbackThatThrowsKeepsTheThreadAlive) {
  ManualClock clock;
  ThreadTimerService service(clock);
  std::atomic<int> other{0};
  service.StartPeriodic(10, [](TimerId) { throw std::runtime_error("boom"); });
  service.StartPeriodic(10, [&](TimerId) { ++other; });
  Step(clock, service, 10, 3);
  EXPECT_EQ(other, 3);
}

TEST(TimerService, TicksOnTheRealClock) {
  vant::SystemClock clock;
  ThreadTimerService service(clock);
  std::mutex m;
  std::condition_variable cv;
  int ticks = 0;
  const int64_t start = clock.NowMicros();
  TimerId id = service.StartPeriodic(2, [&](TimerId) {
    std::lock_guard lock(m);
    ++ticks;
    cv.notify_all();
  });
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return ticks >= 10; }));
  }
  service.Kill(id);
  // Ten 2 ms ticks can come no sooner than 20 ms after the start.
  EXPECT_GE(clock.NowMicros() - start, 20'000);
}

TEST(TimerService, DestroyedFromItsOwnCallbackTheThreadEndsWithoutTouchingWhatWasFreed) {
  // The thread goes on after the callback that deleted its service and must not use what was
  // freed. The callback's captures go when the thread lets go of its last piece of the service,
  // and so tell the test that it has ended.
  static ManualClock clock;  // outlives the thread
  auto* service = new ThreadTimerService(clock);
  std::mutex m;
  std::condition_variable cv;
  bool released = false;
  std::shared_ptr<void> probe(nullptr, [&](void*) {
    std::lock_guard lock(m);
    released = true;
    cv.notify_all();
  });
  service->StartPeriodic(10, [service, probe](TimerId) { delete service; });
  probe.reset();
  clock.AdvanceMillis(10);  // the thread sees it within the 10 ms it sleeps for that deadline
  std::unique_lock lock(m);
  EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return released; }));
}

TEST(TimerService, TheProcessServiceCanBeReplaced) {
  ManualClock clock;
  ThreadTimerService mine(clock);
  vant::TimerService& before = vant::GetTimerService();
  vant::SetTimerService(&mine);
  EXPECT_EQ(&vant::GetTimerService(), &mine);
  vant::SetTimerService(nullptr);
  EXPECT_EQ(&vant::GetTimerService(), &before);
}

}  // namespace
