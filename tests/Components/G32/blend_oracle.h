#pragma once
// The kernels' arithmetic written out channel by channel, independently of the kernels' own
// two-channels-per-multiply and packed-lane code.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace oracle {

inline uint32_t Ch(uint32_t c, int i) { return (c >> (8 * i)) & 0xFF; }

// The largest difference between the two colours in any channel.
inline int MaxChannelDiff(uint32_t a, uint32_t b) {
  int d = 0;
  for (int i = 0; i < 4; ++i) d = std::max(d, std::abs(int(Ch(a, i)) - int(Ch(b, i))));
  return d;
}

inline uint32_t PlainCh(uint32_t f, uint32_t b, uint32_t w) {
  return ((f * w + 128) >> 8) + ((b * (255 - w) + 128) >> 8);
}
inline uint32_t PackedCh(uint32_t f, uint32_t b, uint32_t w) {
  return (f * w + b * (256 - w) + 128) >> 8;
}

// Channels 0..channels-1 mixed; the others 0.
template <typename Rule>
uint32_t Mix(uint32_t f, uint32_t b, uint32_t w, int channels, Rule rule) {
  uint32_t r = 0;
  for (int i = 0; i < channels; ++i) r |= rule(Ch(f, i), Ch(b, i), w) << (8 * i);
  return r;
}

struct Plain {
  static uint32_t CombineReg(uint32_t x, uint32_t y, uint32_t w) {
    if (w == 0) return y;
    if (w == 255) return x;
    return Mix(x, y, w, 4, PlainCh);
  }
  static uint32_t CombineMem(uint32_t f, uint32_t b, uint32_t w) {
    if (w == 0) return b;
    if (w == 255) return f;
    return Mix(f, b, w, 3, PlainCh);
  }
  static uint32_t BlendReg(uint32_t f, uint32_t b) {
    uint32_t a = f >> 24;
    if (a == 255) return f;
    if (a == 0) return b;
    return Mix(f, b, a, 4, PlainCh);
  }
  static uint32_t BlendMem(uint32_t f, uint32_t b) { return BlendReg(f, b); }
  static uint32_t BlendRegEx(uint32_t f, uint32_t b, uint32_t m) {
    uint32_t w = ((f >> 24) * m) >> 8;
    if ((f >> 24) == 0 || w == 0) return b;
    return Mix(f, b, w, 3, PlainCh);
  }
  static uint32_t BlendMemEx(uint32_t f, uint32_t b, uint32_t m) { return BlendRegEx(f, b, m); }
};

struct Packed {
  static uint32_t CombineReg(uint32_t x, uint32_t y, uint32_t w) {
    return Mix(x, y, w, 4, PackedCh);
  }
  static uint32_t CombineMem(uint32_t f, uint32_t b, uint32_t w) {
    if (w == 0) return b;
    if (w == 255) return f;
    return Mix(f, b, w, 4, PackedCh);
  }
  static uint32_t BlendReg(uint32_t f, uint32_t b) { return Mix(f, b, f >> 24, 4, PackedCh); }
  static uint32_t BlendMem(uint32_t f, uint32_t b) {
    uint32_t a = f >> 24;
    if (a == 0) return b;
    if (a == 255) return f;
    return Mix(f, b, a, 4, PackedCh);
  }
  static uint32_t BlendRegEx(uint32_t f, uint32_t b, uint32_t m) {
    uint32_t w = ((f >> 24) * m) >> 8;
    if (w == 0) return b;
    return Mix(f, b, w, 4, PackedCh);
  }
  static uint32_t BlendMemEx(uint32_t f, uint32_t b, uint32_t m) {
    uint32_t w = ((f >> 24) * m) >> 8;
    if ((f >> 24) == 0 || w == 0) return b;
    return Mix(f, b, w, 4, PackedCh);
  }
};

}  // namespace oracle
