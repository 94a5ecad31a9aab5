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

void TMMCustomGauge::AddProgress(int32_t delta) {
  SetProgress(
      static_cast<int32_t>(std::clamp<int64_t>(int64_t(progress_) + delta, INT32_MIN, INT32_MAX)));
}

std::string TMMCustomGauge::Text() const {
  std::string pct = std::to_string(PercentDone()) + "%";
  std::string caption = GetCaption();
  return caption.empty() ? pct : caption + " " + pct;
}

void TMMCustomGauge::PaintImage(TBitmap& image, int percent) {
  TCanvas& c = image.Canvas();
  int w = image.Width(), h = image.Height();
  c.Pen().Width = 1;
  c.Pen().Mode = pmCopy;
  c.Brush().Style = bsSolid;
  switch (kind_) {
    case gkText:
      c.Brush().Color = back_color_;
      c.FillRect(Rect(0, 0, w, h));
      break;
    case gkHorizontalBar:
    case gkVerticalBar: {
      c.Brush().Color = back_color_;
      c.FillRect(Rect(0, 0, w, h));
      c.Brush().Color = fore_color_;
      if (kind_ == gkHorizontalBar) {
        int done = static_cast<int>(w * percent * 0.01);
        if (done > 0) c.FillRect(Rect(0, 0, done, h));
      } else {
        int done = static_cast<int>(h * percent * 0.01);
        if (done > 0) c.FillRect(Rect(0, h - done, w, h));
      }
      break;
    }
    case gkPie: {
      c.Brush().Color = GetColor();
      c.FillRect(Rect(0, 0, w, h));
      c.Pen().Color = fore_color_;
      c.Brush().Color = back_color_;
      c.Ellipse(0, 0, w, h);
      if (percent > 0) {
        double mx = w / 2.0, my = h / 2.0;
        double a = M_PI * (percent / 50.0 + 0.5);
        c.Brush().Color = fore_color_;
        // The sector runs clockwise from the top point to the point of the percentage; the
        // pie routine turns counter-clockwise, so it is given the two ends the other way round.
        c.Pie(0, 0, w, h, RoundHalfEven(mx * (1 - std::cos(a))),
              RoundHalfEven(my * (1 - std::sin(a))), RoundHalfEven(mx), 0);
      }
      break;
    }
    case gkNeedle: {
      c.Brush().Color = GetColor();
      c.FillRect(Rect(0, 0, w, h));
      c.Pen().Color = fore_color_;
      c.Brush().Color = back_color_;
      c.Pie(0, 0, w, h * 2 - 1, w - 1, h - 1, 0, h - 1);
      c.MoveTo(0, h - 1);
      c.LineTo(w, h - 1);
      if (percent > 0) {
        double a = percent / 100.0 * M_PI;
        c.MoveTo(w / 2, h - 1);
        c.LineTo(RoundHalfEven((1 - std::cos(a)) * (w / 2.0)),
                 RoundHalfEven((1 - std::sin(a)) * (h - 1)));
      }
      break;
    }
  }
}

void TMMCustomGauge::Paint() {
  TRect r = Bevel().PaintBevel(Canvas(), ClientRect(), true);
  if (r.IsEmpty()) return;
  int w = r.Width(), h = r.Height();
  int percent = PercentDone();
  TBitmap image(w, h);
  PaintImage(image, percent);
  if (show_text_) {
    std::string text = Text();
    TCanvas& c = image.Canvas();
    c.Font().Assign(&Font());
    int tw = c.TextWidth(text), th = c.TextHeight(text);
    int x = (w - tw) / 2, y = (h - th) / 2;
    bool bar = kind_ == gkHorizontalBar || kind_ == gkVerticalBar;
    if (bw_text_ && bar) {
      // The font colour over the empty part, its inverse over the done part.
      TRect done = kind_ == gkHorizontalBar
                       ? Rect(0, 0, static_cast<int>(w * percent * 0.01), h)
                       : Rect(0, h - static_cast<int>(h * percent * 0.01), w, h);
      TRect empty = kind_ == gkHorizontalBar ? Rect(done.Right, 0, w, h) : Rect(0, 0, w, done.Top);
      c.Brush().Style = bsClear;
      c.SetClipRect(empty);
      c.TextOut(x, y, text);
      c.SetClipRect(done);
      c.Font().SetColor(static_cast<TColor>(ColorToRGB(Font().GetColor()) ^ 0xFFFFFF));
      c.TextOut(x, y, text);
      c.ResetClip();
    } else {
      // White text on black, combined by XOR: the text inverts whatever lies under it.
      TBitmap mask(w, h);
      TCanvas& m = mask.Canvas();
      m.Brush().Color = clBlack;
      m.FillRect(Rect(0, 0, w, h));
      m.Font().Assign(&Font());
      m.Font().SetColor(clWhite);
      m.Brush().Style = bsClear;
      m.TextOut(x, y, text);
      c.SetCopyMode(cmSrcInvert);
      c.Draw(0, 0, mask);
      c.SetCopyMode(cmSrcCopy);
    }
  }
  Canvas().SetCopyMode(cmSrcCopy);
  Canvas().Draw(r.Left, r.Top, image);
}
