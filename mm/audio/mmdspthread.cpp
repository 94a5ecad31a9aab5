#include "mmdspthread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "dispatch.h"
#include "trace.h"

namespace {

// Living DSP threads. Workers look themselves up in it, so it has its own lock.
std::mutex g_threads_mutex;
std::vector<TMMDSPThread*>* g_threads = nullptr;

int64_t CurrentKernelId() { return static_cast<int64_t>(syscall(SYS_gettid)); }

// Slice of a serving wait: short, so posted work runs promptly.
constexpr auto kServeSlice = std::chrono::milliseconds(2);

std::atomic<int64_t> g_end_report_ms{5000};

}  // namespace

bool WaitServingGui(const std::function<bool()>& done, int64_t timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  vant::Dispatcher& d = vant::GetDispatcher();
  const bool gui = d.IsGuiThread();
  std::mutex m;
  std::condition_variable cv;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    if (gui) d.ProcessMessages();
    std::unique_lock lock(m);
    cv.wait_for(lock, kServeSlice);
  }
  return true;
}

TMMDSPThread::TMMDSPThread(TMMDSPComponent* owner) : TMMThreadEx(true), owner_(owner) {
  std::lock_guard lock(g_threads_mutex);
  if (!g_threads) g_threads = new std::vector<TMMDSPThread*>;
  g_threads->push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
  std::lock_guard lock(g_threads_mutex);
  g_threads->erase(std::remove(g_threads->begin(), g_threads->end(), this), g_threads->end());
  if (g_threads->empty()) {
    delete g_threads;
    g_threads = nullptr;
  }
}

int64_t TMMDSPThread::ThreadID() { return Handle().Id(); }

bool TMMDSPThread::WaitFor(int64_t timeout_ms) {
  return WaitServingGui([this] { return Finished(); }, timeout_ms);
}

void TMMDSPThread::WaitForEnd() {
  while (!WaitFor(g_end_report_ms.load()))
    vant::TraceF("TMMDSPThread %lld: still waiting for the thread to end", (long long)ThreadID());
}

void TMMDSPThread::SetEndReportInterval(int64_t ms) { g_end_report_ms = ms; }

void TMMDSPThread::Synchronize(const std::function<void()>& method) {
  vant::Dispatcher& d = vant::GetDispatcher();
  if (d.IsGuiThread()) {
    method();
    return;
  }
  struct Call {
    std::mutex mutex;
    std::condition_variable cv;
    bool started = false, cancelled = false, done = false;
    std::exception_ptr error;
  };
  auto call = std::make_shared<Call>();
  d.Post([call, method] {
    {
      std::lock_guard lock(call->mutex);
      if (call->cancelled) return;
      call->started = true;
    }
    try {
      method();
    } catch (...) {
      call->error = std::current_exception();
    }
    std::lock_guard lock(call->mutex);
    call->done = true;
    call->cv.notify_all();
  });
  // No fixed bound: the method may not run late, after this thread went on. The wait ends when
  // it ran, or when this thread is told to end before the GUI thread picked it up.
  std::unique_lock lock(call->mutex);
  while (!call->done) {
    if (!call->started && Terminated()) {
      call->cancelled = true;
      return;
    }
    call->cv.wait_for(lock, std::chrono::milliseconds(20));
  }
  if (call->error) std::rethrow_exception(call->error);
}

void GlobalSynchronize(const std::function<void()>& method) {
  TMMDSPThread* thread = nullptr;
  if (!vant::GetDispatcher().IsGuiThread()) {
    const int64_t me = CurrentKernelId();
    std::lock_guard lock(g_threads_mutex);
    if (g_threads) {
      for (TMMDSPThread* t : *g_threads) {
        if (t->ThreadID() == me) thread = t;
      }
    }
  }
  if (thread) {
    thread->Synchronize(method);
  } else {
    method();
  }
}
