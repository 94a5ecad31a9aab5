#pragma once
// TMMThread: a non-visual component that runs its OnThread handler over and over on a worker
// thread until it is terminated, or, with Synchronize, has each run made on the GUI thread.
// The player window carries one as its load thread.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "exceptions.h"
#include "mmobj.h"
#include "mmworker.h"

namespace vant {

VANT_DECLARE_EXCEPTION(EMMThreadError, Exception);

class TMMThread : public TMMNonVisualComponent {
 public:
  explicit TMMThread(TComponent* owner);
  // Stops and joins a running worker (OnTerminate does not fire); destroyed from its own
  // handler, the worker ends once the handler returns.
  ~TMMThread() override;
  std::string ClassName() const override { return "TMMThread"; }

  bool GetAutoExecute() const { return auto_execute_; }
  // True starts the worker at once.
  void SetAutoExecute(bool value);
  bool GetEnabled() const { return enabled_; }
  // Holds (false) or releases (true) a running worker at the top of its loop.
  void SetEnabled(bool value);
  TThreadPriority GetPriority() const { return priority_; }
  // Best effort; applies to a running worker at once.
  void SetPriority(TThreadPriority value);
  bool GetSynchronize() const { return synchronize_; }
  void SetSynchronize(bool value) { synchronize_ = value; }
  bool GetWaitForTerminate() const { return wait_for_terminate_; }
  void SetWaitForTerminate(bool value) { wait_for_terminate_ = value; }

  TNotifyEvent OnStart, OnThread, OnTerminate;

  // Starts the worker; nothing while designing or loading, without OnThread, or when running.
  // Raises EMMThreadError when the worker cannot be made or does not start within 1000 ms.
  virtual void Execute();
  // Stops a running worker; from OnThread on the worker, it ends after the handler returns.
  virtual void Terminate();
  // No worker is running.
  bool GetTerminated() const { return !running_; }
  // No worker, or it has been told to stop.
  bool GetTerminating() const;

  // With a running worker, runs `method` on the GUI thread and waits for it.
  void SynchronizeVCL(const std::function<void()>& method);

  // The running worker's kernel thread id, else 0 (also what GetHandle answers here).
  int64_t GetThreadID() const;
  int64_t GetHandle() const { return GetThreadID(); }

  void Loaded() override;
  void ChangeDesigning(bool value) override;

 protected:
  // Fires OnThread.
  virtual void Thread();

 private:
  void Run(MMWorker& w);
  void DoThread(MMWorker& w);
  std::shared_ptr<MMWorker> Worker() const;

  bool auto_execute_ = false;
  std::atomic<bool> enabled_{true};
  TThreadPriority priority_ = tpNormal;
  std::atomic<bool> synchronize_{true};
  bool wait_for_terminate_ = false;
  std::atomic<bool> running_{false};

  mutable std::mutex mutex_;
  std::shared_ptr<MMWorker> worker_;
  MMRetiredWorkers retired_;
};

}  // namespace vant
