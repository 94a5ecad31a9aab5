#include "g32_rangebars.h"

#include <algorithm>
#include <cmath>

#include "clock.h"

namespace g32 {
namespace {

int RoundInt(double v) { return SaturatedRound(v); }

// MixColors(a, b, w): per channel (w * a + (255 - w) * b) div 255, w held to 0..255.
TColor32 MixColors(TColor32 a, TColor32 b, int w) {
  w = Clamp(w);
  TColor32 r = 0xFF000000u;
  for (int s = 0; s < 24; s += 8) {
    uint32_t ca = (a >> s) & 255, cb = (b >> s) & 255;
    r |= ((uint32_t(w) * ca + uint32_t(255 - w) * cb) / 255) << s;
  }
  return r;
}

void Frame(TBitmap32& c, const TRect& r, TColor32 topLeft, TColor32 bottomRight) {
  if (IsRectEmpty(r)) return;
  c.HorzLineS(r.Left, r.Top, r.Right - 1, topLeft);
  c.VertLineS(r.Left, r.Top, r.Bottom - 1, topLeft);
  c.HorzLineS(r.Left, r.Bottom - 1, r.Right - 1, bottomRight);
  c.VertLineS(r.Right - 1, r.Top, r.Bottom - 1, bottomRight);
}

TRect Shrunk(TRect r, int by = 1) {
  InflateRect(r, -by, -by);
  return r;
}

}  // namespace

// ---- TArrowBar -----------------------------------------------------------------------------
TArrowBar::TArrowBar(TArrowBarHost* Host) : host_(Host ? Host : &no_host_) {
  pattern_.SetSize(8, 8);
  DoRebuildPattern();
}

TArrowBar::~TArrowBar() = default;

void TArrowBar::SetSize(int W, int H) {
  if (W == width_ && H == height_) return;
  const int oldLength = Horizontal() ? width_ : height_;
  width_ = std::max(W, 0), height_ = std::max(H, 0);
  Resized(oldLength);
  Invalidate();
}

#define G32_BAR_SETTER(Name, field, extra)           \
  void TArrowBar::Set##Name(decltype(field) Value) { \
    if (Value == field) return;                      \
    field = Value;                                   \
    extra;                                           \
    Invalidate();                                    \
  }
G32_BAR_SETTER(Backgnd, backgnd_, DoRebuildPattern())
G32_BAR_SETTER(BorderStyle, border_style_, )
G32_BAR_SETTER(ButtonSize, button_size_, )
G32_BAR_SETTER(Framed, framed_, )
G32_BAR_SETTER(HandleColor, handle_color_, )
G32_BAR_SETTER(ShowArrows, show_arrows_, )
G32_BAR_SETTER(ShowHandleGrip, show_handle_grip_, )
G32_BAR_SETTER(Color, color_, DoRebuildPattern())
G32_BAR_SETTER(Enabled, enabled_, )
#undef G32_BAR_SETTER

void TArrowBar::SetKind(TScrollBarKind Value) {
  if (Value == kind_) return;
  kind_ = Value;
  if (Designing && !Loading) std::swap(width_, height_);
  Invalidate();
}

void TArrowBar::SetGlyphMin(const TBitmap32* Value) {
  if (!glyph_min_) glyph_min_ = std::make_unique<TBitmap32>();
  glyph_min_->Assign(Value);
  Invalidate();
}

void TArrowBar::SetGlyphMax(const TBitmap32* Value) {
  if (!glyph_max_) glyph_max_ = std::make_unique<TBitmap32>();
  glyph_max_->Assign(Value);
  Invalidate();
}

TRect TArrowBar::GetClientRect() const {
  TRect r{0, 0, width_, height_};
  if (border_style_ == bsSingle) InflateRect(r, -1, -1);
  return r;
}

int TArrowBar::Thickness() const {
  TRect r = GetClientRect();
  return std::max(Horizontal() ? r.Height() : r.Width(), 0);
}

int TArrowBar::Length() const {
  TRect r = GetClientRect();
  return std::max(Horizontal() ? r.Width() : r.Height(), 0);
}

int TArrowBar::EffectiveButtonSize() const {
  if (!show_arrows_) return 0;
  int bs = button_size_ ? button_size_ : std::min(Thickness(), 32);
  if (Length() < 2 * bs) bs = Length() / 2;
  return bs;
}

int TArrowBar::BoundaryStart() const {
  TRect r = GetClientRect();
  return (Horizontal() ? r.Left : r.Top) + EffectiveButtonSize();
}

int TArrowBar::BoundaryLength() const { return std::max(Length() - 2 * EffectiveButtonSize(), 0); }

TRBMouseInfo TArrowBar::GetMouseInfo(int X, int Y) const {
  TRect r = GetClientRect();
  if (!PtInRect(r, {X, Y})) return miNone;
  const int bs = EffectiveButtonSize();
  const int a = Along(X, Y);
  const int start = Horizontal() ? r.Left : r.Top, end = Horizontal() ? r.Right : r.Bottom;
  if (a < start + bs) return miBtnLeft;
  if (a >= end - bs) return miBtnRight;
  return miNone;
}

TRect TArrowBar::HandleTrackRect(int Start, int Size) const {
  TRect c = GetClientRect();
  return Horizontal() ? TRect{Start, c.Top, Start + Size, c.Bottom}
                      : TRect{c.Left, Start, c.Right, Start + Size};
}

void TArrowBar::StartTimer(int IntervalMs) {
  timer_interval_ = IntervalMs;
  timer_enabled_ = true;
  timer_due_ = vant::GetClock().NowMillis() + IntervalMs;
  host_->HostScheduleTimer(IntervalMs);
}

void TArrowBar::StopTimer() {
  if (!timer_enabled_) return;
  timer_enabled_ = false;
  host_->HostScheduleTimer(-1);
}

void TArrowBar::PollTimer() {
  if (!timer_enabled_) return;
  int64_t now = vant::GetClock().NowMillis();
  if (now < timer_due_) {
    host_->HostScheduleTimer(int(timer_due_ - now));
    return;
  }
  TimerHandler();
}

void TArrowBar::TimerHandler() {
  if (first_repeat_) {
    first_repeat_ = false;
    StartTimer(100);
  } else if (timer_enabled_) {
    StartTimer(timer_interval_);
  }
  ZoneAction(zone_);
}

void TArrowBar::ZoneAction(TRBMouseInfo Zone) {
  RunUserAction([&] {
    if ((Zone == miLeftSp || Zone == miRightSp) &&
        GetMouseInfo(press_point_.X, press_point_.Y) != Zone) {
      // Paging stops once the handle has reached the press point.
      StopTimer();
      zone_ = miNone;
      Invalidate();
      return;
    }
    Step(Zone);
  });
}

void TArrowBar::RunUserAction(const std::function<void()>& action) {
  user_change_ = true;
  try {
    action();
  } catch (...) {
    user_change_ = false;
    throw;
  }
  user_change_ = false;
}

void TArrowBar::MouseDown(TMouseButton Button, TShiftState, int X, int Y) {
  if (Button != mbLeft) return;
  zone_ = GetMouseInfo(X, Y);
  Invalidate();
  press_point_ = {X, Y};
  if (zone_ == miHandle) {
    StopTimer();
    DragStart();
    return;
  }
  if (zone_ == miNone) return;
  first_repeat_ = true;
  timer_interval_ = 600;
  ZoneAction(zone_);
  if (zone_ != miNone) StartTimer(600);
}

void TArrowBar::MouseMove(TShiftState, int, int) {}

void TArrowBar::MouseUp(TMouseButton, TShiftState, int, int) {
  zone_ = miNone;
  Invalidate();
  StopTimer();
}

void TArrowBar::DoChange() {
  if (OnChange) OnChange(this);
  if (user_change_ && OnUserChange) OnUserChange(this);
}

TColor32 TArrowBar::TrackColor() const {
  TColor32 c = Color32(color_);
  return backgnd_ == bgSolid ? c : MixColors(Color32(clBtnFace), c, 127);
}

void TArrowBar::DoRebuildPattern() {
  const TColor32 face = Color32(clBtnFace), c = Color32(color_);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      TColor32 v = backgnd_ == bgSolid ? c
                   : backgnd_ == bgMix ? MixColors(face, c, 127)
                                       : (((x ^ y) & 1) ? face : c);
      pattern_.SetPixel(x, y, v);
    }
}

void TArrowBar::DoDrawButton(TBitmap32& c, TRect R, bool Pushed, bool Enabled,
                             TRBDirection Direction) {
  const TColor32 face = Color32(clBtnFace), shadow = Color32(clBtnShadow),
                 light = Color32(clBtnHighlight);
  if (framed_) {
    Frame(c, R, Enabled ? Color32(clWindowFrame) : shadow,
          Enabled ? Color32(clWindowFrame) : shadow);
    R = Shrunk(R);
  }
  if (IsRectEmpty(R)) return;
  c.FillRectS(R, face);
  const TBitmap32* glyph =
      (Direction == drLeft || Direction == drDown) ? glyph_min_.get() : glyph_max_.get();
  if (Pushed)
    Frame(c, R, shadow, shadow);
  else
    Frame(c, R, light, shadow);
  const int shift = Pushed ? 1 : 0;
  if (glyph && !glyph->Empty()) {
    if (!Enabled) return;
    int gx = R.Left + (R.Width() - glyph->Width()) / 2 + shift;
    int gy = R.Top + (R.Height() - glyph->Height()) / 2 + shift;
    for (int y = 0; y < glyph->Height(); ++y)
      for (int x = 0; x < glyph->Width(); ++x)
        if (glyph->GetPixel(x, y) >> 24)
          c.SetPixelS(gx + x, gy + y, glyph->GetPixel(x, y) | 0xFF000000u);
    return;
  }
  // The scroll arrow: a filled triangle pointing the button's way.
  const TColor32 ink = Enabled ? clBlack32 : shadow;
  const int size = std::max(std::min(R.Width(), R.Height()) / 4, 1);
  const int cx = R.Left + R.Width() / 2 + shift, cy = R.Top + R.Height() / 2 + shift;
  for (int i = 0; i < size; ++i) {
    switch (Direction) {
      case drLeft:
        c.VertLineS(cx - size / 2 + i, cy - i, cy + i, ink);
        break;
      case drRight:
        c.VertLineS(cx + size / 2 - i, cy - i, cy + i, ink);
        break;
      case drUp:
        c.HorzLineS(cx - i, cy - size / 2 + i, cx + i, ink);
        break;
      case drDown:
        c.HorzLineS(cx - i, cy + size / 2 - i, cx + i, ink);
        break;
    }
  }
}

void TArrowBar::Paint(TBitmap32& c) {
  c.SetSize(width_, height_);
  if (c.Empty()) return;
  const bool enabled = GetEnabled();
  const TColor32 face = Color32(clBtnFace);
  TRect r{0, 0, width_, height_};
  if (border_style_ == bsSingle) {
    Frame(c, r, Color32(clBtnShadow), Color32(clBtnHighlight));
    r = Shrunk(r);
  }
  const int bs = EffectiveButtonSize();
  TRect track = r;
  if (bs > 0) {
    TRect b1 = r, b2 = r;
    if (Horizontal()) {
      b1.Right = r.Left + bs, b2.Left = r.Right - bs, track.Left = b1.Right, track.Right = b2.Left;
    } else {
      b1.Bottom = r.Top + bs, b2.Top = r.Bottom - bs, track.Top = b1.Bottom, track.Bottom = b2.Top;
    }
    DoDrawButton(c, b1, zone_ == miBtnLeft, enabled, Horizontal() ? drLeft : drUp);
    DoDrawButton(c, b2, zone_ == miBtnRight, enabled, Horizontal() ? drRight : drDown);
  }
  if (framed_) {
    TRect f = track;
    if (bs > 0) {
      // Overlaps the button frames by one pixel.
      if (Horizontal())
        f.Left -= 1, f.Right += 1;
      else
        f.Top -= 1, f.Bottom += 1;
    }
    TColor32 fc = enabled ? Color32(clWindowFrame) : Color32(clBtnShadow);
    Frame(c, f, fc, fc);
    track = Shrunk(track);
    if (bs > 0) {
      if (Horizontal())
        track.Left -= 1, track.Right += 1;
      else
        track.Top -= 1, track.Bottom += 1;
      track = IntersectRect(track, Shrunk(f));
    }
  }
  if (IsRectEmpty(track)) return;
  if (enabled) {
    TColor32 t = TrackColor();
    Frame(c, track, Lighten(t, -32), Lighten(t, 32));
    TRect inner = Shrunk(track);
    for (int y = inner.Top; y < inner.Bottom; ++y)
      for (int x = inner.Left; x < inner.Right; ++x)
        c.SetPixelS(x, y, pattern_.GetPixel(x & 7, y & 7));
  } else {
    c.FillRectS(track, face);
  }
}

void TArrowBar::DrawHandle(TBitmap32& c, TRect R, bool Pushed) {
  if (IsRectEmpty(R)) return;
  const TColor32 hc = Color32(handle_color_);
  Frame(c, R, Color32(clWindowFrame), Color32(clWindowFrame));
  R = Shrunk(R);
  if (IsRectEmpty(R)) return;
  c.FillRectS(R, hc);
  int shift = 0;
  if (Pushed) {
    Frame(c, R, Lighten(Lighten(hc, -32), -30), Lighten(Lighten(hc, -32), -30));
    shift = 1;
  } else {
    Frame(c, R, Lighten(hc, 48), Lighten(Lighten(hc, -32), -32));
  }
  if (!show_handle_grip_) return;
  const int length = Horizontal() ? R.Width() : R.Height();
  const int marks = length > 10 ? 4 : 2;
  const int across = Horizontal() ? R.Height() : R.Width();
  const int span = (marks - 1) * 3;
  const int first = (Horizontal() ? R.Left : R.Top) + (length - span) / 2 + shift;
  for (int i = 0; i < marks; ++i) {
    int p = first + 3 * i;
    TRect m = Horizontal()
                  ? TRect{p - 1, R.Top + across / 4 + shift, p + 1, R.Bottom - across / 4 + shift}
                  : TRect{R.Left + across / 4 + shift, p - 1, R.Right - across / 4 + shift, p + 1};
    Frame(c, m, Lighten(hc, 48), Lighten(hc, -32));
  }
}

// ---- TCustomGaugeBar -----------------------------------------------------------------------
void TCustomGaugeBar::SetPosition(int Value) {
  Value = std::max(min_, std::min(Value, max_));
  if (Value == position_) return;
  position_ = Value;
  Invalidate();
  DoChange();
}

void TCustomGaugeBar::SetMax(int Value) {
  if (!Loading && Value <= min_) Value = min_ + 1;
  if (Value == max_) return;
  max_ = Value;
  if (!Loading) SetPosition(position_);
  Invalidate();
}

void TCustomGaugeBar::SetMin(int Value) {
  if (!Loading && Value >= max_) Value = max_ - 1;
  if (Value == min_) return;
  min_ = Value;
  if (!Loading) SetPosition(position_);
  Invalidate();
}

void TCustomGaugeBar::SetHandleSize(int Value) {
  Value = std::max(Value, 0);
  if (Value == handle_size_) return;
  handle_size_ = Value;
  Invalidate();
}

int TCustomGaugeBar::EffectiveHandleSize() const {
  int size = handle_size_ ? handle_size_ : Thickness();
  const int length = BoundaryLength();
  if (size >= length) size = length - 1;
  return std::max(size, 0);
}

int TCustomGaugeBar::HandleStart() const {
  // Max not above Min (possible while loading) puts the handle at the start.
  if (max_ <= min_) return BoundaryStart();
  const int travel = BoundaryLength() - EffectiveHandleSize();
  return BoundaryStart() +
         RoundInt(double(travel) * (int64_t(position_) - min_) / (int64_t(max_) - min_));
}

TRect TCustomGaugeBar::GetHandleRect() const {
  return HandleTrackRect(HandleStart(), EffectiveHandleSize());
}

TRBMouseInfo TCustomGaugeBar::GetMouseInfo(int X, int Y) const {
  TRBMouseInfo base = TArrowBar::GetMouseInfo(X, Y);
  if (base != miNone || !PtInRect(GetClientRect(), {X, Y})) return base;
  TRect h = GetHandleRect();
  if (PtInRect(h, {X, Y})) return miHandle;
  const int a = Along(X, Y);
  const int hs = Horizontal() ? h.Left : h.Top, he = Horizontal() ? h.Right : h.Bottom;
  const int far = (Horizontal() ? Width() : Height()) - 2;
  if (a > 0 && a < hs) return miLeftSp;
  if (a >= he && a <= far) return miRightSp;
  return miNone;
}

void TCustomGaugeBar::Step(TRBMouseInfo Zone) {
  switch (Zone) {
    case miBtnLeft:
      SetPosition(position_ - small_change_);
      break;
    case miBtnRight:
      SetPosition(position_ + small_change_);
      break;
    case miLeftSp:
      SetPosition(position_ - large_change_);
      break;
    case miRightSp:
      SetPosition(position_ + large_change_);
      break;
    default:
      break;
  }
}

void TCustomGaugeBar::DragStart() { drag_start_position_ = float(position_); }

void TCustomGaugeBar::MouseMove(TShiftState Shift, int X, int Y) {
  TArrowBar::MouseMove(Shift, X, Y);
  if (zone_ != miHandle) return;
  const int denominator = BoundaryLength() - EffectiveHandleSize();
  if (denominator == 0) return;
  const int d = Along(X, Y) - Along(press_point_.X, press_point_.Y);
  const int target =
      RoundInt(drag_start_position_ + double(d) * (int64_t(max_) - min_) / denominator);
  RunUserAction([&] { SetPosition(target); });
}

void TCustomGaugeBar::Paint(TBitmap32& c) {
  TArrowBar::Paint(c);
  if (GetEnabled() && !c.Empty()) DrawHandle(c, GetHandleRect(), zone_ == miHandle);
}

// ---- TCustomRangeBar -----------------------------------------------------------------------
float TCustomRangeBar::DoGetWindowSize() const {
  return window_ > 0 ? window_ : float(Horizontal() ? Width() : Height());
}

bool TCustomRangeBar::GetEnabled() const {
  return TArrowBar::GetEnabled() && DoGetWindowSize() < range_;
}

void TCustomRangeBar::SetPosition(float Value) {
  Value = std::clamp(Value, 0.0f, std::max(range_ - DoGetWindowSize(), 0.0f));
  if (Value == position_) return;
  position_ = Value;
  Invalidate();
  DoChange();
}

void TCustomRangeBar::KeepCentre(float OldRange, float OldWindow) {
  if (!Centered) return;
  float fraction = OldRange > OldWindow ? (position_ + OldWindow / 2) / OldRange : 0.5f;
  SetPosition(fraction * range_ - DoGetWindowSize() / 2);
}

void TCustomRangeBar::SetRange(float Value) {
  Value = std::max(Value, 0.0f);
  if (Value == range_) return;
  float oldRange = range_, oldWindow = DoGetWindowSize();
  range_ = Value;
  KeepCentre(oldRange, oldWindow);
  SetPosition(position_);
  Invalidate();
}

void TCustomRangeBar::SetWindow(float Value) {
  Value = std::max(Value, 0.0f);
  if (Value == window_) return;
  float oldWindow = DoGetWindowSize();
  window_ = Value;
  KeepCentre(range_, oldWindow);
  SetPosition(position_);
  Invalidate();
}

void TCustomRangeBar::Resized(int OldLength) {
  if (window_ <= 0) KeepCentre(range_, float(OldLength));
  SetPosition(position_);
  Invalidate();
}

void TCustomRangeBar::GetHandle(int& Start, int& Size) const {
  const int length = BoundaryLength();
  Start = BoundaryStart();
  Size = 0;
  if (length <= 17) return;
  const float window = DoGetWindowSize();
  if (range_ <= window) {
    Size = length;
    return;
  }
  Size = RoundInt(double(window) * length / range_);
  if (Size <= 16) {
    Size = 17;
    Start += RoundInt(double(length - 17) * position_ / (range_ - window));
  } else {
    Start += RoundInt(double(length) * position_ / range_);
  }
}

TRBMouseInfo TCustomRangeBar::GetMouseInfo(int X, int Y) const {
  TRBMouseInfo base = TArrowBar::GetMouseInfo(X, Y);
  if (base != miNone || !PtInRect(GetClientRect(), {X, Y})) return base;
  int start, size;
  GetHandle(start, size);
  if (size == 0) return miNone;
  const int a = Along(X, Y);
  if (a >= start && a < start + size) return miHandle;
  const int far = (Horizontal() ? Width() : Height()) - 2;
  if (a > 0 && a < start) return miLeftSp;
  if (a >= start + size && a <= far) return miRightSp;
  return miNone;
}

void TCustomRangeBar::Step(TRBMouseInfo Zone) {
  switch (Zone) {
    case miBtnLeft:
      SetPosition(position_ - increment_);
      break;
    case miBtnRight:
      SetPosition(position_ + increment_);
      break;
    case miLeftSp:
      SetPosition(position_ - DoGetWindowSize());
      break;
    case miRightSp:
      SetPosition(position_ + DoGetWindowSize());
      break;
    default:
      break;
  }
}

void TCustomRangeBar::DragStart() { drag_start_position_ = position_; }

void TCustomRangeBar::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (GetEnabled()) TArrowBar::MouseDown(Button, Shift, X, Y);
}

void TCustomRangeBar::MouseMove(TShiftState Shift, int X, int Y) {
  TArrowBar::MouseMove(Shift, X, Y);
  if (zone_ != miHandle) return;
  int start, size;
  GetHandle(start, size);
  const int length = BoundaryLength();
  const float window = DoGetWindowSize();
  const double per = size > 16 ? (length > 0 ? double(range_) / length : 0)
                               : (length > 17 ? double(range_ - window) / (length - 17) : 0);
  if (per == 0) return;
  const int d = Along(X, Y) - Along(press_point_.X, press_point_.Y);
  RunUserAction([&] { SetPosition(float(drag_start_position_ + d * per)); });
}

void TCustomRangeBar::Paint(TBitmap32& c) {
  TArrowBar::Paint(c);
  if (!GetEnabled() || c.Empty()) return;
  int start, size;
  GetHandle(start, size);
  if (size == 0) return;
  TRect h = HandleTrackRect(start, size);
  if (zone_ == miLeftSp || zone_ == miRightSp) {
    // The track on the paging side shows the highlight while paging.
    TRect side =
        zone_ == miLeftSp
            ? HandleTrackRect(BoundaryStart(), start - BoundaryStart())
            : HandleTrackRect(start + size, BoundaryStart() + BoundaryLength() - start - size);
    c.FillRectS(Shrunk(side, 0), Color32(clHighlight));
  }
  DrawHandle(c, h, zone_ == miHandle);
}

}  // namespace g32
