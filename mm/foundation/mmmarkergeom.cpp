#include "mmmarkergeom.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "ui_geom.h"

using vant::AddSat;
using vant::MulSat;
using vant::SaturateInt;
using vant::SubSat;

namespace {

using Ext = long double;

int32_t RoundClamp(Ext v) {
  // Ties to even (the default rounding mode), held in 32 bits.
  const Ext r = std::nearbyint(v);
  return static_cast<int32_t>(
      std::clamp<Ext>(r, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Rounded, ties to even, held in 64 bits: a value plus a span of up to 2^32 - 1 still fits.
int64_t Round64(Ext v) {
  return static_cast<int64_t>(std::clamp<Ext>(std::nearbyint(v), -Ext(1LL << 62), Ext(1LL << 62)));
}

// A visible span covers up to 2^32 - 1 values, more than 32 bits hold.
Ext Span(int32_t lo, int32_t hi) {
  return static_cast<Ext>(std::max<int64_t>(int64_t{hi} - lo, 1));
}

// A panel narrower than two inner pixels has no mapping of its own: it maps as if it had one.
Ext Inner(int32_t size, int32_t e) { return std::max<Ext>(Ext(size) - 2 * Ext(e) - 1, 1); }

// The grid values of one axis inside the visible span: empty when more than `limit` lines.
std::vector<int64_t> GridValues(int32_t disp_min, int32_t disp_max, float width, int32_t limit) {
  std::vector<int64_t> values;
  const Ext n = std::trunc((Ext(disp_max) - disp_min) / width);
  if (n > limit) return values;
  // A visible start on a multiple gets no line there.
  const Ext first =
      std::nearbyint(Ext(disp_min) + width - std::fmod(static_cast<Ext>(disp_min), Ext{width}));
  for (int64_t i = 0; i <= static_cast<int64_t>(n); ++i)
    values.push_back(static_cast<int64_t>(std::trunc(i * Ext{width})) +
                     static_cast<int64_t>(first));
  return values;
}

}  // namespace

void TMMMarkerGeometry::SetSize(int32_t width, int32_t height, int32_t bevel_extent) {
  width_ = width;
  height_ = height;
  e_ = bevel_extent;
}

int32_t TMMMarkerGeometry::X_ToPixelNoLimit(int32_t v) const {
  return AddSat(RoundClamp(Inner(width_, e_) * ((Ext(v) - DispMinX) / Span(DispMinX, DispMaxX))),
                e_);
}

int32_t TMMMarkerGeometry::X_ToPixel(int32_t v) const {
  return std::clamp(X_ToPixelNoLimit(v), -16384, 16384);
}

int32_t TMMMarkerGeometry::PixelTo_X(int32_t x) const {
  return SaturateInt(Round64((Ext(x) - e_) / Inner(width_, e_) * Span(DispMinX, DispMaxX)) +
                     DispMinX);
}

int32_t TMMMarkerGeometry::Y_ToPixelNoLimit(int32_t v) const {
  return SubSat(SubSat(SubSat(height_, e_), 1),
                RoundClamp(Inner(height_, e_) * ((Ext(v) - DispMinY) / Span(DispMinY, DispMaxY))));
}

int32_t TMMMarkerGeometry::Y_ToPixel(int32_t v) const {
  return std::clamp(Y_ToPixelNoLimit(v), -16384, 16384);
}

int32_t TMMMarkerGeometry::PixelTo_Y(int32_t y) const {
  return SaturateInt(
      Round64((Ext(height_) - e_ - 1 - y) / Inner(height_, e_) * Span(DispMinY, DispMaxY)) +
      DispMinY);
}

void TMMMarkerGeometry::CheckRange(int32_t& min, int32_t& max, int32_t low, int32_t high,
                                   int32_t min_span) {
  if (max < min) std::swap(min, max);
  max = SaturateInt(std::max<int64_t>(max, int64_t{min} + min_span));
  if (max > high) {
    const int64_t d = int64_t{max} - min;
    max = high;
    min = SaturateInt(std::max<int64_t>(high - d, low));
  } else if (min < low) {
    const int64_t d = int64_t{max} - min;
    min = low;
    max = SaturateInt(std::min<int64_t>(low + d, high));
  }
}

bool TMMMarkerGeometry::SetRangeAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y,
                                    int32_t base_y) {
  if (min_x > max_x) std::swap(min_x, max_x);
  if (min_y > max_y) std::swap(min_y, max_y);
  if (min_x == RangeMinX && max_x == RangeMaxX && min_y == RangeMinY && max_y == RangeMaxY &&
      base_y == BaseY)
    return false;
  RangeMinX = min_x;
  RangeMaxX = SaturateInt(std::max<int64_t>(max_x, int64_t{min_x} + 1));
  RangeMinY = min_y;
  RangeMaxY = SaturateInt(std::max<int64_t>(max_y, int64_t{min_y} + 1));
  BaseY = std::clamp(base_y, RangeMinY, RangeMaxY);
  const int32_t dmin_x = std::clamp(DispMinX, RangeMinX, RangeMaxX);
  const int32_t dmin_y = std::clamp(DispMinY, RangeMinY, RangeMaxY);
  SetDispAll(dmin_x,
             SaturateInt(std::max<int64_t>(std::clamp(DispMaxX, RangeMinX, RangeMaxX),
                                           int64_t{dmin_x} + 1)),
             dmin_y,
             SaturateInt(std::max<int64_t>(std::clamp(DispMaxY, RangeMinY, RangeMaxY),
                                           int64_t{dmin_y} + 1)));
  return true;
}

bool TMMMarkerGeometry::SetDispAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y) {
  if (min_x > max_x) std::swap(min_x, max_x);
  if (min_y > max_y) std::swap(min_y, max_y);
  if (min_x == DispMinX && max_x == DispMaxX && min_y == DispMinY && max_y == DispMaxY)
    return false;
  CheckRange(min_x, max_x, RangeMinX, RangeMaxX, SubSat(width_, MulSat(2, e_)));
  DispMinX = min_x;
  DispMaxX = max_x;
  CheckRange(min_y, max_y, RangeMinY, RangeMaxY, SubSat(height_, MulSat(2, e_)));
  DispMinY = min_y;
  DispMaxY = max_y;
  return true;
}

bool TMMMarkerGeometry::SetLocator(int32_t v) {
  if (UseMarkers && CorralLocator) {
    if (MarkerA >= 0) v = std::max(v, MarkerA);
    if (MarkerB >= 0) v = std::min(v, MarkerB);
  }
  return ChangeField(Locator, v);
}

bool TMMMarkerGeometry::SetMarkerA(int32_t v) {
  if (UseLocator && CorralLocator && Locator > 0)
    v = std::min(v, Locator - 1);
  else if (MarkerB > 0)
    v = std::min(v, MarkerB - 1);
  return ChangeField(MarkerA, v);
}

bool TMMMarkerGeometry::SetMarkerB(int32_t v) {
  if (UseLocator && CorralLocator && Locator >= 0)
    v = SaturateInt(std::max<int64_t>(v, int64_t{Locator} + 1));
  else if (MarkerA >= 0)
    v = SaturateInt(std::max<int64_t>(v, int64_t{MarkerA} + 1));
  return ChangeField(MarkerB, v);
}

bool TMMMarkerGeometry::SetHelpLocator(int32_t v) { return ChangeField(HelpLocator, v); }

namespace {
// A grid width as held: 1 for none or NaN, and no more than a visible span covers (wider shows
// no line either), so the grid's arithmetic stays finite.
float HeldGridWidth(float w) { return w > 0 ? std::min(w, 4294967296.0f) : 1.0f; }
}  // namespace

bool TMMMarkerGeometry::SetGridWidthX(float w) {
  w = HeldGridWidth(w);
  if (w == GridWidthX) return false;
  GridWidthX = w;
  return true;
}

bool TMMMarkerGeometry::SetGridWidthY(float w) {
  w = HeldGridWidth(w);
  if (w == GridWidthY) return false;
  GridWidthY = w;
  return true;
}

bool TMMMarkerGeometry::IsGridX(int32_t x, int32_t& v) const {
  v = PixelTo_X(x);
  if (!SnapToGrid || v < DispMinX || v > DispMaxX) return false;
  return SnapToLine(v, GridWidthX, [&](int32_t g) { return x - X_ToPixel(g); });
}

bool TMMMarkerGeometry::IsGridY(int32_t y, int32_t& v) const {
  v = PixelTo_Y(y);
  if (!SnapToGrid || v < DispMinY || v > DispMaxY) return false;
  // Rows grow downwards: the pointer lies above the line of the lower value.
  return SnapToLine(v, GridWidthY, [&](int32_t g) { return Y_ToPixel(g) - y; });
}

bool TMMMarkerGeometry::SnapToLine(int32_t& v, float width,
                                   const std::function<int64_t(int32_t)>& past) const {
  const auto cell = static_cast<int64_t>(std::trunc(v / Ext{width}));
  for (const int64_t c : {cell, cell + 1}) {
    const int32_t g = SaturateInt(static_cast<int64_t>(std::trunc(c * Ext{width})));
    // How far the pointer lies past the line below, or short of the line above.
    if ((c == cell ? past(g) : -past(g)) <= SnapRange) {
      v = g;
      return true;
    }
  }
  return false;
}

std::vector<int32_t> TMMMarkerGeometry::GridLines(int32_t disp_min, int32_t disp_max, float width,
                                                  int32_t size, int32_t from, int32_t to,
                                                  int32_t (TMMMarkerGeometry::*to_pixel)(int32_t)
                                                      const) const {
  std::vector<int32_t> lines;
  for (int64_t g : GridValues(disp_min, disp_max, width, size / 2)) {
    const int32_t p = (this->*to_pixel)(SaturateInt(g));
    if (p >= from && p < to) lines.push_back(p);
  }
  return lines;
}

std::vector<int32_t> TMMMarkerGeometry::GridColumnsX(int32_t from_x, int32_t to_x) const {
  if (!DrawGridX) return {};
  return GridLines(DispMinX, DispMaxX, GridWidthX, width_, X_ToPixel(from_x), X_ToPixel(to_x),
                   &TMMMarkerGeometry::X_ToPixel);
}

std::vector<int32_t> TMMMarkerGeometry::GridRowsY(int32_t from_y, int32_t to_y) const {
  if (!DrawGridY) return {};
  // Rows grow downwards: from the row of to_y up to, not including, the row of from_y.
  return GridLines(DispMinY, DispMaxY, GridWidthY, height_, Y_ToPixel(to_y), Y_ToPixel(from_y),
                   &TMMMarkerGeometry::Y_ToPixel);
}

bool TMMMarkerGeometry::Near(int32_t value, int32_t x) const {
  return std::abs(int64_t{X_ToPixel(value)} - x) <= SnapRange;
}

bool TMMMarkerGeometry::IsLocator(int32_t x) const {
  return UseLocator && Locator >= 0 && x >= 0 && x <= width_ && Near(Locator, x);
}

bool TMMMarkerGeometry::IsMarkerA(int32_t x) const {
  const int32_t p = X_ToPixel(MarkerA);
  return UseMarkers && MarkerA >= 0 && x >= 0 && x <= width_ &&
         x >= SubSat(SubSat(p, SnapRange), 1) && x <= AddSat(p, SnapRange);
}

bool TMMMarkerGeometry::IsMarkerB(int32_t x) const {
  const int32_t p = X_ToPixel(MarkerB);
  return UseMarkers && MarkerB >= 0 && x >= 0 && x <= width_ && x >= SubSat(p, SnapRange) &&
         x <= AddSat(AddSat(p, SnapRange), 1);
}

int32_t TMMMarkerGeometry::FindListMarker(int32_t x) const {
  if (!MarkerList || MarkerList->Count() == 0) return -1;
  const TMMMarkerList& list = *MarkerList;
  const int32_t i = list.LocateMarker(PixelTo_X(x));
  if (i < list.Count() && list.Get(i).Visible && Near(list.Get(i).Offset, x)) return i;
  if (i > 0 && list.Get(i - 1).Visible && Near(list.Get(i - 1).Offset, x)) return i - 1;
  return -1;
}

bool TMMMarkerGeometry::IsListMarker(int32_t x) const {
  const int32_t i = FindListMarker(x);
  return i >= 0 && !MarkerList->Get(i).Locked;
}

bool TMMMarkerGeometry::IsAnyMarker(int32_t x) const {
  return IsLocator(x) || IsMarkerA(x) || IsMarkerB(x) || IsListMarker(x);
}

TMarkerShift TMMMarkerGeometry::MouseAction(TMarkerButton button, int32_t x) const {
  const bool left = button == TMarkerButton::Left;
  if (left && UseLocator && IsLocator(x)) return mkLocator;
  if (UseMarkers && IsMarkerA(x)) return left ? mkMarkerA : mkMarkerAB;
  if (UseMarkers && IsMarkerB(x)) return left ? mkMarkerB : mkMarkerBA;
  if (left && IsListMarker(x)) return mkListMarker;
  return mkNone;
}
