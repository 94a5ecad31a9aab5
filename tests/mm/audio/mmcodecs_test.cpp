// The engine's own codecs: µ-law, Microsoft ADPCM and the IMA/DVI variants.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "mmadpcm.h"
#include "mmantex.h"
#include "mmpcmsup.h"
#include "mmulaw.h"

namespace {

std::vector<int16_t> Sine(int frames, int channels, double freq, double rate, double amp) {
  std::vector<int16_t> s(size_t(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s[size_t(i) * channels + c] =
          int16_t(std::lround(amp * std::sin(2 * M_PI * freq * (c + 1) * i / rate)));
  return s;
}

double SnrDb(const int16_t* ref, const int16_t* got, size_t n) {
  double sig = 0, err = 0;
  for (size_t i = 0; i < n; ++i) {
    sig += double(ref[i]) * ref[i];
    err += double(ref[i] - got[i]) * (ref[i] - got[i]);
  }
  return 10 * std::log10(sig / std::max(err, 1e-9));
}

TEST(ULaw, EdgeCodesAndRoundTrip) {
  EXPECT_EQ(uLaw2Linear(0xFF), 0);
  EXPECT_EQ(Linear2uLaw(0, false), 0xFF);
  // Full-scale negative encodes to code 0, which the trap turns into 2.
  EXPECT_EQ(Linear2uLaw(-32768, false), 0x00);
  EXPECT_EQ(Linear2uLaw(-32768, true), 0x02);
  EXPECT_EQ(Linear2uLaw(32767, false), 0x80);
  // Every code but negative zero (0x7F) survives decoding and encoding again.
  for (int c = 0; c < 256; ++c) {
    if (c == 0x7F) continue;
    EXPECT_EQ(Linear2uLaw(uLaw2Linear(uint8_t(c)), false), c) << c;
  }
  WAVEFORMATEX f{};
  Build_uLawHeader(f, 2, 8000);
  EXPECT_EQ(f.wFormatTag, 7);
  EXPECT_EQ(f.nBlockAlign, 2);
  EXPECT_EQ(f.nAvgBytesPerSec, 16000u);
  EXPECT_EQ(f.wBitsPerSample, 8);
}

TEST(MsAdpcm, FormatHeaders) {
  WAVEFORMATEX pcm{};
  pcmBuildWaveHeader(pcm, 16, 2, 44100);
  TADPCMWaveFormat a{};
  ASSERT_TRUE(adpcmBuildFormatHeader(&pcm, &a.wfx, 16, 0, 0));
  EXPECT_EQ(a.wfx.nBlockAlign, 2048);
  EXPECT_EQ(a.wSamplesPerBlock, 2036);
  EXPECT_EQ(a.wfx.nAvgBytesPerSec, 44100u + 14u * (44100u / 2048 + 1));
  EXPECT_EQ(a.wfx.cbSize, 32);
  EXPECT_TRUE(adpcmIsValidFormat(&a.wfx));
  // 96 kHz keeps its rate (the block align grows with it).
  pcmBuildWaveHeader(pcm, 16, 1, 96000);
  pcm.nSamplesPerSec = 96000;
  TADPCMWaveFormat hi{};
  WAVEFORMATEX in = pcm;
  in.nSamplesPerSec = 44100;  // valid PCM source; the rate argument decides
  ASSERT_TRUE(adpcmBuildFormatHeader(&in, &hi.wfx, 16, 96000, 1));
  EXPECT_EQ(hi.wfx.nSamplesPerSec, 96000u);
  EXPECT_EQ(hi.wfx.nBlockAlign, 256 * 8);
  // And back to PCM.
  WAVEFORMATEX back{};
  ASSERT_TRUE(adpcmBuildFormatHeader(&a.wfx, &back, 8, 0, 0));
  EXPECT_EQ(back.wFormatTag, 1);
  EXPECT_EQ(back.wBitsPerSample, 8);
  EXPECT_EQ(back.nChannels, 2);
  WAVEFORMATEX other{};
  other.wFormatTag = 0x55;
  EXPECT_FALSE(adpcmBuildFormatHeader(&other, &back, 16, 0, 0));
}

TEST(MsAdpcm, EncodeDecodeRoundTripMonoAndStereo) {
  for (int ch : {1, 2}) {
    WAVEFORMATEX pcm{};
    pcmBuildWaveHeader(pcm, 16, ch, 22050);
    TADPCMWaveFormat a{};
    ASSERT_TRUE(adpcmBuildFormatHeader(&pcm, &a.wfx, 16, 0, 0));
    const int frames = a.wSamplesPerBlock * 3 + 100;  // a short last block
    auto src = Sine(frames, ch, 440, 22050, 12000);
    std::vector<uint8_t> enc(size_t(a.wfx.nBlockAlign) * 4);
    const int64_t e =
        adpcmEncode4Bit(&pcm, &a.wfx, src.data(), int64_t(src.size()) * 2, enc.data());
    ASSERT_GT(e, 3 * a.wfx.nBlockAlign);
    ASSERT_LT(e, 4 * a.wfx.nBlockAlign);
    std::vector<int16_t> dec(size_t(a.wSamplesPerBlock) * 4 * ch);
    const int64_t d = adpcmDecode4Bit(&a.wfx, &pcm, enc.data(), e, dec.data());
    ASSERT_EQ(d, int64_t(src.size()) * 2);
    EXPECT_GT(SnrDb(src.data(), dec.data(), src.size()), 20.0) << ch;
    // 8-bit output is the 16-bit result / 256 + 128.
    WAVEFORMATEX pcm8{};
    pcmBuildWaveHeader(pcm8, 8, ch, 22050);
    std::vector<uint8_t> dec8(dec.size());
    ASSERT_EQ(adpcmDecode4Bit(&a.wfx, &pcm8, enc.data(), e, dec8.data()), int64_t(src.size()));
    for (size_t i = 0; i < src.size(); i += 97) EXPECT_EQ(dec8[i], uint8_t(dec[i] / 256 + 128));
  }
}

TEST(MsAdpcm, BadPredictorOrShortHeaderDecodesNothing) {
  WAVEFORMATEX pcm{};
  pcmBuildWaveHeader(pcm, 16, 1, 8000);
  TADPCMWaveFormat a{};
  ASSERT_TRUE(adpcmBuildFormatHeader(&pcm, &a.wfx, 16, 0, 0));
  std::vector<uint8_t> block(a.wfx.nBlockAlign * 2, 0);
  block[0] = 0;
  block[a.wfx.nBlockAlign] = 7;  // the second block names a predictor that does not exist
  std::vector<int16_t> out(a.wSamplesPerBlock * 2);
  EXPECT_EQ(adpcmDecode4Bit(&a.wfx, &pcm, block.data(), int64_t(block.size()), out.data()), 0);
  // A header cut short ends the decoding after the blocks before it.
  EXPECT_EQ(adpcmDecode4Bit(&a.wfx, &pcm, block.data(), a.wfx.nBlockAlign + 5, out.data()),
            a.wSamplesPerBlock * 2);
}

TEST(ImaDvi, TablesAndStereoByteOrder) {
  EXPECT_EQ(kDVIDiffTable[0], (std::array<int32_t, 8>{0, 2, 4, 6, 7, 9, 11, 13}));
  EXPECT_EQ(kDVIDiffTable[88],
            (std::array<int32_t, 8>{4095, 12287, 20479, 28671, 32767, 32767, 32767, 32767}));
  EXPECT_EQ(kIMADiffTable[8], (std::array<int32_t, 8>{1, 5, 9, 13, 17, 21, 25, 29}));

  // Bytes 0x12, 0x34: 0x34 first, the first channel from its high nibble.
  const uint8_t src[2] = {0x12, 0x34};
  int16_t out[4];
  TIMA_PARAMS st{};
  ASSERT_EQ(WSDVITOPCM(src, out, 2, st), 8);
  EXPECT_EQ(out[0], 6);   // code 3 at index 0
  EXPECT_EQ(out[1], 7);   // code 4 at index 0
  EXPECT_EQ(out[2], 8);   // then code 1 at index 0: + 2
  EXPECT_EQ(out[3], 12);  // and code 2 at index 2 (step 9): + 5
  EXPECT_EQ(st.Channel[1].StepIndex, 1);

  // Stereo IMA: the first channel from the low nibble; mono: the high nibble first.
  TIMA_PARAMS a{}, b{};
  const uint8_t one = 0x31;
  WSIMATOPCM(&one, out, 1, a);
  WMIMATOPCM(&one, out + 2, 1, b);
  EXPECT_EQ(out[0], kIMADiffTable[0][1]);
  EXPECT_EQ(out[2], kIMADiffTable[0][3]);
}

TEST(ImaDvi, SumsClampInsteadOfWrapping) {
  std::vector<uint8_t> up(64, 0x77);  // the largest positive code, again and again
  std::vector<int16_t> out(up.size() * 2);
  TIMA_PARAMS st{};
  WMIMATOPCM(up.data(), out.data(), int64_t(up.size()), st);
  for (size_t i = 1; i < out.size(); ++i) ASSERT_GE(out[i], out[i - 1]) << i;
  EXPECT_EQ(out.back(), 32767);
  // The state carries over: two halves give what one call gives.
  TIMA_PARAMS s1{}, s2{};
  std::vector<int16_t> whole(8), parts(8);
  const uint8_t data[4] = {0x19, 0xA2, 0x7F, 0x30};
  WMDVITOPCM(data, whole.data(), 4, s1);
  WMDVITOPCM(data, parts.data(), 2, s2);
  WMDVITOPCM(data + 2, parts.data() + 4, 2, s2);
  EXPECT_EQ(whole, parts);
}

// Encoded by our stereo encoders and decoded by our stereo decoders, each channel comes back on
// its own side and every frame in its place (the two channels carry different tones).
TEST(ImaDvi, StereoEncodersFollowTheSignal) {
  const auto src = Sine(2000, 2, 300, 8000, 8000);
  for (bool dvi : {false, true}) {
    SCOPED_TRACE(dvi ? "DVI" : "IMA");
    std::vector<uint8_t> enc(2000);
    TIMA_PARAMS st{};
    ASSERT_EQ((dvi ? WSPCMTODVI : WSPCMTOIMA)(src.data(), enc.data(), 8000, st), 2000);
    std::vector<int16_t> dec(4000);
    TIMA_PARAMS d{};
    ASSERT_EQ((dvi ? WSDVITOPCM : WSIMATOPCM)(enc.data(), dec.data(), 2000, d), 8000);
    for (int c : {0, 1}) {
      std::vector<int16_t> ref(2000), got(2000);
      for (size_t i = 0; i < ref.size(); ++i) {
        ref[i] = src[2 * i + c];
        got[i] = dec[2 * i + c];
      }
      EXPECT_GT(SnrDb(ref.data(), got.data(), ref.size()), 20.0) << "channel " << c;
    }
  }
}

}  // namespace
