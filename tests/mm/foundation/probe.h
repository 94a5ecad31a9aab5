#pragma once
// Counts events from any thread and lets a test wait for a number of them while it pumps the
// GUI queue (some of the awaited calls run there). Every hit also posts an empty message, so one
// wait on the queue wakes for both.
#include <chrono>
#include <mutex>
#include <vector>

#include "dispatch.h"
#include "mmworker.h"

class Probe {
 public:
  void Hit() {
    {
      std::lock_guard lock(m_);
      ++hits_;
    }
    vant::GetDispatcher().Post([] {});
  }
  int Hits() const {
    std::lock_guard lock(m_);
    return hits_;
  }
  // Bounded: false after 20 s.
  bool WaitFor(int n, vant::QueueDispatcher& gui) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Hits() < n) {
      if (std::chrono::steady_clock::now() > until) return false;
      gui.WaitAndProcess(50);
    }
    return true;
  }

 private:
  mutable std::mutex m_;
  int hits_ = 0;
};

// The GUI queue of the thread tests: one for the whole run and never destroyed, because a worker
// cut loose by a component freed in its own handler may still be leaving a post as a test ends.
inline vant::QueueDispatcher& TestGui() {
  static vant::QueueDispatcher* gui = new vant::QueueDispatcher;
  return *gui;
}

// While alive, every worker start "times out": the hold answers in place of the wait for the
// worker's start signal, and keeps the bound each starter waited with.
class LateStarts {
 public:
  LateStarts() {
    vant::SetWorkerStartHold([this](int ms) {
      waits_.push_back(ms);
      return false;
    });
  }
  ~LateStarts() { vant::SetWorkerStartHold(nullptr); }
  // The starters wait on the thread that starts the component: no lock needed.
  const std::vector<int>& Waits() const { return waits_; }

 private:
  std::vector<int> waits_;
};
