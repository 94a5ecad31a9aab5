#include "g32_drawingex.h"

#include <cstdint>

namespace g32 {
namespace {

enum : unsigned { kLeft = 1, kRight = 2, kTop = 4, kBottom = 8 };

unsigned OutCode(int64_t x, int64_t y, int minX, int minY, int maxX, int maxY) {
  unsigned code = 0;
  if (x < minX) code |= kLeft;
  if (x > maxX) code |= kRight;
  if (y < minY) code |= kTop;
  if (y > maxY) code |= kBottom;
  return code;
}

// a * b / c rounded half away from zero, as MulDiv, but wide enough for 16.16 coordinates whose
// differences leave 32 bits.
int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
  __int128 p = static_cast<__int128>(a) * b;
  bool negative = (p < 0) != (c < 0);
  if (p < 0) p = -p;
  if (c < 0) c = -c;
  int64_t q = static_cast<int64_t>((p + c / 2) / c);
  return negative ? -q : q;
}

}  // namespace

bool ClipLine(int& X1, int& Y1, int& X2, int& Y2, int MinX, int MinY, int MaxX, int MaxY) {
  unsigned c1 = OutCode(X1, Y1, MinX, MinY, MaxX, MaxY);
  unsigned c2 = OutCode(X2, Y2, MinX, MinY, MaxX, MaxY);
  if ((c1 | c2) == 0) return true;
  if (c1 & c2) return false;

  const int64_t ox1 = X1, oy1 = Y1, ox2 = X2, oy2 = Y2;
  int64_t x1 = ox1, y1 = oy1, x2 = ox2, y2 = oy2;
  // Ends outside vertically slide along the line onto the crossed horizontal border.
  if (c1 & (kTop | kBottom)) {
    int64_t border = (c1 & kTop) ? MinY : MaxY;
    x1 = ox1 + MulDiv64(ox2 - ox1, border - oy1, oy2 - oy1);
    y1 = border;
  }
  if (c2 & (kTop | kBottom)) {
    int64_t border = (c2 & kTop) ? MinY : MaxY;
    x2 = ox2 + MulDiv64(ox1 - ox2, border - oy2, oy1 - oy2);
    y2 = border;
  }
  // Then ends still outside horizontally slide onto the crossed vertical border.
  if (x1 < MinX || x1 > MaxX) {
    int64_t border = x1 < MinX ? MinX : MaxX;
    if (x2 == x1) return false;
    y1 = y1 + MulDiv64(y2 - y1, border - x1, x2 - x1);
    x1 = border;
  }
  if (x2 < MinX || x2 > MaxX) {
    int64_t border = x2 < MinX ? MinX : MaxX;
    if (x2 == x1) return false;
    y2 = y2 + MulDiv64(y1 - y2, border - x2, x1 - x2);
    x2 = border;
  }
  if (OutCode(x1, y1, MinX, MinY, MaxX, MaxY) | OutCode(x2, y2, MinX, MinY, MaxX, MaxY)) {
    return false;
  }
  X1 = static_cast<int>(x1);
  Y1 = static_cast<int>(y1);
  X2 = static_cast<int>(x2);
  Y2 = static_cast<int>(y2);
  return true;
}

}  // namespace g32
