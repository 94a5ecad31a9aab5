#include "rangebars_widget.h"

#include "image32_widget.h"

namespace g32 {

template <class Core>
TBarControl<Core>::TBarControl(vant::TComponent* Owner)
    : vant::TCustomControl(Owner), core_(this), timer_(new vant::TTimer(this)) {
  InstallQtGraphics();
  timer_->SetEnabled(false);
  timer_->OnTimer = [this](vant::TObject*) {
    timer_->SetEnabled(false);
    core_.PollTimer();
  };
  core_.OnChange = [this](g32::TObject*) {
    if (OnChange) OnChange(this);
  };
  core_.OnUserChange = [this](g32::TObject*) {
    if (OnUserChange) OnUserChange(this);
  };
  // No child controls, no double clicks.
  SetControlStyle(ControlStyle() & ~(vant::csAcceptsControls | vant::csDoubleClicks));
  SetColor(vant::clBtnShadow);
  SetBounds(0, 0, 100, 16);
}

template <class Core>
void TBarControl<Core>::SetBounds(int Left, int Top, int Width, int Height) {
  vant::TCustomControl::SetBounds(Left, Top, Width, Height);
  core_.SetSize(GetWidth(), GetHeight());
}

template <class Core>
void TBarControl<Core>::HostScheduleTimer(int DelayMs) {
  if (DelayMs < 0) {
    timer_->SetEnabled(false);
    return;
  }
  timer_->SetInterval(unsigned(std::max(DelayMs, 1)));
  timer_->SetEnabled(true);
}

template <class Core>
void TBarControl<Core>::Paint() {
  core_.Paint(picture_);
  PresentOnCanvas(Canvas(), picture_, {0, 0, GetWidth(), GetHeight()});
}

namespace {
TMouseButton Button(vant::TMouseButton b) {
  return b == vant::mbRight ? mbRight : b == vant::mbMiddle ? mbMiddle : mbLeft;
}
}  // namespace

template <class Core>
void TBarControl<Core>::MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  vant::TCustomControl::MouseDown(b, s, x, y);  // the framework's own event first
  core_.MouseDown(Button(b), ShiftBits(s), x, y);
}

template <class Core>
void TBarControl<Core>::MouseMove(vant::TShiftState s, int x, int y) {
  vant::TCustomControl::MouseMove(s, x, y);
  core_.MouseMove(ShiftBits(s), x, y);
}

template <class Core>
void TBarControl<Core>::MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  core_.MouseUp(Button(b), ShiftBits(s), x, y);
  vant::TCustomControl::MouseUp(b, s, x, y);
}

template <class Core>
void TBarControl<Core>::EnabledChanged() {
  vant::TCustomControl::EnabledChanged();
  core_.SetEnabled(GetEnabled());
}

template <class Core>
void TBarControl<Core>::ColorChanged() {
  vant::TCustomControl::ColorChanged();
  core_.SetColor(GetColor());
}

template class TBarControl<TCustomGaugeBar>;
template class TBarControl<TCustomRangeBar>;

}  // namespace g32
