#include "mmmarkergeom.h"

#include <gtest/gtest.h>

namespace {

TMMMarkerGeometry Panel(int32_t width, int32_t height, int32_t e) {
  TMMMarkerGeometry g;
  g.SetSize(width, height, e);
  return g;
}

TEST(MarkerGeometry, SetRangeAllOrdersWidensAndLimitsBase) {
  TMMMarkerGeometry g = Panel(200, 100, 0);
  EXPECT_TRUE(g.SetRangeAll(10, 5, 0, 0, 99));
  EXPECT_EQ(g.RangeMinX, 5);
  EXPECT_EQ(g.RangeMaxX, 10);
  EXPECT_EQ(g.RangeMinY, 0);
  EXPECT_EQ(g.RangeMaxY, 1);
  EXPECT_EQ(g.BaseY, 1);
  EXPECT_GE(g.DispMinX, 5);
  EXPECT_LE(g.DispMaxX, 10);
  EXPECT_FALSE(g.SetRangeAll(5, 10, 0, 1, 1));
}

TEST(MarkerGeometry, VisibleRangeKeepsOneValuePerPixelInsideTheRange) {
  TMMMarkerGeometry g = Panel(500, 100, 2);
  EXPECT_FALSE(g.SetDispAll(0, 1000, 0, 1000));  // unchanged: no notification
  const struct {
    int32_t min, max, want_min, want_max;
  } cases[] = {
      {100, 200, 100, 596}, {900, 950, 504, 1000}, {200, 100, 100, 596}, {-50, 700, 0, 750}};
  for (const auto& c : cases) {
    g.SetMinMax(c.min, c.max);
    EXPECT_EQ(g.DispMinX, c.want_min) << c.min << ".." << c.max;
    EXPECT_EQ(g.DispMaxX, c.want_max) << c.min << ".." << c.max;
  }
}

TEST(MarkerGeometry, MappingReachesBothInnerEdges) {
  TMMMarkerGeometry g = Panel(101, 51, 0);
  EXPECT_EQ(g.X_ToPixel(g.DispMinX), 0);
  EXPECT_EQ(g.X_ToPixel(g.DispMaxX), 100);
  EXPECT_EQ(g.PixelTo_X(100), g.DispMaxX);
  EXPECT_EQ(g.X_ToPixel(2000000000), 16384);
  EXPECT_EQ(g.X_ToPixel(-2000000000), -16384);
  EXPECT_EQ(g.Y_ToPixel(g.DispMinY), 50);  // values grow upwards
  EXPECT_EQ(g.Y_ToPixel(g.DispMaxY), 0);
  EXPECT_EQ(g.PixelTo_Y(50), g.DispMinY);
  TMMMarkerGeometry framed = Panel(104, 54, 2);
  EXPECT_EQ(framed.X_ToPixel(1000), 104 - 2 - 1);
  TMMMarkerGeometry tiny = Panel(3, 3, 1);  // no inner pixels: still no division by zero
  EXPECT_EQ(tiny.PixelTo_X(1), 0);
}

// Spans wider than 2^31 - 1 values: 101 columns (W = 100) over the whole 32-bit range, each
// figure worked by hand from X = Round(100 (v - min) / span).
TEST(MarkerGeometry, SpansBeyondThirtyOneBitsMapAndGridWithoutOverflow) {
  const struct {
    int32_t min, max;
    int32_t value;
    int32_t pixel;
  } cases[] = {
      {INT32_MIN, INT32_MAX, INT32_MIN, 0},   {INT32_MIN, INT32_MAX, 0, 50},
      {INT32_MIN, INT32_MAX, INT32_MAX, 100}, {-1, INT32_MAX, -1, 0},
      {-1, INT32_MAX, INT32_MAX, 100},        {-1, INT32_MAX, 1073741823, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " at " << c.value);
    TMMMarkerGeometry g = Panel(101, 101, 0);
    g.SetRangeAll(c.min, c.max, c.min, c.max, 0);
    g.SetDispAll(c.min, c.max, c.min, c.max);
    ASSERT_EQ(g.DispMinX, c.min);
    ASSERT_EQ(g.DispMaxX, c.max);
    EXPECT_EQ(g.X_ToPixel(c.value), c.pixel);
    EXPECT_EQ(g.PixelTo_X(c.pixel), c.value);
    EXPECT_EQ(g.Y_ToPixel(c.value), 100 - c.pixel);
    EXPECT_EQ(g.PixelTo_Y(100 - c.pixel), c.value);
  }
  // Lines every 10^9 over the whole range: at -10^9, 0, 10^9 and 2 x 10^9 (26.7, 50.0, 73.3 and
  // 96.6 columns in).
  TMMMarkerGeometry g = Panel(101, 101, 0);
  g.SetRangeAll(INT32_MIN, INT32_MAX, 0, 1000, 0);
  g.SetDispAll(INT32_MIN, INT32_MAX, 0, 1000);
  g.DrawGridX = true;
  g.SetGridWidthX(1e9f);
  EXPECT_EQ(g.GridColumnsX(g.DispMinX, g.DispMaxX), (std::vector<int32_t>{27, 50, 73, 97}));
}

TEST(MarkerGeometry, MarksAreCorralled) {
  TMMMarkerGeometry g = Panel(200, 100, 0);
  g.UseMarkers = true;
  g.SetMarkerA(100);
  g.SetMarkerB(200);
  g.SetLocator(50);
  EXPECT_EQ(g.Locator, 100);
  g.SetLocator(300);
  EXPECT_EQ(g.Locator, 200);
  EXPECT_FALSE(g.SetLocator(300));  // corralled to the value it already has

  TMMMarkerGeometry z = Panel(200, 100, 0);
  z.SetLocator(0);
  z.SetMarkerB(50);
  z.SetMarkerA(80);  // the locator at 0 does not count: marker B limits
  EXPECT_EQ(z.MarkerA, 49);
  EXPECT_EQ(z.MarkerB, 50);
}

TEST(MarkerGeometry, GridWidthAndSnapping) {
  TMMMarkerGeometry g = Panel(101, 101, 0);  // one value per 0.1 pixel: 10 values a pixel
  for (float bad : {0.0f, -5.0f}) {
    g.GridWidthX = 7;
    g.SetGridWidthX(bad);
    EXPECT_EQ(g.GridWidthX, 1.0f);
  }
  g.SetGridWidthX(100);
  int32_t v = 0;
  EXPECT_FALSE(g.IsGridX(12, v));  // snapping off: the plain value
  EXPECT_EQ(v, 120);
  g.SnapToGrid = true;
  const struct {
    int32_t x;
    bool snaps;
    int32_t v;
  } cases[] = {
      {12, true, 100}, {13, true, 100}, {14, false, 140}, {17, true, 200}, {10, true, 100}};
  for (const auto& c : cases) {
    EXPECT_EQ(g.IsGridX(c.x, v), c.snaps) << c.x;
    EXPECT_EQ(v, c.v) << c.x;
  }
  g.SetGridWidthY(100);
  EXPECT_TRUE(g.IsGridY(88, v));  // rows count upwards: row 88 is value 120
  EXPECT_EQ(v, 100);
}

TEST(MarkerGeometry, GridLinesSkipAStartOnAMultipleAndDenseGrids) {
  TMMMarkerGeometry g = Panel(101, 101, 0);
  g.DrawGridX = g.DrawGridY = true;
  EXPECT_EQ(g.GridColumnsX(0, 1000), (std::vector<int32_t>{10, 20, 30, 40, 50, 60, 70, 80, 90}));
  // Rows run from the top value's row inclusive: the top edge's line is drawn, the right one not.
  EXPECT_EQ(g.GridRowsY(0, 1000), (std::vector<int32_t>{90, 80, 70, 60, 50, 40, 30, 20, 10, 0}));
  g.SetGridWidthX(15);  // 66 lines on 101 pixels
  EXPECT_TRUE(g.GridColumnsX(0, 1000).empty());
}

TEST(MarkerGeometry, HitTestsAndMouseActions) {
  TMMMarkerGeometry g = Panel(101, 50, 0);
  TMMMarkerList list;
  TMMMarker m;
  m.Visible = true;
  m.Offset = 500;
  list.Add(m);
  m.Offset = 800;
  m.Locked = true;
  list.Add(m);
  g.MarkerList = &list;
  g.UseMarkers = true;
  g.SetLocator(200);
  g.SetMarkerA(100);
  g.SetMarkerB(300);
  const struct {
    TMarkerButton button;
    int32_t x;
    TMarkerShift action;
  } cases[] = {
      {TMarkerButton::Left, 20, mkLocator},    {TMarkerButton::Right, 20, mkNone},
      {TMarkerButton::Left, 6, mkMarkerA},     {TMarkerButton::Left, 13, mkMarkerA},
      {TMarkerButton::Left, 14, mkNone},       {TMarkerButton::Right, 10, mkMarkerAB},
      {TMarkerButton::Left, 34, mkMarkerB},    {TMarkerButton::Right, 27, mkMarkerBA},
      {TMarkerButton::Left, 53, mkListMarker}, {TMarkerButton::Left, 80, mkNone},
  };
  for (const auto& c : cases) EXPECT_EQ(g.MouseAction(c.button, c.x), c.action) << c.x;
  EXPECT_EQ(g.FindListMarker(80), 1);  // a locked marker is found (hinted) but not draggable
  EXPECT_FALSE(g.IsListMarker(80));
  list.Get(0).Visible = false;
  EXPECT_EQ(g.FindListMarker(50), -1);
}

}  // namespace
