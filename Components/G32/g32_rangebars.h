#pragma once
// The Qt-free core of the library's scroll-bar-like controls: TArrowBar (two arrow buttons, a
// patterned track, a press-and-hold repeat timer), the integer TCustomGaugeBar and the
// floating-point window bar TCustomRangeBar. Geometry, zones, values and repeat live here; the bar
// paints itself into a TBitmap32. A widget shell feeds size, mouse and timer ticks in.
#include <functional>
#include <memory>

#include "g32.h"
#include "g32_layers.h"

namespace g32 {

enum TRBDirection { drLeft, drUp, drRight, drDown };
enum TRBMouseInfo { miNone, miBtnLeft, miBtnRight, miHandle, miLeftSp, miRightSp };
enum TRBBackgnd { bgPattern, bgSolid, bgMix };
enum TScrollBarKind { sbHorizontal, sbVertical };
enum TBarBorderStyle { bsNone, bsSingle };

// System colours the bars draw with.
constexpr TColor clBtnFace = TColor(0x8000000F), clBtnShadow = TColor(0x80000010),
                 clBtnHighlight = TColor(0x80000014), clWindowFrame = TColor(0x80000006),
                 clHighlight = TColor(0x8000000D);

// What the window system does for a bar.
class TArrowBarHost {
 public:
  virtual ~TArrowBarHost() = default;
  virtual void HostInvalidate() {}
  // Call PollTimer after `DelayMs`; a negative delay cancels.
  virtual void HostScheduleTimer(int /*DelayMs*/) {}
};

class TArrowBar : public TObject {
 public:
  explicit TArrowBar(TArrowBarHost* Host = nullptr);
  ~TArrowBar() override;
  void SetHost(TArrowBarHost* Host) { host_ = Host ? Host : &no_host_; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetSize(int W, int H);

  TRBBackgnd GetBackgnd() const { return backgnd_; }
  void SetBackgnd(TRBBackgnd Value);
  TBarBorderStyle GetBorderStyle() const { return border_style_; }
  void SetBorderStyle(TBarBorderStyle Value);
  int GetButtonSize() const { return button_size_; }
  void SetButtonSize(int Value);
  bool GetFramed() const { return framed_; }
  void SetFramed(bool Value);
  TColor GetHandleColor() const { return handle_color_; }
  void SetHandleColor(TColor Value);
  TScrollBarKind GetKind() const { return kind_; }
  // While designing and not loading, also swaps Width and Height.
  void SetKind(TScrollBarKind Value);
  bool GetShowArrows() const { return show_arrows_; }
  void SetShowArrows(bool Value);
  bool GetShowHandleGrip() const { return show_handle_grip_; }
  void SetShowHandleGrip(bool Value);
  TColor GetColor() const { return color_; }
  void SetColor(TColor Value);
  bool GetEnabledProp() const { return enabled_; }
  void SetEnabled(bool Value);
  // Copied; drawn where their pixels are not transparent (alpha 0).
  void SetGlyphMin(const TBitmap32* Value);
  void SetGlyphMax(const TBitmap32* Value);

  bool Designing = false;
  bool Loading = false;

  // Geometry.
  TRect GetClientRect() const;
  int Thickness() const;
  int Length() const;
  // The arrow buttons' length along the bar.
  int EffectiveButtonSize() const;
  // The track between the buttons (start and length along the bar).
  int BoundaryStart() const;
  int BoundaryLength() const;
  virtual TRBMouseInfo GetMouseInfo(int X, int Y) const;
  TRBMouseInfo MouseZone() const { return zone_; }

  // Mouse, in control pixels.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);

  // The repeat timer, timed by vant::GetClock().
  bool TimerEnabled() const { return timer_enabled_; }
  int TimerInterval() const { return timer_interval_; }
  // Runs the timer's tick when it is due.
  void PollTimer();

  // Draws the whole bar into `Canvas` (sized to the control).
  virtual void Paint(TBitmap32& Canvas);
  virtual bool GetEnabled() const { return enabled_; }

  TNotifyEvent OnChange, OnUserChange;

 protected:
  virtual void DoChange();
  virtual void DoDrawButton(TBitmap32& Canvas, TRect R, bool Pushed, bool Enabled,
                            TRBDirection Direction);
  virtual void DoRebuildPattern();
  virtual void TimerHandler();
  // After every change of size, with the control's length along the bar before it.
  virtual void Resized(int /*OldLength*/) {}
  // The zone's action with the user-change flag set; paging only while the press point is
  // still in its zone.
  void ZoneAction(TRBMouseInfo Zone);
  // One button or page step.
  virtual void Step(TRBMouseInfo) {}
  // A press on the handle: remember where dragging starts.
  virtual void DragStart() {}
  void Invalidate() { host_->HostInvalidate(); }
  void StartTimer(int IntervalMs);
  void StopTimer();
  void RunUserAction(const std::function<void()>& action);
  bool Horizontal() const { return kind_ == sbHorizontal; }
  // Along-the-bar coordinate of a point.
  int Along(int X, int Y) const { return Horizontal() ? X : Y; }
  TRect HandleTrackRect(int Start, int Size) const;
  void DrawHandle(TBitmap32& Canvas, TRect R, bool Pushed);
  TColor32 TrackColor() const;

  TRBMouseInfo zone_ = miNone;
  TPoint press_point_;
  bool user_change_ = false;
  bool first_repeat_ = false;
  TBitmap32 pattern_;

 private:
  TArrowBarHost no_host_;
  TArrowBarHost* host_;
  int width_ = 100, height_ = 16;
  TRBBackgnd backgnd_ = bgPattern;
  TBarBorderStyle border_style_ = bsNone;
  int button_size_ = 0;
  bool framed_ = true;
  TColor handle_color_ = clBtnShadow;
  TScrollBarKind kind_ = sbHorizontal;
  bool show_arrows_ = true;
  bool show_handle_grip_ = true;
  TColor color_ = clBtnShadow;
  bool enabled_ = true;
  std::unique_ptr<TBitmap32> glyph_min_, glyph_max_;
  bool timer_enabled_ = false;
  int timer_interval_ = 0;
  int64_t timer_due_ = 0;
};

class TCustomGaugeBar : public TArrowBar {
 public:
  using TArrowBar::TArrowBar;

  int GetPosition() const { return position_; }
  // Held to Min..Max; a change repaints and runs DoChange.
  void SetPosition(int Value);
  int GetMax() const { return max_; }
  void SetMax(int Value);
  int GetMin() const { return min_; }
  void SetMin(int Value);
  int GetSmallChange() const { return small_change_; }
  void SetSmallChange(int Value) { small_change_ = std::max(Value, 1); }
  int GetLargeChange() const { return large_change_; }
  void SetLargeChange(int Value) { large_change_ = std::max(Value, 1); }
  int GetHandleSize() const { return handle_size_; }
  void SetHandleSize(int Value);

  // The handle's start and size along the bar.
  int EffectiveHandleSize() const;
  int HandleStart() const;
  TRect GetHandleRect() const;
  TRBMouseInfo GetMouseInfo(int X, int Y) const override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void Paint(TBitmap32& Canvas) override;

 protected:
  void Step(TRBMouseInfo Zone) override;
  void DragStart() override;

 private:
  int position_ = 0, min_ = 0, max_ = 100;
  int small_change_ = 1, large_change_ = 1, handle_size_ = 0;
  float drag_start_position_ = 0;
};

class TCustomRangeBar : public TArrowBar {
 public:
  using TArrowBar::TArrowBar;

  float GetPosition() const { return position_; }
  // Held to 0..Range - window size.
  void SetPosition(float Value);
  float GetRange() const { return range_; }
  void SetRange(float Value);
  float GetWindow() const { return window_; }
  void SetWindow(float Value);
  float GetIncrement() const { return increment_; }
  void SetIncrement(float Value) { increment_ = std::max(Value, 0.001f); }
  bool Centered = false;

  // Window when above 0, else the control's length.
  virtual float DoGetWindowSize() const;
  bool GetEnabled() const override;
  // Handle start and length along the bar; length 0 when there is no handle.
  void GetHandle(int& Start, int& Size) const;
  TRBMouseInfo GetMouseInfo(int X, int Y) const override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void Paint(TBitmap32& Canvas) override;
  // The control was resized: keeps the centre when Centered and the position within the range.
  void Resized(int OldLength) override;

 protected:
  void Step(TRBMouseInfo Zone) override;
  void DragStart() override;
  void KeepCentre(float OldRange, float OldWindow);

 private:
  float position_ = 0, range_ = 0, window_ = 0, increment_ = 8;
  float drag_start_position_ = 0;
};

// Sets the look of a master bar and, when there is one, of a slave bar together (the scrolling
// image view's two bars); reads come from the master.
class TArrowBarAccess : public TObject {
 public:
  TArrowBarAccess(TArrowBar* Master, TArrowBar* Slave = nullptr) : master_(Master), slave_(Slave) {}
  void SetSlave(TArrowBar* Slave) { slave_ = Slave; }

#define G32_FORWARD(Name, Type)                           \
  Type Get##Name() const { return master_->Get##Name(); } \
  void Set##Name(Type Value) {                            \
    master_->Set##Name(Value);                            \
    if (slave_) slave_->Set##Name(Value);                 \
  }
  G32_FORWARD(Color, TColor)
  G32_FORWARD(Backgnd, TRBBackgnd)
  G32_FORWARD(BorderStyle, TBarBorderStyle)
  G32_FORWARD(ButtonSize, int)
  G32_FORWARD(Framed, bool)
  G32_FORWARD(HandleColor, TColor)
  G32_FORWARD(ShowArrows, bool)
  G32_FORWARD(ShowHandleGrip, bool)
#undef G32_FORWARD

 private:
  TArrowBar* master_;
  TArrowBar* slave_;
};

}  // namespace g32
