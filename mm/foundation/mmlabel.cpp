#include "mmlabel.h"

#include <algorithm>
#include <cmath>

using namespace vant;

namespace {
int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }
}  // namespace

TPoint LabelDirectionOffset(TMMLabelDirection d) {
  static const TPoint k[] = {{0, 0}, {0, -1}, {1, -1}, {1, 0},  {1, 1},
                             {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};
  return k[d];
}

TMMLabel::TMMLabel(TComponent* owner) : TMMGraphicControl(owner) {
  SetBounds(GetLeft(), GetTop(), 142, 33);
  SetTransparent(true);
  SetParentFont(false);
  Font().SetName("Times New Roman");
  Font().SetSize(20);
  Font().SetColor(clBlack);
  bitmap_.OnChange = [this](TBitmap*) { Invalidate(); };
}

template <class T>
void TMMLabel::Set(T& field, T v, bool custom) {
  if (!ChangeField(field, v)) return;
  if (custom && !applying_preset_) SetEffectStyle(lsCustom);
  Invalidate();
}

void TMMLabel::SetAlignment(TAlignment a) { Set(alignment_, a, false); }
void TMMLabel::SetDepthHighlight(int v) { Set(depth_highlight_, std::clamp(v, 0, 20), true); }
void TMMLabel::SetDepthShadow(int v) { Set(depth_shadow_, std::clamp(v, 0, 20), true); }
void TMMLabel::SetDirectionHighlight(TMMLabelDirection v) { Set(dir_highlight_, v, true); }
void TMMLabel::SetDirectionShadow(TMMLabelDirection v) { Set(dir_shadow_, v, true); }
void TMMLabel::SetColourHighlight(TColor v) { Set(colour_highlight_, v, false); }
void TMMLabel::SetColourShadow(TColor v) { Set(colour_shadow_, v, false); }
void TMMLabel::SetStyleHighlight(TMMLabelOption v) { Set(style_highlight_, v, false); }
void TMMLabel::SetStyleShadow(TMMLabelOption v) { Set(style_shadow_, v, false); }

void TMMLabel::SetEffectStyle(TMMLabelStyle v) {
  if (v == effect_) return;
  effect_ = v;
  applying_preset_ = true;
  SetColourHighlight(0xFFFFFF);
  auto layers = [this](TMMLabelDirection hd, int hdepth, TMMLabelDirection sd, int sdepth) {
    SetDirectionHighlight(hd);
    SetDepthHighlight(hdepth);
    SetDirectionShadow(sd);
    SetDepthShadow(sdepth);
  };
  switch (v) {
    case lsNone:
      layers(ldNone, 0, ldNone, 0), as_button_ = false;
      break;
    case lsCustom:
      as_button_ = false;
      break;
    case lsRaised:
      layers(ldUpLeft, 1, ldDownRight, 1);
      break;
    case lsSunken:
      layers(ldDownRight, 1, ldUpLeft, 1);
      break;
    case lsShadow:
      layers(ldNone, 0, ldDownRight, 2), as_button_ = false;
      break;
    case lsFlying:
      layers(ldDownRight, 1, ldDownRight, 5);
      SetColourHighlight(0x808080);
      as_button_ = false;
      break;
  }
  applying_preset_ = false;
  Invalidate();
  Repaint();
}

void TMMLabel::SetAsButton(bool v) {
  if (v == as_button_) return;
  as_button_ = v;
  if (v) SetEffectStyle(lsRaised);
}

void TMMLabel::SetAngle(int v) {
  v = std::clamp(v, 0, 360);
  if (v == angle_) return;
  angle_ = v;
  double a = angle_ * M_PI / 180.0;
  sin_ = std::sin(a), cos_ = std::cos(a);
  sin2_ = sin_ * sin_, cos2_ = cos_ * cos_;
  if (angle_ != 0) alignment_ = taLeftJustify;
  Invalidate();
}

bool TMMLabel::Inside(int x, int y) const {
  return x >= 0 && y >= 0 && x <= ClientWidth() && y <= ClientHeight();
}

void TMMLabel::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
  if (as_button_ && b == mbLeft && GetEnabled() && effect_ != lsSunken) SetEffectStyle(lsSunken);
  TMMGraphicControl::MouseDown(b, s, x, y);
}

void TMMLabel::MouseMove(TShiftState s, int x, int y) {
  if (as_button_ && s == TShiftState{ssLeft}) {
    TMMLabelStyle want = Inside(x, y) ? lsSunken : lsRaised;
    if (want != effect_) SetEffectStyle(want);
  }
  TMMGraphicControl::MouseMove(s, x, y);
}

void TMMLabel::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
  if (as_button_ && b == mbLeft && Inside(x, y)) SetEffectStyle(lsRaised);
  TMMGraphicControl::MouseUp(b, s, x, y);
}

void TMMLabel::DrawCaption(TCanvas& c, TRect caption_rect, TPoint start, int dx, int dy,
                           TColor colour) {
  c.Font().SetColor(colour);
  c.Brush().Style = bsClear;
  if (angle_ != 0) {
    c.TextOut(start.X + dx, start.Y + dy, GetCaption());
    return;
  }
  OffsetRect(caption_rect, dx, dy);
  unsigned align = alignment_ == taRightJustify ? DT_RIGHT
                   : alignment_ == taCenter     ? DT_CENTER
                                                : DT_LEFT;
  c.DrawText(GetCaption(), caption_rect, align | DT_WORDBREAK | DT_EXPANDTABS);
}

void TMMLabel::DrawLayer(TCanvas& c, TRect caption_rect, TPoint start, int depth,
                         TMMLabelDirection d, TMMLabelOption o, TColor colour) {
  TPoint step = LabelDirectionOffset(d);
  int last = (o == loExtrude && depth > 1) ? 1 : depth;
  for (int k = depth; k >= last && k >= 1; --k)
    DrawCaption(c, caption_rect, start, k * step.X, k * step.Y, colour);
}

void TMMLabel::Paint() {
  TCanvas& c = Canvas();
  int w = GetWidth(), h = GetHeight();
  TPoint hs = LabelDirectionOffset(dir_highlight_), ss = LabelDirectionOffset(dir_shadow_);
  hs = {hs.X * depth_highlight_, hs.Y * depth_highlight_};
  ss = {ss.X * depth_shadow_, ss.Y * depth_shadow_};
  int lo = std::min({hs.X, hs.Y, ss.X, ss.Y, 0});
  int hi = std::max({hs.X, hs.Y, ss.X, ss.Y, 0});
  int shift = alignment_ == taRightJustify ? hi - lo : alignment_ == taCenter ? (hi - lo) / 2 : 0;
  TRect caption_rect = ClientRect();
  OffsetRect(caption_rect, -lo - shift, -lo);

  c.Font().Assign(&Font());
  c.Font().SetOrientation(angle_ * 10);
  TPoint start{0, 0};
  if (angle_ != 0) {
    TFont flat;
    flat.Assign(&Font());
    TCanvas measure;
    measure.Font().Assign(&flat);
    int cx = measure.TextWidth(GetCaption() + "   ") / 2;
    int tw = measure.TextWidth(GetCaption()), th = measure.TextHeight(GetCaption());
    int x0 = cx - RoundHalfEven(tw / 2.0 * cos_) - RoundHalfEven(th / 2.0 * sin_);
    int y0 = cx + RoundHalfEven(tw / 2.0 * sin_) - RoundHalfEven(th / 2.0 * cos_);
    start = {x0 - lo, y0 - lo};
  }

  if (!GetTransparent()) {
    c.Brush().Style = bsSolid;
    c.Brush().Color = GetColor();
    if (angle_ == 0) {
      c.FillRect(Rect(0, 0, w, h));
    } else {
      // A rectangle around the rotated caption, padded by the layers' span, turned with it.
      TCanvas measure;
      measure.Font().Assign(&Font());
      measure.Font().SetOrientation(0);
      double tw = measure.TextWidth(GetCaption()) + (hi - lo) + 4;
      double th = measure.TextHeight(GetCaption()) + (hi - lo) + 4;
      double px = start.X - 2 + lo, py = start.Y - 2 + lo;
      auto at = [&](double u, double v) {
        return TPoint{RoundHalfEven(px + u * cos_ + v * sin_),
                      RoundHalfEven(py - u * sin_ + v * cos_)};
      };
      c.Pen().Style = psClear;
      c.Polygon({at(0, 0), at(tw, 0), at(tw, th), at(0, th)});
      c.Pen().Style = psSolid;
    }
  }

  DrawLayer(c, caption_rect, start, depth_shadow_, dir_shadow_, style_shadow_, colour_shadow_);
  DrawLayer(c, caption_rect, start, depth_highlight_, dir_highlight_, style_highlight_,
            colour_highlight_);

  if (bitmap_.Empty()) {
    DrawCaption(c, caption_rect, start, 0, 0, Font().GetColor());
  } else {
    // The caption black on white as a mask; the texture, tiled, shows where the mask is black.
    TBitmap mask(w, h);
    mask.Canvas().Font().Assign(&c.Font());
    DrawCaption(mask.Canvas(), caption_rect, start, 0, 0, clBlack);
    for (int y = 0; y < h; ++y) {
      const uint32_t* m = mask.ScanLine(y);
      const uint32_t* t = bitmap_.ScanLine(y % bitmap_.Height());
      for (int x = 0; x < w; ++x) {
        uint32_t tile = t[x % bitmap_.Width()];
        uint32_t dst = ColorToPixel(c.GetPixel(x, y));
        // (dst XOR tile) AND mask, XOR tile: the texture under black, the drawing under white.
        uint32_t out = ((dst ^ tile) & m[x]) ^ tile;
        c.SetPixel(x, y, PixelToColor(out));
      }
    }
  }
  Bevel().PaintBevel(c, ClientRect(), true);
}
