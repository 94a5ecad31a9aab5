#include "bitmapdecode.h"

#include <algorithm>
#include <limits>

namespace vant::bitmap {
namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

constexpr uint32_t kOpaque = 0xFF000000u;

// A channel of a bit-field pixel scaled to 0..255, rounded.
struct Channel {
  uint32_t mask = 0, max = 0;
  int shift = 0;
  explicit Channel(uint32_t m) : mask(m) {
    if (!m) return;
    shift = __builtin_ctz(m);
    max = m >> shift;
  }
  uint32_t Get(uint32_t v) const {
    if (!mask) return 0;
    return uint32_t((uint64_t((v & mask) >> shift) * 255 + max / 2) / max);
  }
};

// Run-length codes straight into the pixels (code row r is picture row rows - 1 - r when
// `bottomUp`). Runs and copies are cut at the right edge, so a code costs a step and the pixels
// it shows, and the position only moves forward, so no pixel is written twice. Every code of a
// valid picture writes a pixel or moves on, so it needs fewer codes than pixels plus rows; a
// hostile one is cut off there and costs about a fill of the picture it claims.
void DecodeRle(const uint8_t* p, int64_t n, bool four, int64_t w, int64_t rows, bool bottomUp,
               const uint32_t* colors, uint32_t* pixels) {
  int64_t x = 0, y = 0, i = 0;
  int64_t codes = 2 * (w * rows + rows) + 16;
  auto line = [&] { return pixels + size_t(bottomUp ? rows - 1 - y : y) * size_t(w); };
  while (i + 1 < n && y < rows && codes-- > 0) {
    const uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count != 0) {
      uint32_t* d = line();
      for (int64_t k = 0, end = std::min<int64_t>(count, w - x); k < end; ++k) {
        d[x + k] = colors[four ? ((k & 1) ? value & 15 : value >> 4) : value];
      }
      x += count;
    } else if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      return;
    } else if (value == 2) {  // move right and up
      if (i + 1 >= n) return;
      x += p[i];
      y += p[i + 1];
      i += 2;
    } else {  // a copy, padded to whole words
      const int64_t bytes = four ? (value + 1) / 2 : value;
      // A copy the data ends inside shows what it holds.
      const int64_t held = std::min<int64_t>(value, four ? 2 * (n - i) : n - i);
      uint32_t* d = line();
      for (int64_t k = 0, end = std::min<int64_t>(held, w - x); k < end; ++k) {
        const uint8_t b = p[i + (four ? k / 2 : k)];
        d[x + k] = colors[four ? ((k & 1) ? b & 15 : b >> 4) : b];
      }
      if (held < value) return;
      x += value;
      i += bytes + (bytes & 1);
    }
  }
}

}  // namespace

uint32_t Format::Entries() const {
  if (bits <= 8) return colorsUsed ? colorsUsed : 1u << bits;
  return compression == kBitFields || compression == kAlphaBitFields ? 0 : colorsUsed;
}

std::optional<Format> ReadFormat(std::span<const uint8_t> info) {
  if (info.size() < 4) return std::nullopt;
  Format f;
  f.headerSize = Le32(info.data());
  const uint8_t* h = info.data();
  int64_t width, height;
  if (f.headerSize == 12) {
    if (info.size() < 12) return std::nullopt;
    width = Le16(h + 4), height = Le16(h + 6), f.bits = int(Le16(h + 10));
    if (f.bits != 1 && f.bits != 4 && f.bits != 8 && f.bits != 24) return std::nullopt;
  } else {
    if (f.headerSize < 40 || f.headerSize > 1024 || info.size() < f.headerSize) {
      return std::nullopt;
    }
    width = int32_t(Le32(h + 4)), height = int32_t(Le32(h + 8));
    f.bits = int(Le16(h + 14)), f.compression = Le32(h + 16), f.colorsUsed = Le32(h + 32);
    if (f.colorsUsed > 256) return std::nullopt;
  }
  f.topDown = height < 0;
  if (f.topDown) height = -height;
  if (width < 0 || height > std::numeric_limits<int32_t>::max() ||
      uint64_t(width) * uint64_t(height) > kMaxPixels) {
    return std::nullopt;
  }
  f.width = int32_t(width), f.rows = int32_t(height);

  const int b = f.bits;
  bool pairs;
  switch (f.compression) {
    case kRgb:
      pairs = b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32;
      break;
    case kRle8:
      pairs = b == 8;
      break;
    case kRle4:
      pairs = b == 4;
      break;
    case kBitFields:
    case kAlphaBitFields:
      pairs = b == 16 || b == 32;
      break;
    default:
      pairs = false;
  }
  if (!pairs) return std::nullopt;

  if (f.compression == kBitFields || f.compression == kAlphaBitFields) {
    // Later headers hold the masks themselves; a 40-byte one is followed by them.
    int n;
    if (f.headerSize >= 52) {
      n = f.headerSize >= 56 ? 4 : 3;
    } else {
      n = f.compression == kAlphaBitFields ? 4 : 3;
      f.maskBytes = uint32_t(4 * n);
      if (info.size() < 40 + f.maskBytes) return std::nullopt;
    }
    for (int i = 0; i < n; ++i) f.masks[i] = Le32(h + 40 + 4 * i);
  } else if (b == 16) {
    f.masks[0] = 0x7C00, f.masks[1] = 0x03E0, f.masks[2] = 0x001F;
  } else if (b == 32) {
    f.masks[0] = 0xFF0000, f.masks[1] = 0xFF00, f.masks[2] = 0xFF, f.masks[3] = 0xFF000000;
  }
  return f;
}

bool DecodePixels(const Format& f, std::span<const uint8_t> info, std::span<const uint8_t> data,
                  bool keepAlpha, std::vector<uint32_t>& pixels) {
  pixels.clear();
  if (f.width == 0 || f.rows == 0) return true;
  if (int64_t(info.size()) < f.TableEnd()) return false;
  const int64_t w = f.width, rows = f.rows;
  const int64_t stride = f.Stride();
  // Everything that can refuse the picture is decided before its pixels are allocated.
  if (f.RunLength() ? data.size() < 2 : stride > int64_t(data.size()) / rows) return false;

  uint32_t colors[256];
  std::fill(std::begin(colors), std::end(colors), kOpaque);
  if (f.bits <= 8) {
    const uint8_t* table = info.data() + f.TableOffset();
    for (uint32_t i = 0, n = std::min<uint32_t>(f.Entries(), 256); i < n; ++i) {
      const uint8_t* e = table + size_t(i) * f.EntryBytes();
      colors[i] = kOpaque | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    }
  }

  if (f.RunLength()) {
    // What no code reaches keeps index 0.
    pixels.assign(size_t(w) * size_t(rows), colors[0]);
    DecodeRle(data.data(), int64_t(data.size()), f.compression == kRle4, w, rows, !f.topDown,
              colors, pixels.data());
    return true;
  }

  pixels.resize(size_t(w) * size_t(rows));
  const Channel red(f.masks[0]), green(f.masks[1]), blue(f.masks[2]),
      alpha(keepAlpha ? f.masks[3] : 0);
  for (int64_t r = 0; r < rows; ++r) {
    const uint8_t* s = data.data() + stride * r;
    uint32_t* d = pixels.data() + size_t(f.topDown ? r : rows - 1 - r) * size_t(w);
    switch (f.bits) {
      case 1:
        for (int64_t x = 0; x < w; ++x) d[x] = colors[(s[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        for (int64_t x = 0; x < w; ++x) d[x] = colors[(x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4];
        break;
      case 8:
        for (int64_t x = 0; x < w; ++x) d[x] = colors[s[x]];
        break;
      case 24:
        for (int64_t x = 0; x < w; ++x) {
          d[x] = kOpaque | uint32_t(s[3 * x + 2]) << 16 | uint32_t(s[3 * x + 1]) << 8 | s[3 * x];
        }
        break;
      default:  // 16 and 32 bits through their masks
        for (int64_t x = 0; x < w; ++x) {
          const uint32_t v = f.bits == 16 ? Le16(s + 2 * x) : Le32(s + 4 * x);
          const uint32_t a = alpha.mask ? alpha.Get(v) : 255;
          d[x] = a << 24 | red.Get(v) << 16 | green.Get(v) << 8 | blue.Get(v);
        }
    }
  }
  return true;
}

}  // namespace vant::bitmap
