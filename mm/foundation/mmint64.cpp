#include "mmint64.h"

int64_t int64x64(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

int64_t int64Div32(int64_t value, uint32_t divisor) {
  if (divisor == 0) throw EDivByZero("Division by zero");
  return value / int64_t{divisor};
}

int64_t int64Mod32(int64_t value, uint32_t divisor) {
  if (divisor == 0) throw EDivByZero("Division by zero");
  return value % int64_t{divisor};
}
