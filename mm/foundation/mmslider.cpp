#include "mmslider.h"

#include <algorithm>
#include <cmath>

#include "mmbcache.h"
#include "mmutilsdraw.h"

using namespace vant;

namespace {

int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) { return std::max(lo, std::min(v, hi)); }

// Round half to even, as the library rounds.
int64_t RoundEven(double v) { return static_cast<int64_t>(std::nearbyint(v)); }

// The one blink timer of all sliders, owned by the focused one.
TTimer* g_blink_timer = nullptr;
TMMCustomSlider* g_blink_owner = nullptr;

}  // namespace

// What a paint lays out: the area left after the pictures, and the thumb and trench in it.
struct TMMCustomSlider::Layout {
  TRect inside;  // inside the bevel
  TRect area;    // what remains after the end pictures
  TRect thumb;
  TRect trench;
  int centre;  // the cross-axis centre line of the pictures
};

TMMCustomSlider::TMMCustomSlider(TComponent* owner)
    : TMMCustomControl(owner),
      groove_(std::make_unique<TMMBevel>()),
      scale_(std::make_unique<TMMScale>()),
      pic_left_(std::make_unique<TBitmap>()),
      pic_right_(std::make_unique<TBitmap>()) {
  Bevel().SetBorderWidth(5);
  groove_->OnChange = [this](TObject*) { Relayout(); };
  scale_->SetVisible(false);
  scale_->SetOrigin(soOuter);
  scale_->SetConnect(true);
  scale_->OnChange = [this](TObject*) { Relayout(); };
  pic_left_->OnChange = [this](TBitmap*) { Relayout(); };
  pic_right_->OnChange = [this](TBitmap*) { Relayout(); };
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(GetLeft(), GetTop(), 200, 40);
}

TMMCustomSlider::~TMMCustomSlider() {
  StopBlink();
  RemoveCacheBitmap(back_);
}

// ---- position ----

int32_t TMMCustomSlider::GetPosition() const {
  const int64_t p = Clamp64(pos_, min_, max_);
  if (!logarithmic_ || p == 0 || Range() <= 0) return int32_t(p);
  const double r = double(Range()), s = sensitivity_;
  return int32_t(Clamp64(RoundEven(std::pow(10.0, (p * -s / r + s) / 20.0) * r), min_, max_));
}

void TMMCustomSlider::SetPosition(int32_t v) {
  if (!logarithmic_) return UpdatePosition(v, false);
  // Nothing lies below the quietest level: 0 and below go to the start.
  if (v <= 0 || Range() <= 0) return UpdatePosition(min_, false);
  const double r = double(Range()), s = sensitivity_;
  const double internal = r * (20.0 * std::log10(v / r) - s) / -s;
  UpdatePosition(Clamp64(RoundEven(std::clamp(internal, -4e18, 4e18)), min_, max_), false);
}

void TMMCustomSlider::SetMinMax(int32_t min, int32_t max) {
  min_ = min;
  max_ = HasState(csLoading) ? max : int32_t(std::max<int64_t>(max, int64_t(min) + 1));
  if (max_ < min_) max_ = min_;  // min at the top of the range: nothing above it
  UpdatePosition(Clamp64(pos_, min_, max_), true);
  Invalidate();
}

void TMMCustomSlider::SetLogarithmic(bool v) {
  if (v == logarithmic_) return;
  const int32_t p = GetPosition();
  logarithmic_ = v;
  SetPosition(p);
  Invalidate();
}

void TMMCustomSlider::SetSensitivity(int v) {
  v = std::clamp(v, -96, -20);
  if (v == sensitivity_) return;
  const int32_t p = GetPosition();
  sensitivity_ = v;
  SetPosition(p);
  Invalidate();
}

void TMMCustomSlider::UpdatePosition(int64_t v, bool force) {
  v = Clamp64(v, min_, max_);
  if (v == pos_ && !force) return;
  pos_ = int32_t(v);
  if (HasState(csDesigning) || HasState(csLoading)) {
    Invalidate();
    return;
  }
  const TRect moved = WhereIsThumb(Measure().area);
  if (moved != thumb_rect_) {
    thumb_rect_ = moved;
    Invalidate();
  }
  Change();
}

void TMMCustomSlider::Change() {
  if (HasState(csLoading) || HasState(csReading)) return;
  if (OnChange) OnChange(this);
}

void TMMCustomSlider::Track() {
  tracking_ = true;
  if (OnTrack) OnTrack(this);
}

void TMMCustomSlider::TrackEnd() {
  if (!tracking_) return;
  tracking_ = false;
  if (OnTrackEnd) OnTrackEnd(this);
}

// ---- plain properties ----

void TMMCustomSlider::SetOrientation(TMMOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  if (HasState(csDesigning)) std::swap(thumb_width_, thumb_height_);
  Relayout();
}

#define SLIDER_SETTER(Name, field, Type)    \
  void TMMCustomSlider::Set##Name(Type v) { \
    if (ChangeField(field, v)) Relayout();  \
  }
// Lengths are held to what a control can show.
#define SLIDER_LENGTH(Name, field)                       \
  void TMMCustomSlider::Set##Name(int v) {               \
    if (ChangeField(field, HoldToExtent(v))) Relayout(); \
  }
SLIDER_LENGTH(GrooveSize, groove_size_)
SLIDER_SETTER(GrooveStyle, groove_style_, TMMGrooveStyle)
SLIDER_SETTER(GrooveColor, groove_color_, TColor)
SLIDER_LENGTH(ThumbWidth, thumb_width_)
SLIDER_LENGTH(ThumbHeight, thumb_height_)
SLIDER_SETTER(ThumbStyle, thumb_style_, TMMThumbStyle)
SLIDER_SETTER(ThumbColor, thumb_color_, TColor)
SLIDER_SETTER(ThumbBorder, thumb_border_, bool)
SLIDER_SETTER(FocusColor, focus_color_, TColor)
SLIDER_SETTER(DisabledColor, disabled_color_, TColor)
SLIDER_SETTER(ScalePosition, scale_pos_, TMMScalePos)
SLIDER_LENGTH(ScaleDistance, scale_distance_)
#undef SLIDER_SETTER
#undef SLIDER_LENGTH

void TMMCustomSlider::SetFocusAction(TMMFocusAction v) {
  if (!ChangeField(focus_action_, v)) return;
  if (has_focus_) RestartBlink();  // the blink follows the new action
  Invalidate();
}

// ---- geometry ----

TMMCustomSlider::Layout TMMCustomSlider::Measure() const {
  Layout l;
  l.inside = BeveledRect();
  l.area = l.inside;
  const bool h = Horizontal();
  const bool one_side = ScaleShown() && scale_pos_ != spBoth;
  const int half = HalfThumbAcross();
  if (!one_side)
    l.centre = h ? (l.inside.Top + l.inside.Bottom) / 2 : (l.inside.Left + l.inside.Right) / 2;
  else if (scale_pos_ == spAboveOrLeft)
    l.centre = (h ? l.inside.Bottom : l.inside.Right) - half;
  else
    l.centre = (h ? l.inside.Top : l.inside.Left) + half;
  if (!pic_left_->Empty())
    (h ? l.area.Left : l.area.Top) += h ? pic_left_->Width() : pic_left_->Height();
  if (!pic_right_->Empty())
    (h ? l.area.Right : l.area.Bottom) -= h ? pic_right_->Width() : pic_right_->Height();
  l.thumb = WhereIsThumb(l.area);
  // The trench runs along the remaining length, centred on the thumb's centre line.
  const int ext = groove_->GetBevelExtend();
  const int thick = groove_size_ + 2 * ext;
  int near;
  const int lo = h ? l.area.Top : l.area.Left, hi = h ? l.area.Bottom : l.area.Right;
  if (!one_side)
    near = (lo + hi) / 2 - ext - groove_size_ / 2;
  else if (scale_pos_ == spBelowOrRight)
    near = lo + half - ext - groove_size_ / 2;
  else
    near = hi - half - ext - groove_size_ / 2 - 1;
  l.trench = h ? TRect{l.area.Left, near, l.area.Right, near + thick}
               : TRect{near, l.area.Top, near + thick, l.area.Bottom};
  return l;
}

TRect TMMCustomSlider::WhereIsThumb(const TRect& a) const {
  const bool h = Horizontal();
  const int64_t len = h ? a.Width() : a.Height();
  const int64_t room = std::max<int64_t>(0, len - ThumbLength());
  int64_t d =
      Range() > 0 ? RoundEven(double(int64_t(pos_) - min_) * double(room) / double(Range())) : 0;
  d = Clamp64(d, 0, room);
  const bool one_side = ScaleShown() && scale_pos_ != spBoth;
  const int across = h ? thumb_height_ : thumb_width_;
  const int lo = h ? a.Top : a.Left, hi = h ? a.Bottom : a.Right;
  int c;  // the thumb's near edge across the axis
  if (!one_side)
    c = lo + (hi - lo - across) / 2;
  else if (scale_pos_ == spBelowOrRight)
    c = lo;
  else
    c = hi - across;
  if (h) return Bounds(a.Left + int(d), c, thumb_width_, thumb_height_);
  return Rect(c, a.Bottom - int(d) - thumb_height_, c + thumb_width_, a.Bottom - int(d));
}

// ---- keyboard and mouse ----

void TMMCustomSlider::KeyDown(uint16_t& key, TShiftState s) {
  TMMCustomControl::KeyDown(key, s);
  const int64_t p = pos_;
  int64_t n = p;
  switch (key) {
    case VK_PRIOR:
      n = std::min<int64_t>(p + page_size_, max_);
      break;
    case VK_NEXT:
      n = std::max<int64_t>(p - page_size_, min_);
      break;
    case VK_END:
      n = Horizontal() ? max_ : min_;
      break;
    case VK_HOME:
      n = Horizontal() ? min_ : max_;
      break;
    case VK_UP:
    case VK_RIGHT:
      if (p < max_) n = p + line_size_;
      break;
    case VK_LEFT:
    case VK_DOWN:
      if (p > min_) n = p - line_size_;
      break;
    default:
      return;
  }
  n = Clamp64(n, min_, max_);
  if (n != p) {
    Track();
    UpdatePosition(n, false);
  }
  key = 0;  // ours: the arrows do not move the focus
}

void TMMCustomSlider::KeyUp(uint16_t& key, TShiftState s) {
  TMMCustomControl::KeyUp(key, s);
  TrackEnd();
}

void TMMCustomSlider::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
  if (CanFocus()) SetFocus();
  TMMCustomControl::MouseDown(b, s, x, y);
  if (b != mbLeft) return;
  const TRect thumb = WhereIsThumb(Measure().area);
  if (thumb.Contains({x, y})) {
    dragging_ = true;
    drag_coord_ = Horizontal() ? x : y;
    drag_pos_ = pos_;
    blink_ = has_focus_ && (focus_action_ == faFocusThumb || focus_action_ == faAll);
    Track();
    Invalidate();
    return;
  }
  // Elsewhere: the thumb jumps to the point, half a thumb in from the start.
  const int len = ThumbLength();
  const int64_t usable = int64_t(Horizontal() ? GetWidth() : GetHeight()) - len;
  const int64_t along = Horizontal() ? int64_t(x) - len / 2 : int64_t(GetHeight()) - y - len / 2;
  const double fraction = usable > 0 ? double(along) / double(usable) : 0.0;
  Track();
  UpdatePosition(Clamp64(RoundEven(fraction * double(Range()) + min_), min_, max_), false);
}

void TMMCustomSlider::MouseMove(TShiftState s, int x, int y) {
  TMMCustomControl::MouseMove(s, x, y);
  const bool over = WhereIsThumb(Measure().area).Contains({x, y});
  if (over != over_thumb_) {
    if (over) normal_cursor_ = GetCursor();
    over_thumb_ = over;
    SetCursor(over ? (hand_cursor_ ? LoadResCursor(5) : thumb_cursor_) : normal_cursor_);
  }
  if (!dragging_ || !s.count(ssLeft)) return;
  const int64_t usable =
      std::max<int64_t>(1, int64_t(Horizontal() ? GetWidth() : GetHeight()) - ThumbLength());
  const int64_t moved = Horizontal() ? int64_t(x) - drag_coord_ : int64_t(drag_coord_) - y;
  // MulDiv(moved, range, usable), rounded to nearest, in 128 bits: no pointer offset overflows.
  const __int128 num = __int128(moved) * Range(), half = usable / 2;
  const int64_t step = int64_t((num + (num >= 0 ? half : -half)) / usable);
  const int64_t n = Clamp64(drag_pos_ + step, min_, max_);
  if (n != pos_) {
    UpdatePosition(n, false);
    Track();
  }
}

void TMMCustomSlider::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
  TMMCustomControl::MouseUp(b, s, x, y);
  if (b != mbLeft) return;
  dragging_ = false;
  Invalidate();
  TrackEnd();
}

// ---- focus ----

void TMMCustomSlider::DoEnter() {
  if (!has_focus_) {
    has_focus_ = true;
    if (OnGetFocus) OnGetFocus(this);
  }
  RestartBlink();
  if (focus_action_ != faNone) Invalidate();
  TMMCustomControl::DoEnter();
}

void TMMCustomSlider::RestartBlink() {
  StopBlink();
  blink_ = false;
  if (focus_action_ != faFocusThumb && focus_action_ != faAll) return;
  g_blink_timer = new TTimer(nullptr);
  g_blink_owner = this;
  g_blink_timer->SetInterval(500);
  g_blink_timer->OnTimer = [this](TObject*) { BlinkTick(); };
}

void TMMCustomSlider::DoExit() {
  has_focus_ = false;
  StopBlink();
  blink_ = false;
  if (OnLostFocus) OnLostFocus(this);
  if (focus_action_ != faNone) Invalidate();
  TMMCustomControl::DoExit();
}

void TMMCustomSlider::StopBlink() {
  if (g_blink_owner != this) return;
  delete g_blink_timer;
  g_blink_timer = nullptr;
  g_blink_owner = nullptr;
}

void TMMCustomSlider::BlinkTick() {
  blink_ = dragging_ ? true : !blink_;
  Invalidate();
}

void TMMCustomSlider::EnabledChanged() {
  TMMCustomControl::EnabledChanged();
  Invalidate();
}

void TMMCustomSlider::Resize() {
  TMMCustomControl::Resize();
  SetOrientation(GetWidth() >= GetHeight() ? orHorizontal : orVertical);
  ResizeBackBuffer();
  Relayout();
}

void TMMCustomSlider::Relayout() {
  thumb_rect_ = WhereIsThumb(Measure().area);
  Invalidate();
}

void TMMCustomSlider::ResizeBackBuffer() {
  RemoveCacheBitmap(back_);
  if (GetWidth() > 0 && GetHeight() > 0) back_ = LoadCacheBitmap(GetWidth(), GetHeight());
}

// ---- painting ----

void TMMCustomSlider::Paint() {
  if (!back_) ResizeBackBuffer();
  if (!back_) return;
  TCanvas& c = back_->Canvas();
  c.ResetClip();
  c.SetCopyMode(cmSrcCopy);
  c.Pen() = TPen();
  const Layout l = Measure();
  const bool h = Horizontal();

  // 1. Bevel and background.
  Bevel().PaintBevel(c, ClientRect(), true);
  c.Brush().Style = bsSolid;
  c.Brush().Color = GetColor();
  c.FillRect(l.inside);

  // 2. End pictures, centred on the centre line, drawn with their transparent colour.
  auto picture = [&](TBitmap& pic, bool first) {
    if (pic.Empty()) return;
    int x, y;
    if (h) {
      x = first ? l.inside.Left : l.area.Right;
      y = l.centre - pic.Height() / 2;
    } else {
      x = l.centre - pic.Width() / 2;
      y = first ? l.inside.Top : l.area.Bottom;
    }
    DrawTransparentBitmap(c, pic, x, y, GetTransparentColor(pic));
  };
  picture(*pic_left_, true);
  picture(*pic_right_, false);

  // 3. The thumb's place.
  thumb_rect_ = l.thumb;

  // 5. The scale beside the trench, less half a thumb at each end.
  if (ScaleShown()) {
    const int sh = scale_->GetScaleHeight(), half = ThumbLength() / 2;
    auto draw = [&](bool above) {
      TRect r;
      if (h) {
        const int top =
            above ? l.trench.Top - scale_distance_ - 1 - sh : l.trench.Bottom + scale_distance_ + 1;
        r = {l.trench.Left + half, top, l.trench.Right - half, top + sh};
      } else {
        const int left =
            above ? l.trench.Left - scale_distance_ - sh : l.trench.Right + scale_distance_;
        r = {left, l.trench.Top + half, left + sh, l.trench.Bottom - half};
      }
      scale_->DrawRect(&c, r, above);
    };
    if (scale_pos_ != spBelowOrRight) draw(true);
    if (scale_pos_ != spAboveOrLeft) draw(false);
  }

  // 6. The groove, the focus rectangle and the groove's inside.
  const bool focused = has_focus_;
  TRect inner;
  const bool fill_focus = focused && (focus_action_ == faFocusColor || focus_action_ == faAll);
  c.Brush().Style = bsSolid;
  c.Brush().Color = fill_focus ? focus_color_ : groove_color_;
  if (groove_style_ == gsRect) {
    inner = groove_->PaintBevel(c, l.trench, true);
    c.FillRect(inner);
  } else {
    const int ext = groove_->GetBevelExtend();
    inner = l.trench;
    if (h)
      InflateRect(inner, 0, -ext);
    else
      InflateRect(inner, -ext, 0);
    c.FillRect(inner);
    if (OnDrawGroove) OnDrawGroove(this, c, inner);
  }
  if (focused && (focus_action_ == faFocusRect || focus_action_ == faAll)) {
    TRect f = l.area;
    const TMMBevel& b = Bevel();
    if ((b.GetBorderWidth() > 0 && b.GetBevelInner() == bvNone) || b.GetBorderSpace() > 0)
      InflateRect(f, 1, 1);
    // A dotted frame, every other pixel inverted, as the platform draws focus.
    auto dot = [&](int x, int y) {
      if (((x + y) & 1) == 0 && x >= 0 && y >= 0 && x < back_->Width() && y < back_->Height())
        c.SetPixel(x, y, ColorToRGB(c.GetPixel(x, y)) ^ 0xFFFFFF);
    };
    for (int x = f.Left; x < f.Right; ++x) dot(x, f.Top), dot(x, f.Bottom - 1);
    for (int y = f.Top + 1; y < f.Bottom - 1; ++y) dot(f.Left, y), dot(f.Right - 1, y);
  }

  // 7. The thumb.
  TRect t = thumb_rect_;
  if (thumb_style_ == tsOwnerDraw) {
    if (OnDrawThumb) OnDrawThumb(this, c, t, dragging_, blink_);
  } else {
    c.Pen() = TPen();
    if (thumb_border_) {
      c.Brush().Color = clWindowFrame;
      c.FrameRect(t);
      InflateRect(t, -1, -1);
    } else {
      c.Pen().Color = clWindowFrame;
      c.MoveTo(t.Left, t.Bottom - 1);
      c.LineTo(t.Right - 1, t.Bottom - 1);
      c.LineTo(t.Right - 1, t.Top - 1);
      t.Right -= 1, t.Bottom -= 1;
    }
    TRect body = t;
    Frame3D(c, body, clBtnHighlight, clBtnShadow, 1);
    c.SetPixel(t.Right - 1, t.Top, clBtnHighlight);
    c.SetPixel(t.Left, t.Bottom - 1, clBtnHighlight);
    c.Brush().Color = thumb_color_;
    c.FillRect(body);
    const bool disabled = !GetEnabled();
    if (disabled || blink_) {
      const TColor check = disabled ? disabled_color_ : clBlack;
      for (int y = thumb_rect_.Top; y < thumb_rect_.Bottom; ++y)
        for (int x = thumb_rect_.Left; x < thumb_rect_.Right; ++x)
          if (((x ^ y) & 1) == 0) c.SetPixel(x, y, check);
    }
  }

  Canvas().Draw(0, 0, *back_);
}
