#pragma once
// Reads what a control showed when it last painted, so a test can tell whether a change of a
// property reached the screen (a repaint) and not only the next rendering.
#include <QImage>

#include <algorithm>

#include "ui_control.h"

namespace vant {

// The pixels of `color` within `r` (control coordinates) of the control's last paint.
inline int ShownPixels(TControl& c, const TRect& r, TColor color) {
  const QImage* img = c.LastPaint();
  if (!img) return 0;
  const QRgb want = qRgb(color & 0xFF, color >> 8 & 0xFF, color >> 16 & 0xFF);
  int n = 0;
  for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, img->height()); ++y)
    for (int x = std::max(r.Left, 0); x < std::min(r.Right, img->width()); ++x)
      n += (img->pixel(x, y) & 0xFFFFFF) == (want & 0xFFFFFF);
  return n;
}

}  // namespace vant
