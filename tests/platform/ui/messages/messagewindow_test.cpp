// Window messages with the plain dispatcher the lower layers use: no toolkit, so the thread
// sanitizer sees every access.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dispatch.h"
#include "ui_messagewindow.h"

namespace vant {
namespace {

TEST(MessageWindow, PostsFromThreadsArriveInOrderOnTheGuiThread) {
  std::vector<uintptr_t> got;
  bool off_thread = false;
  MessageWindow w([&](TMessage& m) {
    if (!GetDispatcher().IsGuiThread()) off_thread = true;
    if (m.Msg == WM_USER + 1) got.push_back(m.WParam);
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) MessageWindow::Post(w.Handle(), WM_USER + 1, t * 1000 + i);
    });
  for (auto& t : threads) t.join();
  GetDispatcher().ProcessMessages();
  ASSERT_EQ(got.size(), 400u);
  EXPECT_FALSE(off_thread);
  // Each thread's own posts keep their order.
  std::vector<int> last(4, -1);
  for (uintptr_t v : got) {
    int t = int(v / 1000), i = int(v % 1000);
    EXPECT_GT(i, last[t]);
    last[t] = i;
  }
}

TEST(MessageWindow, DestroyedHandleDropsAndPendingCanBeRemoved) {
  int delivered = 0;
  HWND gone;
  {
    MessageWindow w([&](TMessage&) { ++delivered; });
    gone = w.Handle();
    EXPECT_TRUE(MessageWindow::Post(gone, 0x8001));
  }
  EXPECT_FALSE(MessageWindow::IsWindow(gone));
  EXPECT_FALSE(MessageWindow::Post(gone, 0x8001));
  GetDispatcher().ProcessMessages();
  EXPECT_EQ(delivered, 0);

  std::vector<uint32_t> seen;
  MessageWindow w([&](TMessage& m) { seen.push_back(m.Msg); });
  MessageWindow::Post(w.Handle(), 0x8001);
  MessageWindow::Post(w.Handle(), WM_USER + 5);
  MessageWindow::Post(w.Handle(), 0x8001);
  EXPECT_EQ(MessageWindow::RemovePending(w.Handle(), 0x8001, 0x8001), 2);
  GetDispatcher().ProcessMessages();
  EXPECT_EQ(seen, (std::vector<uint32_t>{WM_USER + 5}));
}

TEST(MessageWindow, SendAnswersDirectlyOrFromAnotherThread) {
  MessageWindow w([](TMessage& m) { m.Result = intptr_t(m.WParam) * 2; });
  EXPECT_EQ(MessageWindow::Send(w.Handle(), WM_USER, 21), 42);
  EXPECT_EQ(MessageWindow::Send(0, WM_USER, 21), 0);
  std::atomic<intptr_t> result{-1};
  std::thread t([&] { result = MessageWindow::Send(w.Handle(), WM_USER, 5); });
  // The sender waits until the GUI thread runs the message.
  while (result == -1) GetDispatcher().ProcessMessages();
  t.join();
  EXPECT_EQ(result, 10);
}

}  // namespace
}  // namespace vant
