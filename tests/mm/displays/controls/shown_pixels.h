#pragma once
// Reads what a control showed when it last painted, so a test can tell whether a change of a
// property reached the screen (a repaint) and not only the next rendering.
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "mmutilsdraw.h"
#include "ui_canvas.h"
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

// Whether the control's last paint shows `text` where TextOutAligned puts it with these
// arguments: every pixel a lone copy of the text sets fully in `color` has that colour in the
// picture. Text elsewhere, other text of that colour nearby or no text at all does not pass.
inline ::testing::AssertionResult ShowsTextAt(TControl& c, int x, int y, const std::string& text,
                                              const std::string& font, int size, int alignment,
                                              TColor color) {
  const QImage* img = c.LastPaint();
  if (!img) return ::testing::AssertionFailure() << "nothing painted";
  TBitmap lone(img->width(), img->height());
  TCanvas& cv = lone.Canvas();
  cv.Brush().Color = color == clBlack ? clWhite : clBlack;
  cv.FillRect(Rect(0, 0, lone.Width(), lone.Height()));
  cv.Brush().Style = bsClear;
  cv.Font().SetColor(color);
  TextOutAligned(cv, x, y, text, font, size, alignment);
  int set = 0, missing = 0;
  const uint32_t want = ColorToPixel(color) & 0xFFFFFF;
  for (int py = 0; py < lone.Height(); ++py)
    for (int px = 0; px < lone.Width(); ++px) {
      if ((lone.ScanLine(py)[px] & 0xFFFFFF) != want) continue;
      ++set;
      missing += ShownPixels(c, Rect(px, py, px + 1, py + 1), color) == 0;
    }
  if (set == 0) return ::testing::AssertionFailure() << "\"" << text << "\" sets no pixel";
  if (missing > 0)
    return ::testing::AssertionFailure()
           << missing << " of the " << set << " pixels of \"" << text << "\" not shown";
  return ::testing::AssertionSuccess();
}

}  // namespace vant
