#include "mmmuldiv.h"

#include <cmath>
#include <limits>

namespace {

using i128 = __int128;

template <typename T, typename W>
T Narrow(W v) {
  if (v < static_cast<W>(std::numeric_limits<T>::min()) ||
      v > static_cast<W>(std::numeric_limits<T>::max()))
    throw EIntOverflow("Integer overflow");
  return static_cast<T>(v);
}

template <typename W>
void CheckDivisor(W c) {
  if (c == 0) throw EDivByZero("Division by zero");
}

}  // namespace

int32_t MulDiv32(int32_t a, int32_t b, int32_t c) {
  CheckDivisor(c);
  return Narrow<int32_t>(int64_t{a} * b / c);
}

int32_t MulDiv32RN(int32_t a, int32_t b, int32_t c) {
  CheckDivisor(c);
  const int64_t p = int64_t{a} * b;
  const int64_t q = p / c, r = p % c;
  return Narrow<int32_t>(q + 2 * r / c);
}

uint32_t MulDivRD(uint32_t a, uint32_t b, uint32_t c) {
  CheckDivisor(c);
  return Narrow<uint32_t>(uint64_t{a} * b / c);
}

uint32_t MulDivRN(uint32_t a, uint32_t b, uint32_t c) {
  CheckDivisor(c);
  return Narrow<uint32_t>((uint64_t{a} * b + c / 2) / c);
}

uint32_t MulDivRU(uint32_t a, uint32_t b, uint32_t c) {
  CheckDivisor(c);
  return Narrow<uint32_t>((uint64_t{a} * b + c - 1) / c);
}

void DivMod32(uint32_t dividend, uint16_t divisor, uint16_t& result, uint16_t& remainder) {
  CheckDivisor(divisor);
  const uint32_t q = dividend / divisor;
  result = Narrow<uint16_t>(q);
  remainder = static_cast<uint16_t>(dividend % divisor);
}

int32_t Sal(int32_t value, int32_t shift) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) << (shift & 31));
}

int32_t Sar(int32_t value, int32_t shift) { return value >> (shift & 31); }

int32_t RangeScale(int32_t x, int32_t in_min, int32_t in_max, int32_t out_min, int32_t out_max) {
  const i128 den = i128{in_max} - in_min;
  CheckDivisor(den);
  const i128 num = (i128{x} - in_min) * out_max + (i128{in_max} - x) * out_min;
  return Narrow<int32_t>(num / den);
}

int32_t RangeScaleRN(int32_t x, int32_t in_min, int32_t in_max, int32_t out_min, int32_t out_max) {
  const double v = RangeScaleF(x, in_min, in_max, out_min, out_max);
  return Narrow<int32_t>(std::nearbyint(v));
}

double RangeScaleF(double x, double in_min, double in_max, double out_min, double out_max) {
  const double den = in_max - in_min;
  CheckDivisor(den);
  return ((x - in_min) * out_max + (in_max - x) * out_min) / den;
}

bool MulCompare(int32_t a, int32_t b, int32_t c, int32_t d) {
  return int64_t{a} * b == int64_t{c} * d;
}

int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
  CheckDivisor(c);
  return Narrow<int64_t>(i128{a} * b / c);
}
