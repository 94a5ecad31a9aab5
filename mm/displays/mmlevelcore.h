#pragma once
// The numbers behind a level bar, without any drawing: where the segments lie, how a slice of
// PCM data becomes a magnitude, how a magnitude becomes lit segments (dB or linear scale, gain,
// smoothing), and how the peak mark is held and falls. The control TMMCustomLevel draws what
// this computes.
#include <atomic>
#include <cstdint>
#include <functional>

#include "mmenums.h"

enum TMMLevelKind { lkHorizontal, lkVertical };
enum TMMLevelDirection { dirNormal, dirReversed, dirSymetric };

inline constexpr int32_t kLevelFullScale = 32767;
inline constexpr int kLevelRingSize = 32;
// Frames of a slice at most: some 20 s of sound, far beyond any buffer a device plays.
inline constexpr int32_t kLevelMaxSamples = 1 << 20;
// The most ticks a level scale or a needle meter's arc carries: more than any of them has
// pixels for, while a paint that walks every tick stays short.
inline constexpr int kLevelMaxScaleTicks = 1000;
// The longest distance in pixels a scale is laid out with (tick lengths, offsets): the
// geometry's sums stay well inside int.
inline constexpr int kLevelMaxDistance = 32767;

// Segments along a bar of `length` pixels.
struct TMMLevelGeometry {
  int count = 1;  // N
  int start = 0;  // offset of segment 1, centring the segments
  int zone1 = 0;  // last segment of zone 1
  int zone2 = 0;  // last segment of zone 2
  int width = 1;  // SpotWidth
  int space = 1;  // SpotSpace

  static TMMLevelGeometry Compute(int length, int spot_width, int spot_space, int point1,
                                  int point2);
  // Zone (1, 2 or 3) of segment i (1-based).
  int ZoneOf(int i) const { return i <= zone1 ? 1 : i <= zone2 ? 2 : 3; }
  // Distance of segment i (1-based) from the start of the bar.
  int PositionOf(int i) const { return start + (i - 1) * (width + space); }
};

class TMMLevelCore {
 public:
  TMMLevelCore();

  // ---- the data layout and the slice ----
  void SetLayout(TMMBits bits, int channels);
  TMMBits GetBits() const { return bits_; }
  int GetChannels() const { return channels_; }
  TMMMode GetMode() const;
  int32_t GetSamples() const { return samples_; }
  void SetSamples(int32_t v);
  // Bytes of one slice: sample bytes × channels × Samples.
  int64_t SliceBytes() const;
  TMMChannel Channel = chBoth;
  // Stored negated, as the reduction adds them.
  void SetDCOffsets(int32_t left, int32_t right) {
    dc_left_ = -int64_t{left};
    dc_right_ = -int64_t{right};
  }
  int32_t GetDCOffsetL() const { return static_cast<int32_t>(-dc_left_); }
  int32_t GetDCOffsetR() const { return static_cast<int32_t>(-dc_right_); }
  // Peak magnitude of one slice (integer arithmetic only).
  int32_t Magnitude(const uint8_t* slice) const;

  // ---- the mapping ----
  void SetSegments(int n) { segments_ = n < 1 ? 1 : n; }
  int Segments() const { return segments_; }
  int32_t Gain = 0;  // -8 .. 32: the magnitude is multiplied by (Gain + 8) / 8
  int32_t Sensitivity = -35;
  bool LogAmp = true;
  TMMLevelDirection Direction = dirNormal;
  // Lit segments for magnitude `m` after gain, before clamping to N.
  int MapToSegments(int64_t m) const;
  // Percent of full scale shown by `segments` lit segments.
  int SegmentsToPercent(int segments) const;

  // ---- smoothing ----
  TMMDecayMode GetDecayMode() const { return decay_mode_; }
  void SetDecayMode(TMMDecayMode mode);
  int GetDecay() const { return decay_; }
  void SetDecay(int d);
  void ResetDecay();
  // One step of the smoothing for a new magnitude `m` (>= 0): the magnitude to show.
  int32_t Smooth(int32_t m);

  // ---- the value and the peak ----
  int NumPeaks = 1;
  int PeakDelay = 20;
  // Read by the timer thread's tick.
  std::atomic<int> PeakSpeed{0};
  // Steps 1-7 of a new magnitude: answers whether the bar must be drawn again.
  bool SetData(int32_t m);
  int Value() const { return value_; }
  int32_t Magnitude() const { return magnitude_; }
  int Peak() const { return peak_.load(); }
  int PeakCounter() const { return peak_counter_.load(); }
  bool PeakChanged() const { return peak_changed_.load(); }
  // Clears value, peak, counter, magnitude and the decay state.
  void Reset();
  // Sets the value (and clears the peak) without going through SetData: design-time previews.
  void ShowValue(int segments);
  // One tick of the shared 25 ms timer (timer thread): holds, lowers or drops the peak.
  void PeakTick();
  // Whether ticks would still move the peak (a peak is held or falling).
  bool PeakFalling() const { return peak_.load() > 0; }

  std::function<void()> OnGainOverflow;
  std::function<void()> OnPcmOverflow;

 private:
  int64_t Sample(const uint8_t* p) const;

  TMMBits bits_ = b8Bit;
  int channels_ = 1;
  int32_t samples_ = 50;
  int64_t dc_left_ = 0, dc_right_ = 0;  // INT32_MIN negated still fits
  int segments_ = 1;

  TMMDecayMode decay_mode_ = dmNone;
  int decay_ = 1;
  double factor_ = 0.0001;
  double level_ = 0;
  int32_t ring_[kLevelRingSize] = {};
  int ring_length_ = 1;
  int ring_pos_ = 0;
  int ring_fill_ = 0;
  int64_t ring_sum_ = 0;

  int value_ = 0;
  int32_t magnitude_ = 0;
  // Written by the timer thread's tick and by SetData on the GUI thread.
  std::atomic<int> peak_{0};
  std::atomic<int> peak_counter_{0};
  std::atomic<bool> peak_changed_{false};
};
