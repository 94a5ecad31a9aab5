// DIB pixels to and from the framework's 32-bit bitmaps, and their display.
#include <algorithm>
#include <cstring>

#include "mmdib.h"
#include "ui_canvas.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint32_t kOpaque = 0xFF000000u;

uint32_t Argb(uint8_t r, uint8_t g, uint8_t b) { return kOpaque | r << 16 | g << 8 | b; }

// A channel of a bit-field pixel scaled to 8 bits.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctz(mask);
  const uint32_t max = mask >> shift;
  return static_cast<uint8_t>(((pixel & mask) >> shift) * 255u / max);
}

// Run-length data to one index per pixel, rows in memory order; every step checked.
void DecodeRle(const uint8_t* p, int64_t n, bool four, int32_t w, int32_t rows,
               std::vector<uint8_t>& idx) {
  idx.assign(size_t(w) * size_t(rows), 0);
  int64_t x = 0, y = 0, i = 0;
  auto put = [&](uint8_t v) {
    if (x < w && y < rows) idx[size_t(y) * size_t(w) + size_t(x)] = v;
    ++x;
  };
  while (i + 1 < n && y < rows) {
    const uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count != 0) {
      for (int k = 0; k < count; ++k) put(four ? ((k & 1) ? value & 15 : value >> 4) : value);
      continue;
    }
    if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      if (i + 1 >= n) return;
      x += p[i];
      y += p[i + 1];
      i += 2;
    } else {
      const int64_t bytes = four ? (value + 1) / 2 : value;
      for (int k = 0; k < value; ++k) {
        const int64_t at = i + (four ? k / 2 : k);
        if (at >= n) return;
        put(four ? ((k & 1) ? p[at] & 15 : p[at] >> 4) : p[at]);
      }
      i += bytes + (bytes & 1);
    }
  }
}

}  // namespace

namespace {

bool Decode(TDIBView dib, std::vector<uint32_t>& pixels, int32_t& width, int32_t& height) {
  width = height = 0;
  if (!IsWinDIB(dib)) return false;
  const int32_t w = DIB_Width(dib), h = DIB_Height(dib);
  const int bits = DIB_BitCount(dib);
  const uint32_t compression = DIB_Compression(dib);
  const int64_t ptr = DIB_Ptr(dib), colors = DIB_Colors(dib);
  if (w <= 0 || h == 0 || h == INT32_MIN || ptr < 0) return false;
  const int32_t rows = h < 0 ? -h : h;
  // 16 million pixels bound what a run-length header may ask for.
  if (int64_t{w} * rows > (int64_t{1} << 24)) return false;
  const uint8_t* px = dib.data() + ptr;
  const int64_t have = int64_t(dib.size()) - ptr;
  const int64_t stride = DIB_WidthBytes(dib);

  std::vector<uint32_t> table;
  if (bits <= 8) {
    const int64_t entries = std::min<int64_t>(DIB_NumColors(dib), (ptr - colors) / 4);
    for (int64_t i = 0; i < entries; ++i) {
      const uint8_t* q = dib.data() + colors + 4 * i;
      table.push_back(Argb(q[2], q[1], q[0]));
    }
  }
  auto lookup = [&](uint32_t i) { return i < table.size() ? table[i] : kOpaque; };

  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bits == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  if (compression == BI_BITFIELDS) {
    if (ptr - colors < 12) return false;
    for (int k = 0; k < 3; ++k) masks[k] = Le32(dib.data() + colors + 4 * k);
  }

  const bool runLength = compression == BI_RLE8 || compression == BI_RLE4;
  if (!runLength && stride > have / rows) return false;  // before anything is allocated
  pixels.assign(size_t(w) * size_t(rows), kOpaque);
  // Memory row r is display row r for top-down DIBs, rows - 1 - r for bottom-up ones.
  auto out = [&](int32_t r) {
    return pixels.data() + size_t(h < 0 ? r : rows - 1 - r) * size_t(w);
  };

  if (compression == BI_RLE8 || compression == BI_RLE4) {
    if ((compression == BI_RLE8 && bits != 8) || (compression == BI_RLE4 && bits != 4))
      return false;
    std::vector<uint8_t> idx;
    DecodeRle(px, std::min<int64_t>(have, DIB_SizeImage(dib)), compression == BI_RLE4, w, rows,
              idx);
    for (int32_t r = 0; r < rows; ++r) {
      for (int32_t x = 0; x < w; ++x) out(r)[x] = lookup(idx[size_t(r) * size_t(w) + size_t(x)]);
    }
  } else {
    if (compression != BI_RGB && compression != BI_BITFIELDS) return false;
    for (int32_t r = 0; r < rows; ++r) {
      const uint8_t* s = px + stride * r;
      uint32_t* d = out(r);
      for (int32_t x = 0; x < w; ++x) {
        switch (bits) {
          case 1:
            d[x] = lookup((s[x / 8] >> (7 - x % 8)) & 1);
            break;
          case 4:
            d[x] = lookup((x & 1) ? s[x / 2] & 15 : s[x / 2] >> 4);
            break;
          case 8:
            d[x] = lookup(s[x]);
            break;
          case 16: {
            const uint32_t v = s[2 * x] | s[2 * x + 1] << 8;
            d[x] = Argb(Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2]));
            break;
          }
          case 24:
            d[x] = Argb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
            break;
          case 32: {
            const uint32_t v = Le32(s + 4 * x);
            d[x] = Argb(Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2]));
            break;
          }
          default:
            return false;
        }
      }
    }
  }
  width = w;
  height = rows;
  return true;
}

}  // namespace

bool DIB_ToPixels(TDIBView dib, std::vector<uint32_t>& pixels, int32_t& width, int32_t& height) {
  pixels.clear();
  width = height = 0;
  std::vector<uint32_t> decoded;
  if (!Decode(dib, decoded, width, height)) {
    width = height = 0;
    return false;
  }
  pixels.swap(decoded);
  return true;
}

namespace {

bool ToBitmap(TDIBView dib, vant::TBitmap& bitmap) {
  std::vector<uint32_t> pixels;
  int32_t w, h;
  if (!DIB_ToPixels(dib, pixels, w, h)) return false;
  bitmap.SetSize(w, h);
  for (int32_t y = 0; y < h; ++y) {
    std::memcpy(bitmap.ScanLine(y), pixels.data() + size_t(y) * size_t(w), sizeof(uint32_t) * w);
  }
  return true;
}

}  // namespace

bool DIB_Display(TDIBView dib, vant::TCanvas& canvas, const vant::TRect& rect) {
  vant::TBitmap bitmap;
  if (!ToBitmap(dib, bitmap)) return false;
  canvas.StretchDraw(rect, bitmap);
  return true;
}

bool DIB_DIBToBitmap(TDIBView dib, vant::TBitmap& bitmap, std::optional<TLogPalette>& palette) {
  palette = DIB_MakePalette(dib);
  return ToBitmap(dib, bitmap);
}

TDIB DIB_BitmapToDIB(const vant::TBitmap& bitmap, const TLogPalette* palette, int bitCount,
                     int direction) {
  const int w = bitmap.Width(), h = bitmap.Height();
  if (w <= 0 || h <= 0) return {};
  TDIB dib = DIB_Create(bitCount, direction, w, h, true);
  if (dib.empty()) return {};
  const int bits = DIB_BitCount(dib);
  if (bits <= 8 && palette != nullptr && !palette->entries.empty()) {
    DIB_SetUsage(dib, palette, 0);
  }
  const int64_t ptr = DIB_Ptr(dib), stride = DIB_WidthBytes(dib);
  // With a palette only its entries are candidates; without one the new DIB's own colours.
  const std::optional<TLogPalette> own = bits <= 8 ? DIB_MakePalette(dib) : std::nullopt;
  const TLogPalette* candidates = palette != nullptr && !palette->entries.empty() ? palette
                                  : own                                           ? &*own
                                                                                  : nullptr;
  const size_t count =
      candidates ? std::min<size_t>(candidates->entries.size(), size_t{1} << bits) : 0;
  for (int y = 0; y < h; ++y) {
    const uint32_t* s = bitmap.ScanLine(y);
    uint8_t* d = dib.data() + ptr + stride * (direction < 0 ? y : h - 1 - y);
    for (int x = 0; x < w; ++x) {
      const uint8_t r = uint8_t(s[x] >> 16), g = uint8_t(s[x] >> 8), b = uint8_t(s[x]);
      if (bits == 24) {
        d[3 * x] = b;
        d[3 * x + 1] = g;
        d[3 * x + 2] = r;
        continue;
      }
      const int best = count ? PaletteNearestIndex(*candidates, count, r, g, b) : 0;
      if (bits == 8) {
        d[x] = uint8_t(best);
      } else if (bits == 4) {
        d[x / 2] |= uint8_t((x & 1) ? best : best << 4);
      } else if (bits == 1) {
        d[x / 8] |= uint8_t((best & 1) << (7 - x % 8));
      }
    }
  }
  return dib;
}
