#include "mmfft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vant::fft {

namespace {

// Twiddles are computed per index in long double, not by rotation, so large orders keep full
// single precision.
void Twiddle(long double angle, float& re, float& im) {
  re = static_cast<float>(std::cos(angle));
  im = static_cast<float>(-std::sin(angle));
}

}  // namespace

SplitKernel::SplitKernel(int order) : size_(1 << order), work_(4 * static_cast<size_t>(size_)) {
  for (int n = size_; n >= 4; n /= 4) {
    const int q = n / 4;
    const size_t base = twiddles_.size();
    twiddles_.resize(base + 6 * static_cast<size_t>(q));
    float* t = twiddles_.data() + base;
    for (int p = 0; p < q; ++p) {
      const long double theta = 2.0L * std::numbers::pi_v<long double> * p / n;
      Twiddle(theta, t[p], t[q + p]);
      Twiddle(2 * theta, t[2 * q + p], t[3 * q + p]);
      Twiddle(3 * theta, t[4 * q + p], t[5 * q + p]);
    }
  }
}

namespace {

// Four floats moved as one; buffers carry no alignment promise, so loads and stores go through
// memcpy, which compiles to unaligned vector moves.
typedef float V4 __attribute__((vector_size(16)));
inline V4 Load(const float* p) {
  V4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store(float* p, V4 v) { std::memcpy(p, &v, sizeof v); }

// One radix-4 butterfly on four lanes: inputs a..d at quarter distances, outputs t0..t3 after
// the twiddles w1..w3.
struct Quad {
  V4 r[4], i[4];
};
inline Quad Butterfly(const Quad& x, V4 w1r, V4 w1i, V4 w2r, V4 w2i, V4 w3r, V4 w3i) {
  const V4 apcr = x.r[0] + x.r[2], apci = x.i[0] + x.i[2];
  const V4 amcr = x.r[0] - x.r[2], amci = x.i[0] - x.i[2];
  const V4 bpdr = x.r[1] + x.r[3], bpdi = x.i[1] + x.i[3];
  // -i·(b − d): the forward quarter turn.
  const V4 jr = x.i[1] - x.i[3], ji = x.r[3] - x.r[1];
  const V4 t1r = amcr + jr, t1i = amci + ji;
  const V4 t2r = apcr - bpdr, t2i = apci - bpdi;
  const V4 t3r = amcr - jr, t3i = amci - ji;
  Quad y;
  y.r[0] = apcr + bpdr;
  y.i[0] = apci + bpdi;
  y.r[1] = t1r * w1r - t1i * w1i;
  y.i[1] = t1r * w1i + t1i * w1r;
  y.r[2] = t2r * w2r - t2i * w2i;
  y.i[2] = t2r * w2i + t2i * w2r;
  y.r[3] = t3r * w3r - t3i * w3i;
  y.i[3] = t3r * w3i + t3i * w3r;
  return y;
}

inline void Transpose(V4 (&v)[4]) {
  const V4 t0 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
  const V4 t1 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
  const V4 t2 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
  const V4 t3 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
  v[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  v[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  v[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  v[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// One Stockham radix-4 stage: length n, stride s, s·n/4 = size/4. Input element p·s + q of
// each quarter goes to 4·p·s + k·s + q, so the output is in natural order after the last stage
// and no bit reversal is needed. Needs size ≥ 16.
void Radix4Stage(int size, int n, int s, const float* tw, const float* xr, const float* xi,
                 float* yr, float* yi) {
  const int q4 = n / 4;
  const int quarter = size / 4;
  const float* w = tw;
  auto load = [&](int in) {
    Quad x;
    for (int k = 0; k < 4; ++k) {
      x.r[k] = Load(xr + in + k * quarter);
      x.i[k] = Load(xi + in + k * quarter);
    }
    return x;
  };
  if (s == 1) {
    // Four consecutive p at once; their outputs interleave by four, hence the transpose.
    for (int p = 0; p < q4; p += 4) {
      Quad y = Butterfly(load(p), Load(w + p), Load(w + q4 + p), Load(w + 2 * q4 + p),
                         Load(w + 3 * q4 + p), Load(w + 4 * q4 + p), Load(w + 5 * q4 + p));
      Transpose(y.r);
      Transpose(y.i);
      for (int k = 0; k < 4; ++k) {
        Store(yr + 4 * (p + k), y.r[k]);
        Store(yi + 4 * (p + k), y.i[k]);
      }
    }
    return;
  }
  for (int p = 0; p < q4; ++p) {
    const V4 w1r = V4{} + w[p], w1i = V4{} + w[q4 + p], w2r = V4{} + w[2 * q4 + p],
             w2i = V4{} + w[3 * q4 + p], w3r = V4{} + w[4 * q4 + p], w3i = V4{} + w[5 * q4 + p];
    const int in = s * p, out = 4 * s * p;
    for (int q = 0; q < s; q += 4) {
      const Quad y = Butterfly(load(in + q), w1r, w1i, w2r, w2i, w3r, w3i);
      for (int k = 0; k < 4; ++k) {
        Store(yr + out + k * s + q, y.r[k]);
        Store(yi + out + k * s + q, y.i[k]);
      }
    }
  }
}

// The same stage one value at a time, for transforms too small for four lanes.
void Radix4StageScalar(int size, int n, int s, const float* tw, const float* xr, const float* xi,
                       float* yr, float* yi) {
  const int q4 = n / 4;
  const int quarter = size / 4;
  for (int p = 0; p < q4; ++p) {
    for (int q = 0; q < s; ++q) {
      const int in = s * p + q, out = 4 * s * p + q;
      Quad x;
      for (int k = 0; k < 4; ++k) {
        x.r[k] = V4{} + xr[in + k * quarter];
        x.i[k] = V4{} + xi[in + k * quarter];
      }
      const Quad y = Butterfly(x, V4{} + tw[p], V4{} + tw[q4 + p], V4{} + tw[2 * q4 + p],
                               V4{} + tw[3 * q4 + p], V4{} + tw[4 * q4 + p], V4{} + tw[5 * q4 + p]);
      for (int k = 0; k < 4; ++k) {
        yr[out + k * s] = y.r[k][0];
        yi[out + k * s] = y.i[k][0];
      }
    }
  }
}

inline void Radix2Last(int size, const float* __restrict xr, const float* __restrict xi,
                       float* __restrict yr, float* __restrict yi) {
  const int half = size / 2;
  for (int q = 0; q < half; ++q) {
    const float ar = xr[q], ai = xi[q], br = xr[q + half], bi = xi[q + half];
    yr[q] = ar + br;
    yi[q] = ai + bi;
    yr[q + half] = ar - br;
    yi[q + half] = ai - bi;
  }
}

}  // namespace

void SplitKernel::Forward(float* re, float* im) {
  float* bufR[2] = {re, work_.data() + 2 * static_cast<size_t>(size_)};
  float* bufI[2] = {im, work_.data() + 3 * static_cast<size_t>(size_)};
  int cur = 0;
  const float* tw = twiddles_.data();
  int n = size_, s = 1;
  for (; n >= 4; n /= 4, s *= 4) {
    // Every stage has s a power of 4 and n/4 ≥ 4 or s ≥ 4 once the size reaches 16.
    if (size_ >= 16) {
      Radix4Stage(size_, n, s, tw, bufR[cur], bufI[cur], bufR[1 - cur], bufI[1 - cur]);
    } else {
      Radix4StageScalar(size_, n, s, tw, bufR[cur], bufI[cur], bufR[1 - cur], bufI[1 - cur]);
    }
    tw += 6 * (n / 4);
    cur = 1 - cur;
  }
  if (n == 2) {
    Radix2Last(size_, bufR[cur], bufI[cur], bufR[1 - cur], bufI[1 - cur]);
    cur = 1 - cur;
  }
  if (cur != 0) {
    std::memcpy(re, bufR[cur], sizeof(float) * size_);
    std::memcpy(im, bufI[cur], sizeof(float) * size_);
  }
}

}  // namespace vant::fft

using vant::fft::SplitKernel;

namespace {

bool ValidOrder(int order) { return order >= kFFTMinOrder && order <= kFFTMaxOrder; }

void Negate(float* v, int n) {
  for (int i = 0; i < n; ++i) v[i] = -v[i];
}

void Scale(float* v, int n, float f) {
  for (int i = 0; i < n; ++i) v[i] *= f;
}

// The inverse through the forward kernel: conj(F(conj(x))).
void CplxSplit(SplitKernel& k, float* re, float* im, bool inverse) {
  if (inverse) Negate(im, k.Size());
  k.Forward(re, im);
  if (inverse) Negate(im, k.Size());
}

}  // namespace

std::unique_ptr<TFFTCplx> InitCplxFFT(int order) {
  if (!ValidOrder(order)) return nullptr;
  auto plan = std::make_unique<TFFTCplx>();
  plan->Order = order;
  plan->Size = 1 << order;
  plan->InvSize = 1.0f / static_cast<float>(plan->Size);
  plan->Kernel = std::make_unique<SplitKernel>(order);
  return plan;
}

std::unique_ptr<TFFTReal> InitRealFFT(int order) {
  if (!ValidOrder(order)) return nullptr;
  auto plan = std::make_unique<TFFTReal>();
  plan->Order = order;
  plan->Size = 1 << order;
  plan->InvSize = 1.0f / static_cast<float>(plan->Size);
  plan->Kernel = std::make_unique<SplitKernel>(order - 1);
  const int half = plan->Size / 2;
  plan->Twiddle.resize(2 * static_cast<size_t>(half));
  for (int k = 0; k < half; ++k) {
    const long double theta = 2.0L * std::numbers::pi_v<long double> * k / plan->Size;
    plan->Twiddle[2 * k] = static_cast<float>(std::cos(theta));
    plan->Twiddle[2 * k + 1] = static_cast<float>(-std::sin(theta));
  }
  return plan;
}

void DoneCplxFFT(std::unique_ptr<TFFTCplx>& plan) { plan.reset(); }
void DoneRealFFT(std::unique_ptr<TFFTReal>& plan) { plan.reset(); }

void DoCplxFFTa(TFFTCplx* plan, float* re, float* im, int direction) {
  if (plan == nullptr || re == nullptr || im == nullptr) return;
  CplxSplit(*plan->Kernel, re, im, direction < 0);
  if (direction < 0) {
    Scale(re, plan->Size, plan->InvSize);
    Scale(im, plan->Size, plan->InvSize);
  }
}

void DoCplxFFTb(TFFTCplx* plan, TfCplx* data, int direction) {
  if (plan == nullptr || data == nullptr) return;
  SplitKernel& k = *plan->Kernel;
  float* re = k.WorkRe();
  float* im = k.WorkIm();
  const int n = plan->Size;
  const float f = direction < 0 ? plan->InvSize : 1.0f;
  for (int i = 0; i < n; ++i) {
    re[i] = data[i].re;
    im[i] = data[i].im;
  }
  CplxSplit(k, re, im, direction < 0);
  for (int i = 0; i < n; ++i) data[i] = TfCplx{re[i] * f, im[i] * f};
}

void DoRealFFT(TFFTReal* plan, float* data, int direction) {
  if (plan == nullptr || data == nullptr) return;
  SplitKernel& k = *plan->Kernel;
  const int half = plan->Size / 2;
  float* zr = k.WorkRe();
  float* zi = k.WorkIm();
  const float* w = plan->Twiddle.data();
  if (direction >= 0) {
    // The even samples as real parts and the odd ones as imaginary parts of a half-size
    // transform, then each bin untangled from its mirror.
    for (int n = 0; n < half; ++n) {
      zr[n] = data[2 * n];
      zi[n] = data[2 * n + 1];
    }
    k.Forward(zr, zi);
    const float dc = zr[0] + zi[0];
    for (int b = 1; b < half; ++b) {
      const float ar = zr[b], ai = zi[b], br = zr[half - b], bi = zi[half - b];
      const float er = 0.5f * (ar + br), ei = 0.5f * (ai - bi);
      const float orr = 0.5f * (ai + bi), oi = 0.5f * (br - ar);
      const float c = w[2 * b], s = w[2 * b + 1];
      data[2 * b] = er + c * orr - s * oi;
      data[2 * b + 1] = ei + c * oi + s * orr;
    }
    data[0] = dc;
    data[1] = 0.0f;
    return;
  }
  // Inverse: rebuild the half-size spectrum Z[k] = (X[k] + conj(X[M−k])) + i·conj(W^k)·
  // (X[k] − conj(X[M−k])), transform back and scale by 1/N.
  const float x0 = data[0], nyquist = data[1];
  zr[0] = x0 + nyquist;
  zi[0] = x0 - nyquist;
  for (int b = 1; b < half; ++b) {
    const float ar = data[2 * b], ai = data[2 * b + 1];
    const float br = data[2 * (half - b)], bi = data[2 * (half - b) + 1];
    const float er = ar + br, ei = ai - bi;       // X[k] + conj(X[M−k])
    const float dr = ar - br, di = ai + bi;       // X[k] − conj(X[M−k])
    const float c = w[2 * b], s = -w[2 * b + 1];  // conj(W^k) = (cos, +sin)
    const float orr = dr * c - di * s, oi = dr * s + di * c;
    zr[b] = er - oi;  // + i·O
    zi[b] = ei + orr;
  }
  CplxSplit(k, zr, zi, true);
  const float f = plan->InvSize;
  for (int n = 0; n < half; ++n) {
    data[2 * n] = zr[n] * f;
    data[2 * n + 1] = zi[n] * f;
  }
}

void GenBitRevTable(uint32_t* table, int order) {
  if (table == nullptr || order < 0 || order > 31) return;
  const uint32_t n = uint32_t{1} << order;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t r = 0;
    for (int b = 0; b < order; ++b) r |= ((i >> b) & 1u) << (order - 1 - b);
    table[i] = r;
  }
}

float CalcWindowFunc(TMMFFTWindow window, int i, int n) {
  using L = long double;
  const L c = 2.0L * i - n;
  const L d = c / (n + 1.0L);
  const L e = n != 0 ? 2.0L * std::numbers::pi_v<L> * i / n : 0.0L;
  L w = 1.0L;
  switch (window) {
    case fwHamming:
      w = 0.54L - 0.46L * std::cos(e);
      break;
    case fwHanning:
      w = 0.5L - 0.5L * std::cos(e);
      break;
    case fwBlackman:
      w = 0.42L - 0.5L * std::cos(e) + 0.08L * std::cos(2 * e);
      break;
    case fwGaussian:
      w = n != 0 ? std::exp(-5.0L * c * c / (L(n) * n)) : 1.0L;
      break;
    case fwWelch:
      w = 1.0L - d * d;
      break;
    case fwParzen:
      w = 1.0L - std::fabs(d);
      break;
    case fwRectangular:
    default:
      break;
  }
  return static_cast<float>(w);
}

void GenWindowTableInt(int32_t* table, TMMFFTWindow window, int order) {
  if (table == nullptr || order < 0 || order > 30) return;
  const int n = 1 << order;
  for (int i = 0; i < n; ++i) {
    table[i] = static_cast<int32_t>(std::floor(CalcWindowFunc(window, i, n) * 32767.0 + 0.5));
  }
}

void GenWindowTableFloat(float* table, TMMFFTWindow window, int order) {
  if (table == nullptr || order < 0 || order > 30) return;
  const int n = 1 << order;
  for (int i = 0; i < n; ++i) table[i] = CalcWindowFunc(window, i, n);
}

void CalcWindowInt(int32_t* data, TMMFFTWindow window, int order) {
  if (data == nullptr || order < 0 || order > 30) return;
  const int n = 1 << order;
  for (int i = 0; i < n; ++i) {
    data[i] = static_cast<int32_t>(std::trunc(double{CalcWindowFunc(window, i, n)} * data[i]));
  }
}

void CalcWindowFloat(float* data, TMMFFTWindow window, int order) {
  if (data == nullptr || order < 0 || order > 30) return;
  const int n = 1 << order;
  for (int i = 0; i < n; ++i) data[i] *= CalcWindowFunc(window, i, n);
}
