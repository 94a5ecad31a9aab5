// TMMLevel as the converter shows it: segments, zones, peak mark and direction drawn pixel for
// pixel, the events of overflowing data, and screenshots of the kinds of bars.
#include "mmlevel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display_form_fixture.h"
#include "mmpcmsup.h"
#include "ui_testing.h"

namespace vant {
namespace {

class LevelTest : public DisplayFormTest {
 protected:
  void SetUp() override {
    DisplayFormTest::SetUp();
    form.SetBounds(0, 0, 260, 120);
  }
  // The converter's bar: vertical, 5 × 30 with a 1-pixel lowered bevel, one-pixel segments with
  // one-pixel gaps, lime, yellow and red from the bottom.
  TMMLevel* ConverterBar(int left = 10) {
    auto* bar = new TMMLevel(&form);
    bar->SetParent(&form);
    bar->SetKind(lkVertical);
    bar->SetBounds(left, 10, 5, 30);
    bar->SetSpotWidth(1);
    bar->SetSpotSpace(1);
    bar->SetBarColor(1, clLime);
    bar->SetBarColor(2, clYellow);
    bar->SetBarColor(3, clRed);
    bar->SetInactiveColor(1, clGreen);
    bar->SetInactiveColor(2, clOlive);
    bar->SetInactiveColor(3, clMaroon);
    return bar;
  }
  // The middle column inside the bevel, top to bottom: L Y R lit, g o m unlit, '.' background.
  static std::string Column(TMMLevel& bar) {
    std::string s;
    const TRect r = bar.DrawingRect();
    const int x = (r.Left + r.Right) / 2;
    for (int y = r.Top; y < r.Bottom; ++y) {
      const TColor c = uitest::RenderedPixel(bar, x, y);
      s += c == clLime     ? 'L'
           : c == clYellow ? 'Y'
           : c == clRed    ? 'R'
           : c == clGreen  ? 'g'
           : c == clOlive  ? 'o'
           : c == clMaroon ? 'm'
           : c == clBlack  ? '.'
                           : '?';
    }
    return s;
  }
};

TEST_F(LevelTest, ConverterBarAtSeveralLevels) {
  TMMLevel* bar = ConverterBar();
  EXPECT_EQ(bar->Core().Segments(), 14);
  struct Case {
    const char* what;
    int32_t magnitude;
    const char* column;
  } cases[] = {
      {"silence", 0, ".m.m.m.o.o.o.o.g.g.g.g.g.g.g"},
      {"half scale: 12 of 14", 16384, ".m.m.R.Y.Y.Y.Y.L.L.L.L.L.L.L"},
      {"full scale", 32767, ".R.R.R.Y.Y.Y.Y.L.L.L.L.L.L.L"},
      {"quiet again: the peak stays on top", 1200, ".R.m.m.o.o.o.o.g.g.g.g.L.L.L"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    bar->SetData(t.magnitude);
    EXPECT_EQ(Column(*bar), t.column);
  }
  uitest::SaveScreenshot(form, "level_converter_bar");
  // The peak vanishes at the 41st tick; the next slice draws it away.
  Tick(40);
  bar->SetData(1200);
  EXPECT_EQ(Column(*bar), ".R.m.m.o.o.o.o.g.g.g.g.L.L.L");
  Tick(1);
  bar->SetData(1200);
  EXPECT_EQ(Column(*bar), ".m.m.m.o.o.o.o.g.g.g.g.L.L.L");
  // Reset and disabling clear the bar.
  bar->ResetData();
  EXPECT_EQ(Column(*bar), ".m.m.m.o.o.o.o.g.g.g.g.g.g.g");
}

TEST_F(LevelTest, PeakMarksNeverReachBelowTheFirstSegment) {
  TMMLevel* bar = ConverterBar();
  bar->SetNumPeaks(5);
  bar->SetData(1000);  // two segments
  bar->SetData(0);
  EXPECT_EQ(bar->Core().Peak(), 2);
  EXPECT_EQ(Column(*bar), ".m.m.m.o.o.o.o.g.g.g.g.g.L.L");
}

// A peak mark is only seen when the bar draws, which it does for each slice of the sound: its
// hold and fall follow the clock's 25 ms ticks and are caught up when the bar next draws, so no
// timer wakes the program for them, playing or at rest.
TEST_F(LevelTest, ThePeakHoldsAndFallsWithTheClockWithoutATimer) {
  TMMLevel* left = ConverterBar(10);
  TMMLevel* right = ConverterBar(20);
  right->SetPeakSpeed(2);
  Application->ProcessMessages();
  EXPECT_EQ(service.Count(), 0);  // two bars at rest

  left->SetValue(100);
  left->SetValue(0);
  EXPECT_EQ(service.Count(), 0);
  Tick(40);
  left->SetValue(0);
  EXPECT_EQ(left->Core().Peak(), 14);
  Tick(1);  // the 41st tick drops the peak
  left->SetValue(0);
  EXPECT_EQ(left->Core().Peak(), 0);
  EXPECT_EQ(Column(*left), ".m.m.m.o.o.o.o.g.g.g.g.g.g.g");

  right->SetData(1000);  // a peak of two segments, held, then falling a segment every 2 ticks
  right->SetData(0);
  Tick(41);
  right->SetData(0);
  EXPECT_EQ(right->Core().Peak(), 1);
  Tick(2);
  right->SetData(0);
  EXPECT_EQ(right->Core().Peak(), 0);
  EXPECT_EQ(service.Count(), 0);

  left->SetValue(100);  // a reset (the end of play) ends the hold at once
  left->ResetData();
  EXPECT_EQ(left->Core().Peak(), 0);
  Tick(10);
  left->SetValue(100);
  left->SetEnabled(false);
  EXPECT_EQ(service.Count(), 0);
}

TEST_F(LevelTest, GrowthDirections) {
  struct Case {
    const char* what;
    TMMLevelDirection direction;
    const char* column;
  } cases[] = {
      {"reversed: from the top", dirReversed, "L.L.L.L.L.L.L.Y.Y.Y.Y.R.m.m."},
      {"symmetric: around the value, in its colour", dirSymetric, "g.g.g.g.L.L.L.L.L.o.o.m.m.m."},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TMMLevel* bar = ConverterBar();
    bar->SetNumPeaks(0);
    bar->SetDirection(t.direction);
    bar->SetData(t.direction == dirSymetric ? 32767 : 16384);
    EXPECT_EQ(Column(*bar), t.column);
    delete bar;
  }
}

TEST_F(LevelTest, OverflowEventsAndGain) {
  TMMLevel* bar = ConverterBar();
  int gain_overflows = 0, pcm_overflows = 0;
  bar->OnGainOverflow = [&](TObject*) { ++gain_overflows; };
  bar->OnPcmOverflow = [&](TObject*) { ++pcm_overflows; };
  bar->SetPCMWaveFormat([] {
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, 16, 1, 48000);
    return f;
  }());
  EXPECT_EQ(bar->SliceBytes(), 100);
  std::vector<int16_t> half(50, 16384), full(50, -32768);
  bar->SetGain(8);
  bar->SetGain(40);  // ignored
  EXPECT_EQ(bar->GetGain(), 8);
  bar->RefreshPCMData(half.data());
  EXPECT_EQ(bar->Core().Value(), 14);
  EXPECT_EQ(gain_overflows, 0);
  bar->RefreshPCMData(full.data());
  EXPECT_EQ(gain_overflows, 1);
  EXPECT_EQ(pcm_overflows, 1);
  EXPECT_EQ(bar->GetValue(), 50);  // full bar, halved back by the gain
  WAVEFORMATEX adpcm{};
  adpcm.wFormatTag = 2;
  EXPECT_THROW(bar->SetPCMWaveFormat(adpcm), EMMLevelError);
  EXPECT_THROW(bar->SetBPP(16), EMMDIBError);
}

TEST_F(LevelTest, KindSwapsAShapeThatDoesNotFit) {
  auto* bar = new TMMLevel(&form);
  EXPECT_EQ(bar->GetWidth(), 200);
  EXPECT_EQ(bar->GetHeight(), 17);
  bar->SetKind(lkVertical);
  EXPECT_EQ(bar->GetWidth(), 17);
  EXPECT_EQ(bar->GetHeight(), 200);
  EXPECT_EQ(bar->Core().Segments(), 99);
}

TEST_F(LevelTest, Screenshots) {
  struct Look {
    TMMLevelDirection direction;
    bool active_doted, inactive_doted;
    int value;
  } looks[] = {{dirNormal, false, false, 80},
               {dirReversed, true, false, 60},
               {dirSymetric, false, true, 50},
               {dirNormal, false, true, 95}};
  int top = 8;
  for (const Look& l : looks) {
    auto* bar = new TMMLevel(&form);
    bar->SetParent(&form);
    bar->SetBounds(50, top, 200, 17);
    bar->SetSpotWidth(3);
    bar->SetDirection(l.direction);
    bar->SetActiveDoted(l.active_doted);
    bar->SetInactiveDoted(l.inactive_doted);
    bar->SetValue(l.value);
    top += 24;
  }
  auto* left = ConverterBar(10);
  auto* right = ConverterBar(20);
  left->SetValue(70);
  right->SetValue(40);
  uitest::SaveScreenshot(form, "level_bars");
}

}  // namespace
}  // namespace vant
