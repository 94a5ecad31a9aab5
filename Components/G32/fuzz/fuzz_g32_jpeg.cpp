#include <cstddef>
#include <cstdint>

#include "g32_picture.h"

namespace {

// The most pixels any frame header in the data could claim (every FF Cn found, wherever it
// lies, since the decoder skips bytes between markers). A picture whose entropy coding may
// legally run on zero bytes after a marker (arithmetic coding) costs time for every pixel it
// claims, so pictures that large are the reader's size limit's business (its tests), not the
// fuzzer's: the fuzzer looks for unsafe handling of malformed data.
uint64_t ClaimedPixels(const uint8_t* d, size_t n) {
  uint64_t most = 0;
  for (size_t i = 0; i + 9 <= n; ++i) {
    const uint8_t m = d[i + 1];
    if (d[i] != 0xFF || m < 0xC0 || m > 0xCF || m == 0xC4 || m == 0xC8 || m == 0xCC) continue;
    const uint64_t claim = uint64_t(d[i + 5] << 8 | d[i + 6]) * uint64_t(d[i + 7] << 8 | d[i + 8]);
    if (claim > most) most = claim;
  }
  return most;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (ClaimedPixels(data, size) > (uint64_t(1) << 22)) return 0;
  try {
    g32::TDecodedPicture p = g32::ReadJPEG(std::span(data, size));
    if (p.Pixels.size() != size_t(p.Width) * size_t(p.Height)) __builtin_trap();
  } catch (const g32::EInvalidGraphic&) {
  }
  return 0;
}
