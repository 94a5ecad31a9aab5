#include "g32_transforms.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "g32_packed.h"

namespace g32 {
namespace {

void ValidateBitmaps(const TBitmap32* Dst, const TBitmap32* Src) {
  if (!Dst || Dst->Empty()) throw ETransformError("Destination bitmap is nil or empty");
  if (!Src || Src->Empty()) throw ETransformError("Source bitmap is nil or empty");
}

// The handler to call for each pixel, or none when the mode does not use one.
TDrawMode EffectiveMode(TDrawMode mode, const TPixelCombineEvent& handler) {
  return mode == dmCustom && !handler ? dmOpaque : mode;
}

}  // namespace

void BlockTransfer(TBitmap32* Dst, int DstX, int DstY, const TBitmap32* Src, TRect SrcRect,
                   TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
  ValidateBitmaps(Dst, Src);
  const TDrawMode mode = EffectiveMode(CombineOp, CombineCallBack);
  const uint32_t masterAlpha = Src->GetMasterAlpha();
  if (mode == dmBlend && masterAlpha == 0) return;

  TRect src = IntersectRect(SrcRect, Src->BoundsRect());
  if (IsRectEmpty(src)) return;
  const int64_t dx = int64_t(DstX) - SrcRect.Left, dy = int64_t(DstY) - SrcRect.Top;
  TRect moved{int(std::clamp<int64_t>(src.Left + dx, INT32_MIN, INT32_MAX)),
              int(std::clamp<int64_t>(src.Top + dy, INT32_MIN, INT32_MAX)),
              int(std::clamp<int64_t>(src.Right + dx, INT32_MIN, INT32_MAX)),
              int(std::clamp<int64_t>(src.Bottom + dy, INT32_MIN, INT32_MAX))};
  TRect dst = IntersectRect(moved, Dst->BoundsRect());
  if (IsRectEmpty(dst)) return;
  const int sx = int(dst.Left - dx), sy0 = int(dst.Top - dy), w = dst.Width();

  // Within one bitmap, rows moving down are copied from the bottom up, as a blit does.
  const bool upwards = Src == Dst && dst.Top > sy0;
  for (int k = 0; k < dst.Height(); ++k) {
    const int y = upwards ? dst.Bottom - 1 - k : dst.Top + k;
    const TColor32* s = Src->GetScanLine(sy0 + (y - dst.Top)) + sx;
    TColor32* d = Dst->GetScanLine(y) + dst.Left;
    switch (mode) {
      case dmOpaque:
        std::memmove(d, s, size_t(w) * 4);
        break;
      case dmBlend:
        if (masterAlpha >= 255)
          BlendLine(s, d, w);
        else
          BlendLineEx(s, d, w, masterAlpha);
        break;
      case dmCustom:
        for (int x = 0; x < w; ++x) CombineCallBack(s[x], d[x], masterAlpha);
        break;
    }
  }
  EMMS();
}

// ---- Stretching ----------------------------------------------------------------------------
namespace {

struct Axis {
  int srcStart, srcSize;   // SrcRect's start and size along the axis
  int dstStart, dstSize;   // DstRect's
  int clipStart, clipEnd;  // the clipped destination span
};

// Source offsets (16.16 from the source start) of the clipped destination pixels: the clipped
// start is offset x step in 64 bits, so clipping never moves a sample.
std::vector<int64_t> Positions(const Axis& a, int64_t step) {
  std::vector<int64_t> p(size_t(a.clipEnd - a.clipStart));
  int64_t pos = int64_t(a.clipStart - a.dstStart) * step;
  for (auto& v : p) {
    v = pos;
    pos += step;
  }
  return p;
}

void Emit(TDrawMode mode, TColor32 c, TColor32& d, uint32_t ma, const TPixelCombineEvent& h) {
  switch (mode) {
    case dmOpaque:
      d = c;
      break;
    case dmBlend:
      if (ma < 255)
        BlendMemEx(c, d, ma);
      else
        BlendMem(c, d);
      break;
    case dmCustom:
      h(c, d, ma);
      break;
  }
}

void StretchNearest(TBitmap32* Dst, const TBitmap32* Src, const Axis& ax, const Axis& ay,
                    TDrawMode mode, const TPixelCombineEvent& h) {
  const uint32_t ma = Src->GetMasterAlpha();
  if (mode == dmBlend && ma == 0) return;
  auto xs = Positions(ax, (int64_t(ax.srcSize) << 16) / ax.dstSize);
  auto ys = Positions(ay, (int64_t(ay.srcSize) << 16) / ay.dstSize);
  std::vector<int> cols(xs.size());
  for (size_t i = 0; i < xs.size(); ++i) cols[i] = ax.srcStart + int(xs[i] >> 16);
  for (size_t j = 0; j < ys.size(); ++j) {
    const TColor32* s = Src->GetScanLine(ay.srcStart + int(ys[j] >> 16));
    TColor32* d = Dst->GetScanLine(ay.clipStart + int(j)) + ax.clipStart;
    if (mode == dmOpaque) {
      for (size_t i = 0; i < cols.size(); ++i) d[i] = s[cols[i]];
    } else {
      for (size_t i = 0; i < cols.size(); ++i) Emit(mode, s[cols[i]], d[i], ma, h);
    }
  }
}

// The packed CombineReg twice, inline: mix([a0, a1], [b0, b1], w1) per pair, then the two
// results mixed with w2. Exactly the bound kernel's arithmetic, without three calls per pixel.
inline TColor32 PackedBilerp(TColor32 a0, TColor32 a1, TColor32 b0, TColor32 b1, TColor32 w1,
                             TColor32 w2) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = _mm_unpacklo_epi8(
      _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(a0)), _mm_cvtsi32_si128(int(a1))), zero);
  __m128i b = _mm_unpacklo_epi8(
      _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(b0)), _mm_cvtsi32_si128(int(b1))), zero);
  __m128i m = detail::MixLanes(a, b, _mm_set1_epi16(short(w1)));
  __m128i hi = _mm_unpackhi_epi64(m, m);
  __m128i r = detail::MixLanes(m, hi, _mm_set1_epi16(short(w2)));
  return TColor32(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
}

// Rows first with the packed rule: the vertical mix of every source column of the span once per
// destination row (four at a time), then each destination pixel mixes its two neighbouring
// columns, two pixels per register. `v` holds columns first..last and a copy of the last, so the
// pair at the right edge repeats it.
void PackedLinearRow(const TColor32* up, const TColor32* lo, TColor32 wy, int first, int last,
                     const int* c0, const uint64_t* wx4, size_t n, TColor32* v, TColor32* out) {
  const int count = last - first + 1;
  const __m128i w = _mm_set1_epi16(short(wy));
  const __m128i zero = _mm_setzero_si128();
  if (size_t(count) > 2 * n) {
    // Reducing: mix only the two columns each pixel reads (always c0 and c0 + 1 here, since a
    // source of two or more columns never puts c0 on its last column).
    auto pair = [](const TColor32* p) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    };
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
      // Rows mixed on 16-bit lanes: [column c0, column c0 + 1] of each pixel; the mix stays
      // within 0..255, so no packing is needed between the two stages.
      __m128i a = detail::MixLanes(_mm_unpacklo_epi8(pair(up + c0[i]), zero),
                                   _mm_unpacklo_epi8(pair(lo + c0[i]), zero), w);
      __m128i b = detail::MixLanes(_mm_unpacklo_epi8(pair(up + c0[i + 1]), zero),
                                   _mm_unpacklo_epi8(pair(lo + c0[i + 1]), zero), w);
      __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wx4 + i));
      __m128i r = detail::MixLanes(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b), weights);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(r, r));
    }
    for (; i < n; ++i) {
      out[i] = detail::PackedMix(detail::PackedMix(up[c0[i]], lo[c0[i]], wy),
                                 detail::PackedMix(up[c0[i] + 1], lo[c0[i] + 1], wy),
                                 TColor32(wx4[i] & 0xFF));
    }
    return;
  }
  int k = 0;
  for (; k + 4 <= count; k += 4) {
    __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + first + k));
    __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lo + first + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + k), detail::MixFour(u, l, w, w));
  }
  for (; k < count; ++k) v[k] = detail::PackedMix(up[first + k], lo[first + k], wy);
  v[count] = v[count - 1];
  size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    __m128i a = _mm_unpacklo_epi8(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + c0[i] - first)), zero);
    __m128i b = _mm_unpacklo_epi8(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + c0[i + 1] - first)), zero);
    __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wx4 + i));
    __m128i r = detail::MixLanes(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b), weights);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(r, r));
  }
  for (; i < n; ++i)
    out[i] = detail::PackedMix(v[c0[i] - first], v[c0[i] - first + 1], TColor32(wx4[i] & 0xFF));
}

void StretchLinear(TBitmap32* Dst, const TBitmap32* Src, const Axis& ax, const Axis& ay,
                   TDrawMode mode, const TPixelCombineEvent& h) {
  const uint32_t ma = Src->GetMasterAlpha();
  if (mode == dmBlend && ma == 0) return;
  auto xs = Positions(ax, (int64_t(ax.srcSize - 1) << 16) / ax.dstSize);
  auto ys = Positions(ay, (int64_t(ay.srcSize - 1) << 16) / ay.dstSize);
  const int lastCol = ax.srcStart + ax.srcSize - 1, lastRow = ay.srcStart + ay.srcSize - 1;
  std::vector<int> c0(xs.size()), c1(xs.size());
  std::vector<TColor32> wx(xs.size());
  for (size_t i = 0; i < xs.size(); ++i) {
    c0[i] = ax.srcStart + int(xs[i] >> 16);
    // A one-pixel-wide source repeats its edge instead of reading past the rectangle.
    c1[i] = std::min(c0[i] + 1, lastCol);
    wx[i] = 255 - TColor32((xs[i] >> 8) & 255);
  }
  const bool rowsFirst = !(mode == dmBlend && ma < 255);
  const bool packed = CombineReg == PackedKernels().CombineReg;
  const size_t n = xs.size();
  std::vector<TColor32> row(n);
  std::vector<uint64_t> wx4(n);
  for (size_t i = 0; i < n; ++i) wx4[i] = wx[i] * 0x0001000100010001ull;
  std::vector<TColor32> mixed(n ? size_t(c1[n - 1] - c0[0]) + 2 : 0);
  for (size_t j = 0; j < ys.size(); ++j) {
    const int r0 = ay.srcStart + int(ys[j] >> 16);
    const TColor32* up = Src->GetScanLine(r0);
    const TColor32* lo = Src->GetScanLine(r0 == lastRow ? r0 : r0 + 1);
    const TColor32 wy = 255 - TColor32((ys[j] >> 8) & 255);
    if (packed && rowsFirst) {
      PackedLinearRow(up, lo, wy, c0[0], c1[n - 1], c0.data(), wx4.data(), n, mixed.data(),
                      row.data());
    } else if (packed) {
      for (size_t i = 0; i < n; ++i)
        row[i] = PackedBilerp(up[c0[i]], lo[c0[i]], up[c1[i]], lo[c1[i]], wx[i], wy);
    } else if (rowsFirst) {
      for (size_t i = 0; i < n; ++i)
        row[i] = CombineReg(CombineReg(up[c0[i]], lo[c0[i]], wy),
                            CombineReg(up[c1[i]], lo[c1[i]], wy), wx[i]);
    } else {
      for (size_t i = 0; i < n; ++i)
        row[i] = CombineReg(CombineReg(up[c0[i]], up[c1[i]], wx[i]),
                            CombineReg(lo[c0[i]], lo[c1[i]], wx[i]), wy);
    }
    TColor32* d = Dst->GetScanLine(ay.clipStart + int(j)) + ax.clipStart;
    if (mode == dmOpaque) {
      std::memcpy(d, row.data(), n * 4);
    } else if (mode == dmBlend && ma < 255) {
      BlendLineEx(row.data(), d, int(n), ma);
    } else if (mode == dmBlend) {
      BlendLine(row.data(), d, int(n));
    } else {
      for (size_t i = 0; i < n; ++i) h(row[i], d[i], ma);
    }
  }
}

struct Kernel {
  double support;
  double (*f)(double);
};

double Tent(double x) {
  x = std::fabs(x);
  return x < 1 ? 1 - x : 0;
}
double Box(double x) { return (x > -0.5 && x <= 0.5) ? 1 : 0; }
double BSpline(double x) {
  x = std::fabs(x);
  if (x < 1) return x * x * x / 2 - x * x + 2.0 / 3;
  if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
  return 0;
}

Kernel KernelOf(TStretchFilter f) {
  switch (f) {
    case sfNearest:
      return {1.001, Box};
    case sfLinear:
    case sfLinear2:
      return {1.001, Tent};
    case sfSpline:
      return {1.5, BSpline};
  }
  return {1.001, Tent};
}

}  // namespace

TMappingTable BuildMappingTable(int n, int SrcStart, int SrcEnd, int SrcSize,
                                TStretchFilter Filter) {
  const Kernel k = KernelOf(Filter);
  const int span = SrcEnd - SrcStart;
  TMappingTable t;
  t.First.reserve(size_t(n) + 1);
  std::vector<std::pair<int, double>> raw;
  for (int i = 0; i < n; ++i) {
    t.First.push_back(int(t.Index.size()));
    raw.clear();
    if (span <= 1) {
      raw.push_back({SrcStart, 1.0});
    } else {
      const double scale = n > 1 ? double(n - 1) / (span - 1) : 1.0 / span;
      const double centre = n > 1 ? SrcStart + i / scale : SrcStart + (span - 1) / 2.0;
      if (scale >= 1) {
        for (int j = int(std::floor(centre - 1 / k.support));
             j <= int(std::ceil(centre + 1 / k.support)); ++j)
          raw.push_back({j, k.f(centre - j)});
      } else {
        double reach = k.support / scale;
        for (int j = int(std::floor(centre - reach)); j <= int(std::ceil(centre + reach)); ++j)
          raw.push_back({j, k.f((centre - j) * scale) * scale});
      }
    }
    double total = 0;
    for (auto& r : raw) total += r.second > 0 ? r.second : 0;
    if (total <= 0) {
      raw.assign(1, {int(std::lround(n > 1 && span > 1 ? SrcStart + i * double(span - 1) / (n - 1)
                                                       : SrcStart)),
                     1.0});
      total = 1;
    }
    // Cumulative rounding: the integer weights of a cluster always total 256, so a uniform
    // picture keeps its value whatever the scale.
    double cumulative = 0;
    int given = 0;
    for (auto& r : raw) {
      if (r.second <= 0) continue;
      cumulative += r.second / total;
      int upto = int(std::lround(cumulative * 256));
      int w = upto - given;
      given = upto;
      if (w <= 0) continue;
      t.Index.push_back(std::clamp(r.first, 0, SrcSize - 1));
      t.Weight.push_back(w);
    }
  }
  t.First.push_back(int(t.Index.size()));
  return t;
}

namespace {

void StretchResample(TBitmap32* Dst, const TBitmap32* Src, const Axis& ax, const Axis& ay,
                     TStretchFilter filter, TDrawMode mode, const TPixelCombineEvent& h) {
  const uint32_t ma = Src->GetMasterAlpha();
  if (mode == dmBlend && ma == 0) return;
  TMappingTable cols =
      BuildMappingTable(ax.dstSize, ax.srcStart, ax.srcStart + ax.srcSize, Src->Width(), filter);
  TMappingTable rows =
      BuildMappingTable(ay.dstSize, ay.srcStart, ay.srcStart + ay.srcSize, Src->Height(), filter);
  const int cx0 = ax.clipStart - ax.dstStart, cw = ax.clipEnd - ax.clipStart;
  const int cy0 = ay.clipStart - ay.dstStart;

  // Horizontal pass per source row, kept while rows are reused; exact integers, so the two passes
  // give the same sums as one pass over both weights. Row clusters only move forward, so a ring of
  // one more slot than the widest cluster keeps every row as long as a cluster can still ask for
  // it.
  const int clipRows = ay.clipEnd - ay.clipStart;
  int widest = 1;
  for (int j = cy0; j < cy0 + clipRows; ++j) {
    int lo = INT32_MAX, hi = INT32_MIN;
    for (int k = rows.First[j]; k < rows.First[j + 1]; ++k) {
      lo = std::min(lo, rows.Index[k]);
      hi = std::max(hi, rows.Index[k]);
    }
    if (hi >= lo) widest = std::max(widest, hi - lo + 1);
  }
  const int slots = widest + 1;
  std::vector<uint32_t> horiz(size_t(slots) * cw * 4);
  std::vector<int> held(size_t(slots), -1);
  auto rowSums = [&](int r) -> const uint32_t* {
    const int slot = r % slots;
    uint32_t* out = horiz.data() + size_t(slot) * cw * 4;
    if (held[size_t(slot)] != r) {
      const uint8_t* s = reinterpret_cast<const uint8_t*>(Src->GetScanLine(r));
      for (int i = 0; i < cw; ++i) {
        uint32_t b = 0, g = 0, rr = 0, a = 0;
        for (int k = cols.First[cx0 + i]; k < cols.First[cx0 + i + 1]; ++k) {
          const uint8_t* p = s + size_t(cols.Index[k]) * 4;
          uint32_t w = uint32_t(cols.Weight[k]);
          b += p[0] * w, g += p[1] * w, rr += p[2] * w, a += p[3] * w;
        }
        out[4 * i] = b, out[4 * i + 1] = g, out[4 * i + 2] = rr, out[4 * i + 3] = a;
      }
      held[size_t(slot)] = r;
    }
    return out;
  };

  std::vector<uint32_t> acc(size_t(cw) * 4);
  for (int j = 0; j < clipRows; ++j) {
    std::fill(acc.begin(), acc.end(), 0);
    for (int k = rows.First[cy0 + j]; k < rows.First[cy0 + j + 1]; ++k) {
      const uint32_t* hs = rowSums(rows.Index[k]);
      const uint32_t w = uint32_t(rows.Weight[k]);
      for (int i = 0; i < cw * 4; ++i) acc[i] += hs[i] * w;
    }
    TColor32* d = Dst->GetScanLine(ay.clipStart + j) + ax.clipStart;
    for (int i = 0; i < cw; ++i) {
      auto ch = [&](int c) { return std::min<uint32_t>((acc[4 * i + c] + 0x8000) >> 16, 255); };
      TColor32 c = ch(3) << 24 | ch(2) << 16 | ch(1) << 8 | ch(0);
      if (mode == dmBlend)
        BlendMemEx(c, d[i], ma);
      else
        Emit(mode, c, d[i], ma, h);
    }
  }
}

}  // namespace

void StretchTransfer(TBitmap32* Dst, TRect DstRect, const TBitmap32* Src, TRect SrcRect,
                     TStretchFilter StretchFilter, TDrawMode CombineOp,
                     const TPixelCombineEvent& CombineCallBack) {
  ValidateBitmaps(Dst, Src);
  if (IsRectEmpty(SrcRect)) return;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() ||
      SrcRect.Bottom > Src->Height()) {
    throw ETransformError("Source rectangle is invalid");
  }
  if (IsRectEmpty(DstRect)) return;
  TRect clip = IntersectRect(DstRect, Dst->BoundsRect());
  if (IsRectEmpty(clip)) return;
  const TDrawMode mode = EffectiveMode(CombineOp, CombineCallBack);
  const int64_t dstW = int64_t(DstRect.Right) - DstRect.Left;
  const int64_t dstH = int64_t(DstRect.Bottom) - DstRect.Top;
  if (dstW == SrcRect.Width() && dstH == SrcRect.Height()) {
    BlockTransfer(Dst, DstRect.Left, DstRect.Top, Src, SrcRect, mode, CombineCallBack);
    return;
  }
  if (dstW > INT32_MAX || dstH > INT32_MAX) return;
  Axis ax{SrcRect.Left, SrcRect.Width(), DstRect.Left, int(dstW), clip.Left, clip.Right};
  Axis ay{SrcRect.Top, SrcRect.Height(), DstRect.Top, int(dstH), clip.Top, clip.Bottom};
  switch (StretchFilter) {
    case sfNearest:
      StretchNearest(Dst, Src, ax, ay, mode, CombineCallBack);
      break;
    case sfLinear:
      StretchLinear(Dst, Src, ax, ay, mode, CombineCallBack);
      break;
    case sfLinear2:
    case sfSpline:
      StretchResample(Dst, Src, ax, ay, StretchFilter, mode, CombineCallBack);
      break;
  }
  EMMS();
}

// ---- Geometric mappings ----------------------------------------------------------------------

const float IdentityMatrix[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

namespace {

using Mat3 = double[3][3];

void MulMat(const Mat3& a, const Mat3& b, Mat3& out) {
  Mat3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
  std::memcpy(out, r, sizeof r);
}

// The inverse by cofactors; a determinant too small to divide by, or not a finite number, gives the
// identity.
void Invert(const Mat3& m, Mat3& inv) {
  const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  if (!std::isfinite(det) || std::fabs(det) < 1e-5) {
    const Mat3 id = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::memcpy(inv, id, sizeof id);
    return;
  }
  const double d = 1 / det;
  inv[0][0] = c00 * d;
  inv[1][0] = c01 * d;
  inv[2][0] = c02 * d;
  inv[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * d;
  inv[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * d;
  inv[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * d;
  inv[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * d;
  inv[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * d;
  inv[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * d;
}

// A fixed-point entry, held to the int range so a huge matrix cannot overflow the conversion.
int Fixed12(double v) { return SaturatedRound(v * 4096); }

// Coordinates this far out are off any bitmap and cannot overflow the sampler's arithmetic.
constexpr double kFarOut = double(1 << 22);

TRect BoundsOf(const double (&xs)[4], const double (&ys)[4]) {
  const auto [x0, x1] = std::minmax({xs[0], xs[1], xs[2], xs[3]});
  const auto [y0, y1] = std::minmax({ys[0], ys[1], ys[2], ys[3]});
  // A corner that is not a number covers nothing.
  for (int k = 0; k < 4; ++k)
    if (std::isnan(xs[k]) || std::isnan(ys[k])) return {0, 0, -1, -1};
  return {SaturatedRound(x0 - 0.5), SaturatedRound(y0 - 0.5), SaturatedRound(x1 + 0.5),
          SaturatedRound(y1 + 0.5)};
}

}  // namespace

void TAffineTransformation::Clear() {
  std::memcpy(matrix_, IdentityMatrix, sizeof matrix_);
  prepared_ = false;
}

void TAffineTransformation::Multiply(const TFloatMatrix& M) {
  Mat3 a, b;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = matrix_[i][j], b[i][j] = M[i][j];
  MulMat(a, b, a);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) matrix_[i][j] = float(a[i][j]);
  prepared_ = false;
}

void TAffineTransformation::Translate(float Dx, float Dy) {
  const TFloatMatrix m = {{1, 0, 0}, {0, 1, 0}, {Dx, Dy, 1}};
  Multiply(m);
}

void TAffineTransformation::Scale(float Sx, float Sy) {
  const TFloatMatrix m = {{Sx, 0, 0}, {0, Sy, 0}, {0, 0, 1}};
  Multiply(m);
}

void TAffineTransformation::Skew(float Fx, float Fy) {
  const TFloatMatrix m = {{1, Fy, 0}, {Fx, 1, 0}, {0, 0, 1}};
  Multiply(m);
}

void TAffineTransformation::Rotate(float Cx, float Cy, float Alpha) {
  const bool moved = Cx != 0 || Cy != 0;
  if (moved) Translate(-Cx, -Cy);
  const double a = double(Alpha) * M_PI / 180;
  const float c = float(std::cos(a)), s = float(std::sin(a));
  const TFloatMatrix m = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
  Multiply(m);
  if (moved) Translate(Cx, Cy);
}

void TAffineTransformation::PrepareTransform() {
  Mat3 m, inv;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = matrix_[i][j];
  Invert(m, inv);
  inverse_ = {Fixed12(inv[0][0]), Fixed12(inv[1][0]), Fixed12(inv[2][0]),
              Fixed12(inv[0][1]), Fixed12(inv[1][1]), Fixed12(inv[2][1])};
  prepared_ = true;
}

bool TAffineTransformation::Transform(int DstX, int DstY, int& SrcX, int& SrcY) {
  const TFixedInverse& i = Inverse();
  SrcX = int((int64_t(DstX) * i.A + int64_t(DstY) * i.B + i.C + 2047) >> 12);
  SrcY = int((int64_t(DstX) * i.D + int64_t(DstY) * i.E + i.F + 2047) >> 12);
  return true;
}

bool TAffineTransformation::Transform256(int DstX, int DstY, int& SrcX, int& SrcY) {
  const TFixedInverse& i = Inverse();
  SrcX = int((int64_t(DstX) * i.A + int64_t(DstY) * i.B + i.C + 7) >> 4);
  SrcY = int((int64_t(DstX) * i.D + int64_t(DstY) * i.E + i.F + 7) >> 4);
  return true;
}

TRect TAffineTransformation::GetTransformedBounds() {
  const TFloatRect& r = src_rect_;
  const double cx[4] = {r.Left, r.Right, r.Right, r.Left},
               cy[4] = {r.Top, r.Top, r.Bottom, r.Bottom};
  double xs[4], ys[4];
  for (int k = 0; k < 4; ++k) {
    xs[k] = matrix_[0][0] * cx[k] + matrix_[1][0] * cy[k] + matrix_[2][0];
    ys[k] = matrix_[0][1] * cx[k] + matrix_[1][1] * cy[k] + matrix_[2][1];
  }
  return BoundsOf(xs, ys);
}

void TProjectiveTransformation::PrepareTransform() {
  double x[4], y[4];
  for (int k = 0; k < 4; ++k) x[k] = x_[k], y[k] = y_[k];
  // The unit square onto the quadrilateral.
  Mat3 quad;
  const double sx = x[0] - x[1] + x[2] - x[3], sy = y[0] - y[1] + y[2] - y[3];
  if (sx == 0 && sy == 0) {
    const Mat3 q = {{x[1] - x[0], y[1] - y[0], 0}, {x[2] - x[1], y[2] - y[1], 0}, {x[0], y[0], 1}};
    std::memcpy(quad, q, sizeof q);
  } else {
    const double dx1 = x[1] - x[2], dx2 = x[3] - x[2], dy1 = y[1] - y[2], dy2 = y[3] - y[2];
    const double d = dx1 * dy2 - dx2 * dy1;
    if (d == 0) throw EAssertionFailed("Projective transformation: degenerate quadrilateral");
    const double g = (sx * dy2 - sy * dx2) / d, h = (sy * dx1 - sx * dy1) / d;
    const Mat3 q = {{x[1] - x[0] + g * x[1], y[1] - y[0] + g * y[1], g},
                    {x[3] - x[0] + h * x[3], y[3] - y[0] + h * y[3], h},
                    {x[0], y[0], 1}};
    std::memcpy(quad, q, sizeof q);
  }
  // The source area first moved to the origin and scaled to the unit square.
  const TFloatRect& r = src_rect_;
  const double w = double(r.Right) - r.Left, hgt = double(r.Bottom) - r.Top;
  const Mat3 move = {{1, 0, 0}, {0, 1, 0}, {-double(r.Left), -double(r.Top), 1}};
  const Mat3 unit = {{w != 0 ? 1 / w : 0, 0, 0}, {0, hgt != 0 ? 1 / hgt : 0, 0}, {0, 0, 1}};
  Mat3 forward;
  MulMat(move, unit, forward);
  MulMat(forward, quad, forward);
  Invert(forward, inverse_);
  prepared_ = true;
}

// The source point times Factor, rounded; false where the denominator is 0 or the point is so far
// out that no sampler could use it.
bool TProjectiveTransformation::Map(int DstX, int DstY, double Factor, int& SrcX, int& SrcY) {
  if (!prepared_) PrepareTransform();
  const double x = DstX, y = DstY;
  const double w = x * inverse_[0][2] + y * inverse_[1][2] + inverse_[2][2];
  if (w == 0) return false;
  const double sx = (x * inverse_[0][0] + y * inverse_[1][0] + inverse_[2][0]) / w * Factor;
  const double sy = (x * inverse_[0][1] + y * inverse_[1][1] + inverse_[2][1]) / w * Factor;
  const double limit = kFarOut * Factor;
  if (!(std::fabs(sx) < limit && std::fabs(sy) < limit)) return false;
  SrcX = int(std::nearbyint(sx));
  SrcY = int(std::nearbyint(sy));
  return true;
}

bool TProjectiveTransformation::Transform(int DstX, int DstY, int& SrcX, int& SrcY) {
  return Map(DstX, DstY, 1, SrcX, SrcY);
}

bool TProjectiveTransformation::Transform256(int DstX, int DstY, int& SrcX, int& SrcY) {
  return Map(DstX, DstY, 256, SrcX, SrcY);
}

TRect TProjectiveTransformation::GetTransformedBounds() {
  const double xs[4] = {x_[0], x_[1], x_[2], x_[3]}, ys[4] = {y_[0], y_[1], y_[2], y_[3]};
  return BoundsOf(xs, ys);
}

namespace {

// What the scan reads from the source: the sampling area in whole pixels (inclusive) and in
// 24.8, the outer colour, and how colours reach the destination.
struct Sampler {
  const TBitmap32* src;
  int w, h;
  int left, top, right, bottom;                  // whole pixels, inclusive
  int64_t left256, top256, right256, bottom256;  // 24.8
  TColor32 outer;
  bool packed;

  TColor32 At(int x, int y) const {
    return unsigned(x) < unsigned(w) && unsigned(y) < unsigned(h) ? src->GetPixel(x, y) : outer;
  }
  bool Nearest(int sx, int sy, TColor32& c) const {
    if (sx < left || sx > right || sy < top || sy > bottom) return false;
    c = src->GetPixel(sx, sy);
    return true;
  }
  // Points up to one pixel outside the area, that pixel included, still blend with the outer
  // colour.
  bool Linear(int64_t sx, int64_t sy, TColor32& c) const {
    if (sx < left256 - 256 || sx > right256 + 256 || sy < top256 - 256 || sy > bottom256 + 256)
      return false;
    const int x = int(sx >> 8), y = int(sy >> 8);
    const TColor32 wx = 255 - TColor32(sx & 255), wy = 255 - TColor32(sy & 255);
    TColor32 p00, p10, p01, p11;
    if (x >= 0 && y >= 0 && x + 1 < w && y + 1 < h) {
      const TColor32* r0 = src->GetScanLine(y) + x;
      const TColor32* r1 = r0 + w;
      p00 = r0[0], p10 = r0[1], p01 = r1[0], p11 = r1[1];
    } else {
      p00 = At(x, y), p10 = At(x + 1, y), p01 = At(x, y + 1), p11 = At(x + 1, y + 1);
    }
    c = packed ? PackedBilerp(p00, p01, p10, p11, wx, wy)
               : CombineReg(CombineReg(p00, p10, wx), CombineReg(p01, p11, wx), wy);
    return true;
  }
};

}  // namespace

void Transform(TBitmap32* Dst, const TBitmap32* Src, TTransformation* T) {
  if (!Dst || !Src || !T) throw ETransformError("Transform: nil argument");
  if (!T->Prepared()) T->PrepareTransform();
  const TDrawMode mode = EffectiveMode(Src->GetDrawMode(), Src->OnPixelCombine);
  const uint32_t ma = Src->GetMasterAlpha();
  const TPixelCombineEvent& handler = Src->OnPixelCombine;

  TRect area = T->GetTransformedBounds();
  area.Left = std::max(area.Left, 0);
  area.Top = std::max(area.Top, 0);
  area.Right = std::min(area.Right, Dst->Width() - 1);
  area.Bottom = std::min(area.Bottom, Dst->Height() - 1);
  if (area.Right < area.Left || area.Bottom < area.Top || Src->Empty()) return;

  // The source area in 24.8, clipped to the bitmap's pixel positions; the nearest sampler takes
  // the whole pixels inside it.
  const TFloatRect& sr = T->GetSrcRect();
  if (std::isnan(sr.Left) || std::isnan(sr.Top) || std::isnan(sr.Right) || std::isnan(sr.Bottom))
    return;  // no source area to sample
  auto fix8 = [](float v) {
    return int64_t(std::clamp(std::nearbyint(double(v) * 256), -1e12, 1e12));
  };
  Sampler s{Src,
            Src->Width(),
            Src->Height(),
            0,
            0,
            0,
            0,
            std::max<int64_t>(fix8(sr.Left), 0),
            std::max<int64_t>(fix8(sr.Top), 0),
            std::min<int64_t>(fix8(sr.Right), int64_t(Src->Width() - 1) * 256),
            std::min<int64_t>(fix8(sr.Bottom), int64_t(Src->Height() - 1) * 256),
            Src->OuterColor,
            CombineReg == PackedKernels().CombineReg};
  s.left = int((s.left256 + 255) >> 8), s.top = int((s.top256 + 255) >> 8);
  s.right = int(s.right256 >> 8), s.bottom = int(s.bottom256 >> 8);
  if (s.right256 < s.left256 || s.bottom256 < s.top256) return;

  const bool linear = Src->GetStretchFilter() != sfNearest;
  auto emit = [&](TColor32 c, TColor32& d) {
    switch (mode) {
      case dmOpaque:
        d = c;
        break;
      case dmBlend:
        BlendMemEx(c, d, ma);
        break;
      case dmCustom:
        handler(c, d, ma);
        break;
    }
  };

  auto* affine = dynamic_cast<TAffineTransformation*>(T);
  for (int y = area.Top; y <= area.Bottom; ++y) {
    TColor32* row = Dst->GetScanLine(y);
    TColor32 c;
    if (affine) {
      // The 20.12 sums step by the inverse's first column along the row.
      const auto& i = affine->Inverse();
      int64_t ux = int64_t(area.Left) * i.A + int64_t(y) * i.B + i.C;
      int64_t uy = int64_t(area.Left) * i.D + int64_t(y) * i.E + i.F;
      if (linear) {
        for (int x = area.Left; x <= area.Right; ++x, ux += i.A, uy += i.D)
          if (s.Linear((ux + 7) >> 4, (uy + 7) >> 4, c)) emit(c, row[x]);
      } else {
        for (int x = area.Left; x <= area.Right; ++x, ux += i.A, uy += i.D) {
          const int64_t sx = (ux + 2047) >> 12, sy = (uy + 2047) >> 12;
          if (sx >= s.left && sx <= s.right && sy >= s.top && sy <= s.bottom)
            emit(Src->GetPixel(int(sx), int(sy)), row[x]);
        }
      }
    } else {
      for (int x = area.Left; x <= area.Right; ++x) {
        int sx, sy;
        if (linear) {
          if (T->Transform256(x, y, sx, sy) && s.Linear(sx, sy, c)) emit(c, row[x]);
        } else if (T->Transform(x, y, sx, sy) && s.Nearest(sx, sy, c)) {
          emit(c, row[x]);
        }
      }
    }
  }
  EMMS();
  Dst->Changed();
}

void SetBorderTransparent(TBitmap32* ABitmap, const TRect& ARect) {
  if (!ABitmap) return;
  int l = ARect.Left, r = ARect.Right, t = ARect.Top, b = ARect.Bottom;
  const bool cols = TestClip(l, r, ABitmap->Width());
  const bool rows = TestClip(t, b, ABitmap->Height());
  if (cols && rows) {
    auto clear = [&](int x, int y) {
      ABitmap->SetPixel(x, y, ABitmap->GetPixel(x, y) & 0x00FFFFFF);
    };
    for (int x = l; x <= r; ++x) clear(x, t), clear(x, b);
    for (int y = t; y <= b; ++y) clear(l, y), clear(r, y);
  }
  ABitmap->Changed();
}

}  // namespace g32
