#pragma once
// Small helpers the foundation units share (not part of the library's interface).
#include <cstdio>
#include <string>

namespace mm::detail {

// Min when x < min, else max when x > max, else x.
template <typename T>
T MinMaxOf(T x, T min, T max) {
  if (x < min) return min;
  if (x > max) return max;
  return x;
}

// x clamped between a and b given in either order.
template <typename T>
T LimitOf(T x, T a, T b) {
  return b < a ? MinMaxOf(x, b, a) : MinMaxOf(x, a, b);
}

// printf into a std::string (the library's texts are short).
template <typename... A>
std::string FormatText(const char* format, A... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

}  // namespace mm::detail
