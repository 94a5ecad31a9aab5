#pragma once
// Window messages without windows: a MessageWindow is a numbered receiver living on the GUI
// thread. Posting is safe from any thread and keeps order; a message to a handle that no longer
// exists is dropped; pending messages can be removed before they are delivered.
#include <cstdint>
#include <functional>

namespace vant {

using HWND = uint32_t;  // 0 is no window

struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

constexpr uint32_t WM_USER = 0x0400;

class MessageWindow {
 public:
  using WndProc = std::function<void(TMessage&)>;
  // Registers a receiver; `proc` runs on the GUI thread for each delivered message.
  explicit MessageWindow(WndProc proc);
  // Unregisters; messages still queued for it are dropped.
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  HWND Handle() const { return handle_; }

  // Queues the message (any thread). False when the handle does not exist.
  static bool Post(HWND h, uint32_t msg, uintptr_t wparam = 0, intptr_t lparam = 0);
  // Delivers at once on the GUI thread; from another thread posts and waits (bounded, 5 s) for
  // the result. 0 when the handle does not exist or the wait ran out.
  static intptr_t Send(HWND h, uint32_t msg, uintptr_t wparam = 0, intptr_t lparam = 0);
  // Removes queued messages for `h` with msg_min <= Msg <= msg_max (both 0: all of them).
  // Answers how many were removed.
  static int RemovePending(HWND h, uint32_t msg_min = 0, uint32_t msg_max = 0);
  static bool IsWindow(HWND h);
  // Queued, not yet delivered messages for `h`.
  static int PendingCount(HWND h);
  // Subclassing: the procedure that receives what arrives at `h` (empty when there is no such
  // window), and its replacement, which answers the one it replaced. GUI thread; not from inside
  // the procedure being replaced.
  static WndProc GetWndProc(HWND h);
  static WndProc SetWndProc(HWND h, WndProc proc);

 private:
  HWND handle_;
};

}  // namespace vant
