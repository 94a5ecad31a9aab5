#include "mmhtimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch.h"
#include "probe.h"
#include "timerservice.h"
#include "ui_dialogs.h"
#include "ui_timer.h"

namespace {

using namespace vant;

// The ways a tick can reach the handler.
struct Delivery {
  const char* what;
  TMMCBMode mode;
  bool synchronize;
};
const Delivery kDeliveries[] = {{"window", cmWindow, true},
                                {"worker", cmThread, false},
                                {"worker, synchronized", cmThread, true}};

class HiTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDispatcher(&gui);
    SetTimerService(&service);
  }
  void TearDown() override {
    gui.ProcessMessages();
    SetTimerService(nullptr);
    SetDispatcher(nullptr);
  }
  // Lets `ms` pass and the timer thread handle what fell due.
  void Pass(int ms) {
    clock.AdvanceMillis(ms);
    ASSERT_TRUE(service.Settle());
  }

  QueueDispatcher& gui = TestGui();
  ManualClock clock;
  ThreadTimerService service{clock};
};

TEST_F(HiTimerTest, NoPlatformTimerWithoutIntervalEnabledAndHandler) {
  struct Case {
    const char* what;
    uint32_t interval;
    bool enabled;
    bool handler;
  } cases[] = {{"interval 0", 0, true, true},
               {"disabled", 30, false, true},
               {"no handler", 30, true, false},
               {"all three", 30, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMMHiTimer t(nullptr);
    t.SetInterval(c.interval);
    t.SetEnabled(c.enabled);
    if (c.handler) t.SetOnTimer([](TObject*) {});
    const bool expected = c.interval != 0 && c.enabled && c.handler;
    EXPECT_EQ(t.GetTimerID() != 0, expected);
    EXPECT_EQ(service.Count(), expected ? 1 : 0);
  }
  EXPECT_EQ(service.Count(), 0);  // destruction killed it
}

TEST_F(HiTimerTest, WindowModeQueuesAtMostTenTicksForABusyLoop) {
  TMMHiTimer t(nullptr);
  int handled = 0;
  std::thread::id handled_on;
  t.SetInterval(30);
  t.SetOnTimer([&](TObject* sender) {
    EXPECT_EQ(sender, &t);
    handled_on = std::this_thread::get_id();
    ++handled;
  });
  for (int i = 0; i < 15; ++i) Pass(30);  // the GUI thread is busy: nothing is handled
  EXPECT_EQ(handled, 0);
  gui.ProcessMessages();
  EXPECT_EQ(handled, 10);
  EXPECT_EQ(handled_on, std::this_thread::get_id());
  Pass(30);  // the queue has room again
  gui.ProcessMessages();
  EXPECT_EQ(handled, 11);
}

TEST_F(HiTimerTest, ARebuildDropsQueuedTicks) {
  TMMHiTimer t(nullptr);
  int handled = 0;
  t.SetInterval(30);
  t.SetOnTimer([&](TObject*) { ++handled; });
  for (int i = 0; i < 5; ++i) Pass(30);
  t.SetInterval(40);
  gui.ProcessMessages();
  EXPECT_EQ(handled, 0);
  Pass(30);
  gui.ProcessMessages();
  EXPECT_EQ(handled, 0);  // the new period counts from the rebuild
  Pass(10);
  gui.ProcessMessages();
  EXPECT_EQ(handled, 1);
  t.SetEnabled(false);
  EXPECT_EQ(service.Count(), 0);
}

TEST_F(HiTimerTest, AHandlerThatTogglesEnabledSurvivesAThousandTicks) {
  for (const auto& c : kDeliveries) {
    SCOPED_TRACE(c.what);
    Probe runs;
    TMMHiTimer t(nullptr);
    t.SetInterval(30);
    t.SetCallBackMode(c.mode);
    t.SetSynchronize(c.synchronize);
    t.SetOnTimer([&](TObject*) {
      t.SetEnabled(false);  // as the player window does around its work
      t.SetEnabled(true);
      runs.Hit();  // the new timer runs now
    });
    for (int i = 1; i <= 1000; ++i) {
      Pass(30);
      ASSERT_TRUE(runs.WaitFor(i, gui)) << "tick " << i;
    }
    EXPECT_EQ(runs.Hits(), 1000);
    EXPECT_EQ(service.Count(), 1);
  }
}

TEST_F(HiTimerTest, ThreadModeRunsTheHandlerOnItsWorkerOrThroughTheGuiThread) {
  for (bool synchronize : {false, true}) {
    SCOPED_TRACE(synchronize ? "synchronized" : "on the worker");
    Probe runs;
    std::atomic<bool> on_gui{false};
    TMMHiTimer t(nullptr);
    t.SetCallBackMode(cmThread);
    t.SetSynchronize(synchronize);
    t.SetWaitForTerminate(true);
    t.SetInterval(20);
    t.SetOnTimer([&](TObject*) {
      on_gui = gui.IsGuiThread();
      runs.Hit();
    });
    Pass(20);
    ASSERT_TRUE(runs.WaitFor(1, gui));
    EXPECT_EQ(on_gui.load(), synchronize);
    Pass(20);
    ASSERT_TRUE(runs.WaitFor(2, gui));
    t.SetEnabled(false);
    EXPECT_EQ(t.GetTimerID(), 0u);
  }
}

TEST_F(HiTimerTest, AWorkerThatDoesNotStartInTimeRaisesAndNoTimerRuns) {
  LateStarts late;
  TMMHiTimer t(nullptr);
  t.SetCallBackMode(cmThread);
  t.SetInterval(20);
  try {
    t.SetOnTimer([](TObject*) {});
    ADD_FAILURE() << "built";
  } catch (const EMMHiTimerError& e) {
    EXPECT_EQ(std::string(e.what()), "HiTimer:\n\r" + LoadResStr(88));
  }
  EXPECT_EQ(late.Waits(), std::vector<int>{5000});
  EXPECT_EQ(t.GetTimerID(), 0u);
  EXPECT_EQ(service.Count(), 0);
}

// A platform timer service that has no timer to give.
class NoTimers : public TimerService {
 public:
  TimerId StartPeriodic(int, Callback) override { return 0; }
  void Kill(TimerId) override {}
  bool IsTimerThread() const override { return false; }
};

TEST_F(HiTimerTest, APlatformTimerThatCannotStartRaisesInEveryMode) {
  NoTimers none;
  SetTimerService(&none);
  for (TMMCBMode mode : {cmWindow, cmThread}) {
    TMMHiTimer t(nullptr);
    t.SetCallBackMode(mode);
    t.SetInterval(20);
    try {
      t.SetOnTimer([](TObject*) {});
      ADD_FAILURE() << "built in mode " << mode;
    } catch (const EMMHiTimerError& e) {
      EXPECT_EQ(std::string(e.what()), "Out of system resources") << mode;
    }
    EXPECT_EQ(t.GetTimerID(), 0u) << mode;
  }
  SetTimerService(&service);
}

TEST_F(HiTimerTest, CallbackModeIsRefusedWithAMessage) {
  ScopedAnswerer scripted;
  scripted.answerer.AnswerMessage(IDOK);
  TMMHiTimer t(nullptr);
  t.SetCallBackMode(cmCallback);
  EXPECT_EQ(t.GetCallBackMode(), cmWindow);
  ASSERT_EQ(scripted.answerer.Asked().size(), 1u);
  EXPECT_EQ(scripted.answerer.Asked()[0].caption, "TMMHiTimer");
  EXPECT_EQ(scripted.answerer.Asked()[0].text,
            "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported "
            "under Windows 95");
}

TEST_F(HiTimerTest, DestroyedFromItsOwnHandler) {
  for (const auto& c : kDeliveries) {
    SCOPED_TRACE(c.what);
    Probe done;
    auto* t = new TMMHiTimer(nullptr);
    t->SetInterval(25);
    t->SetCallBackMode(c.mode);
    t->SetSynchronize(c.synchronize);
    t->SetOnTimer([t, probe = &done](TObject*) {
      Probe* p = probe;
      delete t;
      p->Hit();
    });
    Pass(25);
    ASSERT_TRUE(done.WaitFor(1, gui));
    EXPECT_EQ(service.Count(), 0);
  }
}

TEST_F(HiTimerTest, DestroyingItJoinsAWorkerInsideTheHandler) {
  Probe entered;
  std::atomic<bool> inside{false}, release{false};
  auto* t = new TMMHiTimer(nullptr);
  t->SetCallBackMode(cmThread);
  t->SetSynchronize(false);
  t->SetInterval(25);
  t->SetOnTimer([&](TObject*) {
    inside = true;
    entered.Hit();
    while (!release) std::this_thread::yield();  // a long piece of work
    inside = false;
  });
  Pass(25);
  ASSERT_TRUE(entered.WaitFor(1, gui));
  std::thread releaser([&] { release = true; });
  delete t;  // must not return while the handler still runs
  EXPECT_FALSE(inside);
  releaser.join();
}

// On the real clock, so that the worker's handler and the GUI thread's delete meet at every
// point: a handler that rebuilds its timer (as the player window's does, by toggling Enabled)
// on its worker while the component is being destroyed must not leave a timer or a worker
// behind that calls into the freed component.
TEST(HiTimerRace, AWorkerRebuildingItsTimerWhileTheComponentIsDestroyedLeavesNothingBehind) {
  QueueDispatcher& gui = TestGui();
  SetDispatcher(&gui);
  SystemClock clock;
  ThreadTimerService service(clock);
  SetTimerService(&service);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    Probe ticked;
    auto* t = new TMMHiTimer(nullptr);
    t->SetCallBackMode(cmThread);
    t->SetSynchronize(false);
    t->SetInterval(1);
    t->SetOnTimer([t, &ticked](TObject*) {
      ticked.Hit();  // the delete may begin now, while this handler rebuilds the timer
      t->SetEnabled(false);
      t->SetEnabled(true);
    });
    ASSERT_TRUE(ticked.WaitFor(1 + round % 4, gui));
    delete t;
    ASSERT_EQ(service.Count(), 0) << "a timer outlived its component";
  }
  gui.ProcessMessages();
  SetTimerService(nullptr);
  SetDispatcher(nullptr);
}

// A position shown on the screen is seen at the display's frames: a timer at frames ticks there,
// on the GUI thread's own timers, with no platform timer to wake the timer thread; a handler
// may switch it off from its own tick.
TEST_F(HiTimerTest, AtFramesTicksAtTheFramesWithoutAPlatformTimer) {
  SetClock(&clock);
  const int64_t frame = DisplayFramePeriodMicros();
  clock.Set(100 * frame);
  std::vector<int64_t> ticks;
  {
    TMMHiTimer t(nullptr);
    t.SetAtFrames(true);
    t.SetInterval(30);
    t.SetOnTimer([&](TObject*) {
      ticks.push_back(clock.NowMicros());
      if (ticks.size() == 5) t.SetEnabled(false);
    });
    EXPECT_EQ(t.GetTimerID(), 0u);
    EXPECT_EQ(service.Count(), 0);
    for (int i = 0; i < 400; ++i) {
      clock.Advance(1000);
      RunDueTimers();
      gui.ProcessMessages();
    }
    EXPECT_EQ(service.Count(), 0);
  }
  ASSERT_EQ(ticks.size(), 5u);
  for (size_t k = 0; k < ticks.size(); ++k) {
    EXPECT_LT(ticks[k] % frame, 1000) << k;  // at a frame
    if (k > 0) EXPECT_NEAR(double(ticks[k] - ticks[k - 1]), double(2 * frame), 1000) << k;
  }
  SetClock(nullptr);
}

}  // namespace
