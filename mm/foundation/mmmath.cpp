#include "mmmath.h"

#include <cmath>

#include "mmhelpers.h"

Extended MinR(Extended a, Extended b) { return a < b ? a : b; }
Extended MaxR(Extended a, Extended b) { return a > b ? a : b; }

Extended MinMaxR(Extended x, Extended min, Extended max) {
  return mm::detail::MinMaxOf(x, min, max);
}
Extended LimitR(Extended x, Extended a, Extended b) { return mm::detail::LimitOf(x, a, b); }

Extended ModR(Extended a, Extended b) {
  if (b == 0) throw EDivByZero("Division by zero");
  return a - std::trunc(a / b) * b;
}

namespace {
int32_t ToInt32(Extended v) {
  if (!(v >= -2147483648.0L && v <= 2147483647.0L)) throw EIntOverflow("Integer overflow");
  return static_cast<int32_t>(v);
}
}  // namespace

int32_t Ceil(Extended x) {
  const Extended t = std::trunc(x);
  return ToInt32(x - t > 0 ? t + 1 : t);
}

int32_t Floor(Extended x) {
  const Extended t = std::trunc(x);
  return ToInt32(x - t < 0 ? t - 1 : t);
}

Extended ArcCos(Extended x) { return std::atan2(std::sqrt(1 - x * x), x); }
Extended ArcSin(Extended x) { return std::atan2(x, std::sqrt(1 - x * x)); }
Extended ArcTan2(Extended y, Extended x) { return std::atan2(y, x); }
Extended Tan(Extended x) { return std::tan(x); }
Extended Cotan(Extended x) { return 1 / std::tan(x); }
Extended Log(Extended x) { return std::log(x); }
Extended Log2(Extended x) { return std::log2(x); }
Extended Log10(Extended x) { return std::log10(x); }

Extended Pow(Extended base, Extended exponent) { return std::exp2(exponent * std::log2(base)); }
