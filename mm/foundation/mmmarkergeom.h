#pragma once
// The marker panel's state without a window: the value rectangle mapped onto the client area
// inside the bevel, the visible range kept inside the value range, the locator, range markers A
// and B with their corral rules, grid snapping and the hit tests the mouse handling asks. The
// panel control owns one and adds drawing, events and the mouse.
#include <cstdint>
#include <functional>
#include <vector>

#include "mmmrklst.h"

enum TMarkerShift { mkNone, mkLocator, mkMarkerA, mkMarkerB, mkMarkerAB, mkMarkerBA, mkListMarker };
enum class TMarkerButton { Left, Right, Middle };

class TMMMarkerGeometry {
 public:
  // The control's outer size and its bevel's total width E.
  void SetSize(int32_t width, int32_t height, int32_t bevel_extent);
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t BevelExtent() const { return e_; }

  int32_t X_ToPixelNoLimit(int32_t value) const;
  // Held inside -16384..16384.
  int32_t X_ToPixel(int32_t value) const;
  int32_t PixelTo_X(int32_t x) const;
  int32_t Y_ToPixelNoLimit(int32_t value) const;
  int32_t Y_ToPixel(int32_t value) const;
  int32_t PixelTo_Y(int32_t y) const;

  // Clamps a visible span into low..high, at least min_span wide.
  static void CheckRange(int32_t& min, int32_t& max, int32_t low, int32_t high, int32_t min_span);
  // Answer whether anything changed; a change of the value range also clamps the visible one.
  bool SetRangeAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y, int32_t base_y);
  bool SetDispAll(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y);
  bool SetMinMax(int32_t min, int32_t max) { return SetDispAll(min, max, DispMinY, DispMaxY); }
  bool SetMinMaxY(int32_t min, int32_t max) { return SetDispAll(DispMinX, DispMaxX, min, max); }

  // The marks' setters with their corral rules; answer whether the value changed.
  bool SetLocator(int32_t v);
  bool SetMarkerA(int32_t v);
  bool SetMarkerB(int32_t v);
  bool SetHelpLocator(int32_t v);
  // Not above 0 stores 1.0.
  bool SetGridWidthX(float w);
  bool SetGridWidthY(float w);

  // Snap to the nearest grid line within SnapRange pixels; v is the value under the pixel.
  bool IsGridX(int32_t x, int32_t& v) const;
  bool IsGridY(int32_t y, int32_t& v) const;
  // The columns of the x grid lines from from_x up to (excluding) to_x; none when the lines
  // would be closer than two pixels on average.
  std::vector<int32_t> GridColumnsX(int32_t from_x, int32_t to_x) const;
  std::vector<int32_t> GridRowsY(int32_t from_y, int32_t to_y) const;

  bool IsLocator(int32_t x) const;
  bool IsMarkerA(int32_t x) const;
  bool IsMarkerB(int32_t x) const;
  int32_t FindListMarker(int32_t x) const;
  bool IsListMarker(int32_t x) const;
  bool IsAnyMarker(int32_t x) const;
  TMarkerShift MouseAction(TMarkerButton button, int32_t x) const;

  int32_t RangeMinX = 0, RangeMaxX = 1000, RangeMinY = 0, RangeMaxY = 1000, BaseY = 500;
  int32_t DispMinX = 0, DispMaxX = 1000, DispMinY = 0, DispMaxY = 1000;
  int32_t Locator = -1, MarkerA = -1, MarkerB = -1, HelpLocator = -1;
  float GridWidthX = 100.0f, GridWidthY = 100.0f;
  bool SnapToGrid = false;
  int32_t SnapRange = 3;
  bool UseHelpLocator = true, UseLocator = true, UseMarkers = false, CorralLocator = true;
  bool DrawGridX = false, DrawGridY = false;
  // Not owned.
  TMMMarkerList* MarkerList = nullptr;

 private:
  bool Near(int32_t value, int32_t x) const;
  bool SnapToLine(int32_t& v, float width, const std::function<int64_t(int32_t)>& past) const;
  std::vector<int32_t> GridLines(int32_t disp_min, int32_t disp_max, float width, int32_t size,
                                 int32_t from, int32_t to,
                                 int32_t (TMMMarkerGeometry::*to_pixel)(int32_t) const) const;
  int32_t width_ = 200, height_ = 100, e_ = 0;
};
