// Conversion chains through the compression manager and the two converter stages.
#include "mmacmsup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "memorysource.h"
#include "mmadpcm.h"
#include "mmpcmsup.h"
#include "mmulaw.h"

namespace {

WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, bits, channels, rate);
  return f;
}

std::vector<uint8_t> Sine16(int frames, int channels, double freq, double rate, double amp) {
  std::vector<uint8_t> b(size_t(frames) * channels * 2);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const int16_t v = int16_t(std::lround(amp * std::sin(2 * M_PI * freq * i / rate)));
      std::memcpy(&b[(size_t(i) * channels + c) * 2], &v, 2);
    }
  return b;
}

// The manager switched off for one test.
struct NoManager {
  TACMBinding saved = ACMBinding();
  NoManager() { ACMBinding().Present = false; }
  ~NoManager() { ACMBinding() = saved; }
};

TEST(AcmChain, EqualFormatsBuildNoChainAndUnusableManagerConvertsNothing) {
  const WAVEFORMATEX a = Pcm(16, 2, 44100), b = Pcm(8, 1, 22050);
  EXPECT_FALSE(acmMustConvert(&a, &a));
  EXPECT_TRUE(acmMustConvert(&a, &b));
  EXPECT_EQ(acmBeginConvert(&a, &a, nullptr, 4096, true), nullptr);
  EXPECT_TRUE(acmQueryConvert(&a, &a, true));
  EXPECT_TRUE(acmQueryConvert(&a, &b, true));
  NoManager off;
  EXPECT_FALSE(acmQueryConvert(&a, &b, true));
  EXPECT_EQ(acmBeginConvert(&a, &b, nullptr, 4096, true), nullptr);
  EXPECT_EQ(acmSizeOutputData(&a, &b, 4096), -1);
  EXPECT_EQ(acmSuggestPCMFormat(&a).wFormatTag, 1);  // PCM needs no manager
}

TEST(AcmChain, CompressedToOtherRateGoesThroughIntermediatePcm) {
  WAVEFORMATEX mu{};
  Build_uLawHeader(mu, 1, 8000);
  const WAVEFORMATEX pcm = acmSuggestPCMFormat(&mu);
  EXPECT_EQ(pcm.wFormatTag, 1);
  EXPECT_EQ(pcm.wBitsPerSample, 16);
  EXPECT_EQ(pcm.nSamplesPerSec, 8000u);
  const WAVEFORMATEX target = Pcm(16, 2, 44100);
  PACMConvert c = acmBeginConvert(&mu, &target, nullptr, 8000, true);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Stages.size(), 2u);
  // One second of µ-law silence-ish tone in, about 44,100 stereo frames out in total.
  int64_t total = 0;
  for (int i = 0; i < 8000; ++i)
    c->SrcBuffer[i] = Linear2uLaw(int(8000 * std::sin(i * 0.3)), false);
  int64_t r = acmDoConvert(c, 8000);
  ASSERT_GE(r, 0);
  total += r;
  while ((r = acmEndConvert(c, 0)) > 0) total += r;
  EXPECT_NEAR(double(total) / 4, 44100.0, 64.0);
  acmDoneConvert(c);
  EXPECT_EQ(c, nullptr);
}

TEST(PcmConverter, TargetRulesAndSetters) {
  TMMPCMConverter conv(nullptr);
  const WAVEFORMATEX in = Pcm(8, 1, 22050);
  conv.ChangePWaveFormat(&in);
  // AutoConvert: PCM stays as it is.
  EXPECT_FALSE(conv.MustConvert());
  EXPECT_TRUE(conv.GetCanConvert());
  conv.SetRequired(RequiredBit(rpSampleRate));
  conv.SetSampleRate(44100);
  conv.SetAutoConvert(false);
  ASSERT_NE(conv.GetPWaveFormat(), nullptr);
  EXPECT_EQ(conv.GetPWaveFormat()->nSamplesPerSec, 44100u);
  EXPECT_EQ(conv.GetPWaveFormat()->nChannels, 1);
  EXPECT_EQ(conv.GetPWaveFormat()->wBitsPerSample, 8);
  EXPECT_TRUE(conv.MustConvert());
  EXPECT_TRUE(conv.GetCanConvert());
  conv.SetSampleRate(100000);
  EXPECT_EQ(conv.GetSampleRate(), 88200);
  conv.SetMode(mMultiChannel);
  EXPECT_EQ(conv.GetMode(), mMono);
  WAVEFORMATEX bad = Pcm(16, 2, 44100);
  bad.wBitsPerSample = 12;
  EXPECT_THROW(conv.SetPWaveFormat(&bad), EMMConverterError);
}

TEST(PcmConverter, Resamples22kMono8BitTo48kStereo16Bit) {
  const WAVEFORMATEX in = Pcm(8, 1, 22050);
  std::vector<uint8_t> data(22050);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = uint8_t(128 + std::lround(100 * std::sin(2 * M_PI * 441 * i / 22050.0)));
  MemorySource src(&in, data, 3000);
  TMMPCMConverter conv(nullptr);
  conv.SetAutoConvert(false);
  conv.SetBitLength(b16Bit);
  conv.SetMode(mStereo);
  conv.SetSampleRate(48000);
  conv.SetInput(&src);
  ASSERT_TRUE(conv.MustConvert());
  ASSERT_TRUE(conv.GetCanConvert());
  EXPECT_EQ(conv.GetPWaveFormat()->nSamplesPerSec, 48000u);
  const auto out = PullAll({&src, &conv}, 4096);
  const size_t frames = out.size() / 4;
  EXPECT_NEAR(double(frames), 48000.0, 64.0);
  // Both channels carry the tone at its level (100/128 of full scale).
  int peak = 0;
  for (size_t i = 0; i < frames; ++i) {
    int16_t l, r;
    std::memcpy(&l, &out[4 * i], 2);
    std::memcpy(&r, &out[4 * i + 2], 2);
    ASSERT_EQ(l, r);
    peak = std::max(peak, std::abs(int(l)));
  }
  EXPECT_NEAR(peak, 100 * 256, 1200);
}

TEST(PcmConverter, EqualFormatsPassBuffersThrough) {
  const WAVEFORMATEX in = Pcm(16, 2, 44100);
  auto data = Sine16(1000, 2, 440, 44100, 5000);
  MemorySource src(&in, data, 1000);
  TMMPCMConverter conv(nullptr);
  conv.SetInput(&src);
  EXPECT_FALSE(conv.MustConvert());
  EXPECT_TRUE(conv.GetCanConvert());
  EXPECT_EQ(PullAll({&src, &conv}, 1000), data);
}

TEST(PcmConverter, UnbuildableChainRaisesOnOpen) {
  const WAVEFORMATEX in = Pcm(8, 1, 22050);
  TMMPCMConverter conv(nullptr);
  conv.SetAutoConvert(false);
  conv.ChangePWaveFormat(&in);
  NoManager off;
  conv.SetSampleRate(44100);
  EXPECT_TRUE(conv.MustConvert());
  EXPECT_FALSE(conv.GetCanConvert());
  try {
    conv.Opened();
    FAIL() << "no exception";
  } catch (const EMMConverterError& e) {
    EXPECT_STREQ(e.what(), "Unable to convert to destination format");
  }
}

// Microsoft ADPCM made by our encoder, the data and its format.
struct AdpcmFile {
  TADPCMWaveFormat fmt{};
  std::vector<uint8_t> data;
  AdpcmFile(int channels, int frames) {
    const WAVEFORMATEX pcm = Pcm(16, channels, 22050);
    adpcmBuildFormatHeader(&pcm, &fmt.wfx, 16, 0, 0);
    auto s = Sine16(frames, channels, 440, 22050, 9000);
    data.resize((frames / fmt.wSamplesPerBlock + 1) * fmt.wfx.nBlockAlign);
    data.resize(size_t(adpcmEncode4Bit(&pcm, &fmt.wfx, s.data(), int64_t(s.size()), data.data())));
  }
};

TEST(AdpcmConverter, DecodesWholeBlocksWhateverTheUpstreamPieces) {
  AdpcmFile file(2, 5000);
  const WAVEFORMATEX pcm16 = Pcm(16, 2, 22050);
  std::vector<uint8_t> expect(size_t(file.fmt.wSamplesPerBlock) * 4 *
                              (file.data.size() / file.fmt.wfx.nBlockAlign + 1));
  expect.resize(size_t(adpcmDecode4Bit(&file.fmt.wfx, &pcm16, file.data.data(),
                                       int64_t(file.data.size()), expect.data())));
  // Pieces that cut blocks anywhere.
  for (uint32_t piece : {777u, 4096u, 100000u}) {
    MemorySource src(&file.fmt.wfx, file.data, piece);
    TMMADPCMConverter dec(nullptr);
    dec.SetInput(&src);
    ASSERT_TRUE(dec.MustDecode());
    ASSERT_TRUE(dec.GetCanConvert());
    EXPECT_EQ(dec.GetPWaveFormat()->wFormatTag, 1);
    EXPECT_EQ(PullAll({&src, &dec}, 1500), expect) << piece;
  }
}

TEST(AdpcmConverter, ChainWithPcmStageCarriesLoopMarker) {
  AdpcmFile file(1, 3036);  // three whole blocks, so the second pass starts on a block
  MemorySource src(&file.fmt.wfx, file.data, 4096);
  src.Loop = true;
  TMMADPCMConverter dec(nullptr);
  TMMPCMConverter conv(nullptr);
  conv.SetAutoConvert(false);
  conv.SetBitLength(b16Bit);
  conv.SetMode(mStereo);
  conv.SetSampleRate(44100);
  dec.SetInput(&src);
  conv.SetInput(&dec);
  ASSERT_TRUE(conv.MustConvert());
  bool looped = false;
  const auto out = PullAll({&src, &dec, &conv}, 2048, &looped);
  EXPECT_TRUE(looped);
  // Two passes of the data at twice the rate, in stereo.
  const double frames = double(out.size()) / 4;
  EXPECT_NEAR(frames, 2.0 * 3036 * 2, 64.0);
}

TEST(AdpcmConverter, PcmPassesAndUnknownTagCannotDecode) {
  const WAVEFORMATEX pcm = Pcm(16, 1, 8000);
  TMMADPCMConverter dec(nullptr);
  dec.ChangePWaveFormat(&pcm);
  EXPECT_FALSE(dec.MustDecode());
  EXPECT_TRUE(dec.GetCanConvert());
  WAVEFORMATEX mp3{};
  mp3.wFormatTag = 0x55;
  mp3.nChannels = 1;
  mp3.nSamplesPerSec = 8000;
  mp3.nBlockAlign = 1;
  dec.ChangePWaveFormat(&mp3);
  EXPECT_TRUE(dec.MustDecode());
  EXPECT_FALSE(dec.GetCanConvert());
  EXPECT_THROW(dec.Opened(), EMMADPCMError);
  // Tag 3 with 32 bits is float, not nibbles: left to the manager.
  WAVEFORMATEX flt = Pcm(32, 1, 8000);
  flt.wFormatTag = 3;
  dec.ChangePWaveFormat(&flt);
  EXPECT_FALSE(dec.GetCanConvert());
}

}  // namespace
