#include "mmwavefmt.h"

#include <gtest/gtest.h>

#include <cstring>

#include "mmpcmsup.h"

namespace {

WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, bits, channels, rate);
  return f;
}

TEST(WaveFormatRecord, SizeAndCopyIgnorePcmExtraBytes) {
  WAVEFORMATEX pcm = Pcm(16, 2, 44100);
  pcm.cbSize = 40;  // a PCM record's extra size means nothing
  EXPECT_EQ(wioSizeOfWaveFormat(&pcm), 18u);
  TWaveFormatPtr copy = wioCopyWaveFormat(&pcm);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->cbSize, 0);
  EXPECT_EQ(copy->nAvgBytesPerSec, 176400u);

  struct {
    WAVEFORMATEX f;
    uint8_t extra[2];
  } adpcm{{0x0011, 1, 22050, 11100, 512, 4, 2}, {0xF9, 0x01}};
  EXPECT_EQ(wioSizeOfWaveFormat(&adpcm.f), 20u);
  copy = wioCopyWaveFormat(&adpcm.f);
  ASSERT_TRUE(copy);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(copy.get())[19], 0x01);

  EXPECT_EQ(wioSizeOfWaveFormat(nullptr), 0u);
  EXPECT_FALSE(wioCopyWaveFormat(nullptr));
}

TEST(WaveFormatRecord, NamesAndDescriptions) {
  std::string text;
  const struct {
    uint16_t tag;
    const char* name;
  } names[] = {{0x0011, "IMA ADPCM"},
               {0x1234, "Unknown"},
               {0x0001, "PCM"},
               {0x0209, "Dolby AC2"},
               {0xFFFF, "*DEVELOPMENT ONLY TAG*"}};
  for (const auto& row : names) {
    WAVEFORMATEX f{};
    f.wFormatTag = row.tag;
    wioGetFormatName(&f, text);
    EXPECT_EQ(text, row.name) << row.tag;
  }
  wioGetFormatName(nullptr, text);
  EXPECT_EQ(text, "Unknown");

  WAVEFORMATEX f = Pcm(16, 2, 44100);
  wioGetFormat(&f, text);
  EXPECT_EQ(text, "44.100 kHz, 16 Bit, Stereo");
  f = Pcm(8, 1, 8000);
  wioGetFormat(&f, text);
  EXPECT_EQ(text, "8.000 kHz, 8 Bit, Mono");
  f = Pcm(16, 4, 48000);
  wioGetFormat(&f, text);
  EXPECT_EQ(text, "48.000 kHz, 16 Bit, 4 Channels");
  f = WAVEFORMATEX{};  // every divisor 0
  wioGetFormat(&f, text);
  EXPECT_EQ(text, "0.000 kHz, 0 Bit, 0 Channels");
  wioGetFormat(nullptr, text);
  EXPECT_EQ(text, "Unknown");
}

TEST(WaveConversions, ThirtyTwoBitRoundToNearestAndWholeBlocks) {
  const WAVEFORMATEX cd = Pcm(16, 2, 44100);
  EXPECT_EQ(wioSamplesToBytes(&cd, 1), 4);
  EXPECT_EQ(wioBytesPerSample(&cd), 4);
  EXPECT_EQ(wioBytesToSamples(&cd, 176400), 44100);
  EXPECT_EQ(wioBytesToTime(&cd, 176400), 1000);
  EXPECT_EQ(wioSamplesToTime(&cd, 66), 1);  // 1.4966 ms
  EXPECT_EQ(wioSamplesToTime(&cd, 67), 2);  // 1.519 ms rounds up
  EXPECT_EQ(wioTimeToSamples(&cd, 1), 44);  // 44.1
  EXPECT_EQ(wioTimeToBytes(&cd, 1), 176);   // 176.4 -> 176, already whole blocks
  EXPECT_EQ(wioTimeToBytes(&cd, 3), 532);   // 529.2 -> 529 -> 532
  // 100,000 samples at 176,400 bytes/s: the 64-bit product does not overflow.
  EXPECT_EQ(wioSamplesToBytes(&cd, 100000), 400000);

  WAVEFORMATEX adpcm{0x0002, 2, 44100, 44359, 2048, 4, 32};
  for (int n : {1, 7, 1000, 2039, 123457}) {
    EXPECT_EQ(wioSamplesToBytes(&adpcm, n) % 2048, 0) << n;
    EXPECT_EQ(wioTimeToBytes(&adpcm, n) % 2048, 0) << n;
  }
}

TEST(WaveConversions, SixtyFourBitTruncatesAndZeroDivisorsGiveZero) {
  const WAVEFORMATEX f = Pcm(16, 2, 48000);
  const uint64_t hours = 48000ull * 3600 * 30;  // 30 hours of samples
  EXPECT_EQ(wioSamplesToBytes64(&f, hours), hours * 4);
  EXPECT_EQ(wioBytesToSamples64(&f, hours * 4 + 3), hours);
  EXPECT_EQ(wioSamplesToTime64(&f, hours), 3600ull * 30 * 1000);
  EXPECT_EQ(wioSamplesToTime64(&f, 47), 0u);  // truncated, not rounded
  EXPECT_EQ(wioTimeToSamples64(&f, 1), 48u);
  EXPECT_EQ(wioTimeToBytes64(&f, 1), 192u);
  EXPECT_EQ(wioBytesToTime64(&f, 191), 0u);

  const WAVEFORMATEX zero{};
  EXPECT_EQ(wioBytesToSamples(&zero, 100), 0);
  EXPECT_EQ(wioBytesToTime(&zero, 100), 0);
  EXPECT_EQ(wioSamplesToBytes(&zero, 100), 0);
  EXPECT_EQ(wioSamplesToTime(&zero, 100), 0);
  EXPECT_EQ(wioBytesToSamples64(&zero, 100), 0u);
  EXPECT_EQ(wioSamplesToTime64(&zero, 100), 0u);
  EXPECT_EQ(wioSamplesToBytes(nullptr, 100), 0);
  EXPECT_EQ(wioTimeToBytes64(nullptr, 100), 0u);
}

// Samples per block of the block-coded formats: the figures libsndfile reports for ffmpeg's
// files, and the record's own figure only when its block can hold that many.
TEST(WaveFormatRecord, SamplesPerBlockOfBlockCodedFormats) {
  struct {
    uint16_t tag, channels, align, stated;  // stated 0: no extra bytes
    uint32_t want;
  } cases[] = {
      {0x0002, 1, 1024, 2036, 2036}, {0x0002, 2, 1024, 1012, 1012}, {0x0002, 1, 1024, 0, 2036},
      {0x0002, 1, 1024, 5000, 2036}, {0x0002, 1, 256, 100, 100},    {0x0002, 1, 7, 0, 0},
      {0x0011, 1, 1024, 0, 2041},    {0x0011, 2, 1024, 1017, 1017}, {0x0011, 2, 1024, 0, 1017},
      {0x0031, 1, 65, 320, 320},     {0x0031, 1, 64, 320, 0},       {0x0001, 2, 4, 0, 0},
      {0x0055, 2, 1, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.tag << " " << c.align << " " << c.stated);
    uint8_t record[20] = {};
    auto* f = reinterpret_cast<WAVEFORMATEX*>(record);
    f->wFormatTag = c.tag;
    f->nChannels = c.channels;
    f->nSamplesPerSec = 8000;
    f->nBlockAlign = c.align;
    f->cbSize = c.stated ? 2 : 0;
    std::memcpy(record + 18, &c.stated, 2);
    EXPECT_EQ(wioSamplesPerBlock(f), c.want);
  }
  EXPECT_EQ(wioSamplesPerBlock(nullptr), 0u);
}

}  // namespace
