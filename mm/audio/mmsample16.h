#pragma once
// 16-bit little-endian samples at any byte address (a slice of a larger block may start on an
// odd byte), moved with memcpy, which compiles to plain loads and stores.
#include <cstdint>
#include <cstring>

namespace vant::sample {

inline int Load16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Store16(uint8_t* p, int v) {
  const int16_t s = static_cast<int16_t>(v);
  std::memcpy(p, &s, 2);
}

}  // namespace vant::sample
