#include "mmtimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "timerservice.h"

namespace {

using namespace vant;

class SharedTimerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTimerService(&service); }
  void TearDown() override { SetTimerService(nullptr); }

  // One tick of the shared timer, handled before this returns.
  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) {
      clock.AdvanceMillis(kMMTimerPeriod);
      ASSERT_TRUE(service.Settle());
    }
  }

  ManualClock clock;
  ThreadTimerService service{clock};
};

// A callback that counts its firings in the int its user data points at.
void Count(PMMTimeEvent, void* counter) { ++*static_cast<std::atomic<int>*>(counter); }

TEST_F(SharedTimerTest, IntervalsFireOnTheirShareOfTicks) {
  struct Case {
    int interval;
    int fires_in_8_ticks;
  } cases[] = {{10, 8}, {25, 8}, {40, 4}, {50, 4}, {60, 2}, {100, 2}};
  std::vector<std::atomic<int>> fired(std::size(cases));
  std::vector<PMMTimeEvent> events;
  for (size_t i = 0; i < std::size(cases); ++i)
    events.push_back(MMTimeSetEvent(cases[i].interval, false, Count, &fired[i]));
  Tick(8);
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(fired[i], cases[i].fires_in_8_ticks) << "interval " << cases[i].interval;
  for (auto e : events) MMTimeKillEvent(e);
}

// Each tick wakes the timer thread: the platform timer ticks only as often as the running
// events need (every common multiple of 25 ms that their intervals share), with the same firings.
TEST_F(SharedTimerTest, ThePlatformTimerTicksOnlyAsOftenAsTheRunningEventsNeed) {
  auto sleeps = [&] {
    EXPECT_TRUE(service.Settle());
    return service.SleepsUntil().value_or(-1) - clock.NowMicros();
  };
  std::atomic<int> slow_fired{0}, fast_fired{0};
  PMMTimeEvent slow = MMTimeSetEvent(100, false, Count, &slow_fired);
  EXPECT_EQ(sleeps(), 100'000);
  PMMTimeEvent fast = MMTimeSetEvent(50, false, Count, &fast_fired);
  EXPECT_EQ(sleeps(), 50'000);
  Tick(8);
  EXPECT_EQ(slow_fired, 2);
  EXPECT_EQ(fast_fired, 4);
  MMTimeSuspendEvent(fast);
  EXPECT_EQ(sleeps(), 100'000);
  MMTimeSetInterval(slow, 60);  // three ticks
  EXPECT_EQ(sleeps(), 75'000);
  MMTimeResumeEvent(fast);  // two ticks: only one has both
  EXPECT_EQ(sleeps(), 25'000);
  MMTimeKillEvent(fast);
  EXPECT_EQ(sleeps(), 75'000);
  Tick(3);
  EXPECT_EQ(slow_fired, 3);
  MMTimeKillEvent(slow);
}

TEST_F(SharedTimerTest, SuspendedTimeDoesNotCountAndSuspensionsAreCounted) {
  std::atomic<int> fired{0};
  PMMTimeEvent e = MMTimeSetEvent(100, true, Count, &fired);
  Tick(6);
  EXPECT_EQ(fired, 0);
  MMTimeResumeEvent(e);
  Tick(3);
  EXPECT_EQ(fired, 0);
  Tick(1);  // a full interval after the resume
  EXPECT_EQ(fired, 1);

  Tick(3);  // three quarters of the way, then suspended: the count starts again
  MMTimeSuspendEvent(e);
  MMTimeSuspendEvent(e);
  MMTimeResumeEvent(e);
  Tick(8);
  EXPECT_EQ(fired, 1);  // suspended twice, resumed once
  MMTimeResumeEvent(e);
  MMTimeResumeEvent(e);  // one resume too many changes nothing
  Tick(3);
  EXPECT_EQ(fired, 1);
  Tick(1);
  EXPECT_EQ(fired, 2);
  MMTimeSuspendEvent(e);
  MMTimeResumeEvent(e);
  Tick(4);
  EXPECT_EQ(fired, 3);  // not suspended by the extra resume's debt
  MMTimeKillEvent(e);
}

TEST_F(SharedTimerTest, SetIntervalRestartsTheCount) {
  std::atomic<int> fired{0};
  PMMTimeEvent e = MMTimeSetEvent(100, false, Count, &fired);
  Tick(3);
  MMTimeSetInterval(e, 50);
  Tick(1);
  EXPECT_EQ(fired, 0);
  Tick(1);
  EXPECT_EQ(fired, 1);
  MMTimeSetInterval(e, 0);  // raised to one tick
  Tick(2);
  EXPECT_EQ(fired, 3);
  MMTimeKillEvent(e);
}

TEST_F(SharedTimerTest, TheLastKillStopsThePlatformTimerAndTheNextEventStartsIt) {
  std::atomic<int> fired{0};
  PMMTimeEvent a = MMTimeSetEvent(25, false, Count, &fired);
  PMMTimeEvent b = MMTimeSetEvent(25, false, Count, &fired);
  EXPECT_EQ(service.Count(), 1);  // one platform timer for every event
  MMTimeKillEvent(a);
  EXPECT_EQ(service.Count(), 1);
  MMTimeKillEvent(b);
  EXPECT_EQ(service.Count(), 0);
  Tick(2);
  EXPECT_EQ(fired, 0);

  PMMTimeEvent c = MMTimeSetEvent(25, false, Count, &fired);
  EXPECT_EQ(service.Count(), 1);
  Tick(1);
  EXPECT_EQ(fired, 1);
  MMTimeKillEvent(c);
}

TEST_F(SharedTimerTest, ThePlatformTimerSleepsWhileEveryEventIsSuspended) {
  std::atomic<int> fired{0};
  PMMTimeEvent a = MMTimeSetEvent(25, true, Count, &fired);
  PMMTimeEvent b = MMTimeSetEvent(50, false, Count, &fired);
  EXPECT_EQ(service.Count(), 1);
  MMTimeSuspendEvent(b);
  EXPECT_EQ(service.Count(), 0);  // two events, none wants a tick: nothing wakes
  Tick(4);
  EXPECT_EQ(fired, 0);

  MMTimeResumeEvent(a);
  EXPECT_EQ(service.Count(), 1);
  Tick(2);
  EXPECT_EQ(fired, 2);
  MMTimeResumeEvent(b);  // joins the running timer
  Tick(2);
  EXPECT_EQ(fired, 5);  // b's count began afresh at its resume

  // Owner switches are idempotent, whatever the count was.
  MMTimeSetSuspended(a, true);
  MMTimeSetSuspended(a, true);
  MMTimeSuspendEvent(b);
  EXPECT_EQ(service.Count(), 0);
  MMTimeSetSuspended(a, false);
  EXPECT_EQ(service.Count(), 1);
  Tick(1);
  EXPECT_EQ(fired, 6);
  MMTimeKillEvent(a);  // the last running one
  EXPECT_EQ(service.Count(), 0);
  MMTimeKillEvent(b);
}

TEST_F(SharedTimerTest, ACallbackThatSuspendsTheLastRunningEventStopsTheTimer) {
  std::atomic<int> runs{0};
  PMMTimeEvent e = MMTimeSetEvent(
      25, false,
      [&](PMMTimeEvent me, void*) {
        if (++runs == 2) MMTimeSetSuspended(me, true);
      },
      nullptr);
  Tick(3);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(service.Count(), 0);
  MMTimeSetSuspended(e, false);
  Tick(1);
  EXPECT_EQ(runs, 3);
  MMTimeKillEvent(e);
}

TEST_F(SharedTimerTest, DeadAndNullHandlesChangeNothing) {
  std::atomic<int> fired{0};
  PMMTimeEvent keep = MMTimeSetEvent(25, false, Count, &fired);
  PMMTimeEvent gone = MMTimeSetEvent(25, false, Count, &fired);
  MMTimeKillEvent(gone);
  for (PMMTimeEvent h : {gone, PMMTimeEvent{nullptr}}) {
    MMTimeSetInterval(h, 100);
    MMTimeSuspendEvent(h);
    MMTimeResumeEvent(h);
    MMTimeKillEvent(h);
  }
  EXPECT_EQ(service.Count(), 1);  // the stale kill did not count the live event away
  Tick(1);
  EXPECT_EQ(fired, 1);
  MMTimeKillEvent(keep);
  MMTimeKillEvent(keep);
  EXPECT_EQ(service.Count(), 0);
}

TEST_F(SharedTimerTest, ATickThatFallsDueDuringACallbackIsLost) {
  std::atomic<int> slow_runs{0}, other{0};
  PMMTimeEvent slow = MMTimeSetEvent(
      25, false,
      [&](PMMTimeEvent, void*) {
        if (++slow_runs == 1) clock.AdvanceMillis(30);  // runs past the next tick
      },
      nullptr);
  PMMTimeEvent every_other = MMTimeSetEvent(50, false, Count, &other);
  Tick(1);  // t=25, the callback runs to t=55; the tick at 50 is lost
  EXPECT_EQ(slow_runs, 1);
  clock.AdvanceMillis(20);  // t=75
  ASSERT_TRUE(service.Settle());
  EXPECT_EQ(slow_runs, 2);
  EXPECT_EQ(other, 1);  // counts handled ticks: its second one was at 75
  MMTimeKillEvent(slow);
  MMTimeKillEvent(every_other);
}

TEST_F(SharedTimerTest, CallbacksMayChangeAndKillEventsOnTheTimerThread) {
  std::atomic<int> victim_runs{0}, self_runs{0};
  PMMTimeEvent victim = MMTimeSetEvent(25, false, Count, &victim_runs);
  PMMTimeEvent added = nullptr;
  PMMTimeEvent self = MMTimeSetEvent(
      25, false,
      [&](PMMTimeEvent me, void*) {
        switch (++self_runs) {
          case 1:
            MMTimeSetInterval(me, 50);
            MMTimeSuspendEvent(me);
            MMTimeResumeEvent(me);
            added = MMTimeSetEvent(25, false, Count, &victim_runs);
            break;
          case 2:
            MMTimeKillEvent(victim);
            MMTimeKillEvent(added);
            MMTimeKillEvent(me);  // the last one: stops the platform timer from its own tick
            break;
        }
      },
      nullptr);
  Tick(1);
  EXPECT_EQ(victim_runs, 1);  // the event added during the tick waits for the next one
  Tick(2);  // victim twice, the added one once (it follows the killer in the list)
  EXPECT_EQ(self_runs, 2);
  EXPECT_EQ(victim_runs, 4);
  EXPECT_EQ(service.Count(), 0);
  Tick(2);
  EXPECT_EQ(self_runs, 2);
  MMTimeKillEvent(self);  // already gone
}

TEST_F(SharedTimerTest, AnEventKilledByItsOwnCallbackKeepsThatCallbackAliveUntilItReturns) {
  // The callback's captures stand for a client's state: freeing them while the callback still
  // runs would let it read freed memory right after the kill.
  struct Probe {
    explicit Probe(bool* d) : destroyed(d) {}
    ~Probe() { *destroyed = true; }
    bool* destroyed;
  };
  bool destroyed = false;
  bool alive_after_kill = false;
  auto probe = std::make_shared<Probe>(&destroyed);
  std::atomic<int> unused{0};
  PMMTimeEvent keep = MMTimeSetEvent(25, true, Count, &unused);  // keeps the timer running
  MMTimeSetEvent(
      25, false,
      [probe, &destroyed, &alive_after_kill](PMMTimeEvent me, void*) {
        MMTimeKillEvent(me);
        alive_after_kill = !destroyed && probe->destroyed == &destroyed;
      },
      nullptr);
  probe.reset();
  Tick(1);
  EXPECT_TRUE(alive_after_kill);
  EXPECT_TRUE(destroyed);  // and it is freed once the callback has returned
  MMTimeKillEvent(keep);
}

// A platform that refuses timers.
class NoTimers : public TimerService {
 public:
  TimerId StartPeriodic(int, Callback) override { return 0; }
  void Kill(TimerId) override {}
  bool IsTimerThread() const override { return false; }
};

TEST_F(SharedTimerTest, NoPlatformTimerGivesNoEventAndLeavesNothingCounted) {
  NoTimers refusing;
  SetTimerService(&refusing);
  std::atomic<int> fired{0};
  EXPECT_EQ(MMTimeSetEvent(25, false, Count, &fired), nullptr);
  EXPECT_EQ(MMTimeSetEvent(25, false, Count, &fired), nullptr);
  SetTimerService(&service);
  PMMTimeEvent e = MMTimeSetEvent(25, false, Count, &fired);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(service.Count(), 1);
  Tick(1);
  EXPECT_EQ(fired, 1);
  MMTimeKillEvent(e);
  EXPECT_EQ(service.Count(), 0);
}

}  // namespace
