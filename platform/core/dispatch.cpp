#include "dispatch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <thread>

namespace vant {

struct QueueDispatcher::State {
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<std::function<void()>> queue;
  std::thread::id owner = std::this_thread::get_id();
};

QueueDispatcher::QueueDispatcher() : state_(std::make_unique<State>()) {}
QueueDispatcher::~QueueDispatcher() = default;

void QueueDispatcher::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(state_->mutex);
    state_->queue.push_back(std::move(fn));
  }
  state_->posted.notify_all();
}

void QueueDispatcher::ProcessMessages() {
  if (!IsGuiThread()) return;
  // Run only what was pending on entry, so a handler that posts again cannot keep us here.
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(state_->mutex);
    batch.swap(state_->queue);
  }
  for (size_t i = 0; i < batch.size(); ++i) {
    try {
      batch[i]();
    } catch (...) {
      // The failure goes to the caller; what was queued behind it stays queued, ahead of
      // anything posted meanwhile, for the next call.
      std::lock_guard lock(state_->mutex);
      state_->queue.insert(state_->queue.begin(), std::make_move_iterator(batch.begin() + i + 1),
                           std::make_move_iterator(batch.end()));
      throw;
    }
  }
}

bool QueueDispatcher::IsGuiThread() const { return std::this_thread::get_id() == state_->owner; }

void Dispatcher::WaitForMessages(int timeout_ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(timeout_ms, 0, 5)));
}

void QueueDispatcher::WaitForMessages(int timeout_ms) {
  std::unique_lock lock(state_->mutex);
  state_->posted.wait_for(lock, std::chrono::milliseconds(std::max(timeout_ms, 0)),
                          [&] { return !state_->queue.empty(); });
}

void QueueDispatcher::WaitAndProcess(int timeout_ms) {
  WaitForMessages(timeout_ms);
  ProcessMessages();
}

namespace {
std::atomic<Dispatcher*> g_installed{nullptr};
}

Dispatcher& GetDispatcher() {
  if (Dispatcher* d = g_installed.load()) return *d;
  static QueueDispatcher fallback;
  return fallback;
}

void SetDispatcher(Dispatcher* d) { g_installed = d; }

}  // namespace vant
