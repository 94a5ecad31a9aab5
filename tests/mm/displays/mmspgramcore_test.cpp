// The spectrogram's numbers: its colour maps, which bins each row shows, how power becomes a
// palette index, and one column with and without the embossed look.
#include "mmspgramcore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(SpectrogramPalette, ColourMaps) {
  struct Case {
    TMMSpectrogramPalette map;
    int entry;
    int r, g, b;
  } cases[] = {
      // entry 10 is g = 0, 24 is g = 15, 25 is g = 16, 40 is g = 32, 128 is g = 128, 245 is
      // g = 254
      {spHSV, 10, 0, 0, 255},
      {spHSV, 40, 0, 128, 255},
      {spHSV, 128, 2, 255, 0},
      {spHSV, 245, 255, 4, 0},
      {spThreshold, 24, 0, 0, 0},
      {spThreshold, 25, 0, 64, 255},
      {spBlackWhite, 10, 0, 0, 0},
      {spBlackWhite, 245, 254, 254, 254},
      {spWhiteBlack, 10, 255, 255, 255},
      {spWhiteBlack, 245, 1, 1, 1},
      {spBone, 40, 28, 28, 38},
      {spBone, 128, 113, 124, 142},
      {spBone, 245, 244, 254, 254},
      {spCopper, 40, 39, 24, 16},
      {spCopper, 128, 157, 99, 64},
      {spCopper, 245, 255, 198, 127},
      {spCool, 10, 0, 255, 255},
      {spCool, 128, 128, 127, 255},
      {spCool, 245, 254, 1, 255},
      {spHot, 40, 85, 0, 0},
      {spHot, 128, 255, 87, 0},
      {spHot, 245, 255, 255, 250},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(testing::Message() << "map " << t.map << " entry " << t.entry);
    const PALETTEENTRY e = SpectrogramPalette(t.map).entries[t.entry];
    EXPECT_EQ(e.peRed, t.r);
    EXPECT_EQ(e.peGreen, t.g);
    EXPECT_EQ(e.peBlue, t.b);
  }
  // Outside 10 .. 245 every map is black.
  for (int map = spHSV; map <= spHot; ++map) {
    const TLogPalette p = SpectrogramPalette(static_cast<TMMSpectrogramPalette>(map));
    ASSERT_EQ(p.entries.size(), 256u);
    for (int i : {0, 9, 246, 255}) {
      EXPECT_EQ(p.entries[i].peRed | p.entries[i].peGreen | p.entries[i].peBlue, 0) << map;
    }
  }
}

TEST(SpectrogramRows, BinsOfTheRows) {
  TMMSpectrogramRows rows;
  // As many rows as bins: one bin each.
  rows.Setup(64, 128, 11025, 1, 0);
  EXPECT_EQ(rows.first[0], 0);
  EXPECT_EQ(rows.first[63], 63);
  EXPECT_EQ(rows.end[10], 0);
  // Twice as many rows: every second row is covered by the one below.
  rows.Setup(128, 128, 11025, 1, 0);
  EXPECT_EQ(rows.first[4], 2);
  EXPECT_EQ(rows.first[5], -1);
  EXPECT_EQ(rows.end[5], 0);
  // Half as many: two bins a row.
  rows.Setup(32, 128, 11025, 1, 0);
  EXPECT_EQ(rows.first[3], 6);
  EXPECT_EQ(rows.end[3], 8);
  EXPECT_EQ(rows.end[31], 0);
  // Zoom 2 spans half the range; a base too high for the rate is lowered.
  rows.Setup(32, 128, 11025, 2, 0);
  EXPECT_EQ(rows.first[31], 31);
  rows.Setup(32, 128, 11025, 1, 9000);
  EXPECT_FLOAT_EQ(rows.base, 4512.5f);
  rows.Setup(32, 128, 11025, 1, -10);
  EXPECT_FLOAT_EQ(rows.base, 0);
}

TEST(SpectrogramRows, ScaleSteps) {
  EXPECT_EQ(SpectrogramScaleSteps(11025, 1, 90), 5);
  EXPECT_EQ(SpectrogramScaleSteps(11025, 1, 40), 2);
  EXPECT_EQ(SpectrogramScaleSteps(48000, 2, 80), 6);
  EXPECT_EQ(SpectrogramScaleSteps(8000, 1, 4), 1);
}

TEST(SpectrogramCore, PowerToPaletteIndex) {
  TMMSpectrogramRows rows;
  rows.Setup(4, 8, 11025, 1, 0);  // four rows, one bin each
  TMMSpectrogramCore core;
  std::vector<uint8_t> column;
  struct Case {
    const char* what;
    bool log;
    int sensitivity;
    int32_t power;
    uint8_t index;
  } cases[] = {
      {"linear, nothing: the first colour", false, -90, 0, 10},
      {"linear, amplitude 100", false, -90, 100 * 100, 110},
      {"linear, amplitude 235: the last colour", false, -90, 235 * 235, 245},
      {"linear, beyond: clamped", false, -90, 1000000, 245},
      {"linear, less sensitive", false, -50, 100 * 100, 70},
      {"log, power 1", true, -90, 1, 10},
      {"log, power e^2", true, -90, 7, 48},  // ln 7 × 20 = 38.9
      {"log, less sensitive: clamped", true, -9, 1, 10},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    core.LogAmp = t.log;
    core.Sensitivity = t.sensitivity;
    const int32_t powers[4] = {t.power, t.power, t.power, t.power};
    core.CalcColorsGiven(powers, 8);
    core.MakeColumn(rows, column);
    EXPECT_EQ(column[3], t.index);
  }
  // From FFT pairs (re, im): 60² + 80² = 100².
  const int16_t fft[8] = {0, 0, 60, 80, 0, 0, 0, 0};
  core.LogAmp = false;
  core.Sensitivity = -90;
  core.CalcColors(fft, 8);
  core.MakeColumn(rows, column);
  EXPECT_EQ(column[2], 110);  // row 1 from the bottom
}

TEST(SpectrogramCore, GroupsTakeTheirLoudestBinAndTheTopRepeats) {
  TMMSpectrogramRows rows;
  rows.Setup(4, 16, 11025, 1, 0);  // two bins a row
  TMMSpectrogramCore core;
  const int32_t powers[8] = {0, 10 * 10, 0, 0, 30 * 30, 20 * 20, 0, 50 * 50};
  core.CalcColorsGiven(powers, 16);
  std::vector<uint8_t> column;
  core.MakeColumn(rows, column);
  // Top row first: the top row shows what the row below it shows.
  EXPECT_EQ(column, (std::vector<uint8_t>{40, 40, 10, 20}));
}

TEST(SpectrogramCore, EmbossedSteadySignal) {
  TMMSpectrogramRows rows;
  rows.Setup(4, 8, 11025, 1, 0);
  TMMSpectrogramCore core;
  core.Embossed = true;
  const int32_t powers[4] = {40 * 40, 40 * 40, 40 * 40, 40 * 40};  // colour 50 everywhere
  core.CalcColorsGiven(powers, 8);
  std::vector<uint8_t> column;
  core.MakeColumn(rows, column);
  EXPECT_EQ(column, (std::vector<uint8_t>{68, 68, 68, 68}));  // empty memory: 0 − 50 + 118
  core.MakeColumn(rows, column);
  // Above the bottom: the same as the diagonal neighbour; the bottom against MIN_COLOR.
  EXPECT_EQ(column, (std::vector<uint8_t>{118, 118, 118, 78}));
  core.ResetEmboss();
  core.MakeColumn(rows, column);
  EXPECT_EQ(column[1], 68);
}

}  // namespace
