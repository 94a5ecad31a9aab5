#include "mmthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dispatch.h"
#include "probe.h"
#include "ui_application.h"

namespace {

using namespace vant;

class WorkerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDispatcher(&gui); }
  void TearDown() override {
    gui.ProcessMessages();
    SetDispatcher(nullptr);
  }
  QueueDispatcher& gui = TestGui();
};

TEST_F(WorkerThreadTest, RunsTheHandlerOverAndOverUntilTerminated) {
  Probe runs;
  std::atomic<bool> inside{false};
  std::atomic<std::thread::id> ran_on{};
  TMMThread t(nullptr);
  t.SetSynchronize(false);
  t.SetWaitForTerminate(true);
  int starts = 0, terminates = 0;
  t.OnStart = [&](TObject*) { ++starts; };
  t.OnTerminate = [&](TObject*) { ++terminates; };
  t.Execute();  // no OnThread: nothing
  EXPECT_TRUE(t.GetTerminated());
  EXPECT_EQ(starts, 0);

  t.OnThread = [&](TObject* sender) {
    EXPECT_EQ(sender, &t);
    inside = true;
    ran_on = std::this_thread::get_id();
    runs.Hit();
    inside = false;
  };
  t.Execute();
  t.Execute();  // already running: nothing
  EXPECT_EQ(starts, 1);
  EXPECT_FALSE(t.GetTerminated());
  EXPECT_FALSE(t.GetTerminating());
  EXPECT_NE(t.GetThreadID(), 0);
  ASSERT_TRUE(runs.WaitFor(100, gui));
  EXPECT_NE(ran_on.load(), std::this_thread::get_id());
  t.Terminate();
  EXPECT_FALSE(inside);  // joined: no run is still going on
  EXPECT_EQ(terminates, 1);
  EXPECT_TRUE(t.GetTerminated());
  EXPECT_TRUE(t.GetTerminating());
  EXPECT_EQ(t.GetThreadID(), 0);
  const int after = runs.Hits();
  t.Terminate();  // not running: nothing
  EXPECT_EQ(terminates, 1);

  t.Execute();  // and it starts again
  ASSERT_TRUE(runs.WaitFor(after + 10, gui));
  t.Terminate();
}

TEST_F(WorkerThreadTest, AWorkerThatDoesNotStartInTimeRaisesAndLeavesNothingRunning) {
  std::optional<LateStarts> late(std::in_place);
  TMMThread t(nullptr);
  t.SetSynchronize(false);
  int starts = 0;
  std::atomic<int> runs{0};
  t.OnStart = [&](TObject*) { ++starts; };
  t.OnThread = [&](TObject*) { ++runs; };
  try {
    t.Execute();
    ADD_FAILURE() << "started";
  } catch (const EMMThreadError& e) {
    EXPECT_EQ(std::string(e.what()), "Thread:\n\r" + LoadResStr(88));
  }
  EXPECT_EQ(late->Waits(), std::vector<int>{1000});
  EXPECT_EQ(starts, 0);
  EXPECT_TRUE(t.GetTerminated());
  EXPECT_EQ(t.GetThreadID(), 0);

  late.reset();
  t.Execute();  // a start in time afterwards
  EXPECT_EQ(starts, 1);
  EXPECT_FALSE(t.GetTerminated());
  t.Terminate();
}

TEST_F(WorkerThreadTest, ADisabledWorkerIsHeldUntilEnabled) {
  Probe runs;  // outlives the component, whose worker may still be in a run after Terminate
  TMMThread t(nullptr);
  t.SetSynchronize(false);
  t.SetEnabled(false);
  int starts = 0;
  t.OnStart = [&](TObject*) { ++starts; };
  t.OnThread = [&](TObject*) { runs.Hit(); };
  t.Execute();
  EXPECT_EQ(starts, 1);  // without waiting for a start signal
  EXPECT_FALSE(t.GetTerminated());
  EXPECT_EQ(runs.Hits(), 0);
  t.SetEnabled(true);
  ASSERT_TRUE(runs.WaitFor(5, gui));
  t.SetEnabled(false);  // held at the top of its loop again; then released for good by the stop
  t.Terminate();
  EXPECT_TRUE(t.GetTerminated());
}

TEST_F(WorkerThreadTest, SynchronizedRunsHappenOnTheGuiThreadAndMayTerminateThere) {
  Probe runs;
  TMMThread t(nullptr);
  t.SetWaitForTerminate(true);  // must not wait for a worker that is waiting for us
  bool all_on_gui = true;
  std::thread::id terminated_on{};
  t.OnTerminate = [&](TObject*) { terminated_on = std::this_thread::get_id(); };
  t.OnThread = [&](TObject*) {
    if (!gui.IsGuiThread()) all_on_gui = false;
    runs.Hit();
    if (runs.Hits() == 3) t.Terminate();
  };
  t.Execute();
  ASSERT_TRUE(runs.WaitFor(3, gui));
  EXPECT_TRUE(all_on_gui);
  EXPECT_TRUE(t.GetTerminated());
  EXPECT_EQ(terminated_on, std::this_thread::get_id());
}

TEST_F(WorkerThreadTest, TerminateFromTheHandlerOnTheWorkerEndsAfterThatRun) {
  Probe terminated;
  std::atomic<int> runs{0}, runs_at_terminate{0};
  std::atomic<bool> on_worker{false};
  {
    TMMThread t(nullptr);
    t.SetSynchronize(false);
    t.OnTerminate = [&](TObject*) {
      on_worker = !gui.IsGuiThread();
      runs_at_terminate = runs.load();
      terminated.Hit();
    };
    t.OnThread = [&](TObject*) {
      if (++runs == 5) t.Terminate();
    };
    t.Execute();
    ASSERT_TRUE(terminated.WaitFor(1, gui));
  }  // the destructor joins the stopped worker
  EXPECT_TRUE(on_worker);
  EXPECT_EQ(runs, 5);
  EXPECT_EQ(runs_at_terminate, 5);
}

TEST_F(WorkerThreadTest, DestroyingARunningComponentJoinsItsWorker) {
  for (bool synchronize : {false, true}) {
    SCOPED_TRACE(synchronize ? "synchronized, GUI queue not pumped" : "on the worker");
    Probe runs;
    std::atomic<bool> inside{false};
    bool terminated = false;
    auto* t = new TMMThread(nullptr);
    t->SetSynchronize(synchronize);
    t->OnTerminate = [&](TObject*) { terminated = true; };
    t->OnThread = [&](TObject*) {
      inside = true;
      runs.Hit();
      inside = false;
    };
    t->Execute();
    if (!synchronize) {
      ASSERT_TRUE(runs.WaitFor(20, gui));
    }
    // A synchronized worker now waits for a GUI queue that nobody pumps: the destructor must
    // neither dead-lock on it nor let the call run afterwards.
    delete t;
    EXPECT_FALSE(inside);
    EXPECT_FALSE(terminated);
    const int runs_at_delete = runs.Hits();
    gui.ProcessMessages();
    EXPECT_EQ(runs.Hits(), runs_at_delete);
  }
}

TEST_F(WorkerThreadTest, DestroyedFromItsOwnHandler) {
  for (bool synchronize : {false, true}) {
    SCOPED_TRACE(synchronize ? "on the GUI thread" : "on the worker");
    Probe started, done;
    auto* t = new TMMThread(nullptr);
    t->SetSynchronize(synchronize);
    t->SetWaitForTerminate(true);
    t->OnStart = [&](TObject*) { started.Hit(); };
    t->OnThread = [t, &started, probe = &done](TObject*) {
      started.WaitFor(1, TestGui());  // Execute has returned
      Probe* p = probe;
      delete t;  // frees this very handler
      p->Hit();
    };
    t->Execute();
    ASSERT_TRUE(done.WaitFor(1, gui));
  }
}

TEST_F(WorkerThreadTest, AutoExecuteStartsOnSettingAndAfterLoadingButNotWhileDesigning) {
  Probe runs;
  TMMThread set(nullptr), loaded(nullptr), designed(nullptr);
  for (TMMThread* t : {&set, &loaded, &designed}) {
    t->SetSynchronize(false);
    t->OnThread = [&](TObject*) { runs.Hit(); };
  }
  set.SetAutoExecute(true);
  EXPECT_FALSE(set.GetTerminated());

  loaded.SetLoading(true);
  loaded.SetAutoExecute(true);
  EXPECT_TRUE(loaded.GetTerminated());  // not while loading
  loaded.Loaded();
  EXPECT_FALSE(loaded.GetTerminated());

  designed.SetDesigning(true);
  designed.SetAutoExecute(true);
  EXPECT_TRUE(designed.GetTerminated());
  designed.DesigningChanged(false);  // to run state
  EXPECT_FALSE(designed.GetTerminated());
  ASSERT_TRUE(runs.WaitFor(3, gui));
}

TEST_F(WorkerThreadTest, AnExceptionInTheHandlerReachesTheApplicationAndEndsTheWorker) {
  Probe handled;
  std::string message;
  Application->OnException = [&](TObject*, const std::exception& e) {
    message = e.what();
    handled.Hit();
  };
  Probe runs;
  std::atomic<bool> thrown{false};
  TMMThread t(nullptr);
  t.SetSynchronize(false);
  t.SetWaitForTerminate(true);
  t.OnThread = [&](TObject*) {
    if (!thrown.exchange(true)) throw std::runtime_error("load failed");
    runs.Hit();
  };
  t.Execute();
  ASSERT_TRUE(handled.WaitFor(1, gui));
  EXPECT_EQ(message, "load failed");
  EXPECT_TRUE(t.GetTerminated());
  t.Execute();  // and it can be started again
  ASSERT_TRUE(runs.WaitFor(1, gui));
  t.Terminate();
  Application->OnException = nullptr;
}

}  // namespace
