#include "ui_messagewindow.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "dispatch.h"

namespace vant {

namespace {

struct Receiver {
  MessageWindow::WndProc proc;
  std::deque<TMessage> queue;
};

struct Table {
  std::mutex mu;
  std::unordered_map<HWND, std::shared_ptr<Receiver>> receivers;
  HWND next = 1;
};

Table& table() {
  static Table* t = new Table;  // outlives static destructors of windows
  return *t;
}

// Runs on the GUI thread: delivers the oldest queued message of `h`, if any is left.
void DeliverOne(HWND h) {
  std::shared_ptr<Receiver> r;
  TMessage m;
  {
    std::lock_guard lock(table().mu);
    auto it = table().receivers.find(h);
    if (it == table().receivers.end() || it->second->queue.empty()) return;
    r = it->second;
    m = r->queue.front();
    r->queue.pop_front();
  }
  if (r->proc) r->proc(m);
}

}  // namespace

MessageWindow::MessageWindow(WndProc proc) {
  // Windows live on the GUI thread: without an installed dispatcher, the plain queue belongs to
  // the first thread that asks, which must be this one and not a worker that posts first.
  GetDispatcher();
  auto r = std::make_shared<Receiver>();
  r->proc = std::move(proc);
  std::lock_guard lock(table().mu);
  handle_ = table().next++;
  if (table().next == 0) table().next = 1;
  table().receivers.emplace(handle_, std::move(r));
}

MessageWindow::~MessageWindow() {
  std::lock_guard lock(table().mu);
  table().receivers.erase(handle_);
}

bool MessageWindow::Post(HWND h, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  {
    std::lock_guard lock(table().mu);
    auto it = table().receivers.find(h);
    if (it == table().receivers.end()) return false;
    it->second->queue.push_back({msg, wparam, lparam, 0});
  }
  // One delivery per post keeps the order of posts to different windows.
  GetDispatcher().Post([h] { DeliverOne(h); });
  return true;
}

intptr_t MessageWindow::Send(HWND h, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  auto call = [h, msg, wparam, lparam]() -> intptr_t {
    std::shared_ptr<Receiver> r;
    {
      std::lock_guard lock(table().mu);
      auto it = table().receivers.find(h);
      if (it == table().receivers.end()) return 0;
      r = it->second;
    }
    TMessage m{msg, wparam, lparam, 0};
    if (r->proc) r->proc(m);
    return m.Result;
  };
  if (GetDispatcher().IsGuiThread()) return call();
  struct Wait {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    intptr_t result = 0;
  };
  auto w = std::make_shared<Wait>();
  GetDispatcher().Post([w, call] {
    intptr_t r = call();
    std::lock_guard lock(w->mu);
    w->result = r;
    w->done = true;
    w->cv.notify_all();
  });
  std::unique_lock lock(w->mu);
  w->cv.wait_for(lock, std::chrono::seconds(5), [&] { return w->done; });
  return w->done ? w->result : 0;
}

int MessageWindow::RemovePending(HWND h, uint32_t msg_min, uint32_t msg_max) {
  std::lock_guard lock(table().mu);
  auto it = table().receivers.find(h);
  if (it == table().receivers.end()) return 0;
  auto& q = it->second->queue;
  bool all = msg_min == 0 && msg_max == 0;
  size_t before = q.size();
  std::erase_if(q,
                [&](const TMessage& m) { return all || (m.Msg >= msg_min && m.Msg <= msg_max); });
  return static_cast<int>(before - q.size());
}

bool MessageWindow::IsWindow(HWND h) {
  std::lock_guard lock(table().mu);
  return table().receivers.count(h) != 0;
}

int MessageWindow::PendingCount(HWND h) {
  std::lock_guard lock(table().mu);
  auto it = table().receivers.find(h);
  return it == table().receivers.end() ? 0 : static_cast<int>(it->second->queue.size());
}

MessageWindow::WndProc MessageWindow::GetWndProc(HWND h) {
  std::lock_guard lock(table().mu);
  auto it = table().receivers.find(h);
  return it == table().receivers.end() ? WndProc() : it->second->proc;
}

MessageWindow::WndProc MessageWindow::SetWndProc(HWND h, WndProc proc) {
  std::lock_guard lock(table().mu);
  auto it = table().receivers.find(h);
  if (it == table().receivers.end()) return {};
  std::swap(it->second->proc, proc);
  return proc;
}

}  // namespace vant
