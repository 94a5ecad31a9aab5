#include "mmulaw.h"

#include <algorithm>

namespace {

constexpr int kBias = 132;
constexpr int kClip = 32635;
constexpr int kExpBase[8] = {0, 132, 396, 924, 1980, 4092, 8316, 16764};

// The exponent of (magnitude + 132) / 128: the position of its highest set bit.
constexpr int Exponent(int v) {
  int e = 0;
  for (int x = (v >> 7) & 0xFF; x > 1; x >>= 1) ++e;
  return e;
}

}  // namespace

uint8_t Linear2uLaw(int sample, bool zeroTrap) {
  sample = std::clamp(sample, -32768, 32767);
  const int sign = sample < 0 ? 0x80 : 0;
  int magnitude = std::min(sign ? -sample : sample, kClip) + kBias;
  const int exponent = Exponent(magnitude);
  const int mantissa = (magnitude >> (exponent + 3)) & 0x0F;
  uint8_t code = static_cast<uint8_t>(~(sign | exponent << 4 | mantissa));
  if (zeroTrap && code == 0) code = 2;
  return code;
}

int16_t uLaw2Linear(uint8_t code) {
  code = static_cast<uint8_t>(~code);
  const int exponent = (code >> 4) & 7;
  const int value = kExpBase[exponent] + ((code & 0x0F) << (exponent + 3));
  return static_cast<int16_t>((code & 0x80) ? -value : value);
}

void Build_uLawHeader(WAVEFORMATEX& wfx, int channels, int rate) {
  wfx.wFormatTag = WAVE_FORMAT_MULAW;
  wfx.nChannels = static_cast<uint16_t>(channels);
  wfx.nSamplesPerSec = static_cast<uint32_t>(rate);
  wfx.nAvgBytesPerSec = static_cast<uint32_t>(channels * rate);
  wfx.nBlockAlign = static_cast<uint16_t>(channels);
  wfx.wBitsPerSample = 8;
  wfx.cbSize = 0;
}
