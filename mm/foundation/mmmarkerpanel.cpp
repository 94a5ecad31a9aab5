#include "mmmarkerpanel.h"

#include <algorithm>

#include "ui_application.h"

using namespace vant;

namespace {

int32_t Clip(int64_t v, int64_t lo, int64_t hi) {
  return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v);
}

enum {
  kLocator = 0,
  kMarkerA = 1,
  kMarkerB = 2,
  kHelp = 3,
  kListSingle = 4,
  kListFirst = 5,
  kListSecond = 6
};

}  // namespace

TMMCustomMarkerPanel::TMMCustomMarkerPanel(TComponent* owner)
    : TMMCustomPanel(owner), colors_{clSilver, clLime, clRed, clRed, clGray} {
  Sync();
}

void TMMCustomMarkerPanel::Sync() { geom_.SetSize(GetWidth(), GetHeight(), BevelExtend()); }

const TMMMarkerGeometry& TMMCustomMarkerPanel::Geometry() {
  Sync();
  return geom_;
}

void TMMCustomMarkerPanel::SetBounds(int left, int top, int width, int height) {
  TMMCustomPanel::SetBounds(left, top, width, height);
  Sync();
}

void TMMCustomMarkerPanel::SetMarkerList(TMMMarkerList* list) {
  geom_.MarkerList = list;
  Invalidate();
}

void TMMCustomMarkerPanel::Configure(const std::function<void(TMMMarkerGeometry&)>& change) {
  change(geom_);
  Invalidate();
}

void TMMCustomMarkerPanel::SetDrawGriff(bool v) {
  if (v == draw_griff_) return;
  draw_griff_ = v;
  Invalidate();
}

void TMMCustomMarkerPanel::SetDrawSolid(bool v) {
  if (v == draw_solid_) return;
  draw_solid_ = v;
  Invalidate();
}

void TMMCustomMarkerPanel::SetDefaultHint(const std::string& text) {
  if (text == default_hint_) return;
  default_hint_ = text;
  SetHint(text);
}

void TMMCustomMarkerPanel::SetColors(int index, TColor color) {
  if (index < 0 || index > 4 || colors_[index] == color) return;
  colors_[index] = color;
  Invalidate();
}

void TMMCustomMarkerPanel::SetRangeAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y,
                                       int32_t base_y) {
  Sync();
  const TMMMarkerGeometry before = geom_;
  if (!geom_.SetRangeAll(min_x, max_x, min_y, max_y, base_y)) return;
  if (before.DispMinX != geom_.DispMinX || before.DispMaxX != geom_.DispMaxX ||
      before.DispMinY != geom_.DispMinY || before.DispMaxY != geom_.DispMaxY)
    RangeChanged();
  Invalidate();
}

void TMMCustomMarkerPanel::SetDispAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y) {
  Sync();
  if (geom_.SetDispAll(min_x, max_x, min_y, max_y)) RangeChanged();
}

// ---- painting ----

void TMMCustomMarkerPanel::VLineDoted(TCanvas& canvas, int x, int y1, int y2, TColor color) {
  for (int y = std::min(y1, y2); y < std::max(y1, y2); y += 3) canvas.SetPixel(x, y, color);
}

void TMMCustomMarkerPanel::HLineDoted(TCanvas& canvas, int x1, int x2, int y, TColor color) {
  for (int x = std::min(x1, x2); x < std::max(x1, x2); x += 3) canvas.SetPixel(x, y, color);
}

void TMMCustomMarkerPanel::DrawGrids(TCanvas& canvas) {
  const TMMMarkerGeometry& g = geom_;
  for (int32_t px : g.GridColumnsX(g.DispMinX, g.DispMaxX))
    VLineDoted(canvas, px, g.Y_ToPixel(g.DispMinY), g.Y_ToPixel(g.DispMaxY), colors_[4]);
  for (int32_t py : g.GridRowsY(g.DispMinY, g.DispMaxY))
    HLineDoted(canvas, g.X_ToPixel(g.DispMinX), g.X_ToPixel(g.DispMaxX), py, colors_[4]);
}

void TMMCustomMarkerPanel::DrawMark(TCanvas& canvas, int kind, int x, TColor color, bool dotted) {
  const int e = geom_.BevelExtent();
  if (x < e || x > GetWidth() - e - 1) return;
  // XOR marks invert what lies under them, so they stay visible on any background.
  const bool xor_mode = kind == kHelp || (kind <= kMarkerB && !draw_solid_);
  const int bottom = GetHeight();
  auto plot = [&](int px, int py, TColor c) {
    if (px < e || px > GetWidth() - e || py < 0 || py >= bottom) return;
    if (xor_mode)
      canvas.SetPixel(px, py,
                      static_cast<TColor>(ColorToRGB(canvas.GetPixel(px, py)) ^ ColorToRGB(c)));
    else
      canvas.SetPixel(px, py, c);
  };
  auto span = [&](int row, int x1, int x2, TColor c) {
    for (int px = std::min(x1, x2); px <= std::max(x1, x2); ++px) plot(px, row, c);
  };
  auto column = [&](int col, int y1, int y2, TColor c) {
    for (int py = y1; py <= y2; ++py) plot(col, py, c);
  };
  if (!draw_griff_) {
    if (dotted) {
      for (int py = 0; py < bottom; py += 3) plot(x, py, color);
    } else {
      column(x, 0, bottom - 1, color);
    }
    return;
  }
  const int t = e;
  switch (kind) {
    case kLocator:
      column(x, t + 9, bottom - 1, color);
      for (int i = 0; i < 4; ++i) span(t + 5 + i, x - 4 + i, x + 4 - i, color);
      break;
    case kMarkerA:
    case kMarkerB: {
      const int dir = kind == kMarkerA ? 1 : -1;
      column(x, t + 1, bottom - 1, color);
      const int reach[7] = {1, 2, 3, 4, 3, 2, 1};
      for (int i = 0; i < 7; ++i) span(t + 2 + i, x + dir, x + dir * reach[i], color);
      break;
    }
    default:
      column(x, t + 9, bottom - 1, color);
      for (int row = t + 2; row <= t + 6; ++row) span(row, x - 3, x + 3, color);
      span(t + 7, x - 2, x + 2, color);
      span(t + 8, x - 1, x + 1, color);
      if (kind >= kListSingle) {
        span(t + 3, x - 1, x + 1, clBlack);
        if (kind == kListSingle) column(x, t + 4, t + 6, clBlack);
        if (kind == kListFirst) column(x - 1, t + 4, t + 5, clBlack);
        if (kind == kListSecond) column(x + 1, t + 4, t + 5, clBlack);
      }
  }
}

void TMMCustomMarkerPanel::DrawAllMarkers(TCanvas& canvas) {
  const TMMMarkerGeometry& g = geom_;
  if (const TMMMarkerList* list = g.MarkerList; list && list->Count() > 0) {
    const int32_t from = std::max(list->LocateMarker(SubSat(g.DispMinX, 1)) - 2, 0);
    const int32_t to = std::min(list->LocateMarker(g.DispMaxX), list->Count() - 1);
    for (int32_t i = from; i <= to; ++i) {
      const TMMMarker& m = list->Get(i);
      if (!m.Visible) continue;
      const int32_t partner = list->FindConnectedMarker(i);
      const int kind = partner < 0                            ? kListSingle
                       : m.Offset < list->Get(partner).Offset ? kListFirst
                                                              : kListSecond;
      DrawMark(canvas, kind, g.X_ToPixel(m.Offset), static_cast<TColor>(m.Color), true);
    }
  }
  auto x_of = [&](int32_t v) { return v < 0 ? -1 : g.X_ToPixel(v); };
  if (g.UseMarkers) {
    const int xa = x_of(g.MarkerA), xb = x_of(g.MarkerB);
    if (xa >= 0) DrawMark(canvas, kMarkerA, xb >= 0 ? std::min(xa, xb - 1) : xa, colors_[2], false);
    if (xb >= 0) DrawMark(canvas, kMarkerB, xa >= 0 ? std::max(xb, xa + 1) : xb, colors_[3], false);
  }
  if (g.UseLocator && g.Locator >= 0)
    DrawMark(canvas, kLocator, x_of(g.Locator), colors_[1], false);
  if (g.UseHelpLocator && g.HelpLocator >= 0)
    DrawMark(canvas, kHelp, x_of(g.HelpLocator), colors_[0], true);
}

void TMMCustomMarkerPanel::Paint() {
  TMMCustomPanel::Paint();
  Sync();
  DrawGrids(Canvas());
  DrawAllMarkers(Canvas());
}

// ---- notifications ----

void TMMCustomMarkerPanel::TrackBegin() {
  if (OnTrackBegin) OnTrackBegin(this);
}
void TMMCustomMarkerPanel::Track() {
  if (OnTrack) OnTrack(this);
}
void TMMCustomMarkerPanel::TrackEnd() {
  if (OnTrackEnd) OnTrackEnd(this);
}

void TMMCustomMarkerPanel::LocatorChanged(int32_t v) {
  if (auto_scroll_) AdjustVisibleRange(v);
  if (OnLocatorChanged) OnLocatorChanged(this, v);
  SetLocator(v);
}

void TMMCustomMarkerPanel::MarkerAChanged(int32_t v) {
  if (auto_scroll_) AdjustVisibleRange(v);
  if (OnMarkerAChanged) OnMarkerAChanged(this, v);
  SetMarkerA(v);
}

void TMMCustomMarkerPanel::MarkerBChanged(int32_t v) {
  if (auto_scroll_) AdjustVisibleRange(v);
  if (OnMarkerBChanged) OnMarkerBChanged(this, v);
  SetMarkerB(v);
}

void TMMCustomMarkerPanel::HelpLocatorChanged(int32_t v) {
  if (auto_scroll_ && action_ == mkListMarker) AdjustVisibleRange(v);
  if (OnHelpLocatorChanged) OnHelpLocatorChanged(this, v);
  SetHelpLocator(v);
}

void TMMCustomMarkerPanel::MarkersChanged(TMarkerShift shift, int32_t a, int32_t b) {
  if (shift != mkMarkerAB && shift != mkMarkerBA) return;
  if (auto_scroll_) AdjustVisibleRange(shift == mkMarkerAB ? a : b);
  if (OnMarkersChanged) OnMarkersChanged(this, shift, a, b);
  // The marker that moves away from the other goes first, so the pair never crosses.
  if (shift == mkMarkerAB) {
    SetMarkerB(b);
    SetMarkerA(a);
  } else {
    SetMarkerA(a);
    SetMarkerB(b);
  }
}

void TMMCustomMarkerPanel::RangeChanged() {
  if (OnRangeChanged && !HasState(csLoading)) OnRangeChanged(this, geom_.DispMinX, geom_.DispMaxX);
  Invalidate();
}

bool TMMCustomMarkerPanel::AdjustVisibleRange(int32_t v) {
  TMMMarkerGeometry& g = geom_;
  if (v < g.RangeMinX) return false;
  const int32_t p = g.X_ToPixel(v);
  const int64_t span = int64_t{g.DispMaxX} - g.DispMinX;
  const int e = g.BevelExtent();
  if (p > GetWidth() - e - 5 && g.DispMaxX < g.RangeMaxX) {
    const int32_t c = Clip(v + span / 2, g.RangeMinX, g.RangeMaxX);
    SetMinMax(SaturateInt(c - span), c);
  } else if (p < e + 5 && g.DispMinX > g.RangeMinX) {
    const int32_t c = Clip(v - span / 2, g.RangeMinX, g.RangeMaxX);
    SetMinMax(c, SaturateInt(c + span));
  } else {
    return false;
  }
  Repaint();
  // The pointer follows the value it was on, now at its new place on the scrolled panel.
  const TPoint pointer = GetCursorPos();
  SetCursorPos({ClientToScreen({g.X_ToPixel(v), 0}).X, pointer.Y});
  return true;
}

std::string TMMCustomMarkerPanel::GetHintText(int x) const {
  if (geom_.IsLocator(x)) return "Locator";
  if (geom_.IsMarkerA(x)) return "Marker A";
  if (geom_.IsMarkerB(x)) return "Marker B";
  const int32_t i = geom_.FindListMarker(x);
  return i >= 0 ? geom_.MarkerList->Get(i).Name.Str() : default_hint_;
}

// ---- mouse ----

void TMMCustomMarkerPanel::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
  Sync();
  if (dragging_) {
    // A press of another button during a drag changes nothing.
    return;
  }
  action_ = geom_.MouseAction(b == mbLeft    ? TMarkerButton::Left
                              : b == mbRight ? TMarkerButton::Right
                                             : TMarkerButton::Middle,
                              x);
  if (action_ == mkNone && b == mbLeft && geom_.UseLocator) {
    // A click on an empty spot moves the locator there; the press then drags it.
    const TMMMarkerGeometry& g = geom_;
    const bool corral = g.UseMarkers && g.CorralLocator;
    LocatorChanged(
        Clip(g.PixelTo_X(x), corral ? g.MarkerA : g.DispMinX, corral ? g.MarkerB : g.DispMaxX));
    if (geom_.IsLocator(x)) action_ = mkLocator;
    if (action_ == mkLocator) {
      drag_button_ = b;
      dragging_ = true;
      TrackBegin();
    }
    TMMCustomPanel::MouseDown(b, s, x, y);
    return;
  }
  if (action_ != mkNone && (b == mbLeft || (b == mbRight && action_ != mkLocator))) {
    if (action_ == mkListMarker) list_index_ = geom_.FindListMarker(x);
    drag_button_ = b;
    dragging_ = true;
    TrackBegin();
    return;
  }
  TMMCustomPanel::MouseDown(b, s, x, y);
}

void TMMCustomMarkerPanel::DragTo(int x) {
  const TMMMarkerGeometry& g = geom_;
  const int64_t d = int64_t{g.PixelTo_X(1)} - g.PixelTo_X(0);
  int32_t v = 0;
  g.IsGridX(x, v);
  const int64_t s = int64_t{g.MarkerB} - g.MarkerA;
  const bool corral = g.UseLocator && g.CorralLocator;
  switch (action_) {
    case mkLocator: {
      const bool c = g.UseMarkers && g.CorralLocator;
      LocatorChanged(Clip(v, c ? g.MarkerA : g.DispMinX, c ? g.MarkerB : g.DispMaxX));
      break;
    }
    case mkMarkerA:
      v = Clip(v, g.DispMinX, (corral ? int64_t{g.Locator} : int64_t{g.MarkerB}) - d);
      if (v != g.MarkerA) MarkerAChanged(v);
      break;
    case mkMarkerB:
      v = Clip(v, (corral ? int64_t{g.Locator} : int64_t{g.MarkerA}) + d, g.DispMaxX);
      if (v != g.MarkerB) MarkerBChanged(v);
      break;
    case mkMarkerAB: {
      const int64_t lo = corral ? std::max<int64_t>(g.DispMinX, g.Locator + d - s) : g.DispMinX;
      const int64_t hi =
          corral ? std::min<int64_t>(g.Locator - d, g.RangeMaxX - s) : g.RangeMaxX - s;
      v = Clip(v, lo, hi);
      if (v == g.MarkerA) return;
      int32_t snapped = 0;
      if (g.IsGridX(g.X_ToPixel(SaturateInt(v + s)), snapped)) {
        v = Clip(snapped - s, lo, hi);
        if (v == g.MarkerA) return;
      }
      MarkersChanged(mkMarkerAB, v, SaturateInt(v + s));
      break;
    }
    case mkMarkerBA: {
      const int64_t lo =
          corral ? std::max<int64_t>(g.RangeMinX + s, g.Locator + d) : g.RangeMinX + s;
      const int64_t hi =
          corral ? std::min<int64_t>(g.DispMaxX, std::max<int64_t>(g.Locator - d, 0) + s)
                 : g.DispMaxX;
      v = Clip(v, lo, hi);
      if (v == g.MarkerB) return;
      int32_t snapped = 0;
      if (g.IsGridX(g.X_ToPixel(SaturateInt(v - s)), snapped)) {
        v = Clip(snapped + s, lo, hi);
        if (v == g.MarkerB) return;
      }
      MarkersChanged(mkMarkerBA, SaturateInt(v - s), v);
      break;
    }
    case mkListMarker:
      HelpLocatorChanged(Clip(v, g.RangeMinX, g.RangeMaxX));
      break;
    default:
      return;
  }
  Track();
}

void TMMCustomMarkerPanel::MouseMove(TShiftState s, int x, int y) {
  Sync();
  if (dragging_ && action_ != mkNone) {
    last_mouse_ = {x, y};
    DragTo(x);
    return;
  }
  last_mouse_ = {x, y};
  ShowHover(x, y);
  TMMCustomPanel::MouseMove(s, x, y);
}

TCursor TMMCustomMarkerPanel::GetMouseCursor(int x, int) {
  return geom_.IsAnyMarker(x) ? LoadResCursor(draw_griff_ ? 1 : 11) : UserCursor();
}

void TMMCustomMarkerPanel::ShowHover(int x, int y) {
  users_change_ = false;
  SetCursor(GetMouseCursor(x, y));
  const std::string hint = GetHintText(x);
  if (hint != GetHint()) SetHint(hint);
  if (!hint.empty()) {
    SetShowHint(user_show_hint_);
  } else {
    // Nothing to say here: a hint still showing from a mark goes, and none comes up.
    Application->CancelHint();
    SetShowHint(false);
  }
  users_change_ = true;
}

void TMMCustomMarkerPanel::ShowHintChanged() {
  TMMCustomPanel::ShowHintChanged();
  if (users_change_) user_show_hint_ = GetShowHint();
}

void TMMCustomMarkerPanel::CursorChanged() {
  TMMCustomPanel::CursorChanged();
  if (users_change_) user_cursor_ = GetCursor();
}

void TMMCustomMarkerPanel::DoExit() {
  CancelPress();
  TMMCustomPanel::DoExit();
}

void TMMCustomMarkerPanel::CancelPress() {
  if (dragging_) MouseUp(drag_button_, {}, last_mouse_.X, last_mouse_.Y);
}

void TMMCustomMarkerPanel::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
  if (!dragging_ || b != drag_button_) {
    TMMCustomPanel::MouseUp(b, s, x, y);
    return;
  }
  dragging_ = false;
  if (action_ == mkListMarker && geom_.MarkerList && list_index_ >= 0 &&
      list_index_ < geom_.MarkerList->Count()) {
    const int32_t v =
        geom_.HelpLocator >= 0 ? geom_.HelpLocator : geom_.MarkerList->Get(list_index_).Offset;
    HelpLocatorChanged(-1);
    geom_.MarkerList->SetOffset(list_index_, v);
    Invalidate();
  }
  action_ = mkNone;
  TrackEnd();
}
