#pragma once
// Signals and helpers the display control tests share: a music-like chord with noise, sines,
// and pixels read straight from a display's canvas (what the next frame builds on).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "mmdibcv.h"

namespace vant::testing {

// 16-bit samples, `channels` equal channels.
inline std::vector<uint8_t> Pcm16(const std::vector<int>& samples, int channels = 1) {
  std::vector<uint8_t> v(samples.size() * 2 * channels);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto s = static_cast<int16_t>(std::clamp(samples[i], -32768, 32767));
    for (int c = 0; c < channels; ++c) std::memcpy(&v[(i * channels + c) * 2], &s, 2);
  }
  return v;
}

inline std::vector<int> Sine(int n, double freq, int rate, double amplitude, double phase = 0) {
  std::vector<int> v(n);
  for (int i = 0; i < n; ++i)
    v[i] = static_cast<int>(
        std::lround(amplitude * std::sin(2 * std::numbers::pi * freq * i / rate + phase)));
  return v;
}

// An A minor chord over two octaves with a little noise, starting `offset` samples in.
inline std::vector<int> Chord(int n, int rate, int offset = 0) {
  std::mt19937 noise(42 + offset);
  std::uniform_int_distribution<int> d(-600, 600);
  std::vector<int> v(n);
  const double notes[] = {110.0, 220.0, 261.63, 329.63, 440.0, 880.0};
  const double levels[] = {6000, 5000, 3500, 3000, 2500, 900};
  for (int i = 0; i < n; ++i) {
    double s = 0;
    for (int k = 0; k < 6; ++k)
      s += levels[k] * std::sin(2 * std::numbers::pi * notes[k] * (i + offset) / rate);
    v[i] = static_cast<int>(s) + d(noise);
  }
  return v;
}

// Whether canvas pixel (x, y) has `color`.
inline bool CanvasPixelIs(TMMDIBCanvas& c, int x, int y, TColor color) {
  c.DIB_InitDrawing();
  const uint32_t want = c.DIB_ColorToIndex(color);
  const int32_t got = c.DIB_GETPIXEL(x, y);
  c.DIB_DoneDrawing();
  return static_cast<uint32_t>(got) == want;
}

}  // namespace vant::testing
