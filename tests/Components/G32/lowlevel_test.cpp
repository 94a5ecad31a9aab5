#include "g32_lowlevel.h"

#include <gtest/gtest.h>

#include "g32_drawingex.h"

namespace {

using namespace g32;

TEST(MulDiv, RoundsHalfAwayFromZeroAndFlagsOverflow) {
  struct Case {
    int a, b, c, result;
  } cases[] = {
      {7, 1, 2, 4},
      {-7, 1, 2, -4},
      {7, -1, 2, -4},
      {7, 1, -2, -4},
      {-7, -1, -2, -4},
      {5, 1, 3, 2},
      {0x40000000, 4, 1, -1},
      {0x10000, 0x10000, 0x10000, 0x10000},
      {1, 1, 0, -1},
      {INT32_MAX, 2, 2, INT32_MAX},
      {INT32_MIN + 1, 1, 1, INT32_MIN + 1},
      {1016, 65536, 1016, 65536},
      {300, 65535, 1016, 19351},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.result) << c.a << "*" << c.b << "/" << c.c;
}

TEST(LowLevel, ClampConstrainTestClip) {
  EXPECT_EQ(Clamp(-1), 0);
  EXPECT_EQ(Clamp(300), 255);
  EXPECT_EQ(Clamp(17), 17);
  EXPECT_EQ(Constrain(5, 5, 3), 5);  // lo wins when value <= lo
  EXPECT_EQ(Constrain(9, 0, 3), 3);
  int a = -5, b = 300;
  EXPECT_TRUE(TestClip(a, b, 100));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 99);
  a = 150, b = 120;
  EXPECT_FALSE(TestClip(a, b, 100));
  EXPECT_EQ(ColorSwap(0x00332211), 0xFF112233u);
  EXPECT_EQ(SAR_16(-65536 * 3), -3);
  uint32_t buf[4] = {1, 1, 1, 1};
  FillLongword(buf, -2, 9);
  FillLongword(buf, 3, 9);
  EXPECT_EQ(buf[2], 9u);
  EXPECT_EQ(buf[3], 1u);
}

TEST(ClipLine, Table) {
  struct Case {
    int x1, y1, x2, y2;
    bool kept;
    int cx1, cy1, cx2, cy2;
  } cases[] = {
      {-10, 5, 110, 5, true, 0, 5, 99, 5},     // horizontal through
      {5, -10, 5, 110, true, 5, 0, 5, 99},     // vertical through
      {10, 10, 20, 20, true, 10, 10, 20, 20},  // inside: unchanged
      {-10, -10, -1, 50, false, 0, 0, 0, 0},   // wholly left
      {-50, 50, 50, -50, true, 0, 0, 0, 0},    // diagonal through the corner
      {-10, -10, 109, 109, true, 0, 0, 99, 99},
      {-20, 0, 0, -20, false, 0, 0, 0, 0},  // passes outside the corner
      {50, 50, 150, 100, true, 50, 50, 99, 74},
  };
  for (const auto& c : cases) {
    int x1 = c.x1, y1 = c.y1, x2 = c.x2, y2 = c.y2;
    bool kept = ClipLine(x1, y1, x2, y2, 0, 0, 99, 99);
    ASSERT_EQ(kept, c.kept) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
    if (kept) {
      EXPECT_EQ(x1, c.cx1);
      EXPECT_EQ(y1, c.cy1);
      EXPECT_EQ(x2, c.cx2);
      EXPECT_EQ(y2, c.cy2);
    }
  }
  // 16.16 values far apart do not overflow the interpolation.
  int x1 = -30000 * 65536, y1 = 5 << 16, x2 = 30000 * 65536, y2 = 7 << 16;
  ASSERT_TRUE(ClipLine(x1, y1, x2, y2, -65536, -65536, 100 << 16, 100 << 16));
  EXPECT_EQ(x1, -65536);
  EXPECT_EQ(x2, 100 << 16);
  EXPECT_GE(y1, 5 << 16);
  EXPECT_LE(y2, 7 << 16);
}

}  // namespace
