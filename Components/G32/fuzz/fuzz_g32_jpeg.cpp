#include "g32_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    g32::TDecodedPicture p = g32::ReadJPEG(std::span(data, size));
    if (p.Pixels.size() != size_t(p.Width) * size_t(p.Height)) __builtin_trap();
  } catch (const g32::EInvalidGraphic&) {
  }
  return 0;
}
