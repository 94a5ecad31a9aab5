// The light show's numbers: the bands' bins, how a band's bins combine, brightness and sphere
// shading, and where the lights sit.
#include "mmlightcore.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

TEST(LightBands, BinsOfTheBands) {
  TMMLightBands b;
  b.Setup(11025, 128);
  EXPECT_EQ(b.Band[0].First, 0);
  EXPECT_EQ(b.Band[1].First, 4);
  EXPECT_EQ(b.Band[2].First, 13);
  EXPECT_EQ(b.Band[0].End, 4);
  EXPECT_EQ(b.Band[1].End, 13);
  EXPECT_EQ(b.Band[2].End, 63);
  // A tiny FFT at a low rate: the middle band starts where the bass does and is skipped.
  b.Setup(8000, 8);
  EXPECT_EQ(b.Band[0].First, 0);
  EXPECT_EQ(b.Band[1].First, -1);
  EXPECT_EQ(b.Band[2].First, 1);
}

TEST(LightBands, CombiningTheBins) {
  TMMLightBands b;
  b.Setup(11025, 128);
  std::vector<int32_t> m(64, 0);
  m[2] = 30;  // bass
  m[4] = 100;
  m[12] = 40;  // middle
  struct Case {
    TMMLightPeakMode mode;
    int32_t bass, middle;
  } cases[] = {
      {pmPeak, 30, 100},
      {pmAverage, 30 / 5, (100 + 100 + 40) / 10},  // nine bins and the first once more
      // RMS: the first bin once, then m × (m + 0.1) over the band's bins
      {pmRMS, 15, 36},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.mode);
    b.CalcValues(m.data(), t.mode);
    EXPECT_EQ(b.Band[0].Value, t.bass);
    EXPECT_EQ(b.Band[1].Value, t.middle);
    EXPECT_EQ(b.Band[2].Value, 0);
  }
}

TEST(LightBands, BrightnessAndSpheres) {
  EXPECT_EQ(LightBrightness(0, 1000, 0.05), 50);
  EXPECT_EQ(LightBrightness(1, 1000, 0.05), 100);
  EXPECT_EQ(LightBrightness(2, 1000, 0.05), 200);
  EXPECT_EQ(LightBrightness(2, 100000, 0.05), 255);
  EXPECT_EQ(LightBrightness(0, 1000, 0), 0);
  // One ring at full shading shows the band's brightness; no horizontal shading is dark.
  EXPECT_EQ(SphereIntensity(200, 0, 1, 1, 1), 200);
  EXPECT_EQ(SphereIntensity(200, 0, 60, 0, 1), 0);
  // The centre ring is the brightest.
  EXPECT_LT(SphereIntensity(255, 0, 60, 1, 1), SphereIntensity(255, 59, 60, 1, 1));
  EXPECT_EQ(SphereIntensity(255, 59, 60, 1, 1), 255);
  // Shading too large for a float, or infinite, shades as the sphere's own profile: the centre
  // at the band's brightness, the rim darker, nothing outside 0 .. brightness.
  for (float v : {std::numeric_limits<float>::max(), std::numeric_limits<float>::infinity()}) {
    SCOPED_TRACE(v);
    EXPECT_EQ(SphereIntensity(200, 59, 60, 1, v), 200);
    EXPECT_EQ(SphereIntensity(200, 59, 60, v, v), 200);
    for (int ring : {0, 30, 59}) {
      EXPECT_GE(SphereIntensity(200, ring, 60, v, 1), 0);
      EXPECT_LE(SphereIntensity(200, ring, 60, v, 1), 200);
      EXPECT_GE(SphereIntensity(200, ring, 60, 1, v), 0);
      EXPECT_LE(SphereIntensity(200, ring, 60, 1, v), 200);
    }
  }
}

TEST(LightLayout, RowAndTriangle) {
  TMMLightLayout l;
  l.Compute(192, 88, laLine, 10);  // 88 ≥ 192 / 3: the row is 192 × 64
  EXPECT_EQ(l.Radius, 64 / 2 - 5);
  EXPECT_EQ(l.Light[0].Left, 5);
  EXPECT_EQ(l.Light[0].Top, (88 - 64) / 2 + 5);
  EXPECT_EQ(l.Light[1].Left, 2 * 27 + 3 * 5);
  l.Compute(88, 192, laLine, 10);  // upright
  EXPECT_EQ(l.Light[2].Top, 2 * 2 * 27 + 5 * 5);
  l.Compute(100, 100, laTriangle, 10);
  EXPECT_EQ(l.Radius, (100 - 20) / 4);
  // Bass and treble above, the middle below between them.
  EXPECT_EQ(l.Light[0].Top, l.Light[2].Top);
  EXPECT_GT(l.Light[1].Top, l.Light[0].Top);
  EXPECT_EQ(l.Light[1].Left + l.Light[1].Right, 100);
  l.Compute(8, 8, laLine, 10);
  EXPECT_LT(l.Radius, 1);
}

}  // namespace
