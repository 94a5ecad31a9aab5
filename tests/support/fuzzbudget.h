#pragma once
// What the picture fuzzers decode: a header may claim up to a gigabyte of pixels, which the
// readers fill at a plain fill's cost; the tests and benchmarks cover such claims, and a fuzzer
// that filled them for every input would have little time left for anything else.
#include <cstdint>
#include <span>

#include "bitmapdecode.h"

namespace vant::testing {

// Whether the bitmap info header at the start of `info` claims more than 4 million pixels.
inline bool ClaimsTooMuchToFuzz(std::span<const uint8_t> info) {
  const auto format = vant::bitmap::ReadFormat(info);
  return format && int64_t{format->width} * format->rows > (int64_t{1} << 22);
}

}  // namespace vant::testing
