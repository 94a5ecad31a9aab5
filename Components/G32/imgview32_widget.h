#pragma once
// The window shell of the scrolling image view: a TImage32 whose core is a TCustomImgView32; the
// shell shows the core's bars and size grip beside the picture, runs the bars' repeat timer and
// starts the window system's size move from the grip.
#include "image32_widget.h"
#include "ui_timer.h"

namespace g32 {

class TImgView32 : public TImage32 {
 public:
  explicit TImgView32(vant::TComponent* Owner);
  std::string ClassName() const override { return "TImgView32"; }

  TCustomImgView32& View() { return static_cast<TCustomImgView32&>(Image()); }
  bool GetCentered() { return View().GetCentered(); }
  void SetCentered(bool Value) { View().SetCentered(Value); }
  TIVScrollProperties& ScrollBars() { return View().ScrollBars(); }
  TSizeGripStyle GetSizeGrip() { return View().GetSizeGrip(); }
  void SetSizeGrip(TSizeGripStyle Value) { View().SetSizeGrip(Value); }
  void ScrollToCenter(int X, int Y) { View().ScrollToCenter(X, Y); }
  void Scroll(int Dx, int Dy) { View().Scroll(Dx, Dy); }

  vant::TNotifyEvent OnScroll;

 protected:
  void Paint() override;

 private:
  bool FillsItsForm();
  vant::TTimer* bar_timer_;  // owned by this control as its component
  TBitmap32 chrome_;
};

}  // namespace g32
