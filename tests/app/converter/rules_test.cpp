#include "mainaarules.h"

#include <gtest/gtest.h>

namespace {

using namespace orlune;

TEST(FieldChecks, LengthDateAndCommonCode) {
  struct Case {
    const char* text;
    bool length, date, single;
  } cases[] = {
      {"", true, true, true},
      {"30", true, false, true},
      {"29.5", true, false, true},
      {"29,5", false, false, true},
      {"1.2.3", false, false, true},
      {".", false, false, true},
      {"３０", false, false, false},  // full-width digits
      {"2024/02/29", false, true, true},
      {"2024/2/5", false, true, true},
      {"2024/02/30", false, false, true},
      {"2024/13/01", false, false, true},
      {"29/02/2024", false, false, true},  // day first: the first "/" is not at index 4
      {"2024/01/01/", false, false, true},
      {"2024/01", false, false, true},
      {"２０２４/01/01", false, false, false},
      {"AB-12_ｱｲ", false, false, true},  // half-width katakana are single bytes
      {"AB共通", false, false, false},
      {"A😀", false, false, false},  // no CP932 form: cannot be a single byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsValidLength(c.text), c.length);
    EXPECT_EQ(IsValidDate(c.text), c.date);
    EXPECT_EQ(IsSingleByte(c.text), c.single);
  }
}

TEST(LengthLamp, JudgesWholeMillisecondsAndTheFileKind) {
  // Lengths chosen exact in binary so that the millisecond truncation is what is tested.
  const double diff4 = 29.5 + 5.0 / 1024, diff5 = 29.5 + 6.0 / 1024;  // 29504.88, 29505.86 ms
  struct Case {
    int kind;
    bool cue;
    std::optional<double> marked;
    const char* stated;
    bool on;
  } cases[] = {
      {1, false, diff4, "29.5", true}, {1, false, diff5, "29.5", false},
      {1, false, 29.5, "29.5", true},  {0, false, 29.5, "29.5", true},
      {1, false, 0.0, "", false},      {1, false, std::nullopt, "", false},
      {1, false, 1.0 / 256, "", true}, {1, false, 6.0 / 1024, "x", false},
      {1, false, 30.0, "30,0", false}, {3, true, 29.5, "29.5", false},
      {2, false, 29.5, "29.5", false}, {2, true, 29.5, "29.5", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stated) + " kind " + std::to_string(c.kind));
    EXPECT_EQ(LengthLampOn(c.kind, c.cue, c.marked, c.stated), c.on);
  }
}

TEST(DisplayFormats, FormatRateChannelsAndMarkedLength) {
  EXPECT_EQ(FileTypeText(1), "1:PCM");
  EXPECT_EQ(FileTypeText(85), "85:その他");
  EXPECT_EQ(ChannelsText(2), "STEREO");
  EXPECT_EQ(ChannelsText(1), "MONO");
  EXPECT_EQ(ChannelsText(6), "MONO");
  EXPECT_EQ(SamplingText(48000), "48.0");
  EXPECT_EQ(SamplingText(8000), " 8.0");
  EXPECT_EQ(SamplingText(44100), "44.1");
  EXPECT_EQ(ActualLengthText(true, 30.0), "30.00");
  EXPECT_EQ(ActualLengthText(false, 30.0), "");
}

TEST(Bars, VolumeAndPositionGeometry) {
  const VolumeBar v{101};
  EXPECT_EQ(v.HandleOffset(0), 20);
  EXPECT_EQ(v.HandleOffset(16384), 58);
  EXPECT_EQ(v.VolumeAt(20), 0);
  EXPECT_EQ(v.VolumeAt(101 - 5), 32342);
  EXPECT_TRUE(v.Accepts(20, 1) && v.Accepts(96, 24));
  EXPECT_FALSE(v.Accepts(19, 10) || v.Accepts(97, 10) || v.Accepts(50, 0) || v.Accepts(50, 25));
  const PositionBar p{233, 23};
  EXPECT_EQ(p.Range(), 222);
  EXPECT_TRUE(p.Accepts(2, 1) && p.Accepts(219, 20));
  EXPECT_FALSE(p.Accepts(1, 10) || p.Accepts(220, 10) || p.Accepts(50, 0) || p.Accepts(50, 21));
  EXPECT_EQ(p.HandleOffset(0.0), 0);
  EXPECT_EQ(p.HandleOffset(0.5), 105);
  EXPECT_EQ(p.HandleOffset(1.0), 210);
}

}  // namespace
