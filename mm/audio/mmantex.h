#pragma once
// The IMA and DVI 4-bit ADPCM variants of tags 3 (4 bits per sample), 0x33 and 0x206: decoding
// to 16-bit PCM, and stereo encoding. The caller keeps the state between calls, so consecutive
// calls continue one stream; it clears the state when a stream starts or is reset.
#include <array>
#include <cstdint>

inline constexpr uint16_t WAVE_FORMAT_ANTEX_IMA = 0x0003;
inline constexpr uint16_t WAVE_FORMAT_ANTEX_ADPCME = 0x0033;
inline constexpr uint16_t WAVE_FORMAT_ANTEX_DVI_OKI = 0x0206;

struct TIMAChannel {
  int16_t LastCode;
  int16_t StepIndex;  // 0 ... 88
  int16_t Predicted;
};
struct TIMA_PARAMS {
  TIMAChannel Channel[2];
};

extern const int16_t kIMAStepTable[89];
// The difference a code of magnitude m (0..7) adds at a step index.
using TADPCMDiffTable = std::array<std::array<int32_t, 8>, 89>;
extern const TADPCMDiffTable kIMADiffTable;
extern const TADPCMDiffTable kDVIDiffTable;

// Mono: two samples per byte, the high nibble first. Stereo: one frame per byte. Each returns
// count × 4 bytes of 16-bit PCM.
int64_t WMIMATOPCM(const void* source, void* target, int64_t count, TIMA_PARAMS& state);
int64_t WMDVITOPCM(const void* source, void* target, int64_t count, TIMA_PARAMS& state);
// The first channel from the low nibble.
int64_t WSIMATOPCM(const void* source, void* target, int64_t count, TIMA_PARAMS& state);
// The first channel from the high nibble; bytes taken in swapped pairs (1, 0, 3, 2, ...).
int64_t WSDVITOPCM(const void* source, void* target, int64_t count, TIMA_PARAMS& state);

// 16-bit stereo PCM of count bytes to one byte per frame, the first channel in the high nibble;
// the result is the frames encoded.
int64_t WSPCMTOIMA(const void* source, void* target, int64_t count, TIMA_PARAMS& state);
int64_t WSPCMTODVI(const void* source, void* target, int64_t count, TIMA_PARAMS& state);
