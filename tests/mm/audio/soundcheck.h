#pragma once
// What the playback tests compare: a byte pattern that is never 0 (so silence around or inside
// it shows) and checks of what a renderer or a driver's file received.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

}  // namespace vant
