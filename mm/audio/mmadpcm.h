#pragma once
// Microsoft ADPCM (format tag 2): 4-bit codes in blocks, each block opening with a header of
// the predictor, the step and two whole samples per channel. Decoding and encoding of whole
// blocks, the format test and the format builder.
#include <cstdint>

#include "mmwaveformat.h"

inline constexpr uint16_t WAVE_FORMAT_ADPCM = 0x0002;
inline constexpr int kADPCMNumCoef = 7;

#pragma pack(push, 1)
struct TADPCMCoefSet {
  int16_t iCoef1;
  int16_t iCoef2;
};
struct TADPCMWaveFormat {
  WAVEFORMATEX wfx;
  uint16_t wSamplesPerBlock;
  uint16_t wNumCoef;
  TADPCMCoefSet aCoef[kADPCMNumCoef];
};
#pragma pack(pop)
static_assert(sizeof(TADPCMWaveFormat) == 50);

// The standard adaptation table (by 4-bit code) and coefficient pairs.
extern const int16_t kADPCMAdaptTable[16];
extern const TADPCMCoefSet kADPCMStandardCoef[kADPCMNumCoef];

// Tag 2, 4 bits, 1 to 4 channels, the seven standard coefficient pairs.
bool adpcmIsValidFormat(const WAVEFORMATEX* pwfx);

// The standard record for the rate and channels: block align 256 per channel (times rate div
// 11,000 above 11,025 Hz), the samples that fill it, the seven coefficient pairs.
void adpcmFillFormat(TADPCMWaveFormat& f, int rate, int channels);

// From valid PCM: the ADPCM record for the rate and channels (the source's when an argument is
// below 1). From valid ADPCM: the PCM record with the bits (16 below 1), channels and rate.
// target must hold a TADPCMWaveFormat. False for any other source.
bool adpcmBuildFormatHeader(const WAVEFORMATEX* source, WAVEFORMATEX* target, int bits, int rate,
                            int channels);

// Decodes whole blocks (a short last block as far as it goes) into 8- or 16-bit PCM as the
// PCM format says; the result is the bytes written, 0 when a block names a predictor the format
// does not have. The target holds samples-per-block frames for every started block.
int64_t adpcmDecode4Bit(const WAVEFORMATEX* adpcm, const WAVEFORMATEX* pcm, const void* source,
                        int64_t sourceBytes, void* target);

// Encodes 8- or 16-bit PCM in blocks of samples-per-block frames (the last block may be short);
// the result is the bytes written, at most one block align per started block.
int64_t adpcmEncode4Bit(const WAVEFORMATEX* pcm, const WAVEFORMATEX* adpcm, const void* source,
                        int64_t sourceBytes, void* target);
