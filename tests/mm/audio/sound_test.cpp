// Real sound: the player plays a file on either device through SDL's pulse driver into a null
// sink of a sound server this test starts, and what the sink's monitor recorded is compared with
// the file. Skipped (not failed) where no such server can be started.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "audiobackend.h"
#include "dispatch.h"
#include "mmaudioplayer.h"
#include "mmpcmsup.h"
#include "mmwaveio.h"
#include "pulsesink.h"
#include "scratchfolder.h"
#include "sdlbackend.h"
#include "sdlplay.h"
#include "testreader.h"

namespace vant {
namespace {

constexpr int kRate = 48000;

// A second and a half of two unrelated voices, so no lag but the right one correlates.
std::vector<int16_t> Music() {
  std::vector<int16_t> s(kRate * 3);
  for (int i = 0; i < kRate * 3 / 2; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double sweep = std::sin(2 * M_PI * (200 * t + 900 * t * t));
    s[2 * i] = static_cast<int16_t>(6000 * sweep + 3000 * std::sin(2 * M_PI * 443 * t));
    s[2 * i + 1] = static_cast<int16_t>(7000 * std::sin(2 * M_PI * 1234.5 * t) - 2000 * sweep);
  }
  return s;
}

// The share of 50 ms blocks of the source whose best normalised cross-correlation with the
// recording (left channels, lags within 50 ms of the previous block's) is above `threshold`.
// Block by block, so a dropout of a busy machine's sound server spoils only the blocks it falls
// in instead of the alignment of everything after it.
double MatchingShare(const std::vector<int16_t>& src, const std::vector<int16_t>& rec,
                     double threshold) {
  auto first = [](const std::vector<int16_t>& v) {
    for (size_t i = 0; i < v.size(); i += 2) {
      if (std::abs(v[i]) > 500) return static_cast<long>(i / 2);
    }
    return -1L;
  };
  const long a = first(src), b = first(rec);
  if (a < 0 || b < 0) return 0;
  constexpr long kBlock = kRate / 20;
  const long frames = static_cast<long>(src.size() / 2);
  const long rec_frames = static_cast<long>(rec.size() / 2);
  int blocks = 0, matching = 0;
  long lag_before = b - a;
  for (long start = 0; start + kBlock <= frames; start += kBlock) {
    ++blocks;
    double best = 0;
    long best_lag = lag_before;
    for (long lag = lag_before - kBlock; lag <= lag_before + kBlock; ++lag) {
      if (start + lag < 0 || start + lag + kBlock > rec_frames) continue;
      double xy = 0, xx = 0, yy = 0;
      for (long i = start; i < start + kBlock; ++i) {
        const double x = src[2 * i], y = rec[2 * (i + lag)];
        xy += x * y;
        xx += x * x;
        yy += y * y;
      }
      if (xx > 0 && yy > 0 && xy / std::sqrt(xx * yy) > best) {
        best = xy / std::sqrt(xx * yy);
        best_lag = lag;
      }
    }
    if (best > threshold) {
      ++matching;
      lag_before = best_lag;
    }
  }
  return blocks > 0 ? static_cast<double>(matching) / blocks : 0;
}

class PlayerOnPulse : public ::testing::TestWithParam<bool> {};

TEST_P(PlayerOnPulse, WhatTheSinkHeardMatchesTheFile) {
  testing::PulseNullSink sink;
  if (const std::string why = sink.Start(kRate, 2); !why.empty()) GTEST_SKIP() << why;
  setenv("PULSE_SERVER", sink.Server().c_str(), 1);
  setenv("SDL_AUDIODRIVER", "pulseaudio", 1);

  testing::ScratchFolder dir;
  const std::vector<int16_t> music = Music();
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, kRate);
  const std::string wave = (dir.path() / "music.wav").string();
  ASSERT_EQ(wioWaveSaveFile(wave, &f, music.data(), static_cast<int64_t>(music.size() * 2)),
            kWioOk);
  const auto recording = dir.path() / "heard.raw";
  ASSERT_TRUE(sink.StartRecording(recording, kRate, 2));

  PlayFileOnSdl(wave, GetParam());
  sink.StopRecording();

  std::ifstream in(recording, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  std::vector<int16_t> heard(bytes.size() / 2);
  std::memcpy(heard.data(), bytes.data(), heard.size() * 2);
  EXPECT_GE(MatchingShare(music, heard, 0.99), 0.9);
}

INSTANTIATE_TEST_SUITE_P(Devices, PlayerOnPulse, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Stream" : "WaveOut"; });

}  // namespace
}  // namespace vant
