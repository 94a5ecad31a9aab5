// TMMMeter as a control: the needles where the numbers put them, the peak needle's hold on the
// shared timer, the face drawn once, the data interface's refusals, and screenshots of meters
// fed a music-like signal.
#include "mmmeter.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "display_form_fixture.h"
#include "mmpcmsup.h"
#include "ui_testing.h"

namespace vant {
namespace {

// A few partials with a slow swell: something like music for the needles to follow.
std::vector<int16_t> MusicLike(int frames, int channels, int rate) {
  std::vector<int16_t> v;
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double swell = 0.55 + 0.45 * std::sin(2 * std::numbers::pi * 3 * t);
    const double s = 0.5 * std::sin(2 * std::numbers::pi * 110 * t) +
                     0.3 * std::sin(2 * std::numbers::pi * 660 * t) +
                     0.2 * std::sin(2 * std::numbers::pi * 2500 * t);
    for (int c = 0; c < channels; ++c)
      v.push_back(static_cast<int16_t>(std::lround(s * swell * (c ? 20000 : 30000))));
  }
  return v;
}

class MeterTest : public DisplayFormTest {
 protected:
  TMMMeter* NewMeter(int left = 10) {
    auto* m = new TMMMeter(&form);
    m->SetParent(&form);
    m->SetBounds(left, 10, 170, 90);
    return m;
  }
  // Whether the needle of `value` shows `color` half way along it (within a pixel).
  static bool NeedleShows(TMMMeter& m, int32_t value, TColor color) {
    const TMMMeterPoint p = m.Geometry().NeedleEnd(value, 70);
    const TRect f = m.FaceRect();
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (uitest::RenderedPixel(m, f.Left + p.X + dx, f.Top + p.Y + dy) == color) return true;
    return false;
  }
};

TEST_F(MeterTest, Defaults) {
  TMMMeter* m = NewMeter();
  EXPECT_EQ(m->GetCaption(), "dB");
  EXPECT_EQ(m->GetSensitivy(), -50);
  EXPECT_EQ(m->GetScaleTicks(), 41);
  EXPECT_EQ(m->SliceBytes(), 50);  // 8-bit mono, 50 frames
  m->SetGain(40);                  // ignored
  EXPECT_EQ(m->GetGain(), 0);
  m->SetSamples(0);
  EXPECT_EQ(m->GetSamples(), 1);
  m->SetScaleAngle(200);
  EXPECT_EQ(m->GetScaleAngle(), 180);
  m->SetSensitivy(-100);
  EXPECT_EQ(m->GetSensitivy(), -90);
  m->SetDCOffset(1, -7);
  m->SetDCOffset(2, 9);  // no such channel
  EXPECT_EQ(m->GetDCOffset(1), -7);
  EXPECT_EQ(m->GetDCOffset(0), 0);
  EXPECT_EQ(m->GetDCOffset(2), 0);
}

TEST_F(MeterTest, NeedlesFollowTheValueAndThePeakHolds) {
  TMMMeter* m = NewMeter();
  m->SetValue(100);
  EXPECT_EQ(m->Core().Needle(), 32767);
  EXPECT_TRUE(NeedleShows(*m, 32767, clWhite));
  m->SetValue(0);
  EXPECT_TRUE(NeedleShows(*m, 0, clWhite));
  EXPECT_TRUE(NeedleShows(*m, 32767, clRed));  // the peak needle stays
  Tick(40);
  m->SetValue(0);
  EXPECT_TRUE(NeedleShows(*m, 32767, clRed));
  Tick(1);  // 41 ticks: the peak needle snaps back to the needle
  m->SetValue(0);
  EXPECT_EQ(m->Core().Peak(), 0);
  EXPECT_FALSE(NeedleShows(*m, 32767, clRed));
  EXPECT_FALSE(NeedleShows(*m, 32767, clWhite));
}

// A needle fed every slice moves less than a pixel most of the time: then nothing is drawn.
TEST_F(MeterTest, AValueThatLeavesTheNeedlesOnTheirPixelsDrawsNothing) {
  TMMMeter* m = NewMeter();
  int draws = 0;
  m->OnPostPaint = [&](TObject*) { ++draws; };
  m->SetData(20000);
  const int first = draws;
  const int32_t needle = m->Core().Needle(), peak = m->Core().Peak();
  m->SetData(20004);  // a few parts in a hundred thousand: a hair's width on a 70-pixel needle
  ASSERT_NE(m->Core().Needle(), needle);
  ASSERT_NE(m->Core().Peak(), peak);
  EXPECT_EQ(draws, first);
  m->SetData(30000);
  EXPECT_EQ(draws, first + 1);
  EXPECT_TRUE(NeedleShows(*m, m->Core().Needle(), clWhite));
}

TEST_F(MeterTest, PeakSettingsEndTheHoldButLeaveNeedleAndSmoothing) {
  TMMMeter* m = NewMeter();
  m->SetDecayMode(dmExponential);
  m->SetDecay(3);
  m->SetValue(100);
  const int32_t first = m->Core().Needle();
  ASSERT_GT(first, 0);
  ASSERT_EQ(m->Core().PeakCounter(), 41);
  m->SetShowPeak(false);
  EXPECT_EQ(m->Core().Needle(), first);
  EXPECT_EQ(m->Core().PeakCounter(), 0);
  m->SetValue(100);  // the smoothing goes on rising from where it was
  EXPECT_GT(m->Core().Needle(), first);
  m->SetShowPeak(true);
  EXPECT_EQ(m->Core().PeakCounter(), 0);
  m->SetValue(100);
  EXPECT_EQ(m->Core().PeakCounter(), 41);
  m->SetPeakDelay(10);
  EXPECT_EQ(m->Core().PeakCounter(), 0);
  m->SetValue(100);
  EXPECT_EQ(m->Core().PeakCounter(), 21);
  m->SetPeakSpeed(3);
  EXPECT_EQ(m->Core().PeakCounter(), 0);
}

TEST_F(MeterTest, GeometryIsHeldToWhatTheFaceCanUse) {
  TMMMeter* m = NewMeter();
  struct Case {
    const char* what;
    std::function<void(int)> set;
    std::function<int()> get;
    int value, kept;
  } cases[] = {
      {"NeedleOffset", [&](int v) { m->SetNeedleOffset(v); }, [&] { return m->GetNeedleOffset(); },
       INT_MAX, 32767},
      {"NeedleOffset", [&](int v) { m->SetNeedleOffset(v); }, [&] { return m->GetNeedleOffset(); },
       -5, 0},
      {"TopSpace", [&](int v) { m->SetTopSpace(v); }, [&] { return m->GetTopSpace(); }, INT_MIN,
       -32767},
      {"TopSpace", [&](int v) { m->SetTopSpace(v); }, [&] { return m->GetTopSpace(); }, -20, -20},
      {"ScaleHeight1", [&](int v) { m->SetScaleHeight1(v); }, [&] { return m->GetScaleHeight1(); },
       INT_MAX, 32767},
      {"ScaleHeight2", [&](int v) { m->SetScaleHeight2(v); }, [&] { return m->GetScaleHeight2(); },
       INT_MAX, 32767},
      {"NeedleWidth", [&](int v) { m->SetNeedleWidth(v); }, [&] { return m->GetNeedleWidth(); },
       INT_MAX, 32767},
      {"ScaleTicks", [&](int v) { m->SetScaleTicks(v); }, [&] { return m->GetScaleTicks(); },
       50'000'000, 1000},
      {"ScaleTicks", [&](int v) { m->SetScaleTicks(v); }, [&] { return m->GetScaleTicks(); },
       INT_MIN, 0},
      {"Samples", [&](int v) { m->SetSamples(v); }, [&] { return int(m->GetSamples()); },
       536'870'912, 1 << 20},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(std::string(t.what) + " = " + std::to_string(t.value));
    t.set(t.value);
    EXPECT_EQ(t.get(), t.kept);
  }
  // 16-bit stereo at the most frames: the slice is counted in 64 bits.
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  m->SetPCMWaveFormat(f);
  EXPECT_EQ(m->SliceBytes(), 4 << 20);
}

// The peak needle holds and falls with the clock, caught up when the meter next draws: no timer
// wakes the program for it.
TEST_F(MeterTest, ThePeakNeedleHoldsAndFallsWithTheClockWithoutATimer) {
  TMMMeter* m = NewMeter();
  Application->ProcessMessages();
  m->SetValue(50);
  EXPECT_EQ(service.Count(), 0) << "a timer for the hold";
  const int32_t held = m->Core().Peak();
  Tick(40);
  m->SetValue(10);
  EXPECT_EQ(m->Core().Peak(), held);
  Tick(1);
  m->SetValue(10);
  // Without a falling speed the peak needle dropped once, to the needle, and stays there until
  // a louder level comes.
  const int32_t dropped_to = m->Core().Peak();
  EXPECT_LT(dropped_to, held);
  Tick(20);
  m->SetValue(10);
  EXPECT_EQ(m->Core().Peak(), dropped_to);
  m->SetPeakSpeed(2);
  m->SetValue(100);
  const int32_t loud = m->Core().Peak();
  for (int i = 0; i < 100; ++i) {
    Tick(1);
    m->SetValue(0);
  }
  EXPECT_LT(m->Core().Peak(), loud) << "a new hold, then a fall";
  m->ResetData();
  EXPECT_EQ(m->Core().Peak(), 0);
  EXPECT_EQ(service.Count(), 0);
}

TEST_F(MeterTest, SlicesAndTheirErrors) {
  TMMMeter* m = NewMeter();
  int pcm = 0, gain = 0;
  m->OnPcmOverflow = [&](TObject*) { ++pcm; };
  m->OnGainOverflow = [&](TObject*) { ++gain; };
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  m->SetPCMWaveFormat(f);
  EXPECT_EQ(m->SliceBytes(), 200);
  EXPECT_EQ(m->GetPCMWaveFormat().nSamplesPerSec, 11025u);
  // Left and right cancel out in chBoth; the right channel alone is at full scale.
  std::vector<int16_t> slice;
  for (int i = 0; i < 50; ++i) slice.insert(slice.end(), {16384, -16384});
  m->RefreshPCMData(slice.data());
  EXPECT_EQ(m->Core().Needle(), 0);
  slice[1] = -32768;
  m->SetChannel(chRight);
  m->RefreshPCMData(slice.data());
  EXPECT_EQ(m->Core().Needle(), 32767);
  EXPECT_EQ(pcm, 1);
  EXPECT_EQ(gain, 1);
  // Disabled: slices are ignored and the needle rests.
  m->SetEnabled(false);
  EXPECT_EQ(m->Core().Needle(), 0);
  m->RefreshPCMData(slice.data());
  EXPECT_EQ(m->Core().Needle(), 0);
  WAVEFORMATEX adpcm{};
  adpcm.wFormatTag = 2;
  EXPECT_THROW(m->SetPCMWaveFormat(adpcm), EMMMeterError);
}

TEST_F(MeterTest, Screenshots) {
  const auto music = MusicLike(4800, 2, 48000);
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  TMMMeter* plain = NewMeter(10);
  TMMMeter* outer = NewMeter(190);
  outer->SetScaleOrigin(soOuter);
  outer->SetScaleAngle(120);
  outer->SetDecayMode(dmExponential);
  outer->SetDecay(3);
  TMMMeter* linear = NewMeter(370);
  linear->SetLogAmp(false);
  linear->SetScaleAngle(180);
  linear->SetNeedleWidth(2);
  linear->SetCaption("VU");
  for (TMMMeter* m : {plain, outer, linear}) {
    m->SetPCMWaveFormat(f);
    for (size_t i = 0; i + 100 <= music.size(); i += 100) m->RefreshPCMData(&music[i]);
  }
  for (TMMMeter* m : {plain, outer, linear}) EXPECT_GT(m->Core().Needle(), 0);
  uitest::SaveScreenshot(form, "meters");
  // What the plain meter shows, placed by hand: the pivot 30 below the face's middle, the arc
  // of 90 degrees with radius H + 30 - 14, long end ticks from R - 10 to R - 2.
  const TRect face = plain->FaceRect();
  const int W = face.Right - face.Left, H = face.Bottom - face.Top, R = H + 30 - 14;
  auto at = [&](double degrees, double radius, TColor color) {
    const double a = degrees * std::numbers::pi / 180;
    const int x = W / 2 - static_cast<int>(std::lround(std::cos(a) * radius));
    const int y = H + 30 - static_cast<int>(std::lround(std::sin(a) * radius));
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (uitest::RenderedPixel(*plain, face.Left + x + dx, face.Top + y + dy) == color)
          return true;
    return false;
  };
  EXPECT_TRUE(at(45, R - 6, 0x8000)) << "the left end tick, zone 1";
  EXPECT_TRUE(at(135, R - 6, 0xFF)) << "the right end tick, zone 3";
  EXPECT_TRUE(at(45 + 90 * 0.7, R - 6, 0xFFFF)) << "70 % along: zone 2";
  EXPECT_FALSE(at(90, R / 2.0, 0x8000)) << "nothing of the scale inside the arc";
  const double needle = 45 + 90.0 * plain->Core().Needle() / 32767;
  EXPECT_TRUE(at(needle, R * 0.6, clWhite)) << "the needle";
  // The caption, silver, in the band just above the bottom sixteenth.
  int silver = 0;
  for (int y = H - H / 16 - 14; y < H - H / 16; ++y)
    for (int x = W / 2 - 12; x < W / 2 + 12; ++x)
      silver += uitest::RenderedPixel(*plain, face.Left + x, face.Top + y) == 0xC0C0C0;
  EXPECT_GT(silver, 5) << "the caption";
}

}  // namespace
}  // namespace vant
