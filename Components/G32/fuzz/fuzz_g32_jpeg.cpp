#include <cstddef>
#include <cstdint>

#include "g32_picture.h"

// Every input goes to the reader: a picture over its own pixel limit is its refusal to make, and a
// few bytes claiming a huge picture must cost no more than their data.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    g32::TDecodedPicture p = g32::ReadJPEG(std::span(data, size));
    if (p.Pixels.size() != size_t(p.Width) * size_t(p.Height)) __builtin_trap();
    if (uint64_t(p.Width) * uint64_t(p.Height) > g32::kMaxPicturePixels) __builtin_trap();
  } catch (const g32::EInvalidGraphic&) {
  }
  return 0;
}
