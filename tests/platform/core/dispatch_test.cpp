#include "dispatch.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Dispatch, WorkPostedFromAThreadRunsOnTheOwnerOnly) {
  vant::QueueDispatcher d;
  std::thread::id ran_on;
  std::thread worker([&] {
    d.Post([&] { ran_on = std::this_thread::get_id(); });
    d.ProcessMessages();  // not the owner: must not run it
  });
  worker.join();
  EXPECT_EQ(ran_on, std::thread::id());
  d.WaitAndProcess(1000);
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(Dispatch, ProcessMessagesRunsOnlyWhatWasPending) {
  vant::QueueDispatcher d;
  int runs = 0;
  std::function<void()> again = [&] { ++runs; d.Post(again); };
  d.Post(again);
  d.ProcessMessages();
  EXPECT_EQ(runs, 1);
}
