#pragma once
// The wave format record of a RIFF `fmt ` chunk, laid out byte for byte as the file stores it,
// and an owning pointer for records whose extra bytes follow them in one block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "waveout.h"

inline constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// One record for the files and the device: the wave-out layer's.
using WAVEFORMATEX = vant::audio::WaveFormatEx;

#pragma pack(push, 1)
struct WAVEFORMATEXTENSIBLE {
  WAVEFORMATEX Format;
  uint16_t wValidBitsPerSample;
  uint32_t dwChannelMask;
  uint8_t SubFormat[16];
};
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);

// A record (and its extra bytes) in one zero-filled heap block.
struct WaveFormatFree {
  void operator()(WAVEFORMATEX* p) const noexcept { std::free(p); }
};
using TWaveFormatPtr = std::unique_ptr<WAVEFORMATEX, WaveFormatFree>;

// A zero-filled block of max(bytes, 18) bytes; nil when memory runs out.
inline TWaveFormatPtr AllocWaveFormat(std::size_t bytes) {
  if (bytes < sizeof(WAVEFORMATEX)) bytes = sizeof(WAVEFORMATEX);
  return TWaveFormatPtr(static_cast<WAVEFORMATEX*>(std::calloc(1, bytes)));
}
