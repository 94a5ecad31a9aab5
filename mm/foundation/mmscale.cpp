#include "mmscale.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

using namespace vant;

template <class T>
void TMMCustomScale::Set(T& field, T value) {
  if (field == value) return;
  field = value;
  Changed();
}

void TMMCustomScale::Changed() { DoChange(); }
void TMMCustomScale::DoChange() {
  if (OnChange) OnChange(this);
}

void TMMCustomScale::Assign(const TPersistent* source) {
  auto* s = dynamic_cast<const TMMCustomScale*>(source);
  if (!s) return TPersistent::Assign(source);
  visible_ = s->visible_;
  color_ = s->color_;
  style_ = s->style_;
  tick_count_ = s->tick_count_;
  enlarge_every_ = s->enlarge_every_;
  size_ = s->size_;
  origin_ = s->origin_;
  connect_ = s->connect_;
  Changed();
}

void TMMCustomScale::SetVisible(bool v) { Set(visible_, v); }
void TMMCustomScale::SetStartAngle(int v) { Set(start_angle_, ((v % 360) + 360) % 360); }
void TMMCustomScale::SetEndAngle(int v) { Set(end_angle_, ((v % 360) + 360) % 360); }
void TMMCustomScale::SetColor(TColor v) {
  if (v == color_ && v == color2_ && v == color3_) return;
  color_ = color2_ = color3_ = v;
  Changed();
}
void TMMCustomScale::SetColor2(TColor v) { Set(color2_, v); }
void TMMCustomScale::SetColor3(TColor v) { Set(color3_, v); }
void TMMCustomScale::SetZone2Tick(int v) { Set(zone2_, v); }
void TMMCustomScale::SetZone3Tick(int v) { Set(zone3_, v); }
void TMMCustomScale::SetStyle(TMMScaleStyle v) { Set(style_, v); }
void TMMCustomScale::SetTickCount(int v) { Set(tick_count_, std::max(v, 2)); }
void TMMCustomScale::SetEnlargeEvery(int v) { Set(enlarge_every_, std::max(v, 1)); }
// A scale is never taller than a control can show.
void TMMCustomScale::SetSize(int v) { Set(size_, std::clamp(v, 1, vant::kMaxControlExtent)); }
void TMMCustomScale::SetOrigin(TMMScaleOrigin v) { Set(origin_, v); }
void TMMCustomScale::SetConnect(bool v) { Set(connect_, v); }

int TMMCustomScale::GetScaleHeight() const {
  return size_ + (connect_ ? 1 : 0) + (connect_ && style_ != stColor ? 1 : 0);
}

TCanvas& TMMCustomScale::NeedCanvas() {
  if (!canvas_) throw EMMScaleError("Canvas needed for this operation");
  return *canvas_;
}

namespace {
// Calls draw(i, long) for the ticks 0 .. count - 1 worth drawing along `pixels` pixels: every
// tick when there are no more ticks than pixels, else one per pixel, the first tick landing
// on it, long when any tick there is (so the work never grows beyond the pixels covered).
template <class Draw>
void EachTick(int count, int every, double pixels, Draw draw) {
  const int64_t budget = int64_t(std::clamp(std::floor(pixels), 1.0, double(INT_MAX)));
  const int64_t last = count - 1;
  if (last <= budget) {
    for (int i = 0; i < count; ++i) draw(i, i % every == 0);
    return;
  }
  int64_t from = 0;
  for (int64_t j = 0; j <= budget && from <= last; ++j) {
    // The ticks from .. to share pixel j: i * budget / last lies in [j, j + 1).
    const int64_t to = j == budget ? last : std::min(last, int64_t(((j + 1) * last - 1) / budget));
    if (to >= from) draw(int(from), (to / every) * every >= from);
    from = to + 1;
  }
}

void PlainLine(TCanvas& c, int x1, int y1, int x2, int y2, TColor color) {
  c.Pen().Color = color;
  c.Pen().Style = psSolid;
  c.Pen().Mode = pmCopy;
  c.Pen().Width = 1;
  c.MoveTo(x1, y1);
  c.LineTo(x2, y2);
}
}  // namespace

void TMMCustomScale::ScaleLine(int x1, int y1, int x2, int y2, TColor color) {
  TCanvas& c = NeedCanvas();
  if (style_ == stColor) return PlainLine(c, x1, y1, x2, y2, color);
  const TColor first = style_ == stLowered ? clBlack : clWhite;
  const TColor second = style_ == stLowered ? clWhite : clBlack;
  PlainLine(c, x1, y1, x2, y2, first);
  int dx = 0, dy = 0;
  if (std::abs(x2 - x1) > std::abs(y2 - y1))
    dy = 1;
  else
    dx = x2 == x1 || double(y1 - y2) / double(x2 - x1) > 0 ? 1 : -1;
  PlainLine(c, x1 + dx, y1 + dy, x2 + dx, y2 + dy, second);
}

void TMMCustomScale::DrawRect(TCanvas* canvas, const TRect& rect, bool flip) {
  if (canvas) canvas_ = canvas;
  NeedCanvas();  // raises without one
  const bool zones = !(color_ == color2_ && color2_ == color3_) && 0 <= zone2_ &&
                     zone2_ <= zone3_ && zone3_ <= tick_count_ && style_ == stColor;
  const bool horizontal = rect.Width() > rect.Height();
  const double len = std::max(rect.Width(), rect.Height());
  double z2 = 0, z3 = 0, s = 0;
  if (zones) {
    z2 = double(zone2_) / tick_count_ * len;
    z3 = double(zone3_) / tick_count_ * len;
    s = len / tick_count_;
  }
  const bool far = (origin_ == soInner && flip) || (origin_ == soOuter && !flip);
  const int c = connect_ && style_ != stColor ? 1 : 0;
  if (connect_) {
    int a, b;  // the line's start and end along the axis, and where it lies across
    int at;
    if (horizontal) {
      a = rect.Left, b = rect.Right + 1, at = far ? rect.Bottom - c : rect.Top - 1;
    } else {
      a = rect.Top + 1, b = rect.Bottom + 1, at = far ? rect.Right - c - 1 : rect.Left;
    }
    auto piece = [&](int from, int to, TColor col) {
      if (to <= from) return;
      if (horizontal)
        ScaleLine(from, at, to, at, col);
      else
        ScaleLine(at, from, at, to, col);
    };
    if (zones) {
      const int origin = horizontal ? rect.Left : rect.Top;
      const int p2 = std::clamp(origin + int(z2 + s), a, b);
      const int p3 = std::clamp(origin + int(z3 + s), p2, b);
      piece(a, p2, color_);
      piece(p2, p3, color2_);
      piece(p3, b, color3_);
    } else {
      piece(a, b, color_);
    }
  }
  EachTick(tick_count_, enlarge_every_, len, [&](int i, bool enlarged) {
    const double p = len / (tick_count_ - 1) * i;
    const int length = enlarged ? size_ : size_ / 2;
    const TColor col = zones ? (p > z3 ? color3_ : p > z2 ? color2_ : color_) : color_;
    if (horizontal) {
      const int x = int(std::trunc(rect.Left + p));
      if (far)
        ScaleLine(x, rect.Bottom - length, x, rect.Bottom, col);
      else
        ScaleLine(x, rect.Top, x, rect.Top + length, col);
    } else {
      const int y = int(std::lround(rect.Top + p));
      if (far)
        ScaleLine(rect.Right - length - c, y, rect.Right - c, y, col);
      else
        ScaleLine(rect.Left + c, y, rect.Left + c + length, y, col);
    }
  });
}

namespace {
// A coordinate of a point on a circle: truncated at or beyond the centre, rounded before it.
int Coord(double centre, double v) {
  return v >= centre ? int(std::trunc(v)) : int(std::lround(v));
}
}  // namespace

void TMMCustomScale::DrawElliptic(TCanvas* canvas, const TRect& rect) {
  if (canvas) canvas_ = canvas;
  NeedCanvas();
  const double cx = (rect.Left + rect.Right) / 2.0, cy = (rect.Top + rect.Bottom) / 2.0;
  const double r = std::min(rect.Width(), rect.Height()) / 2;
  int span = ((start_angle_ - end_angle_) % 360 + 360) % 360;
  if (span == 0) span = 360;
  const double step = double(span) / (tick_count_ - 1);
  auto at = [&](double deg, double radius) {
    const double a = deg * M_PI / 180.0;
    return TPoint{Coord(cx, cx + std::cos(a) * radius), Coord(cy, cy - std::sin(a) * radius)};
  };
  // The arc's length in pixels bounds the ticks drawn along it.
  const double arc = span * M_PI / 180.0 * r;
  EachTick(tick_count_, enlarge_every_, arc, [&](int i, bool enlarged) {
    const double deg = start_angle_ - step * i;
    double inner, outer;
    if (enlarged)
      inner = r - size_, outer = r;
    else if (origin_ == soOuter)
      inner = r - size_ / 2, outer = r;
    else
      inner = r - size_, outer = r - size_ / 2 + 1;
    const TPoint a = at(deg, inner), b = at(deg, outer);
    ScaleLine(a.X, a.Y, b.X, b.Y, color_);
  });
  if (connect_) ScaleArc(cx, cy, origin_ == soOuter ? r : r - size_, color_);
}

void TMMCustomScale::ScaleArc(double cx, double cy, double radius, TColor color) {
  TCanvas& c = NeedCanvas();
  int span = ((start_angle_ - end_angle_) % 360 + 360) % 360;
  if (span == 0) span = 360;
  // One-degree chords from the end angle counter-clockwise to the start angle.
  auto point = [&](int deg, double rad) {
    const double a = deg * M_PI / 180.0;
    return TPoint{Coord(cx, cx + std::cos(a) * rad), Coord(cy, cy - std::sin(a) * rad)};
  };
  auto chord = [&](int deg, double rad, TColor col) {
    const TPoint a = point(deg, rad), b = point(deg + 1, rad);
    PlainLine(c, a.X, a.Y, b.X, b.Y, col);
  };
  for (int d = 0; d < span; ++d) {
    const int deg = end_angle_ + d;
    if (style_ == stColor) {
      chord(deg, radius, color);
      continue;
    }
    // The part facing the upper left takes the first tone outside, the rest the other way.
    const int n = ((deg % 360) + 360) % 360;
    const bool upper_left = n >= 45 && n < 225;
    const TColor dark = clBlack, light = clWhite;
    const TColor first = style_ == stLowered ? dark : light,
                 second = style_ == stLowered ? light : dark;
    chord(deg, radius, upper_left ? first : second);
    chord(deg, radius - 1, upper_left ? second : first);
  }
}
