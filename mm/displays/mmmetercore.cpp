#include "mmmetercore.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "mmmuldiv.h"

TMMMeterPoint TMMMeterGeometry::NeedleEnd(int32_t value, int radius) const {
  // Single precision as the scale was laid out with: the ticks must meet the needle exactly.
  const float pi = std::numbers::pi_v<float>;
  const float a0 = static_cast<float>(180 - ScaleAngle) * pi / 360.0f;
  const float a = a0 + ((pi - a0) - a0) * static_cast<float>(value) / kMeterRange;
  return {W / 2 - static_cast<int>(std::nearbyint(std::cos(a) * radius)),
          H + NeedleOffset - static_cast<int>(std::nearbyint(radius * std::sin(a)))};
}

TMMMeterCore::TMMMeterCore() {
  Level.SetSegments(kMeterRange);
  Level.Sensitivity = -50;
}

bool TMMMeterCore::SetData(int32_t level) {
  int32_t b = level < 0 ? (level == INT32_MIN ? INT32_MAX : -level) : level;
  if (b == 0 && needle_ == 0 && !redraw_) return false;
  b = Level.Smooth(b);
  int32_t v = Level.MapToSegments(b);
  if (v >= kMeterRange) {
    if (OnGainOverflow) OnGainOverflow();
    v = kMeterRange;
  }
  if (ShowPeak && v > peak_) {
    peak_ = v;
    peak_counter_ = 2 * PeakDelay + 1;
    redraw_ = true;
  }
  if (v == needle_ && !redraw_) return false;
  redraw_ = false;
  needle_ = v;
  return true;
}

void TMMMeterCore::Reset() {
  needle_ = 0;
  peak_ = 0;
  peak_counter_ = 0;
  redraw_ = false;
  Level.ResetDecay();
}

void TMMMeterCore::PeakTick() {
  // The peak moves only when a running count reaches 0: at the end of the hold, and then every
  // PeakSpeed ticks while it falls. With PeakSpeed 0 it drops to the needle once and stays.
  if (peak_ <= 0 || peak_counter_ <= 0) return;
  if (--peak_counter_ > 0) return;
  if (PeakSpeed > 0) {
    peak_ = std::max(peak_ - kMeterPeakFall, needle_.load());
    peak_counter_ = PeakSpeed.load();
  } else {
    peak_ = needle_.load();
  }
  redraw_ = true;
}

int TMMMeterCore::TickLabel(int i, int ticks) const {
  const int last = ticks - 1;
  const int32_t sens = Level.Sensitivity;
  if (Level.LogAmp) return MulDiv32(last - i, sens, last);
  const double floor_level = kMeterRange / std::pow(10.0, -sens / 20.0);
  return static_cast<int>(std::nearbyint(
      20 * std::log10((floor_level + (kMeterRange - floor_level) * i / last) / kMeterRange)));
}
