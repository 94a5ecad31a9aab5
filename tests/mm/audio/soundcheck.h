#pragma once
// What the playback tests compare: a byte pattern that is never 0 (so silence around or inside
// it shows) and checks of what a renderer or a driver's file received.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace vant {

// `seed` shifts the pattern, so neighbouring buffers differ.
inline std::vector<uint8_t> Pattern(size_t bytes, int seed = 0) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>((i + seed) * 7 % 251 + 1);
  return v;
}

inline std::vector<uint8_t> Sound(const std::vector<uint8_t>& captured) {
  std::vector<uint8_t> out;
  std::copy_if(captured.begin(), captured.end(), std::back_inserter(out),
               [](uint8_t v) { return v != 0; });
  return out;
}

// Whether `captured` holds `sound` once, whole, with silence only around it. The audio file
// ramps the first and the last millisecond (`edge` bytes) in and out, so those are left out.
inline ::testing::AssertionResult LandsWhole(const std::vector<uint8_t>& captured,
                                             const std::vector<uint8_t>& sound, size_t edge) {
  const auto body_begin = sound.begin() + edge, body_end = sound.end() - edge;
  const auto at = std::search(captured.begin(), captured.end(), body_begin, body_begin + 64);
  if (at == captured.end()) return ::testing::AssertionFailure() << "the sound never came";
  if (captured.end() - at < body_end - body_begin) {
    return ::testing::AssertionFailure() << "the sound was cut short";
  }
  if (!std::equal(body_begin, body_end, at)) {
    const auto m = std::mismatch(body_begin, body_end, at);
    return ::testing::AssertionFailure() << "the sound arrived altered at "
                                         << (m.first - sound.begin()) << " of " << sound.size();
  }
  const auto before = std::count_if(captured.begin(), at, [](uint8_t v) { return v != 0; });
  const auto after =
      std::count_if(at + (body_end - body_begin), captured.end(), [](uint8_t v) { return v != 0; });
  if (before > static_cast<long>(edge) || after > static_cast<long>(edge)) {
    return ::testing::AssertionFailure() << "sound before or after it: a repeat";
  }
  return ::testing::AssertionSuccess();
}

// The share of 50 ms blocks of the source whose best normalised cross-correlation with the
// recording (first channels, lags within 50 ms of the previous block's) is above `threshold`.
// Block by block, so a dropout of a busy machine's sound server spoils only the blocks it falls
// in instead of the alignment of everything after it. Scale does not count, so a recording made
// at another volume matches as well.
inline double MatchingShare(const std::vector<int16_t>& src, const std::vector<int16_t>& rec,
                            int rate, int channels, double threshold) {
  const long ch = channels;
  auto first = [ch](const std::vector<int16_t>& v) {
    for (size_t i = 0; i < v.size(); i += ch) {
      if (std::abs(v[i]) > 500) return static_cast<long>(i / ch);
    }
    return -1L;
  };
  const long a = first(src), b = first(rec);
  if (a < 0 || b < 0) return 0;
  const long block = rate / 20;
  const long frames = static_cast<long>(src.size()) / ch;
  const long rec_frames = static_cast<long>(rec.size()) / ch;
  int blocks = 0, matching = 0;
  long lag_before = b - a;
  for (long start = 0; start + block <= frames; start += block) {
    ++blocks;
    double best = 0;
    long best_lag = lag_before;
    for (long lag = lag_before - block; lag <= lag_before + block; ++lag) {
      if (start + lag < 0 || start + lag + block > rec_frames) continue;
      double xy = 0, xx = 0, yy = 0;
      for (long i = start; i < start + block; ++i) {
        const double x = src[ch * i], y = rec[ch * (i + lag)];
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

}  // namespace vant
