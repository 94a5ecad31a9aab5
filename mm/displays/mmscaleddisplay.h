#pragma once
// TMMScaledDisplay: the base of the displays whose scales take room from the picture (the
// oscilloscope and the spectrum). Showing or hiding a scale may make the control too small, so
// every change of bounds first grows the size to what the scales and bevel need, and the
// picture is laid out again afterwards.
#include <string>

#include "mmdibcv.h"
#include "mmdisplaysize.h"
#include "mmutilsdraw.h"
#include "ui_types.h"

class TMMScaledDisplay : public TMMDIBGraphicControl {
 public:
  using TMMDIBGraphicControl::TMMDIBGraphicControl;

  void SetBounds(int left, int top, int width, int height) override {
    AdjustSize(width, height);
    TMMDIBGraphicControl::SetBounds(left, top, width, height);
    Changed();
  }

 protected:
  // The smallest size the scales shown and the bevel leave a picture in.
  virtual void AdjustSize(int& width, int& height) const = 0;

  // After a scale is shown or hidden: grow to fit, or lay the picture out again in place.
  void AdjustBounds() {
    int w = GetWidth(), h = GetHeight();
    AdjustSize(w, h);
    if (w != GetWidth() || h != GetHeight()) {
      SetBounds(GetLeft(), GetTop(), w, h);
    } else {
      Changed();
    }
    Invalidate();
  }

  // The scales stand on the parent's colour; the bevel goes round the picture `rect`.
  void PaintFrame(bool scales_shown, const vant::TRect& rect) {
    vant::TCanvas& cv = Canvas();
    if (scales_shown) {
      cv.Brush().Color = GetParent() ? GetParent()->GetColor() : GetColor();
      cv.FillRect(ClientRect());
    }
    vant::TRect frame = rect;
    vant::InflateRect(frame, DisplayBevel(BevelExtend()), DisplayBevel(BevelExtend()));
    Bevel().PaintBevel(cv, frame, true);
  }

  // The units in the bottom corners both scales leave free: `amp` right-aligned at x
  // `amp_left` and left-aligned at Width - `amp_right`, on row Height - `amp_up`; `axis` at
  // (Width - 30, Height - 20).
  void DrawUnits(const std::string& amp, int amp_left, int amp_right, int amp_up,
                 const std::string& axis, const std::string& font, int size, vant::TColor color) {
    vant::TCanvas& cv = Canvas();
    cv.Brush().Style = vant::bsClear;
    cv.Font().SetColor(color);
    const int w = GetWidth(), h = GetHeight();
    TextOutAligned(cv, amp_left, h - amp_up, amp, font, size, 1);
    TextOutAligned(cv, w - amp_right, h - amp_up, amp, font, size, 0);
    TextOutAligned(cv, w - 30, h - 20, axis, font, size, 0);
  }

  // Shows or hides a scale, growing the control when the picture would not fit any more.
  void SetScaleShown(bool& field, bool value) {
    if (field == value) return;
    field = value;
    AdjustBounds();
  }

  // Stores a property that only changes the picture, repainting when it did change.
  template <class T, class V>
  void SetRepaint(T& field, V value) {
    if (field == static_cast<T>(value)) return;
    field = static_cast<T>(value);
    Invalidate();
  }
};
