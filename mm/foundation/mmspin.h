#pragma once
// TMMSpinButton: an up/down control stepping an integer within a range, with auto-repeating
// buttons (TMMTimerSpeedButton: 400 ms, then every 50 ms), an optional middle grip that changes
// the value by dragging, the arrow keys, and an optional link to an edit whose arrow keys it
// takes over.
#include <memory>
#include <string>

#include "mmbutton.h"
#include "mmenums.h"
#include "ui_timer.h"

enum TMMFocusStyle { fsNone, fsSolid, fsDot };

class TMMCustomSpinButton;

class TMMTimerSpeedButton : public TMMSpeedButton {
 public:
  explicit TMMTimerSpeedButton(vant::TComponent* owner);
  ~TMMTimerSpeedButton() override;
  std::string ClassName() const override { return "TMMTimerSpeedButton"; }
  bool GetButtonFace() const { return button_face_; }
  void SetButtonFace(bool v);
  bool GetAllowTimer() const { return allow_timer_; }
  void SetAllowTimer(bool v) { allow_timer_ = v; }
  bool GetFocused() const { return focused_; }
  void SetFocused(bool v);
  // Shows the button pressed (true) or released, as the keys do.
  void ShowPressed(bool v);
  bool Held() const { return dragging_; }
  // The repeat timer while the button is held (nullptr otherwise).
  vant::TTimer* RepeatTimer() const { return timer_.get(); }

 protected:
  void Paint() override;
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void EnabledChanged() override;

 private:
  void TimerExpired();
  bool button_face_ = false;
  bool allow_timer_ = false;
  bool focused_ = false;
  std::unique_ptr<vant::TTimer> timer_;
};

class TMMCustomSpinButton : public TMMCustomControl {
 public:
  explicit TMMCustomSpinButton(vant::TComponent* owner);
  ~TMMCustomSpinButton() override;
  std::string ClassName() const override { return "TMMCustomSpinButton"; }

  int32_t GetValue() const { return value_; }
  void SetValue(int32_t v);
  int32_t GetMinValue() const { return min_value_; }
  void SetMinValue(int32_t v);
  int32_t GetMaxValue() const { return max_value_; }
  void SetMaxValue(int32_t v);
  int32_t GetIncrement() const { return increment_; }
  void SetIncrement(int32_t v) { increment_ = v; }
  vant::TColor GetFocusColor() const { return focus_color_; }
  void SetFocusColor(vant::TColor c);
  TMMFocusStyle GetFocusStyle() const { return focus_style_; }
  void SetFocusStyle(TMMFocusStyle s);
  bool GetButtonFace() const { return button_face_; }
  void SetButtonFace(bool v);
  bool GetMiddleButton() const { return middle_ != nullptr; }
  void SetMiddleButton(bool v);
  TMMOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TMMOrientation o);
  const vant::TBitmap& GetUpGlyph() const { return up_->GetGlyph(); }
  // An empty bitmap restores the default glyph of the orientation.
  void SetUpGlyph(const vant::TBitmap& b);
  const vant::TBitmap& GetDownGlyph() const { return down_->GetGlyph(); }
  void SetDownGlyph(const vant::TBitmap& b);
  int GetUpNumGlyphs() const { return up_->GetNumGlyphs(); }
  void SetUpNumGlyphs(int n);
  int GetDownNumGlyphs() const { return down_->GetNumGlyphs(); }
  void SetDownNumGlyphs(int n);
  vant::TWinControl* GetFocusControl() const { return focus_control_; }
  // Hooks an edit control's arrow keys; another spin's edit is refused with a message.
  void SetFocusControl(vant::TWinControl* control);

  TMMTimerSpeedButton* UpButton() const { return up_; }
  TMMTimerSpeedButton* DownButton() const { return down_; }
  TMMTimerSpeedButton* MiddleButton() const { return middle_; }
  TMMTimerSpeedButton* FocusButton() const { return focus_button_; }

  // Handles the arrow keys (down: press and click; up: release); true when handled.
  bool ProcessKeys(bool key_down, uint16_t key);
  void UpClicked();
  void DownClicked();
  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;

  vant::TNotifyEvent OnUpClick, OnDownClick, OnChange;

 protected:
  void Paint() override;
  void Change();
  void Changed() override;
  void KeyDown(uint16_t& key, vant::TShiftState s) override;
  void KeyUp(uint16_t& key, vant::TShiftState s) override;
  void DoEnter() override;
  void DoExit() override;
  void EnabledChanged() override;
  void Notification(vant::TComponent* component, vant::TOperation operation) override;
  void AdjustSize();
  // Reported once the layout is complete, not from inside it.
  void Resize() override;
  void UpdateButtonStates();
  void SetFocusButton(TMMTimerSpeedButton* b);
  void ButtonMouseDown(TMMTimerSpeedButton* b);
  void LoadDefaultGlyphs();
  // An empty bitmap gives the button the default glyph of the orientation.
  void SetButtonGlyph(TMMTimerSpeedButton* button, const vant::TBitmap& b);

 private:
  void ReleaseFocusControl();
  int32_t value_ = 0, min_value_ = 0, max_value_ = 100, increment_ = 1;
  vant::TColor focus_color_ = vant::clBlack;
  TMMFocusStyle focus_style_ = fsSolid;
  bool button_face_ = false;
  TMMOrientation orientation_ = orVertical;
  TMMTimerSpeedButton* up_ = nullptr;
  TMMTimerSpeedButton* down_ = nullptr;
  TMMTimerSpeedButton* middle_ = nullptr;
  TMMTimerSpeedButton* focus_button_ = nullptr;
  int32_t drag_value_ = 0;
  int drag_start_ = 0;
  bool grip_held_ = false;
  bool adjusting_ = false;
  bool resized_while_adjusting_ = false;
  vant::TWinControl* focus_control_ = nullptr;
  vant::TKeyEvent saved_key_down_, saved_key_up_;
};

class TMMSpinButton : public TMMCustomSpinButton {
 public:
  using TMMCustomSpinButton::TMMCustomSpinButton;
  std::string ClassName() const override { return "TMMSpinButton"; }
};
