// The DIB_ raster primitives: they read only the process-wide drawing state, address the pixels
// directly and never write outside biClipRect.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "mmdibcv.h"
#include "ui_geom.h"

using vant::TRect;

namespace {

enum class Op { Copy, Xor, NotXor };

inline uint8_t* Pixel(int x, int y) {
  return biSurface + static_cast<ptrdiff_t>(DIB_ORIENT > 0 ? biHeight - 1 - y : y) * biScanWidth +
         static_cast<ptrdiff_t>(x) * biBPP;
}

inline bool Inside(int x, int y) {
  return x >= biClipRect.Left && x < biClipRect.Right && y >= biClipRect.Top &&
         y < biClipRect.Bottom;
}

// The drawing colour as the bytes of one pixel (blue, green, red at 24 bits).
inline void ColorBytes(uint32_t c, uint8_t out[3]) {
  if (biBPP == 1) {
    out[0] = uint8_t(c);
  } else {
    out[0] = uint8_t(c >> 16), out[1] = uint8_t(c >> 8), out[2] = uint8_t(c);
  }
}

inline void Put(uint8_t* p, const uint8_t* c, Op op) {
  for (int i = 0; i < biBPP; ++i) {
    switch (op) {
      case Op::Copy:
        p[i] = c[i];
        break;
      case Op::Xor:
        p[i] ^= c[i];
        break;
      case Op::NotXor:
        p[i] ^= uint8_t(~c[i]);
        break;
    }
  }
}

inline void Plot(int64_t x, int64_t y, const uint8_t* c, Op op) {
  if (biSurface && x >= biClipRect.Left && x < biClipRect.Right && y >= biClipRect.Top &&
      y < biClipRect.Bottom)
    Put(Pixel(int(x), int(y)), c, op);
}

// Arguments computed from the callers' (x ± radius, y + count, ...) kept in the int range, so
// no sum can overflow; the clip then drops what lies that far out.

// Clips [x1, x2) at row y; false when nothing is left.
bool ClipH(int& x1, int& x2, int y) {
  if (!biSurface) return false;
  if (x2 < x1) std::swap(x1, x2);
  if (y < biClipRect.Top || y >= biClipRect.Bottom) return false;
  x1 = std::max(x1, biClipRect.Left);
  x2 = std::min(x2, biClipRect.Right);
  return x1 < x2;
}

bool ClipV(int x, int& y1, int& y2) {
  if (!biSurface) return false;
  if (y2 < y1) std::swap(y1, y2);
  if (x < biClipRect.Left || x >= biClipRect.Right) return false;
  y1 = std::max(y1, biClipRect.Top);
  y2 = std::min(y2, biClipRect.Bottom);
  return y1 < y2;
}

bool ClipRect(const TRect& r, TRect& out) {
  if (!biSurface) return false;
  out = {std::max(r.Left, biClipRect.Left), std::max(r.Top, biClipRect.Top),
         std::min(r.Right, biClipRect.Right), std::min(r.Bottom, biClipRect.Bottom)};
  return out.Left < out.Right && out.Top < out.Bottom;
}

// A solid run of n pixels from p in the drawing colour: 8-bit runs as whole-word stores.
void FillRun(uint8_t* p, int n) {
  if (biBPP == 1) {
    std::memset(p, int(biColor & 0xFF), size_t(n));
    return;
  }
  uint8_t c[3];
  ColorBytes(biColor, c);
  for (int i = 0; i < n; ++i, p += 3) p[0] = c[0], p[1] = c[1], p[2] = c[2];
}

// Pixels of [a, b) whose offset from a passes `keep`, along x (horizontal) or y.
template <class Keep>
void Pattern(int fixed, int a, int b, bool horizontal, Keep keep) {
  uint8_t c[3];
  ColorBytes(biColor, c);
  for (int i = a; i < b; ++i)
    if (keep(i - a)) Put(horizontal ? Pixel(i, fixed) : Pixel(fixed, i), c, Op::Copy);
}

void VSpan(int x, int y1, int y2, Op op) {
  if (!ClipV(x, y1, y2)) return;
  uint8_t c[3];
  ColorBytes(biColor, c);
  uint8_t* p = Pixel(x, y1);
  for (int y = y1; y < y2; ++y, p += biLineDiff) Put(p, c, op);
}

void RectOp(const TRect& r, Op op) {
  TRect k;
  if (!ClipRect(r, k)) return;
  const int n = k.Width();
  if (op == Op::Copy && biBPP == 1 && n == biScanWidth) {
    // Whole rows without padding lie back to back: one run for the block.
    FillRun(Pixel(0, DIB_ORIENT > 0 ? k.Bottom - 1 : k.Top), n * k.Height());
    return;
  }
  uint8_t c[3];
  ColorBytes(biColor, c);
  for (int y = k.Top; y < k.Bottom; ++y) {
    uint8_t* p = Pixel(k.Left, y);
    if (op == Op::Copy) {
      FillRun(p, n);
    } else if (biBPP == 1) {
      const uint8_t v = op == Op::Xor ? c[0] : uint8_t(~c[0]);
      for (int i = 0; i < n; ++i) p[i] ^= v;
    } else {
      for (int i = 0; i < n; ++i, p += 3) Put(p, c, op);
    }
  }
}

// The segment clipped against biClipRect by outcodes, in 64-bit with 128-bit products so no
// argument can overflow; false when nothing of it is inside.
bool ClipLine(int64_t& x1, int64_t& y1, int64_t& x2, int64_t& y2) {
  const TRect& k = biClipRect;
  enum { kBottom = 1, kTop = 2, kRight = 4, kLeft = 8 };
  auto code = [&](int64_t x, int64_t y) {
    return (y >= k.Bottom ? kBottom : 0) | (y < k.Top ? kTop : 0) | (x > k.Right ? kRight : 0) |
           (x < k.Left ? kLeft : 0);
  };
  for (int guard = 0; guard < 16; ++guard) {
    int c1 = code(x1, y1), c2 = code(x2, y2);
    if (c1 & c2) return false;
    if (!(c1 | c2)) return true;
    if (!c1) {
      std::swap(x1, x2), std::swap(y1, y2);
      std::swap(c1, c2);
    }
    const __int128 dx = x2 - x1, dy = y2 - y1;
    if (c1 & kBottom) {
      x1 += int64_t((__int128(k.Bottom - 1) - y1) * dx / dy);
      y1 = k.Bottom - 1;
    } else if (c1 & kTop) {
      x1 += int64_t((__int128(k.Top) - y1) * dx / dy);
      y1 = k.Top;
    } else if (c1 & kRight) {
      y1 += int64_t((__int128(k.Right) - x1) * dy / dx);
      x1 = k.Right;
    } else {
      y1 += int64_t((__int128(k.Left) - x1) * dy / dx);
      x1 = k.Left;
    }
  }
  return false;
}

}  // namespace

void TMMDIBCanvas::DIB_SETPIXEL(int x, int y, uint32_t color) {
  uint8_t c[3];
  ColorBytes(biBPP == 1 ? color : color & 0xFFFFFF, c);
  Plot(x, y, c, Op::Copy);
}

int32_t TMMDIBCanvas::DIB_GETPIXEL(int x, int y) {
  if (!biSurface || !Inside(x, y)) return -1;
  const uint8_t* p = Pixel(x, y);
  return biBPP == 1 ? p[0] : int32_t(p[2] | p[1] << 8 | p[0] << 16);
}

void TMMDIBCanvas::DIB_MOVETO(int x, int y) { biPenPos = {x, y}; }

void TMMDIBCanvas::DIB_LINETO(int x, int y) {
  const vant::TPoint from = biPenPos;
  biPenPos = {x, y};
  Line(from.X, from.Y, x, y, false);
}

void TMMDIBCanvas::DIB_LINE(int x1, int y1, int x2, int y2) { Line(x1, y1, x2, y2, false); }

void TMMDIBCanvas::DIB_LINENOTXOR(int x1, int y1, int x2, int y2) { Line(x1, y1, x2, y2, true); }

void TMMDIBCanvas::Line(int ix1, int iy1, int ix2, int iy2, bool notxor) {
  if (!biSurface) return;
  int64_t x1 = ix1, y1 = iy1, x2 = ix2, y2 = iy2;
  if (!ClipLine(x1, y1, x2, y2)) return;
  const Op op = notxor ? Op::NotXor : Op::Copy;
  uint8_t c[3];
  ColorBytes(biColor, c);
  if (x2 < x1) std::swap(x1, x2), std::swap(y1, y2);
  // Every point is checked against the clip: the clipped ends may lie on its right edge.
  auto plot = [&](int64_t x, int64_t y) { Plot(x, y, c, op); };
  if (x1 == x2) {
    for (int64_t y = std::min(y1, y2), e = std::max(y1, y2); y < e; ++y) plot(x1, y);
    return;
  }
  if (y1 == y2) {
    for (int64_t x = x1; x < x2; ++x) plot(x, y1);
    return;
  }
  const int64_t dx = x2 - x1, ady = std::abs(y2 - y1), sy = y2 > y1 ? 1 : -1;
  const bool steep = ady > dx;
  const int64_t major = steep ? ady : dx, minor = steep ? dx : ady;
  int64_t d = 2 * minor - major, x = x1, y = y1;
  for (int64_t i = 0; i < major; ++i) {
    plot(x, y);
    if (steep)
      y += sy;
    else
      x += 1;
    if (d < 0) {
      d += 2 * minor;
    } else {
      d += 2 * minor - 2 * major;
      if (steep)
        x += 1;
      else
        y += sy;
    }
  }
}

void TMMDIBCanvas::DIB_HLINE(int x1, int x2, int y) {
  if (ClipH(x1, x2, y)) FillRun(Pixel(x1, y), x2 - x1);
}

void TMMDIBCanvas::DIB_HLINEDASHED(int x1, int x2, int y) {
  if (!ClipH(x1, x2, y) || x2 - x1 < 4) return;
  Pattern(y, x1, x2, true, [](int i) { return (i & 7) < 4; });
}

void TMMDIBCanvas::DIB_HLINEDOTED(int x1, int x2, int y, int space) {
  if (!ClipH(x1, x2, y)) return;
  const int64_t step = int64_t(std::max(space, 1)) + 1;
  Pattern(y, x1, x2, true, [step](int i) { return i % step == 0; });
}

void TMMDIBCanvas::DIB_VLINE(int x, int y1, int y2) { VSpan(x, y1, y2, Op::Copy); }

void TMMDIBCanvas::DIB_VLINEDASHED(int x, int y1, int y2) {
  if (ClipV(x, y1, y2)) Pattern(x, y1, y2, false, [](int i) { return (i & 7) < 4; });
}

void TMMDIBCanvas::DIB_VLINEDOTED(int x, int y1, int y2, int space) {
  if (!ClipV(x, y1, y2)) return;
  const int64_t step = int64_t(std::max(space, 1)) + 1;
  Pattern(x, y1, y2, false, [step](int i) { return i % step == 0; });
}

void TMMDIBCanvas::DIB_VLINEXOR(int x, int y1, int y2) { VSpan(x, y1, y2, Op::Xor); }

void TMMDIBCanvas::DIB_VLINENOTXOR(int x, int y1, int y2) { VSpan(x, y1, y2, Op::NotXor); }

void TMMDIBCanvas::DIB_VLINEMULTICOLOR(int x, int y, const uint8_t* colors, int count) {
  if (biBPP != 1 || !colors || count <= 0) return;
  int y1 = y, y2 = vant::SaturateInt(int64_t(y) + count);
  if (!ClipV(x, y1, y2)) return;
  // A span cut at the top starts with the colour of its first visible pixel.
  const uint8_t* c = colors + (y1 - y);
  uint8_t* p = Pixel(x, y1);
  for (int i = y1; i < y2; ++i, p += biLineDiff) *p = *c++;
}

void TMMDIBCanvas::DIB_RECTANGLE(int x1, int y1, int x2, int y2) {
  DIB_HLINE(x1, x2, y1);
  DIB_HLINE(x1, x2, vant::SaturateInt(int64_t(y2) - 1));
  DIB_VLINE(x1, y1, y2);
  DIB_VLINE(vant::SaturateInt(int64_t(x2) - 1), y1, y2);
}

void TMMDIBCanvas::DIB_FILLRECT(const TRect& r) { RectOp(r, Op::Copy); }

void TMMDIBCanvas::DIB_FILLRECTXOR(const TRect& r) { RectOp(r, Op::Xor); }

void TMMDIBCanvas::DIB_FILLRECTDOTED(const TRect& r, bool doted) {
  if (!doted) return RectOp(r, Op::Copy);
  TRect k;
  if (!ClipRect(r, k)) return;
  for (int y = k.Top; y < k.Bottom; y += 2)
    Pattern(y, k.Left, k.Right, true, [](int i) { return (i & 1) == 0; });
}

void TMMDIBCanvas::DIB_CLEAR() {
  if (!biSurface) return;
  if (biBPP == 1) {
    // Whole words over the whole memory, row padding included.
    auto* w = reinterpret_cast<uint32_t*>(biSurface);
    std::fill(w, w + static_cast<size_t>(biScanWidth) * biHeight / 4, biColor);
    return;
  }
  for (int y = 0; y < biHeight; ++y) FillRun(Pixel(0, y), biWidth);
}

void TMMDIBCanvas::DIB_COPYDIBBITS(const uint8_t* source, int dx, int dy, int w, int h, int sx,
                                   int sy) {
  if (!biSurface || !source || w <= 0 || h <= 0) return;
  const TRect& k = biClipRect;
  // A cut at the left or top moves both origins; a cut at the right or bottom shortens both.
  auto cut = [&](int& a, int& b, int& len, int lo, int hi) {
    if (a < lo) {
      const int64_t d = int64_t(lo) - a;
      if (d >= len) return len = 0, void();
      a = lo, b = int(b + d), len = int(len - d);
    }
    if (int64_t(a) + len > hi) len = int(std::max<int64_t>(0, int64_t(hi) - a));
  };
  cut(sx, dx, w, k.Left, k.Right);
  cut(sy, dy, h, k.Top, k.Bottom);
  cut(dx, sx, w, k.Left, k.Right);
  cut(dy, sy, h, k.Top, k.Bottom);
  if (w <= 0 || h <= 0) return;
  const size_t bytes = size_t(w) * biBPP;
  // Moving down within one surface: take the rows from the bottom so none is read after it
  // was overwritten (memmove keeps each row right).
  auto row_addr = [](const uint8_t* base, int x, int y) {
    return base + static_cast<ptrdiff_t>(DIB_ORIENT > 0 ? biHeight - 1 - y : y) * biScanWidth +
           static_cast<ptrdiff_t>(x) * biBPP;
  };
  if (dy > sy) {
    for (int i = h - 1; i >= 0; --i)
      std::memmove(Pixel(dx, dy + i), row_addr(source, sx, sy + i), bytes);
  } else {
    for (int i = 0; i < h; ++i)
      std::memmove(Pixel(dx, dy + i), row_addr(source, sx, sy + i), bytes);
  }
}

namespace {

// sin(i°) × 8192, rounded.
const int16_t* SineTable() {
  static const auto table = [] {
    std::array<int16_t, 360> t{};
    for (int i = 0; i < 360; ++i) t[i] = int16_t(std::lround(std::sin(i * M_PI / 180.0) * 8192.0));
    return t;
  }();
  return table.data();
}

int Sin(int a) { return SineTable()[((a % 360) + 360) % 360]; }
int Cos(int a) { return Sin(a + 90); }

// Grows counter-clockwise from angle 0 (for radii below 1000).
int16_t Key(int px, int py) {
  const int m = -py;
  if (px >= 0 && m >= 0) return int16_t(m - px);
  if (px < 0 && m >= 0) return int16_t(2000 - px - m);
  if (px < 0) return int16_t(4000 + px - m);
  return int16_t(6000 + px + m);
}

}  // namespace

void TMMDIBCanvas::DIB_ELLIPSE(int x, int y, int16_t start, int16_t end, int16_t rx, int16_t ry) {
  if (!biSurface || rx <= 0 || ry <= 0 || start == end) return;
  auto point = [&](int a) {
    return vant::TPoint{int16_t(Cos(a) * rx / 8192), int16_t(-(Sin(a) * ry / 8192))};
  };
  const vant::TPoint s = point(start), e = point(end);
  const uint16_t diff = uint16_t(end - start);
  uint8_t c[3];
  ColorBytes(biColor, c);
  if ((s == e && diff < 350) || (s != e && diff < 2)) {
    Plot(int64_t(x) + e.X, int64_t(y) + e.Y, c, Op::Copy);
    return;
  }
  const int16_t ks = Key(s.X, s.Y), ke = Key(e.X, e.Y);
  const bool whole = s == e;
  auto set = [&](int px, int py) {
    const int16_t k = Key(px, py);
    if (whole || (ke > ks ? (k >= ks && k <= ke) : (k >= ks || k <= ke)))
      Plot(int64_t(x) + px, int64_t(y) + py, c, Op::Copy);
  };
  auto plot4 = [&](int64_t px, int64_t py) {
    set(int(px), int(py));
    if (px != 0) set(int(-px), int(py));
    if (py != 0) set(int(px), int(-py));
    if (px != 0 && py != 0) set(int(-px), int(-py));
  };
  // Integer midpoint trace of the first quadrant, scaled by S0.
  const int64_t r = std::max(rx, ry);
  const int64_t s0 = 100 * r * r, a = s0 / rx / rx, b = s0 / ry / ry;
  int64_t px = 0, py = ry, u = 0, v = 2 * (s0 / ry), d = (s0 / ry) * ry - s0;
  do {
    plot4(px, py);
    const int64_t t1 = v - b, t2 = u + a;
    if (2 * t2 + 2 * d >= t1) {
      py -= 1;
      d -= t1;
      v = t1 - b;
    }
    px += 1;
    d += t2;
    u = t2 + a;
  } while (u < v);
  do {
    plot4(px, py);
    const int64_t t1 = v - b, t2 = u + a;
    if (t2 / 2 + d <= t1) {
      px += 1;
      d += t2;
      u = t2 + a;
    }
    py -= 1;
    d -= t1;
    v = t1 - b;
  } while (py >= 0);
}

void TMMDIBCanvas::DIB_FILLELLIPSE(int x, int y, int16_t rx, int16_t ry) {
  if (!biSurface || rx <= 0 || ry <= 0) return;
  const int64_t a2 = int64_t(rx) * rx, b2 = int64_t(ry) * ry;
  int64_t px = 0, py = ry, d = b2 - 2 * ry * a2 + a2;
  std::vector<std::pair<int, int>> spans;  // (half width, dy) in recording order
  // Each step moves x up or y down (or both); the bound only guards against a runaway.
  for (int64_t guard = 0; py >= 0 && guard < 4 * (int64_t(rx) + ry) + 8; ++guard) {
    spans.emplace_back(int(px), int(py));
    bool step_x, step_y;
    if (d < 0) {
      const int64_t t = 2 * d + 2 * py * a2 - a2;
      step_x = true, step_y = t > 0;
    } else {
      const int64_t t = 2 * d - 2 * px * b2 - b2;
      step_y = true, step_x = t <= 0;
    }
    if (step_x) px += 1;
    if (step_y) py -= 1;
    if (step_x) d += 2 * px * b2 + b2;
    if (step_y) d += a2 - 2 * py * a2;
  }
  for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
    const int x1 = vant::SaturateInt(int64_t(x) - it->first),
              x2 = vant::SaturateInt(int64_t(x) + it->first + 1);
    DIB_HLINE(x1, x2, vant::SaturateInt(int64_t(y) - it->second));
    DIB_HLINE(x1, x2, vant::SaturateInt(int64_t(y) + it->second));
  }
}
