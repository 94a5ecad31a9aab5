#include "osthread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "trace.h"

namespace vant {

struct Thread::Control::State {
  std::mutex mutex;
  std::condition_variable cv;
  bool suspended = false;
  bool finished = false;
  std::atomic<bool> terminated{false};
  int priority = Thread::kNormal;
  int64_t tid = 0;
  Body body;
  std::exception_ptr error;
};

namespace {

bool ApplyNice(int64_t tid, int priority) {
  // Per-thread nice values are a Linux property: setpriority on a thread id affects that thread.
  return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceForPriority(priority)) == 0;
}

}  // namespace

int NiceForPriority(int priority) {
  using P = Thread::Priority;
  if (priority <= P::kIdle) return 19;
  if (priority >= P::kTimeCritical) return -20;
  switch (priority) {
    case P::kLowest:
      return 10;
    case P::kLower:
      return 5;
    case P::kNormal:
      return 0;
    case P::kHigher:
      return -5;
    case P::kHighest:
      return -10;
    default:
      return priority < 0 ? 15 : -15;
  }
}

bool Thread::Control::Terminated() const { return state_->terminated.load(); }

bool Thread::Control::WaitWhileSuspended() {
  std::unique_lock lock(state_->mutex);
  state_->cv.wait(lock, [&] { return !state_->suspended || state_->terminated.load(); });
  return !state_->terminated.load();
}

Thread::Thread(Body body, bool suspended) : state_(std::make_shared<Control::State>()) {
  state_->suspended = suspended;
  state_->body = std::move(body);
  std::thread([s = state_] {
    {
      std::lock_guard lock(s->mutex);
      s->tid = static_cast<int64_t>(::syscall(SYS_gettid));
      if (s->priority != kNormal) ApplyNice(s->tid, s->priority);
    }
    Control control(s);
    std::exception_ptr error;
    try {
      if (control.WaitWhileSuspended() && s->body) s->body(control);
    } catch (const std::exception& e) {
      TraceF("Thread: body raised: %s", e.what());
      error = std::current_exception();
    } catch (...) {
      Trace("Thread: body raised an unknown exception");
      error = std::current_exception();
    }
    {
      std::lock_guard lock(s->mutex);
      s->error = error;
      s->finished = true;
      s->body = nullptr;  // drop what the body captured on the thread that ran it
    }
    s->cv.notify_all();
  }).detach();
}

Thread::~Thread() {
  Terminate();
  if (!WaitFor(5000)) Trace("Thread: worker still running after 5000 ms, left to finish");
}

void Thread::Resume() {
  {
    std::lock_guard lock(state_->mutex);
    state_->suspended = false;
  }
  state_->cv.notify_all();
}

void Thread::Suspend() {
  std::lock_guard lock(state_->mutex);
  state_->suspended = true;
}

bool Thread::IsSuspended() const {
  std::lock_guard lock(state_->mutex);
  return state_->suspended;
}

void Thread::Terminate() {
  {
    std::lock_guard lock(state_->mutex);
    state_->terminated = true;
  }
  state_->cv.notify_all();
}

bool Thread::IsTerminated() const { return state_->terminated.load(); }

bool Thread::IsFinished() const {
  std::lock_guard lock(state_->mutex);
  return state_->finished;
}

bool Thread::WaitFor(int64_t timeout_ms) {
  std::unique_lock lock(state_->mutex);
  return state_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                             [&] { return state_->finished; });
}

bool Thread::SetPriority(int priority) {
  std::lock_guard lock(state_->mutex);
  state_->priority = priority;
  if (state_->tid == 0 || state_->finished) return true;
  return ApplyNice(state_->tid, priority);
}

int Thread::GetPriority() const {
  std::lock_guard lock(state_->mutex);
  return state_->priority;
}

std::exception_ptr Thread::Error() const {
  std::lock_guard lock(state_->mutex);
  return state_->error;
}

int64_t Thread::Id() const {
  std::lock_guard lock(state_->mutex);
  return state_->tid;
}

}  // namespace vant
