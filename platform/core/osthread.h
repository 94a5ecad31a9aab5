#pragma once
// A worker thread as the libraries' thread classes expect it: created suspended or running, a
// terminate flag the body polls, a bounded wait for its end, and a best-effort priority.
//
// The body receives the thread's control block, which stays valid even when the Thread object is
// destroyed first (a worker that outlives its bounded wait is detached, not freed under it).
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

namespace vant {

class Thread {
 public:
  class Control;
  using Body = std::function<void(Control&)>;

  // Priorities on the scale the libraries use: -15 idle, -2 lowest, -1 lower, 0 normal,
  // 1 higher, 2 highest, 15 time-critical.
  enum Priority : int {
    kIdle = -15,
    kLowest = -2,
    kLower = -1,
    kNormal = 0,
    kHigher = 1,
    kHighest = 2,
    kTimeCritical = 15
  };

  // Starts the OS thread at once; with `suspended` the body waits for Resume (or Terminate, in
  // which case it never runs). Throws std::system_error when the thread cannot be created.
  Thread(Body body, bool suspended);
  // Terminates, resumes and waits up to 5000 ms; a body still running then is left to finish on
  // its own.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Resume();
  // Suspension is cooperative: it holds the body before it starts and at each
  // Control::WaitWhileSuspended.
  void Suspend();
  bool IsSuspended() const;

  // Sets the terminate flag; the body is expected to poll it and return.
  void Terminate();
  bool IsTerminated() const;

  // True once the body has returned (or will never run).
  bool IsFinished() const;
  // Waits up to `timeout_ms` for the body to return; true when it has.
  bool WaitFor(int64_t timeout_ms);

  // Best effort: the nearest nice value for the thread; raising above normal usually needs
  // privileges and then answers false. Applied when the body starts if set before.
  bool SetPriority(int priority);
  int GetPriority() const;

  // What the body threw, if it ended by an exception (the process is not taken down by it; the
  // owner decides where to report it).
  std::exception_ptr Error() const;

  // Kernel thread id (0 until the thread has started).
  int64_t Id() const;

  // What the body sees of its thread.
  class Control {
   public:
    bool Terminated() const;
    // Blocks while the thread is suspended (until resumed or terminated); true to go on.
    bool WaitWhileSuspended();

   private:
    friend class Thread;
    struct State;
    explicit Control(std::shared_ptr<State> s) : state_(std::move(s)) {}
    std::shared_ptr<State> state_;
  };

 private:
  std::shared_ptr<Control::State> state_;
};

// Nice value for a priority of the scale above (exposed for tests).
int NiceForPriority(int priority);

}  // namespace vant
