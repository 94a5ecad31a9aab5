#pragma once
// The canvas values of a display's few colours, looked up once per drawing period: on an 8-bit
// canvas every lookup is a nearest-colour search of the palette, which would cost more than the
// drawing itself if each primitive paid it.
#include <cstdint>

#include "mmdibcv.h"

class TMMColorCache {
 public:
  // Forgets every value; at the start of each drawing period (the palette may have changed).
  void Reset() { n_ = 0, canvas_ = nullptr; }
  uint32_t Raw(TMMDIBCanvas& c, vant::TColor color) {
    if (&c != canvas_) {
      canvas_ = &c;
      n_ = 0;
    }
    for (int i = 0; i < n_; ++i)
      if (colors_[i] == color) return raw_[i];
    const uint32_t r = c.DIB_ColorToIndex(color);
    if (n_ < kSize) {
      colors_[n_] = color;
      raw_[n_++] = r;
    }
    return r;
  }
  // The drawing colour of the period.
  void Set(TMMDIBCanvas& c, vant::TColor color) { c.DIB_SetColor(Raw(c, color)); }

 private:
  static constexpr int kSize = 16;
  TMMDIBCanvas* canvas_ = nullptr;
  int n_ = 0;
  vant::TColor colors_[kSize] = {};
  uint32_t raw_[kSize] = {};
};
