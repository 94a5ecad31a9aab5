#include "mmutilsdraw.h"

#include <algorithm>

#include "mmmuldiv.h"
#include "mmutils.h"

using vant::TBitmap;
using vant::TCanvas;
using vant::TColor;
using vant::TRect;

void ChangeColors(TBitmap& bitmap, bool use_third, TColor color1, TColor color2, TColor color3) {
  const uint32_t white = vant::ColorToPixel(vant::clWhite),
                 black = vant::ColorToPixel(vant::clBlack);
  const uint32_t silver = vant::ColorToPixel(vant::clSilver);
  const uint32_t c1 = vant::ColorToPixel(color1), c2 = vant::ColorToPixel(color2);
  const uint32_t c3 = vant::ColorToPixel(use_third ? color3 : color2);
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint32_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint32_t p = row[x] | 0xFF000000u;
      row[x] = p == white ? c1 : p == black ? c2 : p == silver ? c3 : black;
    }
  }
}

void GetBitmapSize(const TBitmap& bitmap, int& width, int& height) {
  width = bitmap.Width();
  height = bitmap.Height();
}

TColor GetTransparentColorEx(const TBitmap& bitmap, vant::TPoint p) {
  if (bitmap.Empty()) return vant::clBlack;
  const int x = std::clamp(p.X, 0, bitmap.Width() - 1), y = std::clamp(p.Y, 0, bitmap.Height() - 1);
  return vant::PixelToColor(bitmap.ScanLine(y)[x]);
}

TColor GetTransparentColor(const TBitmap& bitmap) {
  return GetTransparentColorEx(bitmap, {0, bitmap.Height() - 1});
}

void DrawTransparentBitmapEx(TCanvas& canvas, const TBitmap& bitmap, int x, int y,
                             const TRect& source_rect, TColor transparent) {
  const TRect src =
      vant::IntersectRect(source_rect, vant::Rect(0, 0, bitmap.Width(), bitmap.Height()));
  if (src.IsEmpty()) return;
  vant::CriticalSectionLock lock(MMUtilsDrawLock());
  const uint32_t key = vant::ColorToPixel(transparent) & 0x00FFFFFFu;
  // mask: white where the source is transparent; image: the source with those pixels black.
  TBitmap mask(src.Width(), src.Height()), image(src.Width(), src.Height());
  for (int row = 0; row < src.Height(); ++row) {
    const uint32_t* s = bitmap.ScanLine(src.Top + row) + src.Left;
    uint32_t* m = mask.ScanLine(row);
    uint32_t* i = image.ScanLine(row);
    for (int col = 0; col < src.Width(); ++col) {
      const bool clear = (s[col] & 0x00FFFFFFu) == key;
      m[col] = clear ? 0xFFFFFFFFu : 0xFF000000u;
      i[col] = clear ? 0xFF000000u : s[col];
    }
  }
  const TRect dest = vant::Bounds(x, y, src.Width(), src.Height());
  canvas.BitBlt(dest, mask.Canvas(), 0, 0, vant::cmSrcAnd);
  canvas.BitBlt(dest, image.Canvas(), 0, 0, vant::cmSrcPaint);
}

void DrawTransparentBitmap(TCanvas& canvas, const TBitmap& bitmap, int x, int y,
                           TColor transparent) {
  DrawTransparentBitmapEx(canvas, bitmap, x, y, vant::Rect(0, 0, bitmap.Width(), bitmap.Height()),
                          transparent);
}

void TileBlt(TCanvas& canvas, const TBitmap& bitmap, const TRect& rect, uint32_t rop) {
  const int w = bitmap.Width(), h = bitmap.Height();
  if (w <= 0 || h <= 0) return;
  vant::CriticalSectionLock lock(MMUtilsDrawLock());
  for (int y = rect.Top; y < rect.Bottom; y += h)
    for (int x = rect.Left; x < rect.Right; x += w)
      canvas.BitBlt(vant::Rect(x, y, std::min(x + w, rect.Right), std::min(y + h, rect.Bottom)),
                    bitmap.Canvas(), 0, 0, rop);
}

void FillGradient(TCanvas& canvas, TColor color1, TColor color2, int steps, const TRect& rect) {
  if (steps < 1) return;
  const uint32_t a = vant::ColorToRGB(color1), b = vant::ColorToRGB(color2);
  const int width = rect.Width();
  for (int i = 0; i < steps; ++i) {
    TColor c = static_cast<TColor>(a);
    if (steps >= 2) {
      auto mix = [&](int from, int to) { return from + MulDiv32RN(i, to - from, steps - 1); };
      c = vant::RGBColor(mix(vant::GetRValue(a), vant::GetRValue(b)),
                         mix(vant::GetGValue(a), vant::GetGValue(b)),
                         mix(vant::GetBValue(a), vant::GetBValue(b)));
    }
    FillSolid(canvas, c,
              vant::Rect(rect.Left + MulDiv32RN(i, width, steps), rect.Top,
                         rect.Left + MulDiv32RN(i + 1, width, steps), rect.Bottom));
  }
}

void FillSolid(TCanvas& canvas, TColor color, const TRect& rect) {
  vant::TBrush saved;
  saved.Assign(&canvas.Brush());
  canvas.Brush().Color = color;
  canvas.Brush().Style = vant::bsSolid;
  canvas.FillRect(rect);
  canvas.Brush().Assign(&saved);
}

void TextOutAligned(TCanvas& canvas, int x, int y, const std::string& text,
                    const std::string& font_name, int size, int alignment) {
  vant::TFont saved;
  saved.Assign(&canvas.Font());
  canvas.Font().SetName(font_name);
  canvas.Font().SetStyle(0);
  canvas.Font().SetHeight((_Win2K_ || _WinXP_) ? 1 - size : size);
  canvas.Font().SetOrientation(alignment == 2 ? 900 : 0);
  const int cx = canvas.TextWidth(text), cy = canvas.TextHeight(text);
  switch (alignment) {
    case 0:
      canvas.TextOut(x, y - cy / 2, text);
      break;
    case 1:
      canvas.TextOut(x - cx, y - cy / 2, text);
      break;
    case 2:
      canvas.TextOut(x - cy / 2, y + cx, text);
      break;
    default:
      break;
  }
  canvas.Font().Assign(&saved);
}

namespace {
bool NoBand(vant::TControl* control, const TRect& r) {
  return !control || r == TRect{} || !control->Canvas().HasSurface();
}
// Draws with `pen` on the control's canvas and puts its pen and brush back.
template <typename F>
void WithPen(vant::TControl* control, const vant::TPen& pen, F draw) {
  TCanvas& c = control->Canvas();
  vant::TPen saved_pen;
  vant::TBrush saved_brush;
  saved_pen.Assign(&c.Pen());
  saved_brush.Assign(&c.Brush());
  c.Pen().Assign(&pen);
  c.Brush().Style = vant::bsClear;
  draw(c);
  c.Pen().Assign(&saved_pen);
  c.Brush().Assign(&saved_brush);
}
}  // namespace

void DrawRubberband(vant::TControl* control, const TRect& rect) {
  if (NoBand(control, rect)) return;
  vant::TPen pen;
  pen.Color = vant::clWhite;
  pen.Style = vant::psDot;
  pen.Mode = vant::pmXor;
  const TRect r = vant::Rect(std::min(rect.Left, rect.Right), std::min(rect.Top, rect.Bottom),
                             std::max(rect.Left, rect.Right), std::max(rect.Top, rect.Bottom));
  WithPen(control, pen, [&](TCanvas& c) { c.Rectangle(r); });
}

void DrawRubberLineEx(vant::TControl* control, const TRect& rect, const vant::TPen& pen,
                      vant::TPenMode mode) {
  if (NoBand(control, rect)) return;
  vant::TPen p;
  p.Assign(&pen);
  p.Mode = mode;
  WithPen(control, p, [&](TCanvas& c) {
    c.MoveTo(rect.Left, rect.Top);
    c.LineTo(rect.Right, rect.Bottom);
  });
}

void DrawRubberLine(vant::TControl* control, const TRect& rect) {
  vant::TPen pen;
  pen.Color = vant::clWhite;
  DrawRubberLineEx(control, rect, pen, vant::pmXor);
}

vant::TPoint ClientToClient(const vant::TControl& dest, const vant::TControl& source,
                            vant::TPoint p) {
  return dest.ScreenToClient(source.ClientToScreen(p));
}

int NonClientHeight() { return 19 + 2 * 4; }
int MenuHeight() { return 19; }
int BitsPerPixel() { return 32; }
