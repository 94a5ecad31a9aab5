#include "mmgauge.h"

#include <algorithm>
#include <climits>
#include <cmath>

using namespace vant;

namespace {
int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }
}  // namespace

TMMCustomGauge::TMMCustomGauge(TComponent* owner) : TMMGraphicControl(owner) {
  SetBounds(GetLeft(), GetTop(), 150, 18);
}

template <class T>
void TMMCustomGauge::Set(T& field, T v) {
  if (ChangeField(field, v)) Invalidate();
}

void TMMCustomGauge::SetKind(TMMGaugeKind v) { Set(kind_, v); }
void TMMCustomGauge::SetShowText(bool v) { Set(show_text_, v); }
void TMMCustomGauge::SetForeColor(TColor v) { Set(fore_color_, v); }
void TMMCustomGauge::SetBackColor(TColor v) { Set(back_color_, v); }
void TMMCustomGauge::SetBWText(bool v) { Set(bw_text_, v); }

void TMMCustomGauge::SetMinValue(int32_t v) {
  v = std::clamp(v, -INT32_MAX, max_);
  Set(min_, v);
  if (progress_ < min_) progress_ = min_;
}

void TMMCustomGauge::SetMaxValue(int32_t v) {
  v = std::clamp(v, min_, INT32_MAX);
  Set(max_, v);
  if (progress_ > max_) progress_ = max_;
}

int TMMCustomGauge::PercentDone() const {
  int64_t range = int64_t(max_) - min_;
  if (range <= 0) return 0;
  return static_cast<int>((int64_t(progress_) - min_) * 100 / range);
}

void TMMCustomGauge::SetProgress(int32_t v) {
  v = std::clamp(v, min_, max_);
  if (v == progress_) return;
  int before = PercentDone();
  progress_ = v;
  if (PercentDone() != before) {
    Invalidate();
    Repaint();
  }
}

void TMMCustomGauge::AddProgress(int32_t delta) { SetProgress(AddSat(progress_, delta)); }

std::string TMMCustomGauge::Text() const {
  std::string pct = std::to_string(PercentDone()) + "%";
  std::string caption = GetCaption();
  return caption.empty() ? pct : caption + " " + pct;
}

void TMMCustomGauge::PaintFace(TCanvas& c, const TRect& r, int percent) {
  const int x0 = r.Left, y0 = r.Top, w = r.Width(), h = r.Height();
  c.Pen().Width = 1;
  c.Pen().Style = psSolid;
  c.Pen().Mode = pmCopy;
  c.Brush().Style = bsSolid;
  switch (kind_) {
    case gkText:
      c.Brush().Color = back_color_;
      c.FillRect(r);
      break;
    case gkHorizontalBar:
    case gkVerticalBar:
      c.Brush().Color = back_color_;
      c.FillRect(r);
      c.Brush().Color = fore_color_;
      c.FillRect(DonePart(r, percent));
      break;
    case gkPie: {
      c.Brush().Color = GetColor();
      c.FillRect(r);
      c.Pen().Color = fore_color_;
      c.Brush().Color = back_color_;
      c.Ellipse(x0, y0, x0 + w, y0 + h);
      if (percent > 0) {
        double mx = w / 2.0, my = h / 2.0;
        double a = M_PI * (percent / 50.0 + 0.5);
        c.Brush().Color = fore_color_;
        // The sector runs clockwise from the top point to the point of the percentage; the
        // pie routine turns counter-clockwise, so it is given the two ends the other way round.
        c.Pie(x0, y0, x0 + w, y0 + h, x0 + RoundHalfEven(mx * (1 - std::cos(a))),
              y0 + RoundHalfEven(my * (1 - std::sin(a))), x0 + RoundHalfEven(mx), y0);
      }
      break;
    }
    case gkNeedle: {
      c.Brush().Color = GetColor();
      c.FillRect(r);
      c.Pen().Color = fore_color_;
      c.Brush().Color = back_color_;
      c.Pie(x0, y0, x0 + w, y0 + h * 2 - 1, x0 + w - 1, y0 + h - 1, x0, y0 + h - 1);
      c.MoveTo(x0, y0 + h - 1);
      c.LineTo(x0 + w, y0 + h - 1);
      if (percent > 0) {
        double a = percent / 100.0 * M_PI;
        c.MoveTo(x0 + w / 2, y0 + h - 1);
        c.LineTo(x0 + RoundHalfEven((1 - std::cos(a)) * (w / 2.0)),
                 y0 + RoundHalfEven((1 - std::sin(a)) * (h - 1)));
      }
      break;
    }
  }
}

// The bar's done part within the face `r`: from the left, or up from the bottom.
TRect TMMCustomGauge::DonePart(const TRect& r, int percent) const {
  if (kind_ == gkHorizontalBar)
    return Rect(r.Left, r.Top, r.Left + static_cast<int>(r.Width() * percent * 0.01), r.Bottom);
  return Rect(r.Left, r.Bottom - static_cast<int>(r.Height() * percent * 0.01), r.Right, r.Bottom);
}

// The face and the text are painted straight into the control's picture, clipped to the face:
// no picture of the face's size is made, so a paint costs about the fills of its face.
void TMMCustomGauge::Paint() {
  TCanvas& c = Canvas();
  const TRect r = Bevel().PaintBevel(c, ClientRect(), true);
  if (r.IsEmpty()) return;
  const TRect outer_clip = c.GetClipRect();
  const TRect face = IntersectRect(outer_clip, r);
  if (face.IsEmpty()) return;
  // The canvas is left as the paint found it, but for the copy mode.
  TPen pen;
  TBrush brush;
  TFont font;
  pen.Assign(&c.Pen());
  brush.Assign(&c.Brush());
  font.Assign(&c.Font());
  c.SetClipRect(face);
  const int percent = PercentDone();
  PaintFace(c, r, percent);
  if (show_text_) PaintText(c, r, face, percent);
  c.SetClipRect(outer_clip);
  c.SetCopyMode(cmSrcCopy);
  c.Pen().Assign(&pen);
  c.Brush().Assign(&brush);
  c.Font().Assign(&font);
}

void TMMCustomGauge::PaintText(TCanvas& c, const TRect& r, const TRect& face, int percent) {
  const std::string text = Text();
  c.Font().Assign(&Font());
  const int tw = c.TextWidth(text), th = c.TextHeight(text);
  const int x = r.Left + (r.Width() - tw) / 2, y = r.Top + (r.Height() - th) / 2;
  if (bw_text_ && (kind_ == gkHorizontalBar || kind_ == gkVerticalBar)) {
    // The font colour over the empty part, its inverse over the done part.
    const TRect done = DonePart(r, percent);
    const TRect empty = kind_ == gkHorizontalBar ? Rect(done.Right, r.Top, r.Right, r.Bottom)
                                                 : Rect(r.Left, r.Top, r.Right, done.Top);
    c.Brush().Style = bsClear;
    c.SetClipRect(IntersectRect(face, empty));
    c.TextOut(x, y, text);
    c.SetClipRect(IntersectRect(face, done));
    c.Font().SetColor(static_cast<TColor>(ColorToRGB(Font().GetColor()) ^ 0xFFFFFF));
    c.TextOut(x, y, text);
    return;
  }
  // White text on black, combined by XOR: the text inverts whatever lies under it. The mask
  // covers only what the text can reach (turned about its corner, as far as its length and
  // height).
  const int reach = Font().GetOrientation() != 0 ? AddSat(tw, th) : 0;
  const TRect box =
      IntersectRect(face, Rect(SubSat(x, reach), SubSat(y, reach), AddSat(AddSat(x, tw), reach),
                               AddSat(AddSat(y, th), reach)));
  if (box.IsEmpty()) return;
  TBitmap mask(box.Width(), box.Height());
  TCanvas& m = mask.Canvas();
  m.Brush().Color = clBlack;
  m.FillRect(Rect(0, 0, box.Width(), box.Height()));
  m.Font().Assign(&Font());
  m.Font().SetColor(clWhite);
  m.Brush().Style = bsClear;
  m.TextOut(x - box.Left, y - box.Top, text);
  c.SetCopyMode(cmSrcInvert);
  c.Draw(box.Left, box.Top, mask);
}
