#pragma once
// Wave format records: their size, copies, names and descriptions, and the conversions between
// bytes, samples and milliseconds that every part of the engine uses. A nil format, or a format
// whose divisor field is 0, converts every count to 0.
#include <cstdint>
#include <string>

#include "mmwaveformat.h"

// 0 for nil; 18 for PCM (its extra size is ignored); else 18 plus the extra size.
uint32_t wioSizeOfWaveFormat(const WAVEFORMATEX* pwfx);
// A new copy of wioSizeOfWaveFormat bytes (nil for nil); a PCM copy has extra size 0.
TWaveFormatPtr wioCopyWaveFormat(const WAVEFORMATEX* pwfx);

// The name of the format tag ("Unknown" for nil or a tag not in the table).
void wioGetFormatName(const WAVEFORMATEX* pwfx, std::string& text);
// "44.100 kHz, 16 Bit, Stereo" and the like ("Unknown" for nil).
void wioGetFormat(const WAVEFORMATEX* pwfx, std::string& text);

// Samples in each block of a block-coded format (Microsoft ADPCM, IMA ADPCM, GSM 6.10): the
// record's own figure when its block can hold that many, else as many as the block holds.
// 0 for nil and for every other format, whose byte rate field stands for its samples.
uint32_t wioSamplesPerBlock(const WAVEFORMATEX* pwfx);

// 32-bit counts, rounded to nearest; byte results rounded up to whole blocks.
int32_t wioBytesPerSample(const WAVEFORMATEX* pwfx);
int32_t wioBytesToSamples(const WAVEFORMATEX* pwfx, int32_t bytes);
int32_t wioBytesToTime(const WAVEFORMATEX* pwfx, int32_t bytes);
int32_t wioSamplesToBytes(const WAVEFORMATEX* pwfx, int32_t samples);
int32_t wioSamplesToTime(const WAVEFORMATEX* pwfx, int32_t samples);
int32_t wioTimeToSamples(const WAVEFORMATEX* pwfx, int32_t ms);
int32_t wioTimeToBytes(const WAVEFORMATEX* pwfx, int32_t ms);

// Unsigned 64-bit counts, truncated; byte results rounded up to whole blocks.
uint64_t wioBytesToSamples64(const WAVEFORMATEX* pwfx, uint64_t bytes);
uint64_t wioBytesToTime64(const WAVEFORMATEX* pwfx, uint64_t bytes);
uint64_t wioSamplesToBytes64(const WAVEFORMATEX* pwfx, uint64_t samples);
uint64_t wioSamplesToTime64(const WAVEFORMATEX* pwfx, uint64_t samples);
uint64_t wioTimeToSamples64(const WAVEFORMATEX* pwfx, uint64_t ms);
uint64_t wioTimeToBytes64(const WAVEFORMATEX* pwfx, uint64_t ms);

namespace vant::wio {
// Shared by the conversion families: a·b/c in 128 bits, rounded to nearest (halves away from
// zero) or truncated; 0 for a zero divisor.
int64_t MulDivNearest(int64_t a, int64_t b, int64_t c);
uint64_t MulDivTrunc(uint64_t a, uint64_t b, uint64_t c);
// n rounded up to a multiple of align (unchanged for align 0 or a negative n).
int64_t RoundUpToBlock(int64_t n, int64_t align);
}  // namespace vant::wio
