#pragma once
// Integer routines used throughout the graphics library: clamping, swapping, clipping of ranges,
// arithmetic shifts and the rounding multiply-divide.
#include <cmath>
#include <cstdint>

namespace g32 {

using TColor32 = uint32_t;

inline int Clamp(int value) { return value < 0 ? 0 : (value > 255 ? 255 : value); }

// `count` 32-bit stores of `value`; a count of 0 or less does nothing.
void FillLongword(void* dst, int64_t count, uint32_t value);

template <typename T>
inline void Swap(T& a, T& b) {
  T t = a;
  a = b;
  b = t;
}

// Exchanges the two when b < a.
template <typename T>
inline void TestSwap(T& a, T& b) {
  if (b < a) Swap(a, b);
}

// Orders a <= b, raises a to 0 and lowers b to size - 1; true when a <= b remains.
bool TestClip(int& a, int& b, int size);

inline int Constrain(int value, int lo, int hi) {
  if (value <= lo) return lo;
  return value < hi ? value : hi;
}

inline int SAR_4(int v) { return v >> 4; }
inline int SAR_8(int v) { return v >> 8; }
inline int SAR_9(int v) { return v >> 9; }
inline int SAR_12(int v) { return v >> 12; }
inline int SAR_16(int v) { return v >> 16; }

// Framework colour 0x00BBGGRR to an opaque TColor32 (0xFFRRGGBB).
inline TColor32 ColorSwap(uint32_t winColor) {
  return 0xFF000000u | ((winColor & 0xFFu) << 16) | (winColor & 0xFF00u) |
         ((winColor >> 16) & 0xFFu);
}

// A floating-point value as an int: held to the int range, NaN as 0. Coordinates and sizes from
// floating point pass through it, so a wild value gives a far-off pixel instead of undefined
// behaviour.
inline int SaturatedInt(double v) {
  if (!(v == v)) return 0;
  if (v <= -2147483648.0) return INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return int(v);
}
// Rounded half to even first.
inline int SaturatedRound(double v) { return SaturatedInt(std::nearbyint(v)); }

// Pixel positions this far off are off any screen; held there, the widths, centres and shifts
// of rectangles stay inside 32 bits.
constexpr int kFarPixels = 1 << 29;
// Rounded half to even and held to +-kFarPixels; NaN as 0.
inline int FarHeldRound(double v) {
  return SaturatedRound(v < -kFarPixels ? -kFarPixels : v > kFarPixels ? kFarPixels : v);
}

// a * b / c with a 64-bit product, rounded half away from zero; -1 when the quotient does not fit
// in 31 bits or c is 0.
int MulDiv(int a, int b, int c);

}  // namespace g32
