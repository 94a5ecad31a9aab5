#pragma once
// The window shells of the gauge and range bars: windowed controls holding the Qt-free bar cores
// (g32_rangebars.h); the shell passes size, colour, enabled state and the mouse in, runs the
// repeat timer on a framework timer, and shows what the core paints.
#include <memory>

#include "g32_rangebars.h"
#include "ui_control.h"
#include "ui_timer.h"

namespace g32 {

template <class Core>
class TBarControl : public vant::TCustomControl, private TArrowBarHost {
 public:
  explicit TBarControl(vant::TComponent* Owner);
  ~TBarControl() override { core_.SetHost(nullptr); }

  Core& Bar() { return core_; }
  void SetBounds(int Left, int Top, int Width, int Height) override;

  // OnChange after every change of the position; OnUserChange after those the mouse made.
  vant::TNotifyEvent OnChange, OnUserChange;

 protected:
  void Paint() override;
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void EnabledChanged() override;
  void ColorChanged() override;

 private:
  void HostInvalidate() override { Invalidate(); }
  void HostScheduleTimer(int DelayMs) override;

  Core core_;
  vant::TTimer* timer_;  // owned by this control as its component
  TBitmap32 picture_;
};

class TGaugeBar : public TBarControl<TCustomGaugeBar> {
 public:
  using TBarControl::TBarControl;
  std::string ClassName() const override { return "TGaugeBar"; }
  int GetPosition() { return Bar().GetPosition(); }
  void SetPosition(int Value) { Bar().SetPosition(Value); }
  int GetMax() { return Bar().GetMax(); }
  void SetMax(int Value) { Bar().SetMax(Value); }
  int GetMin() { return Bar().GetMin(); }
  void SetMin(int Value) { Bar().SetMin(Value); }
};

class TRangeBar : public TBarControl<TCustomRangeBar> {
 public:
  using TBarControl::TBarControl;
  std::string ClassName() const override { return "TRangeBar"; }
};

extern template class TBarControl<TCustomGaugeBar>;
extern template class TBarControl<TCustomRangeBar>;

}  // namespace g32
