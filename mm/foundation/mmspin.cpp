#include "mmspin.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "mmresources.h"
#include "ui_dialogs.h"
#include "ui_stdctrls.h"

using namespace vant;

namespace {

// Edit controls whose arrow keys a spin has taken over, process-wide.
std::set<TWinControl*>& Hooked() {
  static std::set<TWinControl*> hooked;
  return hooked;
}

}  // namespace

// ---- the auto-repeating button ----

TMMTimerSpeedButton::TMMTimerSpeedButton(TComponent* owner) : TMMSpeedButton(owner) {}

TMMTimerSpeedButton::~TMMTimerSpeedButton() = default;

void TMMTimerSpeedButton::SetButtonFace(bool v) {
  if (ChangeField(button_face_, v)) Invalidate();
}

void TMMTimerSpeedButton::SetFocused(bool v) {
  if (!ChangeField(focused_, v)) return;
  if (!v && state_ == bsDown && !dragging_) state_ = bsUp;
  Invalidate();
}

void TMMTimerSpeedButton::ShowPressed(bool v) {
  const TButtonState next = v ? bsDown : bsUp;
  if (state_ == bsDisabled || state_ == next) return;
  state_ = next;
  Invalidate();
}

void TMMTimerSpeedButton::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
  TMMSpeedButton::MouseDown(b, s, x, y);
  if (b != mbLeft || !GetEnabled() || !allow_timer_) return;
  if (!timer_) {
    timer_ = std::make_unique<TTimer>(nullptr);
    timer_->OnTimer = [this](TObject*) { TimerExpired(); };
  }
  timer_->SetInterval(400);
  timer_->SetEnabled(true);
}

void TMMTimerSpeedButton::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
  TMMSpeedButton::MouseUp(b, s, x, y);
  timer_.reset();
}

void TMMTimerSpeedButton::TimerExpired() {
  timer_->SetInterval(50);
  if (state_ != bsDown || !dragging_) return;
  try {
    Click();
  } catch (...) {
    if (timer_) timer_->SetEnabled(false);
    throw;
  }
}

void TMMTimerSpeedButton::EnabledChanged() {
  TMMSpeedButton::EnabledChanged();
  if (GetEnabled() || !dragging_ || HasState(csDesigning)) return;
  // A button disabled while held (at the end of the range) ends its press.
  dragging_ = false;
  timer_.reset();
  state_ = bsDisabled;
  if (auto* parent = GetParent(); parent != nullptr && parent->CanFocus()) parent->SetFocus();
}

void TMMTimerSpeedButton::Paint() {
  SyncDisabledState();
  TCanvas& c = Canvas();
  const TRect client = ClientRect();
  c.Brush().Style = bsSolid;
  c.Brush().Color = clBtnFace;
  c.FillRect(client);
  const bool pressed = state_ == bsDown || state_ == bsExclusive;
  TRect r = client;
  if (button_face_) {
    if (pressed) {
      Frame3D(c, r, clBtnShadow, clBtnHighlight, 1);
      c.SetPixel(client.Right - 1, client.Top, ColorToRGB(clBtnShadow));
      c.SetPixel(client.Left, client.Bottom - 1, ColorToRGB(clBtnShadow));
      OffsetRect(r, 1, 1);
    } else {
      Frame3D(c, r, clBtnHighlight, clBtnShadow, 1);
    }
  } else if (pressed) {
    OffsetRect(r, 1, 1);
  }
  glyph_.DrawGlyphAndText(c, r, state_, 0, -1, blGlyphLeft, "");
  // Without faces the buttons draw the spin's focus frame together, one pixel inside its edge.
  auto* spin = dynamic_cast<TMMCustomSpinButton*>(GetParent());
  if (spin == nullptr || button_face_ || !spin->Focused() || spin->GetFocusStyle() == fsNone) return;
  TRect frame = spin->ClientRect();
  InflateRect(frame, -1, -1);
  OffsetRect(frame, -GetLeft(), -GetTop());
  const TColor color = ColorToRGB(spin->GetFocusColor());
  const bool dotted = spin->GetFocusStyle() == fsDot;
  auto plot = [&](int x, int y) {
    if (x >= 0 && y >= 0 && x < GetWidth() && y < GetHeight() &&
        (!dotted || ((x + GetLeft() + y + GetTop()) & 1) == 0))
      c.SetPixel(x, y, color);
  };
  for (int x = frame.Left; x < frame.Right; ++x) {
    plot(x, frame.Top);
    plot(x, frame.Bottom - 1);
  }
  for (int y = frame.Top; y < frame.Bottom; ++y) {
    plot(frame.Left, y);
    plot(frame.Right - 1, y);
  }
}

// ---- the spin ----

TMMCustomSpinButton::TMMCustomSpinButton(TComponent* owner) : TMMCustomControl(owner) {
  SetControlStyle(ControlStyle() & ~unsigned(csSetCaption | csDoubleClicks));
  SetTabStop(true);
  up_ = new TMMTimerSpeedButton(this);
  down_ = new TMMTimerSpeedButton(this);
  for (TMMTimerSpeedButton* b : {up_, down_}) {
    b->SetParent(this);
    b->SetAllowTimer(true);
    b->OnMouseDown = [this, b](TObject*, TMouseButton button, TShiftState, int, int) {
      if (button == mbLeft) ButtonMouseDown(b);
    };
  }
  up_->OnClick = [this](TObject*) { UpClicked(); };
  down_->OnClick = [this](TObject*) { DownClicked(); };
  focus_button_ = up_;
  LoadDefaultGlyphs();
  SetBounds(0, 0, 21, 28);
  UpdateButtonStates();
}

TMMCustomSpinButton::~TMMCustomSpinButton() { ReleaseFocusControl(); }

void TMMCustomSpinButton::LoadDefaultGlyphs() {
  SetButtonGlyph(up_, TBitmap());
  SetButtonGlyph(down_, TBitmap());
}

void TMMCustomSpinButton::SetValue(int32_t v) {
  v = std::clamp(v, min_value_, std::max(min_value_, max_value_));
  if (v == value_) return;
  value_ = v;
  UpdateButtonStates();
  Change();
}

void TMMCustomSpinButton::SetMinValue(int32_t v) {
  if (!ChangeField(min_value_, v)) return;
  if (value_ < min_value_) SetValue(min_value_);
  UpdateButtonStates();
}

void TMMCustomSpinButton::SetMaxValue(int32_t v) {
  if (!ChangeField(max_value_, v)) return;
  if (value_ > max_value_) SetValue(max_value_);
  UpdateButtonStates();
}

void TMMCustomSpinButton::Change() {
  if (!HasState(csLoading) && OnChange) OnChange(this);
}

void TMMCustomSpinButton::UpClicked() {
  // A step past either end of int lands on it.
  SetValue(AddSat(value_, increment_));
  if (OnUpClick) OnUpClick(this);
}

void TMMCustomSpinButton::DownClicked() {
  SetValue(SubSat(value_, increment_));
  if (OnDownClick) OnDownClick(this);
}

void TMMCustomSpinButton::UpdateButtonStates() {
  const bool on = GetEnabled();
  down_->SetEnabled(on && value_ > min_value_);
  up_->SetEnabled(on && value_ < max_value_);
  if (middle_) middle_->SetEnabled(on);
}

void TMMCustomSpinButton::EnabledChanged() {
  TMMCustomControl::EnabledChanged();
  UpdateButtonStates();
  Invalidate();
}

void TMMCustomSpinButton::SetFocusColor(TColor c) {
  if (ChangeField(focus_color_, c)) Invalidate();
}

void TMMCustomSpinButton::SetFocusStyle(TMMFocusStyle s) {
  if (ChangeField(focus_style_, s)) Invalidate();
}

void TMMCustomSpinButton::SetButtonFace(bool v) {
  if (!ChangeField(button_face_, v)) return;
  for (TMMTimerSpeedButton* b : {up_, down_, middle_})
    if (b) b->SetButtonFace(v);
  AdjustSize();
  Invalidate();
}

void TMMCustomSpinButton::SetMiddleButton(bool v) {
  if (v == (middle_ != nullptr)) return;
  if (v) {
    middle_ = new TMMTimerSpeedButton(this);
    middle_->SetParent(this);
    middle_->SetButtonFace(button_face_);
    middle_->SetCursor(orientation_ == orVertical ? crVSplit : crHSplit);
    middle_->OnMouseDown = [this](TObject*, TMouseButton b, TShiftState, int x, int y) {
      if (b != mbLeft) return;
      grip_held_ = true;
      drag_value_ = value_;
      drag_start_ = orientation_ == orVertical ? y + middle_->GetTop() : x + middle_->GetLeft();
    };
    middle_->OnMouseMove = [this](TObject*, TShiftState, int x, int y) {
      if (!grip_held_) return;
      const int at = orientation_ == orVertical ? y + middle_->GetTop() : x + middle_->GetLeft();
      // A full range takes 100 pixels; on a wide range the target leaves 32 bits long before
      // the pointer leaves the screen, so it is held in range while still a double.
      const double product = double(int64_t{drag_start_} - at) * double(int64_t{max_value_} - min_value_);
      const double target = drag_value_ + std::trunc(product / 100.0);
      SetValue(static_cast<int32_t>(std::clamp(target, double(INT32_MIN), double(INT32_MAX))));
    };
    middle_->OnMouseUp = [this](TObject*, TMouseButton, TShiftState, int, int) { grip_held_ = false; };
  } else {
    delete middle_;
    middle_ = nullptr;
  }
  UpdateButtonStates();
  AdjustSize();
  Invalidate();
}

void TMMCustomSpinButton::SetOrientation(TMMOrientation o) {
  if (!ChangeField(orientation_, o)) return;
  if (HasState(csDesigning)) LoadDefaultGlyphs();
  if (middle_) middle_->SetCursor(o == orVertical ? crVSplit : crHSplit);
  AdjustSize();
}

void TMMCustomSpinButton::SetButtonGlyph(TMMTimerSpeedButton* button, const TBitmap& b) {
  if (b.Empty()) {
    const bool vertical = orientation_ == orVertical, up = button == up_;
    button->SetGlyph(LoadLibraryBitmap(up ? (vertical ? "MMSPINUPV" : "MMSPINUPH")
                                          : (vertical ? "MMSPINDOWNV" : "MMSPINDOWNH")));
    button->SetNumGlyphs(3);
  } else {
    button->SetGlyph(b);
  }
  AdjustSize();
}

void TMMCustomSpinButton::SetUpGlyph(const TBitmap& b) { SetButtonGlyph(up_, b); }

void TMMCustomSpinButton::SetDownGlyph(const TBitmap& b) { SetButtonGlyph(down_, b); }

void TMMCustomSpinButton::SetUpNumGlyphs(int n) {
  up_->SetNumGlyphs(n);
  AdjustSize();
}

void TMMCustomSpinButton::SetDownNumGlyphs(int n) {
  down_->SetNumGlyphs(n);
  AdjustSize();
}

void TMMCustomSpinButton::SetBounds(int left, int top, int width, int height) {
  TMMCustomControl::SetBounds(left, top, width, height);
  AdjustSize();
}

void TMMCustomSpinButton::Loaded() {
  TMMCustomControl::Loaded();
  AdjustSize();
}

void TMMCustomSpinButton::Changed() {
  AdjustSize();
  TMMCustomControl::Changed();
}

// The control never gets smaller than its buttons need; within that the two buttons share the
// inner length, with the middle grip (and with faces, separator lines) between them.
void TMMCustomSpinButton::AdjustSize() {
  if (adjusting_ || up_ == nullptr || down_ == nullptr || HasState(csLoading)) return;
  adjusting_ = true;
  const int E = BevelExtend();
  const bool face = button_face_, middle = middle_ != nullptr;
  const auto frame_width = [](TMMSpeedButton* b) {
    return b->GetGlyph().Empty() ? 0 : b->GetGlyph().Width() / std::max(1, b->GetNumGlyphs());
  };
  int W = GetWidth(), H = GetHeight();
  const int extra = face && middle ? 10 : middle ? 6 : face ? 5 : 0;
  const int across = face ? 2 : 0;
  int g;
  if (orientation_ == orVertical) {
    const int fw = frame_width(up_), uh = up_->GetGlyph().Height(), dh = down_->GetGlyph().Height();
    W = std::max(W, fw + 2 * E + across);
    H = std::max(H, uh + dh + 2 * E + extra);
  } else {
    const int dfw = frame_width(down_), ufw = frame_width(up_), dh2 = down_->GetGlyph().Height();
    W = std::max(W, dfw + ufw + 2 * E + extra);
    H = std::max(H, dh2 + 2 * E + across);
  }
  g = face && middle ? 5 : middle ? 6 : 0;
  if (W != GetWidth() || H != GetHeight()) TMMCustomControl::SetBounds(GetLeft(), GetTop(), W, H);
  const bool vertical = orientation_ == orVertical;
  const int length = (vertical ? H : W) - 2 * E, width = (vertical ? W : H) - 2 * E;
  const int first = (length - g) / 2;
  // Where the second button starts after the first, and how much shorter it is.
  int second_at = first, shorter = 0;
  if (face && !middle) second_at = first + 1, shorter = 1;
  if (middle) second_at = first + 6;
  const int second = std::max(0, length - second_at - shorter);
  TMMTimerSpeedButton* a = vertical ? up_ : down_;
  TMMTimerSpeedButton* b = vertical ? down_ : up_;
  auto place = [&](TMMTimerSpeedButton* btn, int at, int len, int inset) {
    if (vertical)
      btn->SetBounds(E + inset, E + at, width - 2 * inset, len);
    else
      btn->SetBounds(E + at, E + inset, len, width - 2 * inset);
  };
  place(a, 0, first, 0);
  place(b, second_at, second, 0);
  if (middle_) place(middle_, first + 1, 4, face ? 0 : 1);
  adjusting_ = false;
  if (resized_while_adjusting_) {
    resized_while_adjusting_ = false;
    TMMCustomControl::Resize();
  }
}

void TMMCustomSpinButton::Resize() {
  // An owner that lays itself out around the spin (the LED spin) hears of the final size only.
  if (adjusting_) resized_while_adjusting_ = true;
  else TMMCustomControl::Resize();
}

void TMMCustomSpinButton::Paint() {
  TMMCustomControl::Paint();
  TCanvas& c = Canvas();
  c.Pen().Color = clBlack;
  c.Pen().Style = psSolid;
  const bool vertical = orientation_ == orVertical;
  auto line_after = [&](TControl* btn) {
    if (vertical) {
      c.MoveTo(btn->GetLeft(), btn->GetTop() + btn->GetHeight());
      c.LineTo(btn->GetLeft() + btn->GetWidth(), btn->GetTop() + btn->GetHeight());
    } else {
      c.MoveTo(btn->GetLeft() + btn->GetWidth(), btn->GetTop());
      c.LineTo(btn->GetLeft() + btn->GetWidth(), btn->GetTop() + btn->GetHeight());
    }
  };
  TControl* first = vertical ? static_cast<TControl*>(up_) : down_;
  if (button_face_) {
    line_after(first);
    if (middle_) line_after(middle_);
  } else if (middle_) {
    line_after(first);
    line_after(middle_);
  }
}

void TMMCustomSpinButton::SetFocusButton(TMMTimerSpeedButton* b) {
  if (b == focus_button_) return;
  if (focus_button_) {
    focus_button_->ShowPressed(false);
    focus_button_->SetFocused(false);
  }
  focus_button_ = b;
  if (Focused()) focus_button_->SetFocused(true);
}

void TMMCustomSpinButton::ButtonMouseDown(TMMTimerSpeedButton* b) {
  if (GetTabStop() && CanFocus()) SetFocusButton(b);
  if (focus_control_ && focus_control_->GetTabStop() && focus_control_->CanFocus() &&
      !focus_control_->Focused())
    focus_control_->SetFocus();
  else if (GetTabStop() && CanFocus() && !Focused())
    SetFocus();
}

bool TMMCustomSpinButton::ProcessKeys(bool key_down, uint16_t key) {
  const bool vertical = orientation_ == orVertical;
  const uint16_t up_key = vertical ? VK_UP : VK_RIGHT, down_key = vertical ? VK_DOWN : VK_LEFT;
  if (key != VK_UP && key != VK_DOWN && key != VK_LEFT && key != VK_RIGHT) return false;
  if (!key_down) {
    if (focus_button_) focus_button_->ShowPressed(false);
    return true;
  }
  if (key != up_key && key != down_key) return false;
  TMMTimerSpeedButton* b = key == up_key ? up_ : down_;
  SetFocusButton(b);
  if (b->GetEnabled()) {
    if (b->State() != bsDown) b->ShowPressed(true);
    b->Click();
  }
  return true;
}

void TMMCustomSpinButton::KeyDown(uint16_t& key, TShiftState s) {
  if (ProcessKeys(true, key)) key = 0;
  else TMMCustomControl::KeyDown(key, s);
}

void TMMCustomSpinButton::KeyUp(uint16_t& key, TShiftState s) {
  if (ProcessKeys(false, key)) key = 0;
  else TMMCustomControl::KeyUp(key, s);
}

void TMMCustomSpinButton::DoEnter() {
  TMMCustomControl::DoEnter();
  if (focus_button_) focus_button_->SetFocused(true);
  Invalidate();
}

void TMMCustomSpinButton::DoExit() {
  TMMCustomControl::DoExit();
  if (focus_button_) focus_button_->SetFocused(false);
  Invalidate();
}

void TMMCustomSpinButton::ReleaseFocusControl() {
  if (focus_control_ == nullptr) return;
  if (Hooked().erase(focus_control_) > 0) {
    focus_control_->OnKeyDown = saved_key_down_;
    focus_control_->OnKeyUp = saved_key_up_;
  }
  focus_control_->RemoveFreeNotification(this);
  focus_control_ = nullptr;
  saved_key_down_ = nullptr;
  saved_key_up_ = nullptr;
}

void TMMCustomSpinButton::SetFocusControl(TWinControl* control) {
  if (control == focus_control_) return;
  ReleaseFocusControl();
  if (control == nullptr) return;
  if (dynamic_cast<TEdit*>(control) != nullptr) {
    if (!Hooked().insert(control).second) {
      MessageDlg("Control is already Hooked", mtError, mbOK);
      return;
    }
    saved_key_down_ = control->OnKeyDown;
    saved_key_up_ = control->OnKeyUp;
    // The edit's keys are offered to the spin first; while a button is held with the mouse they
    // pass on unchanged.
    control->OnKeyDown = [this](TObject* sender, uint16_t& key, TShiftState s) {
      const bool held = up_->Held() || down_->Held();
      if (!held && ProcessKeys(true, key)) key = 0;
      else if (saved_key_down_) saved_key_down_(sender, key, s);
    };
    control->OnKeyUp = [this](TObject* sender, uint16_t& key, TShiftState s) {
      const bool held = up_->Held() || down_->Held();
      if (!held && ProcessKeys(false, key)) key = 0;
      else if (saved_key_up_) saved_key_up_(sender, key, s);
    };
  }
  focus_control_ = control;
  control->FreeNotification(this);
}

void TMMCustomSpinButton::Notification(TComponent* component, TOperation operation) {
  TMMCustomControl::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == focus_control_) {
    Hooked().erase(focus_control_);
    focus_control_ = nullptr;
  }
  if (component == middle_) middle_ = nullptr;
  if (component == up_) up_ = nullptr;
  if (component == down_) down_ = nullptr;
}
