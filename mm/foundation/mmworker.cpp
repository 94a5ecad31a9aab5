#include "mmworker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "dispatch.h"
#include "osthread.h"
#include "trace.h"
#include "ui_application.h"

namespace vant {

namespace {
// Best effort: lowering works for anyone, raising usually needs privileges and is then ignored.
bool ApplyPriority(int64_t tid, int priority) {
  return tid == 0 ||
         setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceForPriority(priority)) == 0;
}
}  // namespace

std::shared_ptr<MMWorker> MMWorker::Create(Body body, int priority) {
  std::shared_ptr<MMWorker> w(new MMWorker);
  w->priority_ = priority;
  w->thread_ = std::thread([w, body = std::move(body)] { w->Run(body); });
  return w;
}

MMWorker::~MMWorker() {
  Stop();
  if (!thread_.joinable()) return;
  // The last reference may be the body's own, dropped on the worker as it ends.
  if (IsWorkerThread())
    thread_.detach();
  else
    thread_.join();
}

void MMWorker::Run(const Body& body) {
  thread_id_ = std::this_thread::get_id();
  tid_ = static_cast<int64_t>(::syscall(SYS_gettid));
  {
    std::lock_guard lock(mutex_);
    ApplyPriority(tid_, priority_);
  }
  if (Gate()) body(*this);
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
}

void MMWorker::Resume() {
  {
    std::lock_guard lock(mutex_);
    suspended_ = false;
  }
  changed_.notify_all();
}

void MMWorker::Suspend() {
  std::lock_guard lock(mutex_);
  suspended_ = true;
}

bool MMWorker::IsSuspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

bool MMWorker::Gate() {
  std::unique_lock lock(mutex_);
  // Waits are sliced only to stay bounded; Resume and Stop wake us at once.
  while (suspended_ && !stopping_) changed_.wait_for(lock, std::chrono::seconds(1));
  return !stopping_;
}

void MMWorker::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

bool MMWorker::Stopping() const { return stopping_.load(); }

void MMWorker::SignalStarted() { started_.Set(); }
namespace {
std::mutex g_start_hold_mutex;
MMWorkerStartHold g_start_hold;
}  // namespace

void SetWorkerStartHold(MMWorkerStartHold hold) {
  std::lock_guard lock(g_start_hold_mutex);
  g_start_hold = std::move(hold);
}

bool MMWorker::WaitStarted(int timeout_ms) {
  MMWorkerStartHold hold;
  {
    std::lock_guard lock(g_start_hold_mutex);
    hold = g_start_hold;
  }
  return hold ? hold(timeout_ms) : started_.Wait(timeout_ms);
}

bool MMWorker::Join(int timeout_ms) {
  std::unique_lock lock(mutex_);
  // A worker stopped while still held never runs its body; that counts as ended.
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return ended_; });
}

void MMWorker::JoinForGood() {
  while (!Join(5000)) TraceF("worker thread %lld: still waiting for it to end", (long long)tid_);
}

bool MMWorker::IsWorkerThread() const { return thread_id_.load() == std::this_thread::get_id(); }

void MMWorker::Synchronize(const std::function<void()>& fn) {
  Dispatcher& gui = GetDispatcher();
  if (gui.IsGuiThread()) {
    in_sync_ = true;
    struct Clear {
      std::atomic<bool>& flag;
      ~Clear() { flag = false; }
    } clear{in_sync_};
    fn();
    return;
  }
  auto request = std::make_shared<Request>();
  request->fn = &fn;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    requests_.push_back(request);
  }
  gui.Post([self = weak_from_this()] {
    if (auto w = self.lock()) w->ServeRequests();
  });
  std::unique_lock lock(mutex_);
  while (!request->done) {
    if (stopping_ && !request->started) {
      std::erase(requests_, request);
      return;
    }
    changed_.wait_for(lock, std::chrono::seconds(1));
  }
  if (request->error) std::rethrow_exception(request->error);
}

void MMWorker::ServeRequests() {
  for (;;) {
    std::shared_ptr<Request> r;
    {
      std::lock_guard lock(mutex_);
      if (requests_.empty()) return;
      r = requests_.front();
      requests_.pop_front();
      r->started = true;
    }
    // Once stopping, nothing more of the worker's runs on the GUI thread.
    if (!stopping_) {
      in_sync_ = true;
      try {
        (*r->fn)();
      } catch (...) {
        r->error = std::current_exception();
      }
      in_sync_ = false;
    }
    {
      std::lock_guard lock(mutex_);
      r->done = true;
    }
    changed_.notify_all();
  }
}

bool MMWorker::SetPriority(int priority) {
  std::lock_guard lock(mutex_);
  priority_ = priority;
  if (ended_) return true;
  return ApplyPriority(tid_, priority);
}

int64_t MMWorker::ThreadId() const { return tid_.load(); }

void MMRetiredWorkers::Add(std::shared_ptr<MMWorker> w) {
  std::lock_guard lock(mutex_);
  std::erase_if(workers_, [](const auto& r) { return r->Join(0); });
  workers_.push_back(std::move(w));
}

void MMRetiredWorkers::Settle() {
  std::vector<std::shared_ptr<MMWorker>> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& w : workers) w->Stop();
  for (auto& w : workers) {
    if (w->IsWorkerThread() || w->InSync())
      w->Detach();
    else
      w->JoinForGood();
  }
}

bool MMRetiredWorkers::Empty() {
  std::lock_guard lock(mutex_);
  return workers_.empty();
}

int ThreadPriorityValue(TThreadPriority priority) {
  static const int kSystem[] = {-15, -2, -1, 0, 1, 2, 15};
  return kSystem[priority];
}

std::string CouldNotCreateThread(const char* prefix) {
  return std::string(prefix) + ":\n\r" + LoadResStr(88);
}

void ReportThreadException(const std::string& message) {
  GetDispatcher().Post([message] { Guarded([&] { throw Exception(message); }); });
}

}  // namespace vant
