#pragma once
// Packed DIBs built field by field, for the DIB tests and benchmarks.
#include <cstdint>
#include <cstring>
#include <vector>

#include "mmdib.h"

namespace vant::testing {

// A Windows header with the given fields, then the colour table and pixels.
inline std::vector<uint8_t> Dib(int32_t w, int32_t h, int bits, uint32_t compression,
                                uint32_t clrUsed, const std::vector<uint8_t>& colors,
                                const std::vector<uint8_t>& pixels) {
  BITMAPINFOHEADER bi{};
  bi.biSize = 40;
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = uint16_t(bits);
  bi.biCompression = compression;
  bi.biSizeImage = uint32_t(pixels.size());
  bi.biClrUsed = clrUsed;
  std::vector<uint8_t> b(sizeof bi);
  std::memcpy(b.data(), &bi, sizeof bi);
  b.insert(b.end(), colors.begin(), colors.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

}  // namespace vant::testing
