#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "critsect.h"
#include "osthread.h"
#include "syncevent.h"

using vant::Event;
using vant::Thread;

TEST(CriticalSection, ReentersOnOneThreadAndExcludesOthers) {
  vant::CriticalSection cs;
  cs.Enter();
  EXPECT_TRUE(cs.TryEnter());  // recursive on the holder
  bool other_got_it = true;
  std::thread([&] { other_got_it = cs.TryEnter(); }).join();
  EXPECT_FALSE(other_got_it);
  cs.Leave();
  cs.Leave();
  std::thread([&] {
    other_got_it = cs.TryEnter();
    if (other_got_it) cs.Leave();
  }).join();
  EXPECT_TRUE(other_got_it);
}

TEST(Event, AutoResetLetsOneWaitThroughManualStaysSet) {
  struct Case {
    bool manual;
    bool second_wait;
  } cases[] = {{false, false}, {true, true}};
  for (const auto& c : cases) {
    Event e(c.manual);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_EQ(e.Wait(0), c.second_wait) << "manual=" << c.manual;
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
  }
  Event initially(true, true);
  EXPECT_TRUE(initially.Wait(0));
}

TEST(Event, WaitAnyReturnsTheFirstSetAndTakesAnAutoReset) {
  Event quit, flush(true);
  EXPECT_EQ(Event::WaitAny({&quit, &flush}, 0), -1);
  flush.Set();
  quit.Set();
  EXPECT_EQ(Event::WaitAny({&quit, &flush}, 0), 0);
  EXPECT_EQ(Event::WaitAny({&quit, &flush}, 0), 1);  // quit was taken, flush stays set
  EXPECT_EQ(Event::WaitAny({&quit, &flush}, 0), 1);
}

TEST(Event, WaitsWakeOnASetFromAnotherThread) {
  Event a, b;
  std::thread setter([&] { b.Set(); });
  EXPECT_EQ(Event::WaitAny({&a, &b}, 60000), 1);
  setter.join();
  std::thread setter2([&] { a.Set(); });
  EXPECT_TRUE(a.Wait(60000));
  setter2.join();
}

TEST(Thread, CreatedSuspendedRunsOnlyAfterResumeAndStopsOnTerminate) {
  std::atomic<int> loops{0};
  Event started;
  Thread t(
      [&](Thread::Control& c) {
        started.Set();
        while (!c.Terminated()) ++loops;
      },
      true);
  EXPECT_FALSE(started.Wait(0));
  EXPECT_EQ(loops.load(), 0);
  t.Resume();
  ASSERT_TRUE(started.Wait(60000));
  EXPECT_FALSE(t.IsFinished());
  t.Terminate();
  EXPECT_TRUE(t.WaitFor(60000));
  EXPECT_TRUE(t.IsFinished());
  EXPECT_NE(t.Id(), 0);
}

TEST(Thread, TerminatedWhileSuspendedNeverRunsTheBody) {
  bool ran = false;
  Thread t([&](Thread::Control&) { ran = true; }, true);
  t.Terminate();
  EXPECT_TRUE(t.WaitFor(60000));
  EXPECT_FALSE(ran);
}

TEST(Thread, SuspendHoldsTheBodyAtItsCheckpoint) {
  std::atomic<int> passes{0};
  Event passed;
  Event go_on;
  Thread t(
      [&](Thread::Control& c) {
        while (c.WaitWhileSuspended()) {
          ++passes;
          passed.Set();
          go_on.Wait(60000);
        }
      },
      false);
  ASSERT_TRUE(passed.Wait(60000));
  t.Suspend();
  go_on.Set();  // the body goes back to its checkpoint and must stay there
  EXPECT_TRUE(t.IsSuspended());
  t.Terminate();
  EXPECT_TRUE(t.WaitFor(60000));
  EXPECT_EQ(passes.load(), 1);
}

TEST(Thread, LoweringThePriorityWorksBeforeAndAfterStart) {
  Event hold;
  Thread t([&](Thread::Control&) { hold.Wait(60000); }, true);
  EXPECT_TRUE(t.SetPriority(Thread::kLower));
  t.Resume();
  EXPECT_TRUE(t.SetPriority(Thread::kLowest));
  EXPECT_EQ(t.GetPriority(), Thread::kLowest);
  hold.Set();
  EXPECT_TRUE(t.WaitFor(60000));
}

TEST(Thread, AnExceptionInTheBodyEndsTheThreadNotTheProcess) {
  Thread t([](Thread::Control&) { throw std::runtime_error("boom"); }, false);
  ASSERT_TRUE(t.WaitFor(60000));
  ASSERT_TRUE(t.Error());
  EXPECT_THROW(std::rethrow_exception(t.Error()), std::runtime_error);
  Thread fine([](Thread::Control&) {}, false);
  ASSERT_TRUE(fine.WaitFor(60000));
  EXPECT_FALSE(fine.Error());
}
