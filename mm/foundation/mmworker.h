#pragma once
// The worker thread behind TMMThread and the thread mode of TMMHiTimer: held before its body
// until resumed, a stop flag its loop polls, a start signal, a bounded join, and calls that the
// worker makes run on the GUI thread (through its queue) while it waits.
//
// The body keeps the worker alive while it runs, so an owner may drop its reference at any time;
// an owner that the body calls back must Stop and Join the worker before it goes away (or, when
// it is destroyed on the worker itself, Detach it).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mmobj.h"
#include "syncevent.h"

namespace vant {

class MMWorker : public std::enable_shared_from_this<MMWorker> {
 public:
  using Body = std::function<void(MMWorker&)>;

  // A held worker at `priority` (-15 .. 15, the library's thread priorities). Throws
  // std::system_error when no thread can be made.
  static std::shared_ptr<MMWorker> Create(Body body, int priority);
  ~MMWorker();
  MMWorker(const MMWorker&) = delete;
  MMWorker& operator=(const MMWorker&) = delete;

  void Resume();
  // Cooperative: the worker stops at its next Gate.
  void Suspend();
  bool IsSuspended() const;
  // The top of the worker's loop: blocks while suspended; false once the worker is stopping.
  bool Gate();

  // Sets the stop flag, releases a held or suspended worker and gives up its GUI-thread calls
  // that have not begun.
  void Stop();
  bool Stopping() const;

  void SignalStarted();
  // Waits up to `timeout_ms` for the body's SignalStarted; false on time-out. While a start hold
  // is installed (SetWorkerStartHold), the hold answers instead.
  bool WaitStarted(int timeout_ms);

  // Waits until the body has returned (or will never run); true when it has. Never from the
  // worker itself.
  bool Join(int timeout_ms);
  // Join without a limit but with a trace line now and then: for owners about to free what the
  // body uses.
  void JoinForGood();
  bool IsWorkerThread() const;

  // Whether the owner may still be called back; an owner destroyed on the worker clears it.
  bool Attached() const { return attached_.load(); }
  void Detach() { attached_ = false; }

  // From the worker: runs `fn` on the GUI thread and waits for it, raising again what it raised.
  // A call not yet begun when the worker is stopped is given up. On the GUI thread it runs at
  // once.
  void Synchronize(const std::function<void()>& fn);
  // A GUI-thread call of this worker is running now.
  bool InSync() const { return in_sync_.load(); }

  bool SetPriority(int priority);
  int64_t ThreadId() const;

 private:
  struct Request {
    const std::function<void()>* fn;
    bool started = false;
    bool done = false;
    std::exception_ptr error;
  };

  MMWorker() = default;
  void ServeRequests();  // GUI thread
  void Run(const Body& body);

  std::thread thread_;
  std::atomic<std::thread::id> thread_id_{};
  std::atomic<int64_t> tid_{0};
  std::atomic<bool> attached_{true};
  std::atomic<bool> in_sync_{false};
  std::atomic<bool> stopping_{false};
  Event started_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool suspended_ = true;  // held until the first Resume
  bool ended_ = false;
  int priority_ = 0;
  std::deque<std::shared_ptr<Request>> requests_;
};

// Workers an owner has stopped but may not have seen end: they can still be inside a call of the
// owner, so the owner settles them all before it goes.
class MMRetiredWorkers {
 public:
  void Add(std::shared_ptr<MMWorker> w);
  // Joins every one, except the calling worker itself and one whose GUI-thread call is running
  // now (its caller is the owner's handler): those are detached, to end after the current call.
  void Settle();
  bool Empty();

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<MMWorker>> workers_;
};

// Tests: stands in for the wait of every starting worker for its start signal, is told the bound
// the starter waits with, and answers whether the worker started in time. An empty hold restores
// the real wait.
using MMWorkerStartHold = std::function<bool(int timeout_ms)>;
void SetWorkerStartHold(MMWorkerStartHold hold);

// The system priority (-15, -2, -1, 0, 1, 2, 15) of a thread priority tpIdle .. tpTimeCritical.
int ThreadPriorityValue(TThreadPriority priority);

// "<prefix>:\n\r" and the library's message 88 ("Could not create thread"): the text of the
// error raised when a component's worker cannot be made or does not start in time.
std::string CouldNotCreateThread(const char* prefix);

// Hands the message of an exception that ended a worker's loop to the application's exception
// handler, on the GUI thread. Only the text crosses threads: the exception object stays with the
// thread that raised it.
void ReportThreadException(const std::string& message);

}  // namespace vant
