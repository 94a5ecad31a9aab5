#include "mmenvelp.h"

#include <algorithm>
#include <climits>

using namespace vant;

namespace {
int32_t Clip(int64_t v, int64_t lo, int64_t hi) {
  return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v);
}
}  // namespace

TMMEnvelope::TMMEnvelope(TComponent* owner)
    : TMMMarkerPanel(owner), dib_(std::make_unique<TMMDIBCanvas>(this)) {
  // True colour, so the configured colours come out exactly.
  dib_->SetBPP(24);
  SetBounds(GetLeft(), GetTop(), 200, 100);
  SetColor(clBtnFace);
  points_.OnChange = [this](TObject*) { Changed(); };
}

TMMEnvelope::~TMMEnvelope() { points_.OnChange = nullptr; }

void TMMEnvelope::Changed() {
  Invalidate();
  if (HasState(csLoading) || HasState(csReading)) return;
  observers_.NotifyObservers(this);
  if (OnChange) OnChange(this);
}

void TMMEnvelope::SetBounds(int left, int top, int width, int height) {
  const int old_width = GetWidth(), old_height = GetHeight();
  TMMMarkerPanel::SetBounds(left, top, width, height);
  // The size as held by the control, not as asked.
  width = GetWidth(), height = GetHeight();
  const bool resized = width != old_width || height != old_height;
  if (resized && width >= 1 && height >= 1) {
    dib_->SetBounds(0, 0, width, height);
    Invalidate();
  }
}

void TMMEnvelope::SetRangeAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y,
                              int32_t base_y) {
  TMMMarkerPanel::SetRangeAll(min_x, max_x, min_y, max_y, base_y);
  const TMMMarkerGeometry& g = Geometry();
  points_.SetRanges({g.RangeMinX, g.RangeMaxX, g.RangeMinY, g.RangeMaxY, g.BaseY});
}

void TMMEnvelope::SetKind(TMMEnvelopeKind k) {
  if (ChangeField(kind_, k)) Invalidate();
}

void TMMEnvelope::SetPointSize(int32_t n) {
  if (n == point_size_) return;
  point_size_ = std::clamp(n - (n & 1), 4, 20);
  Invalidate();
}

void TMMEnvelope::SetEnvColor(int index, TColor c) {
  if (index >= 0 && index < 4 && ChangeField(env_colors_[index], c)) Invalidate();
}

// ---- points under the mouse ----

int32_t TMMEnvelope::FindPointAtPos(int x, int y) {
  const TMMMarkerGeometry& g = Geometry();
  const int32_t from = std::max(points_.LocatePoint(SubSat(g.DispMinX, 1)) - 2, 0);
  const int32_t to = std::min(points_.LocatePoint(g.DispMaxX), points_.Count() - 1);
  const int half = point_size_ / 2;
  int32_t best = -1;
  int64_t best_d = INT64_MAX;
  for (int32_t i = from; i <= to; ++i) {
    const int64_t dx = int64_t{g.X_ToPixel(points_.GetPoint(i)->Position)} - x;
    const int64_t dy = int64_t{g.Y_ToPixel(points_.GetPoint(i)->Value)} - y;
    const int64_t d = dx * dx + dy * dy;
    const bool near = kind_ == ekCircle ? d < point_size_ * point_size_ / 4
                                        : std::abs(dx) <= half && std::abs(dy) <= half;
    if (near && d < best_d) {
      best = i;
      best_d = d;
    }
  }
  return best;
}

void TMMEnvelope::SelectArea(const TRect& rect, bool selected) {
  const TMMMarkerGeometry& g = Geometry();
  int32_t i = points_.LocatePoint(g.PixelTo_X(rect.Left));
  int32_t j = points_.LocatePoint(g.PixelTo_X(rect.Right));
  if (i > j) std::swap(i, j);
  i = std::max(i - 1, points_.FirstMovable());
  j = std::min(j + 1, points_.LastMovable());
  const int left = std::min(rect.Left, rect.Right), right = std::max(rect.Left, rect.Right);
  const int top = std::min(rect.Top, rect.Bottom), bottom = std::max(rect.Top, rect.Bottom);
  for (int32_t k = i; k <= j; ++k) {
    TMMEnvelopePoint* p = points_.GetPoint(k);
    const int px = g.X_ToPixel(p->Position), py = g.Y_ToPixel(p->Value);
    if (px >= left && px <= right && py >= top && py <= bottom) p->Selected = selected;
  }
  Invalidate();
}

// ---- painting ----

void TMMEnvelope::DrawPoint(TCanvas& canvas, TRect& rect, bool selected) {
  if (OnDrawPoint) OnDrawPoint(this, canvas, rect, selected);
}

void TMMEnvelope::VLineDoted(TCanvas& canvas, int x, int y1, int y2, TColor color) {
  if (&canvas != dib_.get()) return TMMMarkerPanel::VLineDoted(canvas, x, y1, y2, color);
  dib_->DIB_SetTColor(color);
  dib_->DIB_VLINEDOTED(x, std::min(y1, y2), std::max(y1, y2), 1);
}

void TMMEnvelope::HLineDoted(TCanvas& canvas, int x1, int x2, int y, TColor color) {
  if (&canvas != dib_.get()) return TMMMarkerPanel::HLineDoted(canvas, x1, x2, y, color);
  dib_->DIB_SetTColor(color);
  dib_->DIB_HLINEDOTED(std::min(x1, x2), std::max(x1, x2), y, 1);
}

void TMMEnvelope::Paint() {
  // Bevel and fill go straight onto the window; the inner area is drawn off screen.
  TMMCustomPanel::Paint();
  const TMMMarkerGeometry& g = Geometry();
  const int e = g.BevelExtent();
  const int w = GetWidth(), h = GetHeight();
  if (w - 2 * e <= 0 || h - 2 * e <= 0) return;
  TMMDIBCanvas& d = *dib_;
  d.DIB_InitDrawing();
  struct Done {
    TMMDIBCanvas& d;
    ~Done() { d.DIB_DoneDrawing(); }
  } done{d};
  d.DIB_SetTColor(GetColor());
  d.DIB_CLEAR();
  if (DrawMidLine) {
    d.DIB_SetTColor(env_colors_[0]);
    d.DIB_HLINEDOTED(e, w - e, g.Y_ToPixel(g.BaseY), 1);
  }
  DrawGrids(d);
  const int32_t from = std::max(points_.LocatePoint(SubSat(g.DispMinX, 1)) - 2, 0);
  const int32_t to = std::min(points_.LocatePoint(g.DispMaxX), points_.Count() - 1);
  d.DIB_SetTColor(env_colors_[1]);
  for (int32_t i = from; i <= to; ++i) {
    const int px = g.X_ToPixel(points_.GetPoint(i)->Position);
    const int py = g.Y_ToPixel(points_.GetPoint(i)->Value);
    if (i == from)
      d.DIB_MOVETO(px, py);
    else
      d.DIB_LINETO(px, py);
  }
  const int half = point_size_ / 2;
  for (const bool pass : {false, true}) {
    for (int32_t i = from; i <= to; ++i) {
      const TMMEnvelopePoint* p = points_.GetPoint(i);
      if (p->Selected != pass) continue;
      const int px = g.X_ToPixel(p->Position), py = g.Y_ToPixel(p->Value);
      TRect r{px - half, py - half, px + half + 1, py + half + 1};
      if (kind_ == ekOwnerDraw) {
        DrawPoint(d, r, pass);
        continue;
      }
      d.DIB_SetTColor(pass ? env_colors_[3] : env_colors_[2]);
      if (kind_ == ekCircle) {
        d.DIB_FILLELLIPSE(px, py, static_cast<int16_t>(half), static_cast<int16_t>(half));
      } else {
        d.DIB_FILLRECT(r);
      }
      if (pass) continue;
      d.DIB_SetTColor(env_colors_[1]);
      if (kind_ == ekCircle)
        d.DIB_ELLIPSE(px, py, 0, 360, static_cast<int16_t>(half), static_cast<int16_t>(half));
      else
        d.DIB_RECTANGLE(r.Left, r.Top, r.Right, r.Bottom);
    }
  }
  d.DIB_BitBlt(&Canvas(), {e, e, w - 2 * e, h - 2 * e}, e, e);
  TCanvas& c = Canvas();
  if (band_) {
    const TRect b = BandRect();
    TMMMarkerPanel::HLineDoted(c, b.Left, b.Right, b.Top, clBlack);
    TMMMarkerPanel::HLineDoted(c, b.Left, b.Right, b.Bottom, clBlack);
    TMMMarkerPanel::VLineDoted(c, b.Left, b.Top, b.Bottom, clBlack);
    TMMMarkerPanel::VLineDoted(c, b.Right, b.Top, b.Bottom + 1, clBlack);
  }
  DrawAllMarkers(c);
}

TRect TMMEnvelope::BandRect() const {
  return {std::min(band_start_.X, band_end_.X), std::min(band_start_.Y, band_end_.Y),
          std::max(band_start_.X, band_end_.X), std::max(band_start_.Y, band_end_.Y)};
}

// ---- mouse ----

bool TMMEnvelope::OutsideCorral(int x) {
  const TMMMarkerGeometry& g = Geometry();
  if (!g.UseMarkers || !g.CorralLocator) return false;
  const int32_t v = g.PixelTo_X(x);
  return v < g.MarkerA || v > g.MarkerB;
}

void TMMEnvelope::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
  if (pressed_active_) {
    TMMMarkerPanel::MouseDown(b, s, x, y);
    return;
  }
  if (b == mbMiddle) {
    TMMMarkerPanel::MouseDown(b, s, x, y);
    return;
  }
  button_ = b;
  pressed_active_ = true;
  const bool dbl = s.count(ssDouble) != 0;
  if (b == mbRight) {
    band_ = true;
    band_start_ = band_end_ = {x, y};
    return;
  }
  const int32_t i = FindPointAtPos(x, y);
  if (i >= 0) {
    PressPoint(i, s, x, y);
    return;
  }
  if (dbl) {
    if (OutsideCorral(x)) {
      pressed_active_ = false;
      return;
    }
    TrackBegin();
    const TMMMarkerGeometry& g = Geometry();
    points_.AddPoint(TMMEnvelopePoint(g.PixelTo_X(x), g.PixelTo_Y(y)),
                     s.count(ssShift) || s.count(ssCtrl));
  } else {
    band_ = true;
    band_start_ = band_end_ = {x, y};
  }
  points_.SelectAll(false);
  Repaint();
}

void TMMEnvelope::PressPoint(int32_t i, TShiftState s, int x, int y) {
  const int32_t last = points_.Count() - 1;
  if ((i == 0 && !points_.MoveFirstPoint) || (i == last && !points_.MoveLastPoint) ||
      OutsideCorral(x)) {
    pressed_active_ = false;
    return;
  }
  if (s.count(ssDouble)) {
    if (i >= 1 && i <= last - 1) {
      TrackBegin();
      points_.DelPoint(i);
      Repaint();
    }
    return;
  }
  points_.BeginUpdate();
  if (s.count(ssShift)) {
    points_.SelectAll(false);
    points_.SelectRange(anchor_, i, true);
  } else if (s.count(ssCtrl)) {
    anchor_ = i;
    points_.SetSelected(i, !points_.GetSelected(i));
  } else {
    anchor_ = i;
    if (points_.GetSelected(i)) {
      reselect_ = true;
    } else {
      points_.SelectAll(false);
      points_.SetSelected(i, true);
    }
  }
  points_.EndUpdate();
  Repaint();
  pressed_ = i;
  moving_ = true;
  origin_x_ = points_.GetPoint(i)->Position;
  origin_y_ = points_.GetPoint(i)->Value;
  min_dx_ = min_dy_ = -2147483647;
  max_dx_ = max_dy_ = 2147483647;
  points_.QueryPolyMove(min_dx_, max_dx_, min_dy_, max_dy_);
  LocatorChanged(Geometry().PixelTo_X(x));
  // With the locator in use it follows the drag.
  TMMMarkerPanel::MouseDown(mbLeft, s, x, y);
}

TCursor TMMEnvelope::GetMouseCursor(int x, int y) {
  return LoadResCursor(FindPointAtPos(x, y) >= 0 ? 1 : 22);
}

void TMMEnvelope::CancelPress() {
  if (pressed_active_) MouseUp(button_, {}, last_mouse_.X, last_mouse_.Y);
  TMMMarkerPanel::CancelPress();
}

void TMMEnvelope::MouseMove(TShiftState s, int x, int y) {
  last_mouse_ = {x, y};
  if (moving_) {
    reselect_ = false;
    const TMMMarkerGeometry& g = Geometry();
    const bool corral = g.UseMarkers && g.CorralLocator;
    const int32_t xv =
        Clip(g.PixelTo_X(x), corral ? g.MarkerA : g.RangeMinX, corral ? g.MarkerB : g.RangeMaxX);
    int32_t gx = 0, gy = 0;
    g.IsGridX(g.X_ToPixel(xv), gx);
    g.IsGridY(y, gy);
    const int32_t dx = s.count(ssShift) ? 0 : Clip(int64_t{gx} - origin_x_, min_dx_, max_dx_);
    const int32_t dy = s.count(ssCtrl) ? 0 : Clip(int64_t{gy} - origin_y_, min_dy_, max_dy_);
    points_.PolyShift(dx, dy);
    Repaint();
    origin_x_ += dx;
    origin_y_ += dy;
    min_dx_ -= dx;
    max_dx_ -= dx;
    min_dy_ -= dy;
    max_dy_ -= dy;
    TMMMarkerPanel::MouseMove(s, x, y);
    return;
  }
  if (band_) {
    band_end_ = {x, y};
    // Widened by half a point in the drag's direction, so a point touched by the band counts.
    const int half = point_size_ / 2;
    const int sx = x >= band_start_.X ? half : -half, sy = y >= band_start_.Y ? half : -half;
    const TRect area{band_start_.X - sx, band_start_.Y - sy, x + sx, y + sy};
    points_.BeginUpdate();
    for (int32_t i = 0; i < points_.Count(); ++i) points_.GetPoint(i)->Selected = false;
    SelectArea(area, true);
    points_.EndUpdate();
    Repaint();
    return;
  }
  TMMMarkerPanel::MouseMove(s, x, y);
}

void TMMEnvelope::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
  if (!pressed_active_ || b != button_) {
    TMMMarkerPanel::MouseUp(b, s, x, y);
    return;
  }
  pressed_active_ = false;
  if (b == mbLeft && moving_) {
    if (reselect_) {
      points_.BeginUpdate();
      points_.SelectAll(false);
      points_.SetSelected(pressed_, true);
      points_.EndUpdate();
      reselect_ = false;
    }
    moving_ = false;
    points_.PolyShift(0, 0);
    TMMMarkerPanel::MouseUp(b, s, x, y);
    return;
  }
  band_ = false;
  Repaint();
  TrackEnd();
}
