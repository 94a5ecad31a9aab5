#pragma once
// Geometry arithmetic held within int: the sums, differences, products, negations and ratios of
// coordinates, sizes, margins and factors that controls and the canvas compute. Any property may
// hold any int; a result beyond int stops at its end instead of wrapping, so a value pushed to
// the end of its type still lays out in the direction it points.
#include <cmath>
#include <cstdint>

namespace vant {

// `v` held within int.
constexpr int SaturateInt(int64_t v) {
  return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int>(v);
}

constexpr int AddSat(int a, int b) { return SaturateInt(int64_t{a} + b); }
constexpr int SubSat(int a, int b) { return SaturateInt(int64_t{a} - b); }
constexpr int MulSat(int a, int b) { return SaturateInt(int64_t{a} * b); }
// -INT_MIN is INT_MAX.
constexpr int NegSat(int a) { return SaturateInt(-int64_t{a}); }
// a * m / d truncated toward zero, the product taken in full (it always fits 64 bits); `a`
// unchanged when d is 0.
constexpr int ScaleSat(int a, int m, int d) { return d == 0 ? a : SaturateInt(int64_t{a} * m / d); }

// A real number as int: rounded to nearest (halves to even, as the processor does), held within
// int; NaN is 0.
inline int RoundSat(double v) {
  if (std::isnan(v)) return 0;
  if (v <= double(INT32_MIN)) return INT32_MIN;
  if (v >= double(INT32_MAX)) return INT32_MAX;
  return static_cast<int>(std::nearbyint(v));
}
// The same, truncated toward zero.
inline int TruncSat(double v) {
  if (std::isnan(v)) return 0;
  if (v <= double(INT32_MIN)) return INT32_MIN;
  if (v >= double(INT32_MAX)) return INT32_MAX;
  return static_cast<int>(v);
}

// The largest width or height a control takes, in logical pixels: more than any screen shows
// across (8K is 7,680), small enough that a control's picture (256 MiB at most) is painted in
// about the time one plain fill of it takes, and that every coordinate inside it stays far from
// the ends of int.
constexpr int kMaxControlExtent = 8192;
// A length set on a control (a thumb, a spacing, a gap) held to what a control can show, either
// way: nothing beyond it shows any more, and sums of a few such lengths stay within int.
constexpr int HoldToExtent(int v) {
  return v < -kMaxControlExtent  ? -kMaxControlExtent
         : v > kMaxControlExtent ? kMaxControlExtent
                                 : v;
}
// A size held to 0 .. kMaxControlExtent.
constexpr int HoldSize(int v) { return v < 0 ? 0 : v > kMaxControlExtent ? kMaxControlExtent : v; }

}  // namespace vant
