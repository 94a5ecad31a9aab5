// The pitch stage: pass-through at 0, resampling at other steps across its read-ahead block,
// the end of the input, and the formats it refuses.
#include "mmpitch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "chainsource.h"

namespace {

using namespace chaintest;

struct Rig {
  explicit Rig(size_t samples, float pitch)
      : source(Counting16(samples), Pcm(1, 48000, 16)), stage(nullptr) {
    stage.SetInput(&source);
    stage.SetPitch(pitch);
    stage.SetBufferSize(16000);
    stage.Opened();
    stage.Started();
  }
  MemorySource source;
  TMMPitch stage;
};

TEST(Pitch, StepsFollowThePitchAndItsLimits) {
  struct {
    float pitch;
    uint32_t step;
  } cases[] = {{0, 65536}, {50, 98304}, {-50, 32768}, {80, 98304}, {-90, 32768}, {10, 72089}};
  TMMPitch p(nullptr);
  for (auto c : cases) {
    p.SetPitch(c.pitch);
    EXPECT_EQ(p.GetStep(), c.step) << c.pitch;
    EXPECT_FLOAT_EQ(p.GetPitch(), std::clamp(c.pitch, -50.f, 50.f));
  }
}

TEST(Pitch, ZeroPassesTheInputThroughAtTheSameSize) {
  Rig rig(20000, 0);
  Header out(16000);
  bool more = true;
  rig.stage.BufferLoad(&out.h, more);
  ASSERT_EQ(out.h.wh.dwBytesRecorded, 16000u);
  EXPECT_EQ(rig.source.Pulled(), 16000u) << "no read-ahead at pitch 0";
  for (size_t i = 0; i < 8000; ++i) ASSERT_EQ(Sample16(out.data.data(), i), int(i));
  EXPECT_TRUE(more);
}

TEST(Pitch, FiftyFillsAHeaderFromHalfAsMuchAgainAndContinuesAcrossPulls) {
  Rig rig(130000, 50);
  Header out(16000);
  std::vector<int> heard;
  bool more = true;
  for (int pull = 0; pull < 10; ++pull) {
    rig.stage.BufferLoad(&out.h, more);
    ASSERT_EQ(out.h.wh.dwBytesRecorded, 16000u);
    for (size_t i = 0; i < 8000; ++i) heard.push_back(Sample16(out.data.data(), i));
  }
  // Sample k of the output is input sample floor(1.5 k): 16,000 bytes from 24,000.
  for (size_t k = 0; k < heard.size(); ++k) ASSERT_EQ(heard[k], int((k * 3 / 2) & 0xFFFF)) << k;
  EXPECT_EQ(heard[7999], 11998);
}

TEST(Pitch, HalfSpeedRunsOutOnlyAfterTheLastInputSample) {
  Rig rig(3000, -50);
  Header out(4000);
  std::vector<int> heard;
  bool more = true;
  for (int pull = 0; pull < 10 && more; ++pull) {
    rig.stage.BufferLoad(&out.h, more);
    for (size_t i = 0; i < out.h.wh.dwBytesRecorded / 2; ++i) {
      heard.push_back(Sample16(out.data.data(), i));
    }
  }
  EXPECT_FALSE(more);
  ASSERT_EQ(heard.size(), 6000u);
  for (size_t k = 0; k < heard.size(); ++k) ASSERT_EQ(heard[k], int(k / 2)) << k;
  // Further pulls bring nothing.
  rig.stage.BufferLoad(&out.h, more);
  EXPECT_EQ(out.h.wh.dwBytesRecorded, 0u);
  EXPECT_FALSE(more);
}

TEST(Pitch, RefusesFormatsTheResamplerCannotHandle) {
  TMMPitch p(nullptr);
  WAVEFORMATEX f = Pcm(2, 44100, 16);
  EXPECT_NO_THROW(p.SetPWaveFormat(&f));
  f.wFormatTag = 2;
  try {
    p.SetPWaveFormat(&f);
    FAIL() << "no error";
  } catch (const EMMPitchError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
  EXPECT_EQ(p.GetPWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
}

}  // namespace
