// TMMSpectrum as a control: a sine lights the bar its frequency names, peak marks, the setters'
// limits, the disabled look, the scrolling line, the peak text, the position queries and
// screenshots of every kind.
#include "mmspectrum.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "clock.h"
#include "display_signals.h"
#include "mmpcmsup.h"
#include "shown_pixels.h"
#include "timerservice.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_form.h"
#include "ui_testing.h"

namespace vant {
namespace {

using testing::CanvasPixelIs;
using testing::Chord;
using testing::Pcm16;
using testing::Sine;

class SpectrumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    SetClock(&clock);
    SetTimerService(&service);
    form.SetBounds(0, 0, 360, 220);
    form.SetColor(clGray);
    form.Show();
  }
  void TearDown() override {
    Application->ProcessMessages();
    SetTimerService(nullptr);
    SetClock(nullptr);
  }
  // 16-bit mono at 44.1 kHz, green bars with unlit spots in dark green.
  TMMSpectrum* Make(int width = 300, int height = 150, int fft = 1024) {
    auto* s = new TMMSpectrum(&form);
    s->SetParent(&form);
    s->SetBounds(10, 10, width, height);
    s->SetPCMWaveFormat([] {
      WAVEFORMATEX f{};
      pcmBuildWaveHeader(f, 16, 1, 44100);
      return f;
    }());
    s->SetFFTLength(fft);
    for (int z = 1; z <= 3; ++z) {
      s->SetBarColor(z, clLime);
      s->SetInactiveColor(z, clGreen);
    }
    return s;
  }
  void Tick(int n) {
    for (int i = 0; i < n; ++i) {
      clock.AdvanceMillis(kMMTimerPeriod);
      ASSERT_TRUE(service.Settle());
    }
  }
  // The bar column x of the drawing area, bottom to top: L lit, g unlit, '.' else.
  static std::string Column(TMMSpectrum& s, int x) {
    std::string out;
    const TRect r = s.DrawingRect();
    for (int y = r.Bottom - 1; y >= r.Top; --y) {
      const TColor c = uitest::RenderedPixel(s, r.Left + x, y);
      out += c == clLime ? 'L' : c == clGreen ? 'g' : '.';
    }
    return out;
  }

  ManualClock clock;
  ThreadTimerService service{clock};
  ScopedAnswerer dialogs;
  TForm form{nullptr};
};

TEST_F(SpectrumTest, SineLightsTheBarOfItsFrequency) {
  TMMSpectrum* s = Make();
  s->SetSpace(0);
  const int w = s->DrawingRect().Right - s->DrawingRect().Left;
  for (double freq : {2000.0, 9000.0}) {
    SCOPED_TRACE(freq);
    const auto slice = Pcm16(Sine(1024, freq, 44100, 30000));
    s->RefreshPCMData(slice.data());
    // The linear axis runs from 0 to 22,050 Hz over the width.
    const int x = static_cast<int>(freq / 22050 * w);
    EXPECT_EQ(Column(*s, x).substr(0, 10), "L.L.L.L.L.");
    // Far from the tone only unlit spots stand.
    EXPECT_EQ(Column(*s, x + 40).substr(0, 10), "g.g.g.g.g.");
    EXPECT_NEAR(s->GetFrequencyAtPos({s->DrawingRect().Left + x, s->DrawingRect().Top}), freq,
                22050.0 / w + 1);
  }
}

TEST_F(SpectrumTest, PeakMarkHoldsFallsAndStopsAtSpotOne) {
  TMMSpectrum* s = Make(60, 42, 64);  // 40 rows inside the bevel: 20 spots of one row
  s->SetSpace(0);
  s->SetNumPeaks(5);
  s->SetPeakDelay(1);
  ASSERT_EQ(s->NumSpots(), 20);
  std::vector<int32_t> mags(32, 0);
  mags[4] = 8'220'000;  // 3.5 rows: two spots
  s->RefreshMagnitudeData(mags.data());
  int x = 0;
  while (s->Core().FirstBins()[x] != 4) ++x;
  EXPECT_EQ(Column(*s, x).substr(0, 8), "L.L.g.g.");
  std::fill(mags.begin(), mags.end(), 0);
  s->RefreshMagnitudeData(mags.data());
  // The mark is two spots, never below spot 1.
  EXPECT_EQ(Column(*s, x).substr(0, 8), "L.L.g.g.");
  Tick(3);
  s->RefreshMagnitudeData(mags.data());
  EXPECT_EQ(Column(*s, x).substr(0, 8), "g.g.g.g.");
}

TEST_F(SpectrumTest, SettersKeepTheirLimits) {
  TMMSpectrum* s = Make(194, 89, 128);
  struct Case {
    const char* what;
    std::function<void()> set;
    std::function<int()> get;
    int expected;
  } cases[] = {
      {"FFTLength 1000", [&] { s->SetFFTLength(1000); }, [&] { return s->GetFFTLength(); }, 512},
      {"FFTLength 5000", [&] { s->SetFFTLength(5000); }, [&] { return s->GetFFTLength(); }, 4096},
      {"FFTLength 3", [&] { s->SetFFTLength(3); }, [&] { return s->GetFFTLength(); }, 8},
      {"FrequencyScale 3", [&] { s->SetFrequencyScale(3); }, [&] { return s->GetFrequencyScale(); },
       2},
      {"FrequencyScale 20", [&] { s->SetFrequencyScale(20); },
       [&] { return s->GetFrequencyScale(); }, 16},
      {"SampleRate 5000", [&] { s->SetSampleRate(5000); }, [&] { return s->GetSampleRate(); },
       8000},
      {"Point1 0 ignored", [&] { s->SetPoint1(0); }, [&] { return s->GetPoint1(); }, 50},
      {"Point1 101 ignored", [&] { s->SetPoint1(101); }, [&] { return s->GetPoint1(); }, 50},
      {"Space 6 ignored", [&] { s->SetSpace(6); }, [&] { return s->GetSpace(); }, 1},
      {"NumPeaks 6 ignored", [&] { s->SetNumPeaks(6); }, [&] { return s->GetNumPeaks(); }, 1},
      {"SpotHeight above a third ignored", [&] { s->SetSpotHeight(40); },
       [&] { return s->GetSpotHeight(); }, 1},
      {"VerticalScale 900", [&] { s->SetVerticalScale(900); },
       [&] { return s->GetVerticalScale(); }, 500},
      {"Decay 20", [&] { s->SetDecay(20); }, [&] { return s->GetDecay(); }, 16},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    t.set();
    EXPECT_EQ(t.get(), t.expected);
  }
  WAVEFORMATEX adpcm{};
  adpcm.wFormatTag = 2;
  EXPECT_THROW(s->SetPCMWaveFormat(adpcm), EMMSpectrumError);
  EXPECT_THROW(s->SetBPP(16), EMMDIBError);
  // The slice follows bits, channels and length.
  s->SetMode(mStereo);
  s->SetFFTLength(256);
  EXPECT_EQ(s->SliceBytes(), 2 * 2 * 256);
}

TEST_F(SpectrumTest, DisabledDotsAndLinesUseTheFirstInactiveColour) {
  for (TMMSpectrumKind kind : {skDots, skVLines}) {
    SCOPED_TRACE(kind);
    TMMSpectrum* s = Make(100, 60, 128);
    s->SetInactiveColor(1, clMaroon);
    s->SetKind(kind);
    s->SetEnabled(false);
    const TRect r = s->DrawingRect();
    // Nothing lit: the dots lie on the bottom row, the vertical lines about the middle.
    const int y = kind == skDots ? r.Bottom - 1 : (r.Top + r.Bottom) / 2;
    EXPECT_EQ(uitest::RenderedPixel(*s, r.Left + 20, y), clMaroon);
    delete s;
  }
}

TEST_F(SpectrumTest, ScrollMovesEarlierLinesDown) {
  TMMSpectrum* s = Make(120, 80, 256);
  s->SetKind(skScroll);
  const auto slice = Pcm16(Chord(256, 44100));
  s->RefreshPCMData(slice.data());
  TMMDIBCanvas& c = s->DIBCanvas();
  const int h = c.GetHeight();
  std::vector<std::pair<int, int>> lit;
  for (int x = 0; x < c.GetWidth(); ++x)
    for (int y = 0; y < h - 2; ++y)
      if (CanvasPixelIs(c, x, y, clLime)) lit.push_back({x, y});
  ASSERT_FALSE(lit.empty());
  s->RefreshPCMData(slice.data());
  for (auto [x, y] : lit) ASSERT_TRUE(CanvasPixelIs(c, x, y + 2, clLime)) << x << "," << y;
  // The top rows are cleared for the newest line.
  for (int x = 0; x < c.GetWidth(); ++x) ASSERT_TRUE(CanvasPixelIs(c, x, 0, clBlack));
}

TEST_F(SpectrumTest, MovingBarsReachTheScreenThroughTheRowsDrawn) {
  // Music moving the bars: each frame after the first reads only the bars it drew again (never
  // the whole picture), and the control's canvas still shows every pixel of the surface.
  TMMSpectrum* s = Make();
  s->SetNumPeaks(1);
  TMMDIBCanvas& c = s->DIBCanvas();
  const TRect r = s->DrawingRect();
  const uint64_t whole = uint64_t(c.GetWidth()) * c.GetHeight();
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE(k);
    const auto slice = Pcm16(Chord(1024, 44100, 256 * k));
    const uint64_t before = c.View().BytesRead();
    s->RefreshPCMData(slice.data());
    if (k > 0) EXPECT_LT(c.View().BytesRead() - before, whole / 2);
    for (int y = 0; y < c.GetHeight(); ++y)
      for (int x = 0; x < c.GetWidth(); ++x) {
        const uint32_t rgb = c.View().ColorEntry(c.DIB_GetPixelAddress(c.Surface(), x, y)[0]);
        ASSERT_EQ(s->Canvas().GetPixel(r.Left + x, r.Top + y),
                  RGBColor(rgb >> 16, rgb >> 8 & 255, rgb & 255))
            << x << "," << y;
      }
  }
}

TEST_F(SpectrumTest, PeakTextNamesTheStrongestFrequency) {
  TMMSpectrum* s = Make(300, 150, 2048);
  s->SetDisplayPeak(true);
  for (bool log_freq : {false, true}) {
    SCOPED_TRACE(log_freq);
    s->SetLogFreq(log_freq);
    const auto slice = Pcm16(Sine(2048, 3150, 44100, 20000));
    s->RefreshPCMData(slice.data());
    ASSERT_FALSE(s->PeakText().empty());
    EXPECT_NEAR(std::atof(s->PeakText().c_str()), 3150, 44100.0 / 2048);
    EXPECT_NEAR(s->GetPeak().Freq, 3150, 44100.0 / 2048);
  }
  // Silence: no column above 5 pixels, no text.
  std::vector<uint8_t> silence(4096, 0);
  s->RefreshPCMData(silence.data());
  EXPECT_TRUE(s->PeakText().empty());
}

TEST_F(SpectrumTest, PositionsAndOptimalWidth) {
  TMMSpectrum* s = Make(194, 89, 128);
  const TRect r = s->DrawingRect();
  const int w = r.Right - r.Left, h = r.Bottom - r.Top;
  EXPECT_EQ(s->GetFrequencyAtPos({r.Left, r.Top}), 0);
  EXPECT_NEAR(s->GetFrequencyAtPos({r.Right - 1, r.Top}), 22050, 1e-6);
  EXPECT_EQ(s->GetFrequencyAtPos({r.Right, r.Top}), 0);  // outside
  EXPECT_NEAR(s->GetAmplitudeAtPos({r.Left, r.Top}), 1.0, 1e-9);
  EXPECT_NEAR(s->GetAmplitudeAtPos({r.Left, r.Bottom - 1}), 0.0, 1e-9);
  s->SetLogAmp(true);
  EXPECT_NEAR(s->GetAmplitudeAtPos({r.Left, r.Bottom - 1}), -60.0, 1e-9);
  // 64 visible bins: the widest multiple of 64 that fits, plus the bevel.
  const int b = (s->GetWidth() - w) / 2;
  EXPECT_EQ(s->GetOptimalWidth(400), 2 * b + 64 * ((400 - 2 * b) / 64));
  EXPECT_EQ(s->GetOptimalWidth(40), 40);
  s->SetKind(skLines);
  EXPECT_EQ(s->GetOptimalWidth(400), 400);
  (void)h;
}

TEST_F(SpectrumTest, MeasuringBoxStaysInsideAndLeavesNoTrace) {
  TMMSpectrum* s = Make(200, 120, 256);
  const auto chord = Pcm16(Chord(256, 44100));
  s->RefreshPCMData(chord.data());
  TMMDIBCanvas& c = s->DIBCanvas();
  auto picture = [&] {
    return std::vector<uint8_t>(c.Surface(), c.Surface() + c.ScanWidth() * c.GetHeight());
  };
  const std::vector<uint8_t> before = picture();
  const TRect r = s->DrawingRect();
  const int w = r.Right - r.Left, h = r.Bottom - r.Top;
  uitest::MouseDown(*s, r.Right - 3, r.Bottom - 3);
  ASSERT_TRUE(s->InInfoMode());
  // Near the bottom right corner the box moves up by 40 rows and left to the right edge.
  const TRect box = s->InfoBox().Box();
  EXPECT_EQ(box.Right, w);
  EXPECT_EQ(box.Top, h - 3 + 15 - 40);
  EXPECT_LE(box.Bottom, h);
  EXPECT_TRUE(CanvasPixelIs(c, box.Left + 2, box.Top + 2, clWhite));
  EXPECT_TRUE(CanvasPixelIs(c, box.Left, box.Top + 2, clBlack));
  // Meanwhile slices are ignored.
  const auto tone = Pcm16(Sine(256, 5000, 44100, 30000));
  const std::vector<uint8_t> with_box = picture();
  s->RefreshPCMData(tone.data());
  EXPECT_EQ(picture(), with_box);
  uitest::MouseUp(*s, r.Right - 3, r.Bottom - 3);
  EXPECT_FALSE(s->InInfoMode());
  EXPECT_EQ(picture(), before);
  EXPECT_EQ(s->InfoText({r.Left, r.Bottom - 1}), "0.000 KHz 0.00 V");
  s->SetLogAmp(true);
  EXPECT_EQ(s->InfoText({r.Left, r.Top}), "0.000 KHz -0.0 dB");
}

TEST_F(SpectrumTest, UnitsInTheCornersAndScaleSettingsShownAtOnce) {
  TMMSpectrum* s = Make(340, 200, 1024);
  s->SetDrawAmpScale(true);
  s->SetDrawFreqScale(true);
  s->SetScaleTextColor(clWhite);
  Application->ProcessMessages();
  const int W = s->GetWidth(), H = s->GetHeight();
  // Linear: "V" right-aligned at x 16 and from x W - 20 on row H - 32; "Hz" from (W - 30,
  // H - 20): in the corners the scales leave. In dB the unit is "db", right-aligned at x 23.
  auto unit = [&](int x, int y, const char* text, int alignment, TColor color) {
    return ShowsTextAt(*s, x, y, text, "ARIAL", SPECTRUM_SCALEFONTSIZE, alignment, color);
  };
  EXPECT_TRUE(unit(16, H - 32, "V", 1, clWhite)) << "V, left";
  EXPECT_TRUE(unit(W - 20, H - 32, "V", 0, clWhite)) << "V, right";
  EXPECT_TRUE(unit(W - 30, H - 20, "Hz", 0, clWhite)) << "Hz";
  s->SetLogAmp(true);
  Application->ProcessMessages();
  EXPECT_TRUE(unit(23, H - 32, "db", 1, clWhite)) << "db, left";
  EXPECT_TRUE(unit(W - 20, H - 32, "db", 0, clWhite)) << "db, right";
  // The colours and the bar handler are properties: the control shows a change at once.
  s->SetScaleTextColor(clYellow);
  Application->ProcessMessages();
  EXPECT_TRUE(unit(23, H - 32, "db", 1, clYellow));
  s->SetScaleLineColor(clRed);
  Application->ProcessMessages();
  EXPECT_GT(ShownPixels(*s, s->ClientRect(), clRed), 20);
  s->SetKind(skBars);
  Application->ProcessMessages();
  const TRect picture = s->DrawingRect();
  EXPECT_GT(ShownPixels(*s, picture, clGreen), 0) << "unlit spots";
  int bars = 0;
  s->SetOnDrawBar([&](TObject*, TMMDIBCanvas& c, const TRect& r, int, int) {
    ++bars;
    c.DIB_SetTColor(clBlue);
    c.DIB_FILLRECT(r);
  });
  Application->ProcessMessages();
  EXPECT_GT(bars, 0);
  EXPECT_GT(ShownPixels(*s, picture, clBlue), 0);
  s->SetOnDrawBar(nullptr);
  Application->ProcessMessages();
  EXPECT_EQ(ShownPixels(*s, picture, clBlue), 0);
  EXPECT_GT(ShownPixels(*s, picture, clGreen), 0) << "the unlit spots again";
}

TEST_F(SpectrumTest, Screenshots) {
  const TMMSpectrumKind kinds[] = {skDots, skLines, skVLines, skBars, skPeaks, skScroll};
  const char* names[] = {"dots", "lines", "vlines", "bars", "peaks", "scroll"};
  for (int k = 0; k < 6; ++k) {
    TMMSpectrum* s = Make(340, 200, 1024);
    s->SetBarColor(2, clYellow);
    s->SetBarColor(3, clRed);
    s->SetInactiveColor(2, clOlive);
    s->SetInactiveColor(3, clMaroon);
    s->SetKind(kinds[k]);
    s->SetLogFreq(true);
    s->SetLogAmp(true);
    s->SetDrawGrid(true);
    s->SetDrawAmpScale(true);
    s->SetDrawFreqScale(true);
    s->SetScaleTextColor(clWhite);
    s->SetScaleLineColor(clWhite);
    for (int i = 0; i < 12; ++i) {
      const auto slice = Pcm16(Chord(1024, 44100, i * 512));
      s->RefreshPCMData(slice.data());
    }
    uitest::SaveScreenshot(*s, std::string("spectrum_") + names[k]);
    delete s;
  }
}

}  // namespace
}  // namespace vant
