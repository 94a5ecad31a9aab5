#include "g32_lowlevel.h"

#include <cstdlib>

namespace g32 {

void FillLongword(void* dst, int64_t count, uint32_t value) {
  auto* p = static_cast<uint32_t*>(dst);
  for (int64_t i = 0; i < count; ++i) p[i] = value;
}

bool TestClip(int& a, int& b, int size) {
  TestSwap(a, b);
  if (a < 0) a = 0;
  if (b >= size) b = size - 1;
  return a <= b;
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;
  bool negative = (product < 0) != (c < 0);
  uint64_t magnitude = product < 0 ? uint64_t(0) - uint64_t(product) : uint64_t(product);
  uint64_t divisor = c < 0 ? uint64_t(0) - uint64_t(int64_t(c)) : uint64_t(c);
  uint64_t quotient = (magnitude + divisor / 2) / divisor;
  if (quotient > 0x7FFFFFFFu) return -1;
  int q = static_cast<int>(quotient);
  return negative ? -q : q;
}

}  // namespace g32
