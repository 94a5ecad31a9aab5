#pragma once
// TMMDSPThread: the worker thread a playback device runs its buffers on, and GlobalSynchronize,
// which lets a chain component fire its user events on the GUI thread whatever thread drives
// it.
#include <cstdint>
#include <functional>

#include "mmobj.h"

class TMMDSPComponent;

class TMMDSPThread : public TMMThreadEx {
 public:
  // Created suspended; Resume starts Execute. A derived destructor must stop its Execute (and
  // WaitFor it) before its own members go.
  explicit TMMDSPThread(TMMDSPComponent* owner);
  ~TMMDSPThread() override;

  TMMDSPComponent* Owner() const { return owner_; }
  // The kernel id of the thread (0 before it started).
  int64_t ThreadID();
  // Waits up to `timeout_ms` for Execute to return; on the GUI thread it keeps serving posted
  // work meanwhile, so a Synchronize from the worker cannot deadlock the wait.
  bool WaitFor(int64_t timeout_ms);
  // Waits until Execute has returned, however long it takes: a derived destructor calls it
  // before its members go, since Execute may still be using them and its owner. Each time the
  // report interval passes it traces that it is still waiting.
  void WaitForEnd();
  // The report interval of WaitForEnd (5000 ms); tests shorten it.
  static void SetEndReportInterval(int64_t ms);
  // Runs `method` on the GUI thread while this thread waits; an exception it raises is raised
  // here. Given up, without running it, when this thread is terminated before the GUI got to it.
  void Synchronize(const std::function<void()>& method);

 private:
  TMMDSPComponent* owner_;
};

// From a TMMDSPThread, runs `method` through that thread's Synchronize; anywhere else directly.
void GlobalSynchronize(const std::function<void()>& method);

// Waits up to `timeout_ms` for `done`; on the GUI thread it serves posted work meanwhile.
bool WaitServingGui(const std::function<bool()>& done, int64_t timeout_ms);
