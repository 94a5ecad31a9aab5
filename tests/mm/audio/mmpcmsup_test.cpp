#include "mmpcmsup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

WAVEFORMATEX Pcm(int bits, int channels, int rate = 44100) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, bits, channels, rate);
  return f;
}

std::vector<uint8_t> Bytes16(std::initializer_list<int> samples) {
  std::vector<uint8_t> out;
  for (int s : samples) {
    out.push_back(static_cast<uint8_t>(s & 0xFF));
    out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  }
  return out;
}

std::vector<int> Samples16(const uint8_t* p, int64_t bytes) {
  std::vector<int> out;
  for (int64_t i = 0; i + 1 < bytes; i += 2) out.push_back(int16_t(p[i] | (p[i + 1] << 8)));
  return out;
}

TEST(PcmFormat, ValidityAndHeaders) {
  const struct {
    int bits, channels, rate;
    bool valid;
  } rows[] = {{16, 4, 100000, true}, {16, 3, 44100, false}, {16, 2, 100001, false},
              {8, 1, 4000, true},    {8, 1, 3999, false},   {24, 2, 48000, false}};
  for (const auto& r : rows) {
    const WAVEFORMATEX f = Pcm(r.bits, r.channels, r.rate);
    EXPECT_EQ(pcmIsValidFormat(&f), r.valid) << r.bits << "/" << r.channels << "/" << r.rate;
  }
  EXPECT_FALSE(pcmIsValidFormat(nullptr));

  WAVEFORMATEXTENSIBLE x{};
  pcmBuildWaveFormatExtensible(x, 24, 2, 3, 48000);
  EXPECT_EQ(x.Format.wFormatTag, 0xFFFE);
  EXPECT_EQ(x.Format.nBlockAlign, 6);
  EXPECT_EQ(x.Format.nAvgBytesPerSec, 288000u);
  EXPECT_EQ(x.Format.cbSize, 22);
  EXPECT_EQ(x.SubFormat[0], 1);
  EXPECT_EQ(x.SubFormat[15], 0x71);
}

TEST(PcmSearch, PeakPerChannel) {
  const WAVEFORMATEX m8 = Pcm(8, 1), s8 = Pcm(8, 2), m16 = Pcm(16, 1), s16 = Pcm(16, 2);
  int l = -1, r = -1;
  const uint8_t silence[4] = {128, 128, 128, 128};
  PCMFINDPEAK(&s8, silence, 4, l, r);
  EXPECT_EQ(l, 128);  // silence answers the silence value, not a full-scale 0
  EXPECT_EQ(r, 128);
  const uint8_t loud8[3] = {120, 10, 250};  // magnitudes 8, 118, 122
  PCMFINDPEAK(&m8, loud8, 3, l, r);
  EXPECT_EQ(l, 250);
  EXPECT_EQ(r, 250);
  auto d = Bytes16({-5, 3});
  PCMFINDPEAK(&m16, d.data(), int64_t(d.size()), l, r);
  EXPECT_EQ(l, -5);
  // Ties keep the first; the odd trailing sample of a partial frame is ignored.
  d = Bytes16({7, -1, -7, 300, 9});
  PCMFINDPEAK(&s16, d.data(), int64_t(d.size()), l, r);
  EXPECT_EQ(l, 7);
  EXPECT_EQ(r, 300);
}

TEST(PcmSearch, MinMaxInOrderOfOccurrence) {
  const WAVEFORMATEX m8 = Pcm(8, 1), s8 = Pcm(8, 2), m16 = Pcm(16, 1), s16 = Pcm(16, 2);
  int a, b, c, e;
  auto d = Bytes16({5, -7, 2});
  PCMFINDMINMAX(&m16, d.data(), int64_t(d.size()), a, b, c, e);
  EXPECT_EQ(std::vector<int>({a, b, c, e}), std::vector<int>({5, -7, 5, -7}));
  d = Bytes16({-32768, -32768});
  PCMFINDMINMAX(&m16, d.data(), int64_t(d.size()), a, b, c, e);
  EXPECT_EQ(a, -32768);
  EXPECT_EQ(b, -32767);  // the search starts one step above the most negative value
  d = Bytes16({1, 100, -50, 200, 3, -9});
  PCMFINDMINMAX(&s16, d.data(), int64_t(d.size()), a, b, c, e);
  EXPECT_EQ(std::vector<int>({a, b, c, e}), std::vector<int>({-50, 3, 200, -9}));
  const uint8_t bytes8[4] = {100, 200, 130, 60};
  PCMFINDMINMAX(&s8, bytes8, 4, a, b, c, e);
  EXPECT_EQ(std::vector<int>({a, b, c, e}), std::vector<int>({100, 130, 200, 60}));
  PCMFINDMINMAX(&s8, bytes8, 1, a, b, c, e);  // too little data
  EXPECT_EQ(std::vector<int>({a, b, c, e}), std::vector<int>({128, 128, 128, 128}));
  PCMFINDMINMAX(&m8, bytes8, 0, a, b, c, e);
  EXPECT_EQ(a, 128);
  PCMFINDMINMAX(&m16, d.data(), 1, a, b, c, e);
  EXPECT_EQ(std::vector<int>({a, b, c, e}), std::vector<int>({0, 0, 0, 0}));
}

TEST(PcmSearch, ZeroCrossByChannelSlopeAndLevel) {
  const WAVEFORMATEX m16 = Pcm(16, 1), s16 = Pcm(16, 2), m8 = Pcm(8, 1);
  const auto rise = Bytes16({-100, 200, 300});
  EXPECT_EQ(pcmFindZeroCross(&m16, rise.data(), 6, 0, 1, 0), 2);
  EXPECT_EQ(pcmFindZeroCross(&m16, rise.data(), 4, 0, 1, 0), -1);  // needs more than 4 bytes
  EXPECT_EQ(pcmFindZeroCross(&m16, rise.data(), 6, 0, 0, 0), -1);  // no slope
  EXPECT_EQ(pcmFindZeroCross(&m16, rise.data(), 6, 0, 2, 0), -1);
  // Level 1 % of full scale is 327 on 16 bits: 300 stays below it.
  EXPECT_EQ(pcmFindZeroCross(&m16, rise.data(), 6, 0, 1, 1), -1);
  const auto fall = Bytes16({400, -400, 0, 0});
  EXPECT_EQ(pcmFindZeroCross(&m16, fall.data(), 8, 0, 2, 1), 2);  // threshold -327

  // Left rises between frames 1 and 2, right between frames 0 and 1.
  const auto st = Bytes16({-5, -5, -5, 5, 5, 5, 5, 5});
  const struct {
    int channel;
    int64_t offset;
  } channels[] = {{0, 6}, {1, 8}, {2, 6}, {3, -1}};
  for (const auto& row : channels) {
    EXPECT_EQ(pcmFindZeroCross(&s16, st.data(), int64_t(st.size()), row.channel, 1, 0), row.offset)
        << row.channel;
  }
  // 8 bits: level 50 is trunc(50 * 127 / 100) + 128 = 191.
  const uint8_t b8[4] = {100, 190, 191, 0};
  EXPECT_EQ(pcmFindZeroCross(&m8, b8, 4, 0, 1, 50), 2);
}

TEST(PcmSearch, SilenceEdgesAndStatistics) {
  const WAVEFORMATEX s16 = Pcm(16, 2), m8 = Pcm(8, 1);
  const auto d = Bytes16({0, 1, 0, 30, 2, 0, 1, 1});
  int64_t pos = 0;
  pcmFindSilenceEnd(&s16, d.data(), int64_t(d.size()), pos, 10);
  EXPECT_EQ(pos, 4);
  pcmFindSilenceStart(&s16, d.data(), int64_t(d.size()), pos, 10);
  EXPECT_EQ(pos, 8);
  pcmFindSilenceEnd(&s16, d.data(), int64_t(d.size()), pos, 100);
  EXPECT_EQ(pos, -1);
  pcmFindSilenceStart(&s16, d.data(), int64_t(d.size()), pos, 100);
  EXPECT_EQ(pos, 0);
  pcmFindSilenceStart(&s16, d.data(), 8, pos, 10);  // ends with the loud frame
  EXPECT_EQ(pos, -1);

  const uint8_t b8[4] = {128 + 2, 128 - 2, 128 + 2, 128 - 2};
  int lm, rm, ld, rd;
  pcmCalcStatistics(&m8, b8, 4, lm, rm, ld, rd);
  EXPECT_EQ(std::vector<int>({lm, rm, ld, rd}), std::vector<int>({0, 0, 2, 2}));
  const auto st = Bytes16({10, -4, 20, -4, 30, -4});
  pcmCalcStatistics(&s16, st.data(), int64_t(st.size()), lm, rm, ld, rd);
  EXPECT_EQ(std::vector<int>({lm, rm, ld, rd}), std::vector<int>({20, -4, 8, 0}));
}

TEST(PcmVolume, ScalesClipsAndLeavesUnityAlone) {
  Overflow = false;
  EXPECT_EQ(pcmSampleClip8(-129), -128);
  EXPECT_TRUE(Overflow);
  Overflow = false;
  EXPECT_EQ(pcmSampleClip16(32767), 32767);
  EXPECT_FALSE(Overflow);
  EXPECT_EQ(pcmSampleVolume8(0, 32768), 0);  // -256 clipped to -128
  EXPECT_TRUE(Overflow);
  EXPECT_EQ(pcmSampleVolume8(138, 8192), 133);
  EXPECT_EQ(pcmSampleVolume16(-3, 8192), -2);  // arithmetic shift rounds toward -inf

  const WAVEFORMATEX s16 = Pcm(16, 2), m8 = Pcm(8, 1);
  auto d = Bytes16({1000, 1000, -20000, 20000});
  EXPECT_FALSE(pcmVolume(&s16, d.data(), int64_t(d.size()), 16384, 16384));
  EXPECT_EQ(Samples16(d.data(), int64_t(d.size())), std::vector<int>({1000, 1000, -20000, 20000}));
  EXPECT_TRUE(pcmVolume(&s16, d.data(), int64_t(d.size()), 8192, 32768));
  EXPECT_EQ(Samples16(d.data(), int64_t(d.size())), std::vector<int>({500, 2000, -10000, 32767}));
  uint8_t b8[2] = {0, 255};
  EXPECT_FALSE(pcmVolume(&m8, b8, 2, 8192, 0));  // mono takes the left volume
  EXPECT_EQ(b8[0], 64);
  EXPECT_EQ(b8[1], 191);
  WAVEFORMATEX adpcm = s16;
  adpcm.wFormatTag = 2;
  EXPECT_FALSE(pcmVolume(&adpcm, d.data(), int64_t(d.size()), 0, 0));
  EXPECT_EQ(Samples16(d.data(), 2), std::vector<int>({500}));
}

TEST(PcmBuffers, ReverseAndBitAndChannelAlignment) {
  const WAVEFORMATEX s16 = Pcm(16, 2);
  auto d = Bytes16({1, 2, 3, 4, 5, 6, 7});  // the odd last sample is not a frame
  pcmReverse(&s16, d.data(), int64_t(d.size()));
  EXPECT_EQ(Samples16(d.data(), int64_t(d.size())), std::vector<int>({5, 6, 3, 4, 1, 2, 7}));

  auto w = Bytes16({-32768, -255, 255, 32767});
  EXPECT_EQ(pcmBitsPerSampleAlign(8, w.data(), 16, w.data(), 8), 4);  // in place
  EXPECT_EQ(std::vector<uint8_t>(w.begin(), w.begin() + 4),
            std::vector<uint8_t>({0, 128, 128, 255}));
  const uint8_t b[2] = {0, 255};
  uint8_t out[8];
  EXPECT_EQ(pcmBitsPerSampleAlign(16, out, 8, b, 2), 4);
  EXPECT_EQ(Samples16(out, 4), std::vector<int>({-32768, 32512}));

  const uint8_t silence[4] = {128, 128, 0, 255};
  EXPECT_EQ(pcmChannelAlign(1, out, 2, silence, 8, 4), 2);
  EXPECT_EQ(out[0], 128);  // stereo silence stays silence
  EXPECT_EQ(out[1], 127);
  const auto loud = Bytes16({30000, 30000, -30000, -30000, 5, -6});
  EXPECT_EQ(pcmChannelAlign(1, out, 2, loud.data(), 16, 12), 6);
  EXPECT_EQ(Samples16(out, 6), std::vector<int>({32765, -32765, -1}));
  const auto mono = Bytes16({7, -8});
  EXPECT_EQ(pcmChannelAlign(2, out, 1, mono.data(), 16, 4), 8);
  EXPECT_EQ(Samples16(out, 8), std::vector<int>({7, 7, -8, -8}));
}

TEST(PcmRates, IntegerRatioAlignment) {
  uint8_t out[64];
  // 11,025 -> 44,100: four frames per source frame, stepping towards the next frame.
  const auto up = Bytes16({0, 100, 40, -40});
  EXPECT_EQ(pcmSamplesPerSecAlign(44100, out, 11025, up.data(), 16, 2, 8), 32);
  EXPECT_EQ(Samples16(out, 32), std::vector<int>({0, 100, 10, 65, 20, 30, 30, -5,  //
                                                  40, -40, 40, -40, 40, -40, 40, -40}));
  // 44,100 -> 22,050 mono 8-bit: pairs averaged on s - 128, the last group gives its first frame.
  const uint8_t down[5] = {128, 138, 100, 90, 77};
  EXPECT_EQ(pcmSamplesPerSecAlign(22050, out, 44100, down, 8, 1, 5), 3);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), std::vector<uint8_t>({133, 95, 77}));
}

TEST(PcmConvert, DropOrRepeatWithChannelAndBitConversion) {
  const WAVEFORMATEX s16_44 = Pcm(16, 2, 44100), m8_22 = Pcm(8, 1, 22050), s8_44 = Pcm(8, 2, 44100),
                     s16_22 = Pcm(16, 2, 22050);
  // Every second frame, averaged and reduced to 8 bits.
  const auto src = Bytes16({1000, 3000, 256, -256, -32768, -32768, 32767, 32767});
  uint8_t out[64];
  EXPECT_EQ(PCMCONVERT(&m8_22, out, &s16_44, src.data(), 16), 2);
  EXPECT_EQ(out[0], 128);  // (256 + -256) / 2 = 0
  EXPECT_EQ(out[1], 255);
  // 16-bit stereo to 8-bit stereo keeps left before right.
  const auto lr = Bytes16({-32768, 32767});
  EXPECT_EQ(PCMCONVERT(&s8_44, out, &s16_44, lr.data(), 4), 2);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 255);
  // Doubling the rate writes every frame twice.
  const auto two = Bytes16({1, 2, 3, 4});
  EXPECT_EQ(PCMCONVERT(&s16_44, out, &s16_22, two.data(), 8), 16);
  EXPECT_EQ(Samples16(out, 16), std::vector<int>({1, 2, 1, 2, 3, 4, 3, 4}));

  WAVEFORMATEX bad = s16_44;
  bad.nChannels = 4;
  EXPECT_EQ(PCMCONVERT(&bad, out, &s16_44, two.data(), 8), -1);
  EXPECT_EQ(PCMCONVERTSIZEOUTPUTDATA(&s16_44, &bad, 8), -1);
  EXPECT_EQ(PCMCONVERT(&s16_44, out, &s16_22, two.data(), 0), 0);
}

TEST(PcmConvert, SizeRoutineCoversTheExtraFrame) {
  const struct {
    int from, to;
    int64_t frames, written;
  } rows[] = {{48000, 44100, 1, 1},
              {11025, 44100, 11025, 44099},
              {44100, 22050, 44100, 22050},
              {8000, 8000, 3, 3}};
  for (const auto& r : rows) {
    const WAVEFORMATEX s = Pcm(16, 1, r.from), t = Pcm(16, 1, r.to);
    std::vector<uint8_t> src(size_t(r.frames) * 2, 0);
    const int64_t room = PCMCONVERTSIZEOUTPUTDATA(&t, &s, int64_t(src.size()));
    std::vector<uint8_t> dst(static_cast<size_t>(room));
    EXPECT_EQ(PCMCONVERT(&t, dst.data(), &s, src.data(), int64_t(src.size())), r.written * 2)
        << r.from << "->" << r.to;
    EXPECT_GE(room, r.written * 2);
  }
}

TEST(PcmPitch, StepsAndContinuesAcrossCalls) {
  const WAVEFORMATEX m16 = Pcm(16, 1);
  std::vector<uint8_t> src;
  for (int i = 0; i < 16; ++i) {
    const auto s = Bytes16({i});
    src.insert(src.end(), s.begin(), s.end());
  }
  auto run = [&](uint32_t step, int64_t room) {
    std::vector<uint8_t> dst(static_cast<size_t>(room));
    int64_t sl = int64_t(src.size()), tl = room;
    uint32_t frac = 0;
    const int64_t n = pcmPitchChange(&m16, src.data(), dst.data(), sl, tl, frac, step);
    return Samples16(dst.data(), n);
  };
  EXPECT_EQ(run(65536, 8), std::vector<int>({0, 1, 2, 3}));
  EXPECT_EQ(run(131072, 64), std::vector<int>({0, 2, 4, 6, 8, 10, 12, 14}));
  EXPECT_EQ(run(98304, 8), std::vector<int>({0, 1, 3, 4}));

  // Three calls with a small target continue exactly where one large call would go.
  const std::vector<int> whole = run(40000, 200);
  std::vector<int> pieces;
  int64_t sl = int64_t(src.size());
  uint32_t frac = 0;
  while (sl > 0) {
    uint8_t dst[6];
    int64_t tl = sizeof dst;
    const uint8_t* from = src.data() + (int64_t(src.size()) - sl);
    const int64_t n = pcmPitchChange(&m16, from, dst, sl, tl, frac, 40000);
    ASSERT_GT(n, 0);
    const auto got = Samples16(dst, n);
    pieces.insert(pieces.end(), got.begin(), got.end());
  }
  EXPECT_EQ(pieces, whole);
}

TEST(PcmMix, SumsScalesAndClips) {
  const WAVEFORMATEX s16 = Pcm(16, 2), s8 = Pcm(8, 2);
  auto pool = pcmAllocMixPool(2);
  const auto a = Bytes16({1000, 30000, -4, 8});
  const auto b = Bytes16({500, 30000, -4, 8});
  pool->Buffers = {a.data(), b.data()};
  pool->LeftVolume = pool->RightVolume = 16384;
  uint8_t out[8];
  int32_t scratch[4];
  EXPECT_TRUE(pcmMixIt(&s16, out, scratch, *pool, 2, 8));
  EXPECT_EQ(Samples16(out, 8), std::vector<int>({1500, 32767, -8, 16}));
  EXPECT_EQ(scratch[1], 60000);
  pool->LeftVolume = 8192;
  pool->RightVolume = 0;
  EXPECT_FALSE(pcmMixIt(&s16, out, scratch, *pool, 2, 8));
  EXPECT_EQ(Samples16(out, 8), std::vector<int>({750, 0, -4, 0}));
  EXPECT_FALSE(pcmMixIt(&s16, out, scratch, *pool, 0, 8));
  EXPECT_EQ(Samples16(out, 8), std::vector<int>({0, 0, 0, 0}));

  const uint8_t c[2] = {200, 0}, e[2] = {200, 100};
  pool->Buffers = {c, e};
  pool->LeftVolume = pool->RightVolume = 16384;
  int16_t scratch8[2];
  EXPECT_TRUE(pcmMixIt(&s8, out, scratch8, *pool, 2, 2));
  EXPECT_EQ(out[0], 255);  // 72 + 72 clipped to 127
  EXPECT_EQ(out[1], 0);    // -128 + -28 clipped to -128
  EXPECT_FALSE(pcmMixIt(&s8, out, scratch8, *pool, 0, 2));
  EXPECT_EQ(out[0], 128);
}

}  // namespace

namespace {

TEST(PcmConvert, EveryReaderOfTheSixteen) {
  const WAVEFORMATEX kinds[4] = {Pcm(8, 1, 8000), Pcm(8, 2, 8000), Pcm(16, 1, 8000),
                                 Pcm(16, 2, 8000)};
  const std::vector<uint8_t> frames[4] = {
      {200}, {200, 100}, Bytes16({4660}), Bytes16({1000, -3000})};
  // Each target as values: unsigned bytes for 8 bits, signed samples for 16 bits.
  const std::vector<int> expected[4][4] = {
      {{200}, {200, 200}, {18432}, {18432, 18432}},
      {{150}, {200, 100}, {5632}, {18432, -7168}},
      {{146}, {146, 146}, {4660}, {4660, 4660}},
      {{124}, {131, 116}, {-1000}, {1000, -3000}},
  };
  for (int s = 0; s < 4; ++s) {
    for (int t = 0; t < 4; ++t) {
      uint8_t out[8];
      const int64_t n =
          PCMCONVERT(&kinds[t], out, &kinds[s], frames[s].data(), int64_t(frames[s].size()));
      const std::vector<int> got = t < 2 ? std::vector<int>(out, out + n) : Samples16(out, n);
      EXPECT_EQ(got, expected[s][t]) << s << " -> " << t;
    }
  }
}

}  // namespace
