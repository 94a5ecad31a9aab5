// DIB pixels to and from the framework's 32-bit bitmaps, and their display.
#include <algorithm>
#include <cstring>

#include "mmdib.h"
#include "ui_canvas.h"

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
      if (bits == 32) {
        d[4 * x] = b;
        d[4 * x + 1] = g;
        d[4 * x + 2] = r;
        d[4 * x + 3] = uint8_t(s[x] >> 24);
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
  // The room DIB_Create keeps for a full colour table is not part of this picture.
  dib.resize(static_cast<size_t>(DIB_Size(dib)));
  return dib;
}
