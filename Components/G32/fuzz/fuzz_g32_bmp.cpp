#include "fuzzbudget.h"
#include "g32_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 14 && vant::testing::ClaimsTooMuchToFuzz(std::span(data + 14, size - 14))) return 0;
  try {
    g32::TDecodedPicture p = g32::ReadBMP(std::span(data, size));
    if (p.Pixels.size() != size_t(p.Width) * size_t(p.Height)) __builtin_trap();
  } catch (const g32::EInvalidGraphic&) {
  }
  return 0;
}
