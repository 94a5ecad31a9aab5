#include "dispatch.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

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

TEST(Dispatch, WorkThatThrowsLeavesTheRestQueuedInOrder) {
  vant::QueueDispatcher d;
  std::vector<int> ran;
  d.Post([&] { ran.push_back(1); });
  d.Post([] { throw std::runtime_error("posted work failed"); });
  d.Post([&] { ran.push_back(2); });
  d.Post([&] {
    ran.push_back(3);
    d.Post([&] { ran.push_back(4); });  // posted while the earlier ones wait: comes after them
  });
  EXPECT_THROW(d.ProcessMessages(), std::runtime_error);
  EXPECT_EQ(ran, (std::vector<int>{1}));
  d.ProcessMessages();
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
  d.ProcessMessages();
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
}
