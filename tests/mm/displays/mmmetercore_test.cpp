// The needle meter's numbers: where a level puts the needle on both scales, how the peak needle
// holds and falls, the arc's geometry and the scale's labels.
#include "mmmetercore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

// Needles worked out by hand: in dB, 32,767 × (20 log10(level / 32,767) - S) / -S; linear,
// 32,767 × (level - f) / (32,767 - f) above the floor f = 32,767 / 10^(-S / 20), 103.62 for
// S = -50; both rounded to the nearest whole number.
TEST(MeterCore, LevelsOnBothScales) {
  struct Case {
    const char* what;
    bool log;
    int sensitivity;
    int32_t level;
    int32_t needle;
  } cases[] = {
      {"dB: full scale is the right end", true, -50, 32767, 32767},
      {"dB: 16,384 is -6.0203 dB, 43.9797 / 50 of the way", true, -50, 16384, 28822},
      {"dB: 104 is -49.9681 dB, just above the floor", true, -50, 104, 21},
      {"dB: 103 is below -50 dB and rests", true, -50, 103, 0},
      {"dB: silence rests", true, -50, 0, 0},
      {"dB: 2 is -84.2881 dB, 5.7119 / 90 of the most sensitive scale", true, -90, 2, 2080},
      {"dB: a negative level counts by its size", true, -50, -16384, 28822},
      {"linear: full scale", false, -50, 32767, 32767},
      {"linear: 16,384 is (16,384 - 103.62) / (32,767 - 103.62) of the way", false, -50, 16384,
       16332},
      {"linear: below the floor rests", false, -50, 100, 0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TMMMeterCore core;
    core.Level.LogAmp = t.log;
    core.Level.Sensitivity = t.sensitivity;
    core.SetData(t.level);
    EXPECT_EQ(core.Needle(), t.needle);
  }
}

TEST(MeterCore, GainAndOverflow) {
  TMMMeterCore core;
  int overflows = 0;
  core.OnGainOverflow = [&] { ++overflows; };
  core.Level.Gain = 8;  // × 2: half scale reaches the end
  core.SetData(16384);
  EXPECT_EQ(core.Needle(), 32767);
  EXPECT_EQ(overflows, 1);
  core.SetData(-30000);  // magnitudes: the sign does not matter
  EXPECT_EQ(core.Needle(), 32767);
  EXPECT_EQ(overflows, 2);
  EXPECT_EQ(core.NeedlePercent(), 50);  // read back through the gain
}

TEST(MeterCore, AnUnchangedNeedleAsksForNoDrawing) {
  TMMMeterCore core;
  EXPECT_FALSE(core.SetData(0));
  EXPECT_TRUE(core.SetData(10000));
  EXPECT_FALSE(core.SetData(10000));
  EXPECT_TRUE(core.SetData(5000));  // lower: the peak stays, the needle moves
  EXPECT_EQ(core.Peak(), 26011);  // 10,000 is -10.3087 dB: 39.6913 / 50 of 32,767
}

TEST(MeterCore, PeakHoldsThenSnapsBackWithSpeedZero) {
  TMMMeterCore core;
  core.SetData(32767);
  core.SetData(1000);
  const int32_t needle = core.Needle();
  for (int i = 0; i < 40; ++i) core.PeakTick();
  EXPECT_EQ(core.Peak(), 32767);  // 2 × 20 + 1 ticks of hold
  core.PeakTick();
  EXPECT_EQ(core.Peak(), needle);
  EXPECT_TRUE(core.RedrawPending());
  // Dropped once, the peak needle stays there however far the needle falls after it.
  core.SetData(500);
  for (int i = 0; i < 100; ++i) core.PeakTick();
  EXPECT_EQ(core.Peak(), needle);
  EXPECT_LT(core.Needle(), needle);
}

TEST(MeterCore, PeakFallsInStepsNotBelowTheNeedle) {
  TMMMeterCore core;
  core.PeakDelay = 0;
  core.PeakSpeed = 2;
  core.SetData(32767);
  core.SetData(30000);
  const int32_t needle = core.Needle();
  core.PeakTick();  // the hold of one tick is over
  EXPECT_EQ(core.Peak(), 32767 - 500);
  core.PeakTick();
  EXPECT_EQ(core.Peak(), 32767 - 500);
  core.PeakTick();
  EXPECT_EQ(core.Peak(), std::max(32767 - 1000, needle));
  for (int i = 0; i < 40; ++i) core.PeakTick();
  EXPECT_EQ(core.Peak(), needle);
}

TEST(MeterCore, NoPeakNeedleWhenItIsNotShown) {
  TMMMeterCore core;
  core.ShowPeak = false;
  core.SetData(32767);
  EXPECT_EQ(core.Peak(), 0);
}

TEST(MeterGeometry, EndsOfTheArc) {
  TMMMeterGeometry g;
  g.W = 170, g.H = 90, g.NeedleOffset = 30, g.TopSpace = 14;
  const int r = g.Radius();
  ASSERT_EQ(r, 106);
  struct Case {
    int angle;
    int32_t value;
    double degrees;  // from the left horizontal, clockwise over the top
  } cases[] = {{180, 0, 0},      {180, 32767, 180}, {180, 16384, 90},  {90, 0, 45},
               {90, 32767, 135}, {45, 0, 67.5},     {45, 32767, 112.5}};
  for (const Case& t : cases) {
    SCOPED_TRACE(testing::Message() << t.angle << " " << t.value);
    g.ScaleAngle = t.angle;
    const TMMMeterPoint p = g.NeedleEnd(t.value, r);
    const double a = t.degrees * std::numbers::pi / 180;
    EXPECT_NEAR(p.X, 85 - std::cos(a) * r, 1.0);
    EXPECT_NEAR(p.Y, 120 - std::sin(a) * r, 1.0);
  }
  // Symmetric about the vertical through the pivot.
  g.ScaleAngle = 90;
  EXPECT_EQ(g.NeedleEnd(0, r).X + g.NeedleEnd(32767, r).X, 2 * 85);
  EXPECT_EQ(g.NeedleEnd(0, r).Y, g.NeedleEnd(32767, r).Y);
}

TEST(MeterCore, ScaleLabels) {
  TMMMeterCore core;
  for (int i = 0; i <= 40; i += 8) EXPECT_EQ(core.TickLabel(i, 41), -50 + i * 10 / 8) << i;
  core.Level.LogAmp = false;
  EXPECT_EQ(core.TickLabel(0, 41), -50);
  EXPECT_EQ(core.TickLabel(20, 41), -6);  // the middle of a linear scale
  EXPECT_EQ(core.TickLabel(40, 41), 0);
}

}  // namespace
