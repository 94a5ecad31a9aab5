#pragma once
// Auto- and manual-reset events with bounded waits, and a wait for the first of several events
// (the completion threads wait for quit, flush or work at once).
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace vant {

class Event {
 public:
  // An auto-reset event lets one waiter through per Set and clears itself; a manual-reset event
  // stays set until Reset.
  explicit Event(bool manual_reset = false, bool initially_set = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Waits up to `timeout_ms` (0 only tests); true when the event was set (and, for an auto-reset
  // event, taken).
  bool Wait(int64_t timeout_ms);
  bool IsManualReset() const { return manual_; }

  // Index of the first set event among `events` (taking it when auto-reset), or -1 after
  // `timeout_ms`.
  static int WaitAny(std::initializer_list<Event*> events, int64_t timeout_ms);
  static int WaitAny(const std::vector<Event*>& events, int64_t timeout_ms);

 private:
  struct Waiter;
  bool TryTakeLocked();

  const bool manual_;
  bool set_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Waiter*> waiters_;
};

}  // namespace vant
