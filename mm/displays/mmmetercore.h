#pragma once
// The numbers behind the needle meter, without any drawing: the level bar's data path (slice
// peak, DC offsets, gain, smoothing, dB or linear mapping) onto a needle range of 32,767, the
// peak needle's hold and fall, and where a needle of a value ends on the arc.
#include <atomic>
#include <cstdint>
#include <functional>

#include "mmlevelcore.h"

inline constexpr int32_t kMeterRange = 32767;
// How far the peak needle falls per step once its hold is over.
inline constexpr int32_t kMeterPeakFall = 500;

struct TMMMeterPoint {
  int X = 0, Y = 0;
};

// The arc: a pivot NeedleOffset below a face of W × H, sweeping ScaleAngle degrees.
struct TMMMeterGeometry {
  int W = 1, H = 1;
  int NeedleOffset = 30;
  int ScaleAngle = 90;
  int TopSpace = 14;

  TMMMeterPoint Pivot() const { return {W / 2, H + NeedleOffset}; }
  // Needle and outer scale radius.
  int Radius() const { return H + NeedleOffset - TopSpace; }
  // Where a needle of `value` (0 .. 32,767: left to right end) and `radius` ends.
  TMMMeterPoint NeedleEnd(int32_t value, int radius) const;
};

class TMMMeterCore {
 public:
  TMMMeterCore();

  // Slice layout, DC offsets, Gain, Sensitivity, LogAmp and the smoothing live here.
  TMMLevelCore Level;

  bool ShowPeak = true;
  int PeakDelay = 20;
  // Read by the timer thread's tick.
  std::atomic<int> PeakSpeed{0};

  // A new level (a slice's magnitude or a Value): answers whether the needles must be drawn
  // again.
  bool SetData(int32_t level);
  int32_t Needle() const { return needle_.load(); }
  int32_t Peak() const { return peak_.load(); }
  int PeakCounter() const { return peak_counter_.load(); }
  bool RedrawPending() const { return redraw_.load(); }
  // Needle, peak, counters and smoothing to 0.
  void Reset();
  // Ends a running hold: the peak needle stays where it is until a louder level.
  void ResetPeakCounter() { peak_counter_ = 0; }
  // One tick of the shared 25 ms timer (timer thread): holds, lowers or drops the peak needle.
  void PeakTick();
  // Whether ticks would still move the peak needle: a count runs (its hold, or its fall).
  bool PeakFalling() const { return peak_.load() > 0 && peak_counter_.load() > 0; }
  // Percent of full scale the needle shows (0 for a needle at rest).
  int NeedlePercent() const { return Level.SegmentsToPercent(Needle()); }

  // The dB value written at tick `i` of `ticks` (left end 0) on the current scale.
  int TickLabel(int i, int ticks) const;

  std::function<void()> OnGainOverflow;

 private:
  // Read by the timer thread, which moves the peak toward it.
  std::atomic<int32_t> needle_{0};
  std::atomic<int32_t> peak_{0};
  std::atomic<int> peak_counter_{0};
  std::atomic<bool> redraw_{false};
};
