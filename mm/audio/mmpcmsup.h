#pragma once
// Routines on uncompressed (PCM) sample data in a caller's buffer: format records and tests,
// peak, extreme and trigger searches, silence and statistics, volume, reversing, bit-depth,
// channel and rate conversion, speed change and mixing. 8-bit samples are unsigned with 128 as
// silence, 16-bit samples signed little-endian, stereo interleaves left then right. Volumes are
// fixed point with 16,384 as unity. Nothing here allocates except the mixing pool.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "mmwaveformat.h"

// Set whenever a clip or volume routine has to clip a sample; nothing here clears it.
extern std::atomic<bool> Overflow;

inline constexpr int32_t kPCMUnityVolume = 16384;

// Formats.
bool pcmIsValidFormat(const WAVEFORMATEX* pwfx);
void pcmBuildWaveHeader(WAVEFORMATEX& wfx, int bits, int channels, int rate);
void pcmBuildWaveFormatExtensible(WAVEFORMATEXTENSIBLE& wfx, int bits, int channels,
                                  uint32_t channelMask, int rate);
void pcmFillSilence(const WAVEFORMATEX* pwfx, void* data, int64_t bytes);

// Searches. Bits other than 8 count as 16 and channel counts other than 1 as stereo.
void PCMFINDPEAK(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int& left, int& right);
void PCMFINDMINMAX(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int& left1,
                   int& left2, int& right1, int& right2);
// Byte offset of the sample that completes the first crossing of the trigger level, or -1.
// slope: 1 rising, 2 falling; channel: 0 either, 1 left, 2 right; level: percent of full scale.
int64_t pcmFindZeroCross(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int channel,
                         int slope, int level);
void pcmFindSilenceEnd(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int64_t& position,
                       int threshold);
void pcmFindSilenceStart(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes,
                         int64_t& position, int threshold);
void pcmCalcStatistics(const WAVEFORMATEX* pwfx, const void* data, int64_t bytes, int& leftMean,
                       int& rightMean, int& leftDeviation, int& rightDeviation);

// Single samples.
int pcmSampleClip8(int v);
int pcmSampleClip16(int v);
uint8_t pcmSampleVolume8(uint8_t sample, int32_t volume);
int16_t pcmSampleVolume16(int16_t sample, int32_t volume);

// Buffers in place; each answers whether any sample was clipped.
bool pcmVolume(const WAVEFORMATEX* pwfx, void* data, int64_t bytes, int32_t leftVolume,
               int32_t rightVolume);
bool PCMVOLUME8M(void* data, int64_t bytes, int32_t volume);
bool PCMVOLUME8S(void* data, int64_t bytes, int32_t leftVolume, int32_t rightVolume);
bool PCMVOLUME16M(void* data, int64_t bytes, int32_t volume);
bool PCMVOLUME16S(void* data, int64_t bytes, int32_t leftVolume, int32_t rightVolume);
void pcmReverse(const WAVEFORMATEX* pwfx, void* data, int64_t bytes);

// Conversions; each returns the bytes written to the target (0 for a case it does not handle).
int64_t pcmBitsPerSampleAlign(int targetBits, void* target, int sourceBits, const void* source,
                              int64_t sourceBytes);
int64_t pcmChannelAlign(int targetChannels, void* target, int sourceChannels, const void* source,
                        int bits, int64_t sourceBytes);
int64_t pcmSamplesPerSecAlign(int targetRate, void* target, int sourceRate, const void* source,
                              int bits, int channels, int64_t sourceBytes);
// An upper bound of PCMCONVERT's output: it may write one frame more than the exact ratio gives,
// so that frame is included. -1 for a format PCMCONVERT does not accept.
int64_t PCMCONVERTSIZEOUTPUTDATA(const WAVEFORMATEX* target, const WAVEFORMATEX* source,
                                 int64_t sourceBytes);
int64_t PCMCONVERT(const WAVEFORMATEX* targetFormat, void* target, const WAVEFORMATEX* sourceFormat,
                   const void* source, int64_t sourceBytes);

// Speed change by a 16.16 step (65,536 = unchanged). The counts and the fraction are updated so
// that the next call continues where this one stopped; the caller's next source starts
// (source bytes given − source bytes left) further on.
int64_t pcmPitchChange(const WAVEFORMATEX* pwfx, const void* source, void* target,
                       int64_t& sourceBytesLeft, int64_t& targetBytesLeft, uint32_t& fraction,
                       uint32_t step);
int64_t PCMPITCHCHANGE8M(const void* source, void* target, int64_t& sourceBytesLeft,
                         int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step);
int64_t PCMPITCHCHANGE8S(const void* source, void* target, int64_t& sourceBytesLeft,
                         int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step);
int64_t PCMPITCHCHANGE16M(const void* source, void* target, int64_t& sourceBytesLeft,
                          int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step);
int64_t PCMPITCHCHANGE16S(const void* source, void* target, int64_t& sourceBytesLeft,
                          int64_t& targetBytesLeft, uint32_t& fraction, uint32_t step);

// Mixing: the buffers of the pool summed per sample, scaled by the pool's volumes (left for
// even, right for odd sample positions). The scratch holds twice the bytes of the data.
struct TMMMixPool {
  int32_t LeftVolume = 0;
  int32_t RightVolume = 0;
  std::vector<const void*> Buffers;
};
std::unique_ptr<TMMMixPool> pcmAllocMixPool(int buffers);
bool pcmMixIt(const WAVEFORMATEX* pwfx, void* target, void* scratch, const TMMMixPool& pool,
              int buffers, int64_t bytes);
bool PCMMIXIT8(void* target, int16_t* scratch, const TMMMixPool& pool, int buffers, int64_t bytes);
bool PCMMIXIT16(void* target, int32_t* scratch, const TMMMixPool& pool, int buffers, int64_t bytes);
