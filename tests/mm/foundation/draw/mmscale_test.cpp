// The tick scale's geometry and zones, and the shared bitmap cache.
#include "mmscale.h"

#include <gtest/gtest.h>

#include <climits>

#include "mmbcache.h"

namespace {

using namespace vant;

// The columns (horizontal) of `bmp` in row y whose pixel is `c`.
std::vector<int> ColumnsOf(const TBitmap& bmp, int y, TColor c) {
  std::vector<int> xs;
  for (int x = 0; x < bmp.Width(); ++x)
    if (bmp.Canvas().GetPixel(x, y) == c) xs.push_back(x);
  return xs;
}

TEST(Scale, PropertiesAreClampedAndSignal) {
  TMMScale s;
  int changes = 0;
  s.OnChange = [&](TObject*) { ++changes; };
  s.SetTickCount(1);
  s.SetSize(0);
  s.SetEnlargeEvery(-3);
  EXPECT_EQ(s.GetTickCount(), 2);
  EXPECT_EQ(s.GetSize(), 1);
  EXPECT_EQ(s.GetEnlargeEvery(), 1);
  EXPECT_EQ(changes, 3);
  s.SetSize(1);
  EXPECT_EQ(changes, 3);
  s.SetStartAngle(-90);
  s.SetEndAngle(725);
  EXPECT_EQ(s.GetStartAngle(), 270);
  EXPECT_EQ(s.GetEndAngle(), 5);
  s.SetSize(7);
  EXPECT_EQ(s.GetScaleHeight(), 7);
  s.SetConnect(true);
  EXPECT_EQ(s.GetScaleHeight(), 8);
  s.SetStyle(stLowered);
  EXPECT_EQ(s.GetScaleHeight(), 9);

  TMMCustomScale other;  // any scale class assigns, as one change, without zones or angles
  other.SetZone2Tick(4);
  changes = 0;
  other.OnChange = [&](TObject*) { ++changes; };
  other.Assign(&s);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(other.GetStyle(), stLowered);
  EXPECT_EQ(other.GetSize(), 7);
  EXPECT_TRUE(other.GetConnect());
  EXPECT_EQ(other.GetZone2Tick(), 4);
  EXPECT_EQ(other.GetStartAngle(), 0);
  EXPECT_THROW(s.ScaleLine(0, 0, 1, 1, clRed), EMMScaleError);
}

TEST(Scale, HorizontalTicksAndTheirLengths) {
  EnsureGuiApplication();
  TBitmap bmp(120, 20);
  TMMScale s;
  s.SetColor(clRed);
  s.DrawRect(&bmp.Canvas(), Rect(5, 2, 105, 12), false);  // inner origin: from the top
  // Ticks at Left + 0, 10, ..., 100; ticks 0, 5 and 10 are 7 long, the others 3.
  std::vector<int> expected;
  for (int i = 0; i <= 10; ++i) expected.push_back(5 + 10 * i);
  EXPECT_EQ(ColumnsOf(bmp, 2, clRed), expected);
  EXPECT_EQ(ColumnsOf(bmp, 8, clRed), (std::vector<int>{5, 55, 105}));
  EXPECT_TRUE(ColumnsOf(bmp, 9, clRed).empty());
  EXPECT_EQ(ColumnsOf(bmp, 4, clRed).size(), 11u);
  EXPECT_EQ(ColumnsOf(bmp, 5, clRed).size(), 3u);
  // Flipped: from the bottom edge.
  TBitmap flipped(120, 20);
  s.DrawRect(&flipped.Canvas(), Rect(5, 2, 105, 12), true);
  EXPECT_EQ(ColumnsOf(flipped, 11, clRed).size(), 11u);
  EXPECT_EQ(ColumnsOf(flipped, 5, clRed), (std::vector<int>{5, 55, 105}));
  EXPECT_TRUE(ColumnsOf(flipped, 4, clRed).empty());
}

TEST(Scale, ZonesColourTheTicksBeyondTheirBoundaries) {
  EnsureGuiApplication();
  TMMScale s;
  s.SetColor(clRed);
  s.SetColor2(clYellow);
  s.SetColor3(clLime);
  s.SetZone2Tick(5);
  s.SetZone3Tick(8);
  TBitmap bmp(120, 20);
  s.DrawRect(&bmp.Canvas(), Rect(0, 0, 110, 10), false);
  // 11 ticks over 110 pixels, 11 apart: beyond 5/11 (50) yellow, beyond 8/11 (80) green.
  EXPECT_EQ(ColumnsOf(bmp, 0, clRed), (std::vector<int>{0, 11, 22, 33, 44}));
  EXPECT_EQ(ColumnsOf(bmp, 0, clYellow), (std::vector<int>{55, 66, 77}));
  EXPECT_EQ(ColumnsOf(bmp, 0, clLime), (std::vector<int>{88, 99, 110}));
  // A three-dimensional style has no zones.
  s.SetStyle(stRaised);
  TBitmap raised(120, 20);
  raised.Canvas().Brush().Color = clGray;
  raised.Canvas().FillRect(Rect(0, 0, 120, 20));
  s.DrawRect(&raised.Canvas(), Rect(0, 0, 110, 10), false);
  EXPECT_TRUE(ColumnsOf(raised, 0, clLime).empty());
  EXPECT_EQ(ColumnsOf(raised, 0, clWhite).size(), 11u);  // first tone, then black beside it
  EXPECT_EQ(ColumnsOf(raised, 0, clBlack).size(), 11u);
}

TEST(Scale, VerticalTicksAndConnectingLine) {
  EnsureGuiApplication();
  TMMScale s;
  s.SetColor(clBlue);
  s.SetTickCount(3);
  s.SetConnect(true);
  s.SetOrigin(soOuter);
  TBitmap bmp(20, 30);
  bmp.Canvas().Brush().Color = clWhite;
  s.DrawRect(&bmp.Canvas(), Rect(2, 2, 12, 22), false);  // outer, not flipped: far (right) edge
  // Ticks at y = 2, 12, 22 end at Right; the line runs at x = Right - 1.
  // (the first is long, the others half as long).
  EXPECT_EQ(bmp.Canvas().GetPixel(5, 2), clBlue);
  EXPECT_EQ(bmp.Canvas().GetPixel(4, 2), clWhite);
  for (int y : {12, 22}) {
    EXPECT_EQ(bmp.Canvas().GetPixel(9, y), clBlue) << y;
    EXPECT_EQ(bmp.Canvas().GetPixel(8, y), clWhite) << y;
  }
  EXPECT_EQ(bmp.Canvas().GetPixel(5, 7), clWhite);
  for (int y = 3; y <= 22; ++y) EXPECT_EQ(bmp.Canvas().GetPixel(11, y), clBlue) << y;
}

TEST(Scale, EllipticTicksFollowTheArc) {
  EnsureGuiApplication();
  TMMScale s;
  s.SetColor(clRed);
  s.SetTickCount(3);
  s.SetEnlargeEvery(1);
  s.SetSize(5);
  s.SetStartAngle(180);
  s.SetEndAngle(0);
  TBitmap bmp(41, 41);
  s.DrawElliptic(&bmp.Canvas(), Rect(0, 0, 40, 40));
  // Ticks at 180°, 90° and 0° on radius 20 around (20, 20), from radius 15 outwards.
  EXPECT_EQ(bmp.Canvas().GetPixel(1, 20), clRed);
  EXPECT_EQ(bmp.Canvas().GetPixel(20, 1), clRed);
  EXPECT_EQ(bmp.Canvas().GetPixel(35, 20), clRed);
  EXPECT_EQ(bmp.Canvas().GetPixel(20, 39), clWhite);  // nothing below
}

// Any tick count paints once, with no more ticks than the pixels the scale covers: a count
// below 2 gives both ends, one past the pixels fills every pixel along the edge.
TEST(Scale, ExtremeTickCountsPaintOnce) {
  EnsureGuiApplication();
  const struct {
    int ticks;
    size_t marked;  // coloured pixels along the scale's edge, 0..100
  } cases[] = {{0, 2}, {-1, 2}, {INT_MIN, 2}, {101, 101}, {INT_MAX, 101}};
  for (const auto& k : cases) {
    TMMScale s;
    s.SetColor(clRed);
    s.SetTickCount(k.ticks);
    TBitmap horizontal(120, 20);
    s.DrawRect(&horizontal.Canvas(), Rect(0, 2, 100, 12), false);
    EXPECT_EQ(ColumnsOf(horizontal, 2, clRed).size(), k.marked) << k.ticks;
    TBitmap vertical(20, 120);
    s.DrawRect(&vertical.Canvas(), Rect(2, 0, 12, 100), false);
    size_t rows = 0;
    for (int y = 0; y < vertical.Height(); ++y) rows += vertical.Canvas().GetPixel(2, y) == clRed;
    EXPECT_EQ(rows, k.marked) << k.ticks;
    TBitmap round(41, 41);
    s.SetConnect(true);
    s.DrawElliptic(&round.Canvas(), Rect(0, 0, 40, 40));
    EXPECT_EQ(round.Canvas().GetPixel(36, 20), clRed) << k.ticks;  // the tick at 0 degrees
  }
}

TEST(BitmapCache, SharedBySizeAndKeptForTheOtherHolder) {
  EnsureGuiApplication();
  ASSERT_EQ(CachedBitmapCount(), 0);
  auto a = LoadCacheBitmap(100, 20), b = LoadCacheBitmap(100, 20), c = LoadCacheBitmap(10, 20);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(CachedBitmapCount(), 2);
  auto keep = b;
  RemoveCacheBitmap(a);
  EXPECT_EQ(a, nullptr);       // the caller's handle is cleared either way
  EXPECT_EQ(b->Width(), 100);  // still valid for the other holder
  EXPECT_EQ(CachedBitmapCount(), 2);
  EXPECT_EQ(LoadCacheBitmap(100, 20), b);  // a third holder of the same
  RemoveCacheBitmap(b);
  RemoveCacheBitmap(keep);
  RemoveCacheBitmap(c);
  EXPECT_EQ(CachedBitmapCount(), 0);
  std::shared_ptr<TBitmap> none, foreign = std::make_shared<TBitmap>(1, 1);
  RemoveCacheBitmap(none);
  RemoveCacheBitmap(foreign);
  EXPECT_NE(foreign, nullptr);  // not the cache's: left alone
}

}  // namespace
