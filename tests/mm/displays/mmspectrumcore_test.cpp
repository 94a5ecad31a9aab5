// The spectrum analyser's numbers: a sine of known frequency lands where its frequency says on
// both axes, full scale saturates instead of wrapping, silence stays dark, the overflow limits,
// smoothing, column merging and the peak's hold and fall.
#include "mmspectrumcore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

std::vector<uint8_t> Sine16(int n, double freq, int rate, double amplitude, int channels = 1) {
  std::vector<uint8_t> v(static_cast<size_t>(n) * 2 * channels);
  for (int i = 0; i < n; ++i) {
    const auto s = static_cast<int16_t>(
        std::lround(amplitude * std::sin(2 * std::numbers::pi * freq * i / rate)));
    for (int c = 0; c < channels; ++c) std::memcpy(&v[(i * channels + c) * 2], &s, 2);
  }
  return v;
}

struct Analyser {
  TMMSpectrumCore core;
  Analyser(int n, int rate, bool log_freq, bool log_amp, int w = 200, int h = 100) {
    core.Input.Bits = b16Bit;
    core.Input.SetFFTLength(n);
    core.SampleRate = rate;
    core.LogFreq = log_freq;
    core.LogAmp = log_amp;
    core.SetSize(w, h);
    core.SetupXScale();
  }
  int Feed(const std::vector<uint8_t>& slice) {
    const int over = core.Input.Transform(slice.data(), core.FFTData());
    core.CalcMagnitude(false);
    core.CalcDisplayValues();
    return over;
  }
  // The record with the largest value.
  const TDrawVal* Strongest() {
    const TDrawVal* best = nullptr;
    for (TDrawVal* r = core.Records(); r->First != -1; ++r)
      if (!best || r->Value > best->Value) best = r;
    return best;
  }
};

TEST(SpectrumCore, SinePeakColumnOnBothAxesAtEachLength) {
  const int rate = 44100, w = 200;
  for (int n : {128, 1024, 4096}) {
    for (bool log_freq : {false, true}) {
      for (double freq : {1000.0, 5000.0}) {
        SCOPED_TRACE(testing::Message() << "N " << n << (log_freq ? " log " : " lin ") << freq);
        Analyser a(n, rate, log_freq, false, w);
        a.Feed(Sine16(n, freq, rate, 16000));
        const TDrawVal* s = a.Strongest();
        ASSERT_NE(s, nullptr);
        // Where the frequency lies on the axis, from the axis's definition: linear from 0 to
        // half the rate; logarithmic from one bin (rate / n) to half the rate.
        const double bin = double(rate) / n;
        double x, tolerance;
        if (!log_freq) {
          x = freq / (rate / 2.0) * w;
          tolerance = bin / (rate / 2.0) * w + 1;
        } else {
          x = w * std::log(freq / bin) / std::log(n / 2.0);
          tolerance = w * std::log((freq + bin) / freq) / std::log(n / 2.0) + 2;
        }
        EXPECT_LE(s->First, x + tolerance);
        EXPECT_GE(s->End, x - tolerance);
        // The strongest frequency is named within one bin.
        const TPeak p = a.core.GetPeak();
        EXPECT_NEAR(p.Freq, freq, bin);
        // The window's coherent gain (0.54) and at most its scalloping loss (1.8 dB) below the
        // sine's level.
        EXPECT_NEAR(p.Level, 20 * std::log10(16000 / 32768.0 * 0.54) - 0.9, 1.0);
      }
    }
  }
}

TEST(SpectrumCore, FullScaleSaturatesAndSilenceStaysDark) {
  const int n = 1024, rate = 48000;
  for (bool log_amp : {false, true}) {
    SCOPED_TRACE(log_amp ? "log" : "linear");
    Analyser a(n, rate, false, log_amp);
    // A full-scale sine on a bin: the window's gain 0.54 of full scale, or 5.4 dB below the
    // top of the 60 dB range.
    a.Feed(Sine16(n, 3000, rate, 32767));
    EXPECT_NEAR(a.Strongest()->Value, log_amp ? 100 * (1 - 5.35 / 60) : 54, 1.5);
    // The loudest bin there is, (-32768, -32768): 2^31 as power, which must not wrap.
    std::fill(a.core.FFTData(), a.core.FFTData() + n, 0);
    a.core.FFTData()[2 * 64] = a.core.FFTData()[2 * 64 + 1] = -32768;
    a.core.CalcMagnitude(false);
    EXPECT_GT(a.core.CalcDisplayValues(), 0);  // gain overflow reported
    EXPECT_GE(a.Strongest()->Value, a.core.H());
    a.Feed(std::vector<uint8_t>(n * 2, 0));
    for (TDrawVal* r = a.core.Records(); r->First != -1; ++r) ASSERT_EQ(r->Value, 0);
  }
  // DC at full scale through a rectangular window: twice the 16-bit range before scaling.
  TMMSpectrumInput in;
  in.Bits = b16Bit;
  in.SetFFTLength(64);
  in.SetWindow(fwRectangular);
  std::vector<uint8_t> dc(128);
  for (int i = 0; i < 64; ++i) {
    const int16_t s = 32000;
    std::memcpy(&dc[i * 2], &s, 2);
  }
  std::vector<int16_t> out(64);
  in.Transform(dc.data(), out.data());
  EXPECT_EQ(out[0], 32767);
  // Ready-made magnitudes at the 32-bit limit stay at the top.
  Analyser a(64, rate, false, false);
  std::vector<int32_t> given(32, 0x7FFFFFFF);
  a.core.SetMagnitudeData(given.data());
  a.core.CalcMagnitude(true);
  a.core.CalcDisplayValues();
  EXPECT_GE(a.Strongest()->Value, a.core.H());
}

TEST(SpectrumCore, FullScaleSamplesAreReported) {
  struct Case {
    const char* what;
    TMMBits bits;
    int channels;
    TMMChannel channel;
    int order;
    int left, right;
    int reports;  // per sample position
  } cases[] = {
      {"8-bit 255", b8Bit, 1, chBoth, 0, 255, 0, 1},
      {"8-bit 254", b8Bit, 1, chBoth, 0, 254, 0, 0},
      {"16-bit 32767", b16Bit, 1, chBoth, 0, 32767, 0, 1},
      {"16-bit 32766", b16Bit, 1, chBoth, 0, 32766, 0, 0},
      {"mean 32766, no differencing", b16Bit, 2, chBoth, 0, 32766, 32766, 1},
      {"mean 32766, first difference", b16Bit, 2, chBoth, 1, 32766, 32767, 1},
      {"mean 32766, second difference", b16Bit, 2, chBoth, 2, 32766, 32767, 0},
      {"right channel only", b16Bit, 2, chRight, 0, 0, 32767, 1},
      {"left channel only", b16Bit, 2, chLeft, 0, 0, 32767, 0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TMMSpectrumInput in;
    in.Bits = t.bits;
    in.Channels = t.channels;
    in.Channel = t.channel;
    in.Order = t.order;
    in.SetFFTLength(8);
    std::vector<uint8_t> slice(in.SliceBytes());
    for (int i = 0; i < 8 * t.channels; ++i) {
      const int v = i % t.channels ? t.right : t.left;
      if (t.bits == b8Bit) {
        slice[i] = static_cast<uint8_t>(v);
      } else {
        const auto s = static_cast<int16_t>(v);
        std::memcpy(&slice[i * 2], &s, 2);
      }
    }
    std::vector<int16_t> out(8);
    EXPECT_EQ(in.Transform(slice.data(), out.data()), 8 * t.reports);
  }
}

TEST(SpectrumCore, LengthsAndColumnsMerge) {
  EXPECT_EQ(SpectrumFFTLength(1000), 512);
  EXPECT_EQ(SpectrumFFTLength(5000), 4096);
  EXPECT_EQ(SpectrumFFTLength(3), 8);
  // 200 columns over 32 bins: neighbours with the same bin form one record.
  Analyser wide(64, 8000, false, false, 200);
  int records = 0;
  for (TDrawVal* r = wide.core.Records(); r->First != -1; ++r) ++records;
  wide.core.CalcDisplayValues();
  records = 0;
  for (TDrawVal* r = wide.core.Records(); r->First != -1; ++r) {
    EXPECT_GT(r->End, r->First);
    ++records;
  }
  EXPECT_EQ(records, 32);
  // 20 columns over 512 bins: a column shows the largest of its bins.
  Analyser narrow(1024, 8000, false, false, 20);
  std::vector<int32_t> given(512, 0);
  given[100] = 1 << 20;  // inside column 3 (bins 76 .. 101)
  narrow.core.SetMagnitudeData(given.data());
  narrow.core.CalcMagnitude(true);
  narrow.core.CalcDisplayValues();
  const TDrawVal* s = narrow.Strongest();
  EXPECT_EQ(s->First, 3);
  EXPECT_EQ(narrow.core.Peak().Column, 3);
}

TEST(SpectrumCore, UniformDecayAveragesItsFrames) {
  struct Case {
    int decay;
    int frames;
  } cases[] = {{1, 1}, {2, 2}, {16, 30}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.decay);
    Analyser a(64, 8000, false, false);
    a.core.SetDecayMode(dmUniform);
    a.core.SetDecay(t.decay);
    EXPECT_EQ(a.core.UniformFrames(), t.frames);
    std::vector<int32_t> loud(32, 1 << 20), quiet(32, 0);
    a.core.SetMagnitudeData(loud.data());
    a.core.CalcMagnitude(true);
    const int32_t full = a.core.Magnitudes()[5];  // √(2^20) × 16
    EXPECT_EQ(full, 1024 * 16);
    a.core.SetMagnitudeData(quiet.data());
    a.core.CalcMagnitude(true);
    // One loud frame among two: half; among one: gone.
    EXPECT_EQ(a.core.Magnitudes()[5], t.frames == 1 ? 0 : full / 2);
  }
}

TEST(SpectrumCore, PeaksHoldThenFall) {
  struct Case {
    int delay, speed;
    std::vector<int> peaks;  // after each tick
  } cases[] = {
      {1, 0, {5, 5, 0}},        // holds 3 ticks, then drops at once
      {0, 2, {4, 4, 3, 3, 2}},  // holds 1 tick, then one level every 2 ticks
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.delay);
    Analyser a(64, 8000, false, false);
    a.core.PeakDelay = t.delay;
    a.core.PeakSpeed = t.speed;
    a.core.CalcDisplayValues();
    TDrawVal& r = a.core.Records()[0];
    a.core.HoldPeak(r, 5);
    for (int expected : t.peaks) {
      a.core.PeakTick();
      EXPECT_EQ(r.Peak.load(), expected);
    }
  }
  // No peaks: nothing is held.
  Analyser a(64, 8000, false, false);
  a.core.NumPeaks = 0;
  a.core.CalcDisplayValues();
  a.core.HoldPeak(a.core.Records()[0], 5);
  EXPECT_EQ(a.core.Records()[0].Peak.load(), 0);
}

}  // namespace
