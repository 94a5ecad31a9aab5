#include "mmspectrumcore.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <type_traits>

namespace {

// Log units: 8,192 per doubling of power.
const double kLogK = 8192.0 / std::numbers::ln2;
// Log units per dB (held as a single float, as the scales use it).
const float kLogU = static_cast<float>(819.2 * std::numbers::ln10 / std::numbers::ln2);
constexpr double kLogRange = 60.0;  // dB shown
const double kFullScaleDb = 20.0 * std::log10(32768.0);

int32_t Saturate32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int16_t Saturate16(float v) {
  return static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));  // the cast truncates
}

}  // namespace

int SpectrumFFTLength(int n) {
  n = std::clamp(n, 8, kSpectrumMaxFFT);
  int p = 8;
  while (p * 2 <= n) p *= 2;
  return p;
}

// ---- the shared input stage ------------------------------------------------------------------

TMMSpectrumInput::TMMSpectrumInput() : window_(kSpectrumMaxFFT), values_(kSpectrumMaxFFT) {
  SetFFTLength(8);
}

void TMMSpectrumInput::SetFFTLength(int n) {
  n = SpectrumFFTLength(n);
  if (n == n_ && plan_) return;
  n_ = n;
  plan_ = InitRealFFT(static_cast<int>(std::log2(n)));
  work_.assign(n, 0.0f);
  SetWindow(window_kind_);
}

void TMMSpectrumInput::SetWindow(TMMFFTWindow w) {
  window_kind_ = w;
  GenWindowTableInt(window_.data(), w, static_cast<int>(std::log2(n_)));
}

int64_t TMMSpectrumInput::SliceBytes() const { return int64_t{Bits + 1} * Channels * n_; }

int TMMSpectrumInput::Transform(const uint8_t* slice, int16_t* out) {
  const int n = n_;
  const bool wide = Bits == b16Bit;
  const int frame = Channels < 2 ? 1 : Channels;
  const bool both = frame > 1 && Channel == chBoth;
  // The mean of two channels is one step below full scale at most, unless differenced twice.
  const int limit = !wide ? 255 : both && Order < 2 ? 32766 : 32767;
  int overflows = 0;
  auto sample = [&](int k) -> int32_t {
    if (wide) {
      int16_t s;
      std::memcpy(&s, slice + 2 * k, 2);
      return s;
    }
    return slice[k];
  };
  for (int i = 0; i < n; ++i) {
    const int at = i * frame;
    int32_t v;
    if (frame == 1) {
      v = sample(at);
    } else if (Channel == chLeft) {
      v = sample(at);
    } else if (Channel == chRight) {
      v = sample(at + 1);
    } else {
      const int32_t l = sample(at), r = sample(at + 1);
      v = wide ? (l + r) / 2 : (l + r) >> 1;
    }
    if (v >= limit) ++overflows;
    values_[i] = v;
  }
  // The tilt: both previous values start at the first one, so the first differences are 0.
  int32_t p1 = values_[0], p2 = values_[0];
  for (int i = 0; i < n; ++i) {
    const int32_t v = values_[i];
    int32_t d;
    switch (Order) {
      case 1:
        d = v - p1;
        break;
      case 2:
        d = v + p2 - 2 * p1;
        break;
      default:
        d = wide ? v : v - 128;
        break;
    }
    p2 = p1;
    p1 = v;
    values_[i] = d;
  }
  // The window: d × w / 32,768 (8-bit data: / 128, so scaled by 256) cut toward zero, with a
  // constant divisor so that no sample pays a division.
  auto window = [&](auto divisor) {
    for (int i = 0; i < n; ++i)
      work_[i] = static_cast<float>(int64_t{values_[i]} * window_[i] / divisor());
  };
  if (wide) {
    window(std::integral_constant<int64_t, 32768>{});
  } else {
    window(std::integral_constant<int64_t, 128>{});
  }
  DoRealFFT(plan_.get(), work_.data(), 1);
  // n is a power of two, so the reciprocal is exact and the product equals the quotient.
  const float inv_half = 2.0f / n;
  for (int i = 0; i < n; ++i) out[i] = Saturate16(work_[i] * inv_half);
  return overflows;
}

// ---- the analyser's arithmetic ---------------------------------------------------------------

TMMSpectrumCore::TMMSpectrumCore()
    : fft_(kSpectrumMaxFFT),
      given_(kSpectrumMaxBins),
      mag_(kSpectrumMaxBins),
      offset_(kSpectrumMaxBins),
      state_(kSpectrumMaxBins),
      sums_(kSpectrumMaxBins),
      history_(static_cast<size_t>(kSpectrumMaxFrames) * kSpectrumMaxBins) {
  SetSize(4, 4);
}

void TMMSpectrumCore::SetDecayMode(TMMDecayMode m) {
  decay_mode_ = m;
  ResetDecayBuffers();
}

void TMMSpectrumCore::SetDecay(int d) {
  decay_ = std::clamp(d, 1, 16);
  double f = 0.0001;
  for (int i = 0; i < decay_; ++i) f = std::sqrt(f);
  decay_factor_ = f;
  frames_ = std::clamp(2 * decay_ - 2, 1, kSpectrumMaxFrames);
  if (decay_mode_ == dmUniform) ResetDecayBuffers();
}

void TMMSpectrumCore::SetSize(int w, int h) {
  w_ = std::max(w, 4);
  h_ = std::max(h, 4);
  first_.assign(w_ + 10, -1);
  end_.assign(w_ + 10, 0);
  mult_.assign(w_, 0);
  draw_ = std::make_unique<TDrawVal[]>(w_ + 1);
}

void TMMSpectrumCore::SetupXScale(const std::function<void(int32_t*, int32_t*)>& custom) {
  const int n = N(), w = w_;
  const double sr = SampleRate;
  Zoom = std::clamp(Zoom, 1.0, 16.0);
  if (LogFreq) {
    Base = std::clamp(Base, sr / n, sr / 2 / std::pow(n / 2.0, 1.0 / Zoom));
  } else {
    Base = std::max(Base, 0.0);
    if (Base + sr / (2 * Zoom) > sr / 2) Base = sr / 2 - sr / (2 * Zoom);
  }
  std::fill(first_.begin(), first_.end(), -1);
  std::fill(end_.begin(), end_.end(), 0);
  if (custom) {
    custom(first_.data(), end_.data());
  } else {
    auto bin = [&](int i) {
      double b;
      if (LogFreq) {
        b = std::floor(std::pow((n + 1) / 2.0, (i - 0.45) / (w * Zoom)) * n * Base / sr + 0.51) - 1;
      } else {
        b = std::floor(double(i) / w * n / 2 / Zoom + Base / sr * n + 0.01);
      }
      return static_cast<int32_t>(std::clamp(b, 0.0, n / 2.0 - 1));
    };
    for (int i = 0; i < w; ++i) {
      first_[i] = bin(i);
      if (i > 0) end_[i - 1] = first_[i];
    }
    for (int i = 0; i < w; ++i)
      if (end_[i] <= first_[i] + 1) end_[i] = 0;
    end_[w - 1] = 0;
  }
  for (int i = w - 1; i >= 1; --i) {
    if (first_[i] == first_[i - 1]) {
      first_[i] = -1;
      end_[i] = 0;
    }
  }
  SetupYScale();
}

void TMMSpectrumCore::SetupLogScales() {
  const double sr = SampleRate, ref = RefFreq;
  pix_ = h_ / (kLogRange * kLogU);
  const double tilt = 20.0 * std::log10(sr / (2 * std::numbers::pi * ref));
  const double f = kLogU * (kFullScaleDb - Input.Order * tilt - kLogRange);
  int s = 0;
  double g = pix_;
  while (g < 4096) {
    g *= 2;
    ++s;
  }
  shift_ = s;
  const int32_t m = static_cast<int32_t>(std::floor(g + 0.5));
  for (int i = 0; i < w_; ++i) mult_[i] = first_[i] == -1 ? 0 : m;
  const int n = N();
  for (int j = 0; j < kSpectrumMaxBins; ++j) {
    double o = std::floor(f + 0.5);
    if (HalfStep && j < n / 2)
      o = std::floor(f + 0.5 - 10 * kLogU * std::log10((j + 1) * sr / n / ref));
    offset_[j] = static_cast<int32_t>(o);
  }
}

void TMMSpectrumCore::SetupLinScales() {
  const double sr = SampleRate, ref = RefFreq, pi = std::numbers::pi;
  int s = 4;  // the magnitudes carry 4 fraction bits
  double e = h_ / (std::sqrt(ref) * Factor * 32768);
  if (Input.Order == 1) e *= sr / (2 * pi * ref);
  if (Input.Order == 2) e *= sr * sr / (4 * pi * pi * ref * ref);
  const int n = N();
  if (!HalfStep) {
    double g = std::sqrt(ref) * e;
    while (g < 4096) {
      g *= 2;
      ++s;
    }
    const int32_t m = static_cast<int32_t>(std::floor(g + 0.5));
    for (int i = 0; i < w_; ++i) mult_[i] = first_[i] == -1 ? 0 : m;
  } else {
    while (std::sqrt(sr / 2) * e < 4096) {
      e *= 2;
      ++s;
    }
    for (int i = 0; i < w_; ++i) {
      mult_[i] =
          first_[i] == -1
              ? 0
              : static_cast<int32_t>(std::nearbyint(e * std::sqrt((first_[i] + 1) * sr / n) + 0.5));
    }
  }
  shift_ = s;
}

void TMMSpectrumCore::SetMagnitudeData(const int32_t* values) {
  std::copy(values, values + N() / 2, given_.begin());
}

void TMMSpectrumCore::CalcMagnitude(bool given) {
  const int bins = N() / 2;
  auto power = [&](int j) -> int64_t {
    const int64_t m = given ? given_[j] : SpectrumPower(fft_[2 * j], j ? fft_[2 * j + 1] : 0);
    return std::max<int64_t>(m, 0);
  };
  if (decay_mode_ == dmNone && LogAmp) {
    for (int j = 0; j < bins; ++j) {
      const int64_t m = power(j);
      mag_[j] = m < 1 ? 0
                      : std::max(Saturate32(static_cast<int64_t>(
                                     std::trunc(std::log(double(m)) * kLogK - offset_[j]))),
                                 0);
    }
    return;
  }
  ring_ = ring_ + 1 >= frames_ ? 0 : ring_ + 1;
  filled_ = std::min(filled_ + 1, frames_);
  int32_t* hist = history_.data() + static_cast<size_t>(ring_) * kSpectrumMaxBins;
  const float f = static_cast<float>(decay_factor_);
  for (int j = 0; j < bins; ++j) {
    int64_t g = static_cast<int64_t>(std::sqrt(double(power(j))) * MagnitudeScale);
    switch (decay_mode_) {
      case dmStepUp:
        state_[j] *= f;
        if (g >= state_[j]) {
          state_[j] = static_cast<float>(g);
        } else {
          g = static_cast<int64_t>(state_[j]);
        }
        break;
      case dmExponential:
        state_[j] = state_[j] * f + (1 - f) * static_cast<float>(g);
        g = static_cast<int64_t>(std::floor(state_[j]));
        break;
      case dmUniform:
        sums_[j] += g - hist[j];
        hist[j] = static_cast<int32_t>(g);
        g = sums_[j] / filled_;
        break;
      default:
        break;
    }
    mag_[j] = Saturate32(g);
  }
}

void TMMSpectrumCore::ResetDecayBuffers() {
  ring_ = 0;
  filled_ = 0;
  std::fill(state_.begin(), state_.end(), 0.0f);
  std::fill(sums_.begin(), sums_.end(), 0);
  std::fill(history_.begin(), history_.end(), 0);
}

void TMMSpectrumCore::ResetPeakValues() {
  for (int i = 0; i <= w_; ++i) {
    TDrawVal& r = draw_[i];
    r.First = r.End = r.Value = 0;
    r.Peak = 0;
    r.Hold = 0;
  }
  peak_ = TPeak{};
}

void TMMSpectrumCore::InitializeData() {
  std::fill(mag_.begin(), mag_.end(), 0);
  std::fill(fft_.begin(), fft_.end(), 0);
  std::fill(given_.begin(), given_.end(), 0);
  ResetPeakValues();
  ResetDecayBuffers();
}

int TMMSpectrumCore::CalcDisplayValues() {
  const int w = w_;
  int overflows = 0;
  int rec = -1;
  peak_.Height = 0;
  peak_.Bin = 0;
  peak_.Column = 0;
  const bool log_linear = LogAmp && decay_mode_ != dmNone;
  for (int i = 0; i < w; ++i) {
    const int first = first_[i];
    if (first == -1) continue;
    if (rec >= 0) draw_[rec].End = i;
    TDrawVal& r = draw_[++rec];
    r.First = i;
    const int last = end_[i] > 0 ? end_[i] : first + 1;
    int32_t a = mag_[first];
    int bin = first;
    for (int j = first + 1; j < last; ++j) {
      if (mag_[j] > a) {
        a = mag_[j];
        bin = j;
      }
    }
    int64_t v = 0;
    if (a >= 1) {
      if (log_linear) {
        v = static_cast<int64_t>(
            std::trunc((2 * std::log(a / 16.0) * kLogK - offset_[bin]) * pix_));
      } else {
        // The product of a 32-bit magnitude and a multiplier needs 64 bits.
        v = (int64_t{a} * mult_[i]) >> shift_;
      }
    }
    r.Value = Saturate32(v);
    if (r.Value > peak_.Height) {
      peak_.Height = r.Value;
      peak_.Column = i;
      // The strongest bin itself, not the column's first: a wide column spans many bins.
      peak_.Bin = bin;
    }
    if (r.Value >= h_) ++overflows;
  }
  if (rec >= 0) draw_[rec].End = w;
  draw_[rec + 1].First = -1;
  return overflows;
}

double TMMSpectrumCore::PeakFrequency(int bin) const {
  const double step = double(SampleRate) / N();
  if (LogFreq) return bin > 1 ? bin * step : (bin + 0.25) * step;
  return (bin + 0.5) * step;
}

TPeak TMMSpectrumCore::GetPeak() {
  const int bin = std::clamp(peak_.Bin, 0, N() / 2 - 1);
  double re, im;
  if (decay_mode_ != dmNone) {
    re = mag_[bin] / 16.0;
    im = 0;
  } else {
    re = fft_[2 * bin];
    im = bin ? fft_[2 * bin + 1] : 0;
  }
  const double sr = SampleRate, ref = RefFreq;
  double amp = std::sqrt(re * re + im * im) / 32768;
  if (HalfStep) amp *= std::sqrt((bin + 1) * sr / N() / ref);
  const double tilt = sr / (2 * std::numbers::pi * ref);
  if (Input.Order == 1) amp *= tilt;
  if (Input.Order == 2) amp *= tilt * tilt;
  if (amp != 0 && peak_.Height > 0) {
    peak_.Amplitude = static_cast<float>(amp);
    peak_.Level = static_cast<float>(20 * std::log10(amp));
    peak_.Freq = static_cast<float>(PeakFrequency(bin));
  } else {
    peak_.Amplitude = 0;
    peak_.Level = -100;
    peak_.Freq = 0;
  }
  return peak_;
}

void TMMSpectrumCore::HoldPeak(TDrawVal& r, int c) const {
  if (c >= r.Peak.load(std::memory_order_relaxed) && c > 0 &&
      NumPeaks.load(std::memory_order_relaxed) > 0) {
    r.Peak.store(c, std::memory_order_relaxed);
    r.Hold.store(2 * PeakDelay + 1, std::memory_order_relaxed);
  }
}

void TMMSpectrumCore::PeakTick() {
  if (NumPeaks.load(std::memory_order_relaxed) < 1 || !draw_) return;
  const int speed = PeakSpeed.load(std::memory_order_relaxed);
  // Every record: the list's end moves on the GUI thread, and unused records hold no peak.
  for (int i = 0; i <= w_; ++i) {
    TDrawVal& r = draw_[i];
    if (r.Peak.load(std::memory_order_relaxed) <= 0) continue;
    if (r.Hold.fetch_sub(1, std::memory_order_relaxed) - 1 > 0) continue;
    if (speed == 0) {
      r.Peak.store(0, std::memory_order_relaxed);
      r.Hold.store(0, std::memory_order_relaxed);
    } else {
      r.Peak.fetch_sub(1, std::memory_order_relaxed);
      r.Hold.store(speed, std::memory_order_relaxed);
    }
  }
}
