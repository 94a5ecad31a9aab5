// TMMMeter as a control: the needles where the numbers put them, the peak needle's hold on the
// shared timer, the face drawn once, the data interface's refusals, and screenshots of meters
// fed a music-like signal.
#include "mmmeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
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

TEST_F(MeterTest, ThePeakTimerRunsOnlyWhileThePeakNeedleIsHeldOrAboveTheNeedle) {
  TMMMeter* m = NewMeter();
  Application->ProcessMessages();
  EXPECT_EQ(service.Count(), 0);  // at rest
  m->SetValue(50);
  EXPECT_EQ(service.Count(), 1);  // the hold of a new peak
  Tick(41);
  EXPECT_EQ(m->Core().Peak(), m->Core().Needle());
  EXPECT_EQ(service.Count(), 0);  // the peak needle rests on a steady needle
  m->SetValue(10);
  EXPECT_EQ(service.Count(), 1);  // the needle fell below the peak needle
  Tick(1);
  EXPECT_EQ(m->Core().Peak(), m->Core().Needle());
  EXPECT_EQ(service.Count(), 0);
  m->SetValue(100);
  m->ResetData();
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
}

}  // namespace
}  // namespace vant
