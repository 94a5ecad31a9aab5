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

inline constexpr int16_t kIMAStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
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

// 16-bit stereo PCM of count bytes to one byte per frame, laid out as the stereo decoder of the
// same variant reads it (IMA: the first channel in the low nibble; DVI: in the high nibble, the
// bytes in swapped pairs); the result is the frames encoded.
int64_t WSPCMTOIMA(const void* source, void* target, int64_t count, TIMA_PARAMS& state);
int64_t WSPCMTODVI(const void* source, void* target, int64_t count, TIMA_PARAMS& state);
