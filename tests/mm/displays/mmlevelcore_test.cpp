// The level bar's numbers: segment layout, slice reduction, dB and linear mapping, gain,
// smoothing and the peak's hold and fall.
#include "mmlevelcore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

TEST(LevelGeometry, SegmentsAreCountedAndCentred) {
  struct Case {
    int length, width, space, point1, point2;
    int count, start, zone1, zone2;
  } cases[] = {
      {28, 1, 1, 50, 85, 14, 0, 7, 11},    // the converter's bars
      {198, 1, 1, 50, 85, 99, 0, 49, 84},  // the default size inside its bevel
      {30, 3, 2, 50, 85, 6, 1, 3, 5},      // left over pixels split on both ends
      {2, 5, 0, 50, 85, 1, -1, 0, 0},      // never fewer than one segment
  };
  for (const Case& t : cases) {
    const auto g = TMMLevelGeometry::Compute(t.length, t.width, t.space, t.point1, t.point2);
    EXPECT_EQ(g.count, t.count) << t.length;
    EXPECT_EQ(g.start, t.start) << t.length;
    EXPECT_EQ(g.zone1, t.zone1) << t.length;
    EXPECT_EQ(g.zone2, t.zone2) << t.length;
  }
}

class LevelCoreTest : public ::testing::Test {
 protected:
  void SetUp() override { core.SetSegments(14); }
  // A stereo 16-bit slice of `frames` frames of (left, right).
  std::vector<uint8_t> Stereo16(int16_t left, int16_t right, int frames = 50) {
    std::vector<uint8_t> v(frames * 4);
    for (int i = 0; i < frames; ++i) {
      std::memcpy(&v[i * 4], &left, 2);
      std::memcpy(&v[i * 4 + 2], &right, 2);
    }
    return v;
  }
  TMMLevelCore core;
};

TEST_F(LevelCoreTest, SliceMagnitude) {
  struct Case {
    const char* what;
    TMMBits bits;
    int channels;
    TMMChannel channel;
    std::vector<uint8_t> frame;  // one frame, repeated over the slice
    int32_t dc_left, dc_right;
    int32_t magnitude;
  } cases[] = {
      {"8-bit silence", b8Bit, 1, chBoth, {128}, 0, 0, 0},
      {"8-bit full scale down", b8Bit, 1, chBoth, {0}, 0, 0, 32768},
      {"8-bit with its offset added before the shift", b8Bit, 1, chBoth, {138}, 10, 0, 0},
      {"16-bit mono", b16Bit, 1, chBoth, {0x30, 0xF8}, 0, 0, 2000},
      {"both channels cancel", b16Bit, 2, chBoth, {0xE8, 0x03, 0x18, 0xFC}, 0, 0, 0},
      {"left only", b16Bit, 2, chLeft, {0xE8, 0x03, 0x18, 0xFC}, 0, 0, 1000},
      {"right only, its offset", b16Bit, 2, chRight, {0xE8, 0x03, 0x18, 0xFC}, 0, -500, 500},
      {"four channels: the first two, stepped by four",
       b16Bit,
       4,
       chLeft,
       {0x10, 0x00, 0, 0, 0x00, 0x7F, 0x00, 0x7F},
       0,
       0,
       16},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    core.SetLayout(t.bits, t.channels);
    core.Channel = t.channel;
    core.SetDCOffsets(t.dc_left, t.dc_right);
    core.SetSamples(50);
    std::vector<uint8_t> slice;
    for (int i = 0; i < 50; ++i) slice.insert(slice.end(), t.frame.begin(), t.frame.end());
    ASSERT_EQ(static_cast<size_t>(core.SliceBytes()), slice.size());
    EXPECT_EQ(core.Magnitude(slice.data()), t.magnitude);
  }
}

TEST_F(LevelCoreTest, SliceSizesOfAnyFrameCountStayPositive) {
  // 536,870,912 frames of 16-bit stereo would be 2^31 bytes: the frames are held to 2^20
  // (some 20 s at 48 kHz), and the bytes are counted in 64 bits.
  struct Case {
    const char* what;
    int32_t samples;
    int channels;
    int64_t bytes;
  } cases[] = {{"2^29 frames of stereo", 536870912, 2, int64_t{4} << 20},
               {"INT_MAX frames of 65,535 channels", INT32_MAX, 65535, (int64_t{2} << 20) * 65535},
               {"0 frames", 0, 2, 4},
               {"INT_MIN frames", INT32_MIN, 1, 2}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    core.SetLayout(b16Bit, t.channels);
    core.SetSamples(t.samples);
    EXPECT_EQ(core.SliceBytes(), t.bytes);
  }
}

TEST_F(LevelCoreTest, DCOffsetsAtTheEndsOfInt) {
  // Silence less an offset of INT32_MIN is 2^31, beyond int32: the magnitude stops at INT32_MAX.
  core.SetLayout(b16Bit, 1);
  core.SetSamples(4);
  core.SetDCOffsets(INT32_MIN, INT32_MAX);
  EXPECT_EQ(core.GetDCOffsetL(), INT32_MIN);
  EXPECT_EQ(core.GetDCOffsetR(), INT32_MAX);
  const std::vector<uint8_t> silence(8, 0);
  EXPECT_EQ(core.Magnitude(silence.data()), INT32_MAX);
}

TEST_F(LevelCoreTest, MagnitudeToSegments) {
  const int32_t floor35 = static_cast<int32_t>(std::ceil(32767 / std::pow(10.0, 35 / 20.0)));
  struct Case {
    const char* what;
    bool log;
    int32_t gain;
    int64_t magnitude;
    int segments;
  } cases[] = {
      {"dB: full scale lights all", true, 0, 32767, 14},
      {"dB: the sensitivity lights none", true, 0, floor35 - 1, 0},
      {"dB: half scale, -6 dB", true, 0, 16384, 12},
      {"dB: silence", true, 0, 0, 0},
      {"dB: gain 8 doubles half scale to full", true, 8, 16384, 14},
      {"dB: gain -8 is silent", true, -8, 32767, 0},
      {"linear: full scale", false, 0, 32767, 14},
      {"linear: the floor", false, 0, floor35 - 1, 0},
      {"linear: half scale", false, 0, 16384, 7},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    core.LogAmp = t.log;
    core.Gain = t.gain;
    EXPECT_EQ(std::min(core.MapToSegments(t.magnitude), 14), t.segments);
  }
}

TEST_F(LevelCoreTest, GainOverflowClampsToTheBar) {
  int overflows = 0;
  core.OnGainOverflow = [&] { ++overflows; };
  core.Gain = 8;
  EXPECT_TRUE(core.SetData(16384));
  EXPECT_EQ(core.Value(), 14);
  EXPECT_EQ(overflows, 0);
  core.SetData(30000);
  EXPECT_EQ(core.Value(), 14);
  EXPECT_EQ(overflows, 1);
  // No gain at all: nothing lit, and reading the value divides by nothing.
  core.Gain = -8;
  core.SetData(32767);
  EXPECT_EQ(core.Value(), 0);
  EXPECT_EQ(core.SegmentsToPercent(5), 0);
}

TEST_F(LevelCoreTest, SegmentsBackToPercent) {
  EXPECT_EQ(core.SegmentsToPercent(0), 0);
  EXPECT_EQ(core.SegmentsToPercent(14), 100);
  EXPECT_EQ(core.SegmentsToPercent(12), 56);  // -5 dB
  core.LogAmp = false;
  EXPECT_EQ(core.SegmentsToPercent(7), 50);
}

TEST_F(LevelCoreTest, SymmetricBarsHalveTheValue) {
  core.Direction = dirSymetric;
  core.SetData(32767);
  EXPECT_EQ(core.Value(), 7);
}

TEST_F(LevelCoreTest, UniformDecayAveragesTheLastSlices) {
  core.LogAmp = false;
  core.SetSegments(32767);  // one segment per unit: the value is the magnitude
  core.Sensitivity = -90;
  core.SetDecayMode(dmUniform);
  core.SetDecay(4);  // ring of 2 × 4 − 2 = 6
  const int32_t input[] = {600, 0, 0, 0, 0, 0, 0, 1200};
  const int32_t mean[] = {600, 300, 200, 150, 120, 100, 0, 200};
  for (size_t i = 0; i < std::size(input); ++i) {
    core.SetData(input[i]);
    EXPECT_NEAR(core.Value(), mean[i], 1) << "slice " << i;
  }
}

TEST_F(LevelCoreTest, StepUpAndExponentialDecay) {
  core.LogAmp = false;
  core.SetSegments(32767);
  core.Sensitivity = -90;
  core.SetDecayMode(dmStepUp);
  core.SetDecay(1);  // factor 0.01
  core.SetDecay(2);  // factor 0.1
  core.SetData(10000);
  EXPECT_NEAR(core.Value(), 10000, 1);
  core.SetData(10);  // falls by the factor, not to the input
  EXPECT_NEAR(core.Value(), 1000, 1);
  core.SetDecayMode(dmExponential);
  core.SetData(10000);
  EXPECT_NEAR(core.Value(), 9000, 1);  // 0.1 × 0 + 0.9 × 10000
}

TEST_F(LevelCoreTest, PeakIsHeldThenVanishesOrFalls) {
  for (int speed : {0, 3}) {
    SCOPED_TRACE(speed);
    TMMLevelCore c;
    c.SetSegments(14);
    c.PeakSpeed = speed;
    c.SetData(32767);
    c.SetData(0);
    ASSERT_EQ(c.Peak(), 14);
    for (int tick = 1; tick <= 40; ++tick) c.PeakTick();
    EXPECT_EQ(c.Peak(), 14) << "not held 41 ticks";
    EXPECT_FALSE(c.PeakChanged());
    c.PeakTick();
    EXPECT_TRUE(c.PeakChanged());
    if (speed == 0) {
      EXPECT_EQ(c.Peak(), 0);
    } else {
      EXPECT_EQ(c.Peak(), 13);
      for (int tick = 0; tick < 3; ++tick) c.PeakTick();
      EXPECT_EQ(c.Peak(), 12);
    }
    // The change is drawn by the next slice even when its value is the same.
    EXPECT_TRUE(c.SetData(0));
    EXPECT_FALSE(c.SetData(0));
  }
}

}  // namespace
