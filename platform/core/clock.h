#pragma once
// The monotonic clock behind every timer, delay and timestamp. Tests install a ManualClock so
// nothing needs to sleep.
#include <cstdint>
#include <atomic>

namespace vant {

class Clock {
 public:
  virtual ~Clock() = default;
  // Microseconds since an arbitrary fixed start; never goes back.
  virtual int64_t NowMicros() const = 0;
  int64_t NowMillis() const { return NowMicros() / 1000; }
};

// steady_clock.
class SystemClock final : public Clock {
 public:
  int64_t NowMicros() const override;
};

// A clock that moves only when told to.
class ManualClock final : public Clock {
 public:
  int64_t NowMicros() const override { return now_.load(); }
  void Advance(int64_t micros) { now_ += micros; }
  void AdvanceMillis(int64_t millis) { now_ += millis * 1000; }
  void Set(int64_t micros) { now_ = micros; }

 private:
  std::atomic<int64_t> now_{0};
};

// The process-wide clock (a SystemClock unless a test installs another).
Clock& GetClock();
// Installs `clock` (not owned) as the process clock; nullptr restores the system clock.
void SetClock(Clock* clock);

}  // namespace vant
