#include "mmspectrumcore.h"

#include <immintrin.h>

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

TMMSpectrumInput::TMMSpectrumInput()
    : window_(kSpectrumMaxFFT), window16_(kSpectrumMaxFFT), values_(kSpectrumMaxFFT) {
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
  // A window value is at most 1.0 (32,767) in size, so the one-pass layouts multiply in 16 bits.
  std::transform(window_.begin(), window_.begin() + n_, window16_.begin(),
                 [](int32_t x) { return static_cast<int16_t>(std::clamp(x, -32767, 32767)); });
}

int64_t TMMSpectrumInput::SliceBytes() const { return int64_t{Bits + 1} * Channels * n_; }

namespace {

// The C library's string routines and the toolkit may leave the upper halves of the vector
// registers in use; on some processors SSE code then runs at a fraction of its speed (each
// instruction waits to merge the halves) until they are cleared. Cleared before each stage.
__attribute__((target("avx"))) void ClearUpperHalvesAvx() { _mm256_zeroupper(); }
void ClearUpperHalves() {
  static const bool avx = __builtin_cpu_supports("avx") != 0;
  if (avx) ClearUpperHalvesAvx();
}

}  // namespace

namespace {

// The input value of every sample position, and how many reached `limit`. One loop per layout,
// so that each runs without a branch per sample.
template <bool Wide>
int32_t Sample(const uint8_t* p, int k) {
  if constexpr (Wide) {
    int16_t s;
    std::memcpy(&s, p + 2 * k, 2);
    return s;
  } else {
    return p[k];
  }
}

template <bool Wide>
int Pick(const uint8_t* slice, int n, int frame, int offset, int32_t limit, int32_t* out) {
  int overflows = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t v = Sample<Wide>(slice, i * frame + offset);
    overflows += v >= limit;
    out[i] = v;
  }
  return overflows;
}

template <bool Wide>
int Mean(const uint8_t* slice, int n, int frame, int32_t limit, int32_t* out) {
  int overflows = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t l = Sample<Wide>(slice, i * frame), r = Sample<Wide>(slice, i * frame + 1);
    const int32_t v = Wide ? (l + r) / 2 : (l + r) >> 1;
    overflows += v >= limit;
    out[i] = v;
  }
  return overflows;
}

// x = Trunc(d × w / 2^shift) as a float. The product is below 2^33 and the divisor a power of
// two, so in doubles every step is exact: the same value as the 64-bit integer quotient.
void Window(const int32_t* d, const int32_t* w, int n, int shift, float* x) {
  const double scale = std::ldexp(1.0, -shift);
  int i = 0;
  const __m128d s = _mm_set1_pd(scale);
  for (; i + 4 <= n; i += 4) {
    const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i wv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i));
    const __m128d lo = _mm_mul_pd(_mm_mul_pd(_mm_cvtepi32_pd(dv), _mm_cvtepi32_pd(wv)), s);
    const __m128d hi = _mm_mul_pd(
        _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(dv, 8)), _mm_cvtepi32_pd(_mm_srli_si128(wv, 8))),
        s);
    // |quotient| < 2^18: the truncating conversion to 32 bits holds it.
    const __m128i q = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
    _mm_storeu_ps(x + i, _mm_cvtepi32_ps(q));
  }
  for (; i < n; ++i) x[i] = static_cast<float>(static_cast<int32_t>(double(d[i]) * w[i] * scale));
}

// out[i] = x[i] × scale, cut toward zero and saturated to 16 bits.
void ToInt16(const float* x, int n, float scale, int16_t* out) {
  int i = 0;
  const __m128 s = _mm_set1_ps(scale), lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
  for (; i + 8 <= n; i += 8) {
    const __m128 a = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(x + i), s), lo), hi);
    const __m128 b = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(x + i + 4), s), lo), hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_packs_epi32(_mm_cvttps_epi32(a), _mm_cvttps_epi32(b)));
  }
  for (; i < n; ++i) out[i] = Saturate16(x[i] * scale);
}

// The undifferenced 16-bit (or centred 8-bit) layouts in one pass, eight positions at a time:
// `load` gives eight input values as 16 bits and adds a full-scale mark per value to `count`;
// then x = Trunc(v × w / 2^shift), exact in 32 bits since both factors fit 16. Answers the number
// of full-scale values.
template <class Load>
int WindowSmall(int n, const int16_t* w16, int shift, Load load, float* x) {
  __m128i count = _mm_setzero_si128();
  const __m128i below = _mm_set1_epi32((1 << shift) - 1);
  auto store = [&](__m128i p, float* to) {
    // Cut toward zero: a negative product is raised by divisor − 1 before the shift.
    const __m128i q =
        _mm_srai_epi32(_mm_add_epi32(p, _mm_and_si128(_mm_srai_epi32(p, 31), below)), shift);
    _mm_storeu_ps(to, _mm_cvtepi32_ps(q));
  };
  for (int i = 0; i < n; i += 8) {
    const __m128i v = load(i, count);
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w16 + i));
    const __m128i lo = _mm_mullo_epi16(v, w), hi = _mm_mulhi_epi16(v, w);
    store(_mm_unpacklo_epi16(lo, hi), x + i);
    store(_mm_unpackhi_epi16(lo, hi), x + i + 4);
  }
  const __m128i sums = _mm_madd_epi16(count, _mm_set1_epi16(-1));
  alignas(16) int32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sums);
  return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

// Counts lanes of `v` (16 bits) at or above `limit` into `count` (as −1 per mark).
inline void Mark(__m128i v, int16_t limit, __m128i& count) {
  count = _mm_add_epi16(count, _mm_cmpgt_epi16(v, _mm_set1_epi16(static_cast<int16_t>(limit - 1))));
}

inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

int TMMSpectrumInput::Transform(const uint8_t* slice, int16_t* out) {
  ClearUpperHalves();
  const int n = n_;
  const bool wide = Bits == b16Bit;
  const int frame = Channels < 2 ? 1 : Channels;
  const bool both = frame > 1 && Channel == chBoth;
  // The mean of two channels is one step below full scale at most, unless differenced twice.
  const int32_t limit = !wide ? 255 : both && Order < 2 ? 32766 : 32767;
  int32_t* v = values_.data();
  const int offset = frame > 1 && Channel == chRight ? 1 : 0;
  const int16_t lim = static_cast<int16_t>(limit);
  int fast = -1;  // full-scale count of a layout done in one pass
  if (Order == 0 && wide && frame == 1) {
    fast = WindowSmall(
        n, window16_.data(), 15,
        [&](int i, __m128i& count) {
          const __m128i x = Load128(slice + 2 * i);
          Mark(x, lim, count);
          return x;
        },
        work_.data());
  } else if (Order == 0 && wide && frame == 2) {
    fast = WindowSmall(
        n, window16_.data(), 15,
        [&](int i, __m128i& count) {
          const __m128i a = Load128(slice + 4 * i), b = Load128(slice + 4 * i + 16);
          // Left samples are the low halves of each 32-bit pair, right ones the high halves.
          const __m128i la = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16), ra = _mm_srai_epi32(a, 16);
          const __m128i lb = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16), rb = _mm_srai_epi32(b, 16);
          __m128i x;
          if (both) {
            // (L + R) / 2 cut toward zero.
            auto mean = [](__m128i l, __m128i r) {
              const __m128i sum = _mm_add_epi32(l, r);
              return _mm_srai_epi32(_mm_add_epi32(sum, _mm_srli_epi32(sum, 31)), 1);
            };
            x = _mm_packs_epi32(mean(la, ra), mean(lb, rb));
          } else {
            x = offset ? _mm_packs_epi32(ra, rb) : _mm_packs_epi32(la, lb);
          }
          Mark(x, lim, count);
          return x;
        },
        work_.data());
  } else if (Order == 0 && !wide && frame == 1) {
    fast = WindowSmall(
        n, window16_.data(), 7,
        [&](int i, __m128i& count) {
          const __m128i x = _mm_unpacklo_epi8(
              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(slice + i)), _mm_setzero_si128());
          Mark(x, lim, count);
          return _mm_sub_epi16(x, _mm_set1_epi16(128));
        },
        work_.data());
  }
  if (fast >= 0) {
    DoRealFFT(plan_.get(), work_.data(), 1);
    ToInt16(work_.data(), n, 2.0f / n, out);
    return fast;
  }
  const int overflows =
      both ? (wide ? Mean<true>(slice, n, frame, limit, v) : Mean<false>(slice, n, frame, limit, v))
           : (wide ? Pick<true>(slice, n, frame, offset, limit, v)
                   : Pick<false>(slice, n, frame, offset, limit, v));
  // The tilt, in place from the end: both previous values start at the first one, so the first
  // differences are 0. 8-bit data without differencing is centred on 128.
  if (Order == 1) {
    for (int i = n - 1; i > 0; --i) v[i] -= v[i - 1];
    v[0] = 0;
  } else if (Order == 2) {
    for (int i = n - 1; i > 1; --i) v[i] += v[i - 2] - 2 * v[i - 1];
    v[1] -= v[0];
    v[0] = 0;
  } else if (!wide) {
    for (int i = 0; i < n; ++i) v[i] -= 128;
  }
  // The window: d × w / 32,768 (8-bit data: / 128, so scaled by 256) cut toward zero.
  Window(v, window_.data(), n, wide ? 15 : 7, work_.data());
  DoRealFFT(plan_.get(), work_.data(), 1);
  // n is a power of two, so the reciprocal is exact and the product equals the quotient.
  ToInt16(work_.data(), n, 2.0f / n, out);
  return overflows;
}

// ---- the analyser's arithmetic ---------------------------------------------------------------

TMMSpectrumCore::TMMSpectrumCore()
    : fft_(kSpectrumMaxFFT),
      given_(kSpectrumMaxBins),
      mag_(kSpectrumMaxBins),
      roots_(kSpectrumMaxBins),
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

namespace {

// Scales below this keep Trunc(√power × scale) within 32 bits for every 16-bit bin.
constexpr double kVectorScaleLimit = 46000;

// out[j] = Trunc(√(re² + im²) × scale) for bins 1 .. bins − 1 of FFT data, four at a time (bin 0
// is the caller's). pmaddwd gives the power as 32 bits, unsigned for the one sum that reaches
// 2^31; in doubles the root and the product round exactly as the scalar expression does.
void LinearMagnitudes(const int16_t* fft, int bins, double scale, int32_t* out) {
  const __m128d s = _mm_set1_pd(scale), two32 = _mm_set1_pd(4294967296.0), zero = _mm_setzero_pd();
  auto root = [&](__m128d m) {
    m = _mm_add_pd(m, _mm_and_pd(_mm_cmplt_pd(m, zero), two32));
    return _mm_cvttpd_epi32(_mm_mul_pd(_mm_sqrt_pd(m), s));
  };
  int j = 1;
  for (; j + 4 <= bins; j += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fft + 2 * j));
    const __m128i p = _mm_madd_epi16(v, v);
    const __m128i lo = root(_mm_cvtepi32_pd(p));
    const __m128i hi = root(_mm_cvtepi32_pd(_mm_srli_si128(p, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_unpacklo_epi64(lo, hi));
  }
  for (; j < bins; ++j) {
    const double m = static_cast<double>(SpectrumPower(fft[2 * j], fft[2 * j + 1]));
    out[j] = static_cast<int32_t>(std::sqrt(m) * scale);
  }
}

// The same with four bins per root (the same roundings, so the same values), where the
// processor has AVX2.
__attribute__((target("avx2"))) void LinearMagnitudesAvx2(const int16_t* fft, int bins,
                                                          double scale, int32_t* out) {
  const __m256d s = _mm256_set1_pd(scale), two32 = _mm256_set1_pd(4294967296.0);
  const __m256d zero = _mm256_setzero_pd();
  int j = 1;
  for (; j + 4 <= bins; j += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fft + 2 * j));
    __m256d m = _mm256_cvtepi32_pd(_mm_madd_epi16(v, v));
    m = _mm256_add_pd(m, _mm256_and_pd(_mm256_cmp_pd(m, zero, _CMP_LT_OQ), two32));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j),
                     _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_sqrt_pd(m), s)));
  }
  _mm256_zeroupper();
  LinearMagnitudes(fft + 2 * (j - 1), bins - (j - 1), scale, out + (j - 1));
}

void RootMagnitudes(const int16_t* fft, int bins, double scale, int32_t* out) {
  static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
  if (avx2) {
    LinearMagnitudesAvx2(fft, bins, scale, out);
  } else {
    LinearMagnitudes(fft, bins, scale, out);
  }
}

}  // namespace

void TMMSpectrumCore::CalcMagnitude(bool given) {
  ClearUpperHalves();
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
  auto linear = [&](int j) {
    return static_cast<int64_t>(std::sqrt(double(power(j))) * MagnitudeScale);
  };
  // The roots of transformed data, all bins at once (into the magnitudes when nothing smooths
  // them).
  const bool vector = !given && std::abs(MagnitudeScale) < kVectorScaleLimit;
  int32_t* roots = decay_mode_ == dmNone ? mag_.data() : roots_.data();
  if (vector) {
    roots[0] = static_cast<int32_t>(linear(0));
    RootMagnitudes(fft_.data(), bins, MagnitudeScale, roots);
    if (decay_mode_ == dmNone) return;
  }
  int32_t* hist = history_.data() + static_cast<size_t>(ring_) * kSpectrumMaxBins;
  const float f = static_cast<float>(decay_factor_);
  for (int j = 0; j < bins; ++j) {
    int64_t g = vector ? roots[j] : linear(j);
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
  const int w = w_, h = h_, shift = shift_;
  // Local views: the records' stores could otherwise alias the tables and force reloads.
  const int32_t* firsts = first_.data();
  const int32_t* ends = end_.data();
  const int32_t* mags = mag_.data();
  const int32_t* mults = mult_.data();
  TDrawVal* draw = draw_.get();
  int overflows = 0;
  int rec = -1;
  int32_t peak_height = 0;
  int peak_bin = 0, peak_column = 0;
  const bool log_linear = LogAmp && decay_mode_ != dmNone;
  for (int i = 0; i < w; ++i) {
    const int first = firsts[i];
    if (first == -1) continue;
    if (rec >= 0) draw[rec].End = i;
    TDrawVal& r = draw[++rec];
    r.First = i;
    const int last = ends[i] > 0 ? ends[i] : first + 1;
    int32_t a = mags[first];
    int bin = first;
    for (int j = first + 1; j < last; ++j) {
      const int32_t m = mags[j];
      bin = m > a ? j : bin;
      a = m > a ? m : a;
    }
    int64_t v = 0;
    if (a >= 1) {
      if (log_linear) {
        v = static_cast<int64_t>(
            std::trunc((2 * std::log(a / 16.0) * kLogK - offset_[bin]) * pix_));
      } else {
        // The product of a 32-bit magnitude and a multiplier needs 64 bits.
        v = (int64_t{a} * mults[i]) >> shift;
      }
    }
    const int32_t value = Saturate32(v);
    r.Value = value;
    if (value > peak_height) {
      peak_height = value;
      peak_column = i;
      // The strongest bin itself, not the column's first: a wide column spans many bins.
      peak_bin = bin;
    }
    overflows += value >= h;
  }
  if (rec >= 0) draw[rec].End = w;
  draw[rec + 1].First = -1;
  peak_.Height = peak_height;
  peak_.Bin = peak_bin;
  peak_.Column = peak_column;
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
