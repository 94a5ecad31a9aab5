#include "mmlevelcore.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Nearest integer, ties to even (the processor's default rounding).
int64_t RoundEven(double x) { return static_cast<int64_t>(std::nearbyint(x)); }

// The quietest level the bar can show, as a magnitude.
double FloorLevel(int32_t sensitivity) {
  return kLevelFullScale / std::pow(10.0, -sensitivity / 20.0);
}

}  // namespace

TMMLevelGeometry TMMLevelGeometry::Compute(int length, int spot_width, int spot_space, int point1,
                                           int point2) {
  TMMLevelGeometry g;
  length = std::max(length, 1);
  g.width = std::max(spot_width, 1);
  g.space = std::max(spot_space, 0);
  g.count = std::max((length + g.space) / (g.width + g.space), 1);
  g.start = (g.space + length - g.count * (g.width + g.space)) / 2;
  g.zone1 = point1 * g.count / 100;
  g.zone2 = point2 * g.count / 100;
  return g;
}

TMMLevelCore::TMMLevelCore() = default;

// ---- the slice -------------------------------------------------------------------------------

void TMMLevelCore::SetLayout(TMMBits bits, int channels) {
  bits_ = bits;
  channels_ = std::max(channels, 1);
}

TMMMode TMMLevelCore::GetMode() const {
  return channels_ == 1 ? mMono : channels_ == 2 ? mStereo : mMultiChannel;
}

void TMMLevelCore::SetSamples(int32_t v) { samples_ = std::clamp(v, 1, kLevelMaxSamples); }

int64_t TMMLevelCore::SliceBytes() const { return int64_t{bits_ + 1} * channels_ * samples_; }

int64_t TMMLevelCore::Sample(const uint8_t* p) const {
  if (bits_ == b8Bit) return static_cast<int64_t>(*p) - 128;
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

int32_t TMMLevelCore::Magnitude(const uint8_t* slice) const {
  const int bytes = bits_ + 1;
  const int frame = bytes * channels_;
  // 8-bit samples count in 16-bit units; their offsets are added before the scaling.
  const int64_t scale = bits_ == b8Bit ? 256 : 1;
  int64_t m = 0;
  for (int32_t i = 0; i < samples_; ++i, slice += frame) {
    int64_t x;
    if (channels_ == 1 || Channel == chLeft) {
      x = (Sample(slice) + dc_left_) * scale;
    } else if (Channel == chRight) {
      x = (Sample(slice + bytes) + dc_right_) * scale;
    } else {
      x = ((Sample(slice) + dc_left_) * scale + (Sample(slice + bytes) + dc_right_) * scale) / 2;
    }
    m = std::max(m, std::abs(x));
  }
  return static_cast<int32_t>(std::min<int64_t>(m, INT32_MAX));
}

// ---- the mapping -----------------------------------------------------------------------------

int TMMLevelCore::MapToSegments(int64_t m) const {
  const int64_t e = m * (Gain + 8) / 8;
  const int n = segments_;
  int64_t c;
  if (LogAmp) {
    const double db = 20.0 * std::log10(std::max(static_cast<double>(e) / kLevelFullScale, 1e-6));
    c = RoundEven((db - Sensitivity) * n / -Sensitivity);
  } else {
    const double f = FloorLevel(Sensitivity);
    c = RoundEven((static_cast<double>(e) - f) * n / (kLevelFullScale - f));
  }
  return static_cast<int>(std::clamp<int64_t>(c, 0, INT32_MAX));
}

int TMMLevelCore::SegmentsToPercent(int s) const {
  if (s <= 0) return 0;
  const int n = segments_;
  if (!LogAmp) return static_cast<int>(RoundEven(static_cast<double>(s) * 100 / n));
  const int g = Gain + 8;
  // No gain at all shows nothing, whatever is lit.
  if (g <= 0) return 0;
  const double sens = Sensitivity;
  return static_cast<int>(RoundEven(std::pow(10.0, (sens - s * sens / n) / 20.0) * 8 / g * 100));
}

// ---- smoothing -------------------------------------------------------------------------------

void TMMLevelCore::SetDecayMode(TMMDecayMode mode) {
  if (mode == decay_mode_) return;
  decay_mode_ = mode;
  ResetDecay();
}

void TMMLevelCore::SetDecay(int d) {
  d = std::clamp(d, 1, 16);
  if (d == decay_) return;
  decay_ = d;
  factor_ = 0.0001;
  for (int i = 0; i < d; ++i) factor_ = std::sqrt(factor_);
  ring_length_ = std::clamp(2 * d - 2, 1, kLevelRingSize);
  if (decay_mode_ == dmUniform) ResetDecay();
}

void TMMLevelCore::ResetDecay() {
  level_ = 0;
  std::fill(std::begin(ring_), std::end(ring_), 0);
  ring_pos_ = 0;
  ring_fill_ = 0;
  ring_sum_ = 0;
}

int32_t TMMLevelCore::Smooth(int32_t m) {
  if (decay_mode_ == dmNone) return m;
  ring_pos_ = (ring_pos_ + 1) % ring_length_;
  ring_fill_ = std::min(ring_fill_ + 1, ring_length_);
  switch (decay_mode_) {
    case dmStepUp:
      level_ *= factor_;
      if (m > level_) return static_cast<int32_t>(level_ = m);
      return static_cast<int32_t>(level_);
    case dmExponential:
      level_ = level_ * factor_ + (1 - factor_) * m;
      return static_cast<int32_t>(std::floor(level_));
    default:
      ring_sum_ += m - ring_[ring_pos_];
      ring_[ring_pos_] = m;
      return static_cast<int32_t>(ring_sum_ / ring_fill_);
  }
}

// ---- the value and the peak ------------------------------------------------------------------

bool TMMLevelCore::SetData(int32_t m) {
  m = m < 0 ? (m == INT32_MIN ? INT32_MAX : -m) : m;
  if (m == 0 && value_ == 0 && !peak_changed_) return false;
  m = Smooth(m);
  magnitude_ = static_cast<int32_t>(std::min<int64_t>(int64_t{m} * (Gain + 8) / 8, INT32_MAX));
  int c = MapToSegments(m);
  if (Direction == dirSymetric) c /= 2;
  if (c > segments_) {
    if (OnGainOverflow) OnGainOverflow();
    c = segments_;
  }
  if (c >= peak_ && c > 0 && NumPeaks > 0) {
    peak_ = c;
    peak_counter_ = 2 * PeakDelay + 1;
    peak_changed_ = true;
  }
  if (c == value_ && !peak_changed_) return false;
  peak_changed_ = false;
  value_ = c;
  return true;
}

void TMMLevelCore::Reset() {
  value_ = 0;
  magnitude_ = 0;
  peak_ = 0;
  peak_counter_ = 0;
  peak_changed_ = false;
  ResetDecay();
}

void TMMLevelCore::ShowValue(int segments) {
  value_ = segments;
  peak_ = 0;
  peak_counter_ = 0;
}

void TMMLevelCore::PeakTick() {
  if (peak_ <= 0) return;
  if (--peak_counter_ > 0) return;
  if (PeakSpeed != 0) {
    --peak_;
    peak_counter_ = PeakSpeed.load();
  } else {
    peak_ = 0;
    peak_counter_ = 0;
  }
  peak_changed_ = true;
}
