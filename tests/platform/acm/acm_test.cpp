// The compression manager's calls: what it offers, suggestions, and the stream contract the
// conversion chains rely on (prepared headers, used lengths, output kept for the next call).
#include "acm.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "trace.h"

namespace {

ACMWAVEFORMAT Linear(uint16_t tag, int bits, int channels, uint32_t rate) {
  const uint16_t align = uint16_t(channels * bits / 8);
  return ACMWAVEFORMAT{tag, uint16_t(channels), rate, align * rate, align, uint16_t(bits), 0};
}

// A stream with one prepared header over buffers of the given sizes.
struct Stream {
  HACMSTREAM s = nullptr;
  std::vector<uint8_t> src, dst;
  ACMSTREAMHEADER h{};
  Stream(const ACMWAVEFORMAT* a, const ACMWAVEFORMAT* b, uint32_t srcBytes,
         const WAVEFILTER* filter = nullptr) {
    EXPECT_EQ(acmStreamOpen(&s, a, b, filter, 0), MMSYSERR_NOERROR);
    uint32_t out = 0;
    EXPECT_EQ(acmStreamSize(s, srcBytes, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    src.assign(srcBytes, 0);
    dst.assign(out, 0);
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = srcBytes;
    h.pbDst = dst.data();
    h.cbDstLength = out;
    EXPECT_EQ(acmStreamPrepareHeader(s, &h), MMSYSERR_NOERROR);
  }
  ~Stream() {
    h.cbSrcLength = uint32_t(src.size());
    h.cbDstLength = uint32_t(dst.size());
    EXPECT_EQ(acmStreamUnprepareHeader(s, &h), MMSYSERR_NOERROR);
    acmStreamClose(s);
  }
  uint32_t Convert(uint32_t n, uint32_t flags) {
    h.cbSrcLength = n;
    EXPECT_EQ(acmStreamConvert(s, &h, flags), MMSYSERR_NOERROR);
    EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    return h.cbDstLengthUsed;
  }
};

TEST(Acm, VersionMetricsAndNames) {
  EXPECT_GE(acmGetVersion() >> 16, 0x0200u);
  uint32_t v = 0;
  ASSERT_EQ(acmMetrics(ACM_METRIC_COUNT_FILTERS, v), MMSYSERR_NOERROR);
  EXPECT_EQ(v, 2u);
  ASSERT_EQ(acmMetrics(ACM_METRIC_MAX_SIZE_FORMAT, v), MMSYSERR_NOERROR);
  EXPECT_GE(v, 50u);
  ACMFORMATTAGDETAILS d;
  d.dwFormatTag = kAcmTagMP3;
  ASSERT_EQ(acmFormatTagDetails(d, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_NOERROR);
  EXPECT_EQ(d.szFormatTag, "MPEG Layer-3");
  d.dwFormatTag = 0x1234;
  EXPECT_EQ(acmFormatTagDetails(d, ACM_FORMATTAGDETAILSF_FORMATTAG), ACMERR_NOTPOSSIBLE);
}

TEST(Acm, SuggestionsAndQueries) {
  // A compressed tag suggests 16-bit PCM at its own rate and channels.
  ACMWAVEFORMAT alaw{kAcmTagALaw, 2, 11025, 22050, 2, 8, 0};
  ACMWAVEFORMAT out{};
  ASSERT_EQ(acmFormatSuggest(&alaw, &out, sizeof out, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(out.wFormatTag, kAcmTagPCM);
  EXPECT_EQ(out.wBitsPerSample, 16);
  EXPECT_EQ(out.nChannels, 2);
  EXPECT_EQ(out.nSamplesPerSec, 11025u);
  // A decoder does not change the rate: that is a second step.
  const ACMWAVEFORMAT pcm44 = Linear(kAcmTagPCM, 16, 2, 44100);
  EXPECT_EQ(acmStreamOpen(nullptr, &alaw, &pcm44, nullptr, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
  const ACMWAVEFORMAT pcm8 = Linear(kAcmTagPCM, 8, 1, 8000);
  EXPECT_EQ(acmStreamOpen(nullptr, &pcm44, &pcm8, nullptr, ACM_STREAMOPENF_QUERY),
            MMSYSERR_NOERROR);
  ACMWAVEFORMAT broken = pcm44;
  broken.nChannels = 0;
  EXPECT_EQ(acmStreamOpen(nullptr, &broken, &pcm8, nullptr, ACM_STREAMOPENF_QUERY),
            MMSYSERR_INVALPARAM);
}

TEST(Acm, HeadersMustBePreparedAndRestored) {
  const ACMWAVEFORMAT a = Linear(kAcmTagPCM, 16, 1, 8000), b = Linear(kAcmTagPCM, 8, 1, 8000);
  HACMSTREAM s = nullptr;
  ASSERT_EQ(acmStreamOpen(&s, &a, &b, nullptr, 0), MMSYSERR_NOERROR);
  std::vector<uint8_t> src(64), dst(64);
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof h;
  h.pbSrc = src.data();
  h.cbSrcLength = 64;
  h.pbDst = dst.data();
  h.cbDstLength = 64;
  EXPECT_EQ(acmStreamConvert(s, &h, 0), ACMERR_UNPREPARED);
  ASSERT_EQ(acmStreamPrepareHeader(s, &h), MMSYSERR_NOERROR);
  h.cbSrcLength = 128;  // more than was prepared
  EXPECT_EQ(acmStreamConvert(s, &h, 0), MMSYSERR_INVALPARAM);
  h.cbSrcLength = 10;
  EXPECT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_EQ(h.cbSrcLengthUsed, 10u);
  EXPECT_EQ(h.cbDstLengthUsed, 5u);
  EXPECT_EQ(acmStreamUnprepareHeader(s, &h), MMSYSERR_INVALPARAM);  // lengths not restored
  h.cbSrcLength = 64;
  EXPECT_EQ(acmStreamUnprepareHeader(s, &h), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(s), MMSYSERR_NOERROR);
}

TEST(Acm, DecoderKeepsPartialBlocksToTheCallerAndOutputThatDoesNotFit) {
  // Microsoft ADPCM blocks of 256 bytes, mono: 500 samples each.
  std::vector<uint8_t> rec(50, 0);
  ACMWAVEFORMAT f{kAcmTagADPCM, 1, 8000, 4096, 256, 4, 32};
  std::memcpy(rec.data(), &f, sizeof f);
  const int16_t extra[16] = {500, 7,  256, 0, 512, -256, 0,   0,
                             192, 64, 240, 0, 460, -208, 392, -232};
  std::memcpy(rec.data() + 18, extra, sizeof extra);
  const auto* adpcm = reinterpret_cast<const ACMWAVEFORMAT*>(rec.data());
  const ACMWAVEFORMAT pcm = Linear(kAcmTagPCM, 16, 1, 8000);
  Stream s(adpcm, &pcm, 1024);
  for (size_t b = 0; b < 1024; b += 256) s.src[b + 1] = 16;  // delta 16 in each header
  // 300 bytes: one block converted, 44 bytes left for the caller to carry.
  EXPECT_EQ(s.Convert(300, ACM_STREAMCONVERTF_BLOCKALIGN), 1000u);
  EXPECT_EQ(s.h.cbSrcLengthUsed, 256u);
  // A destination too small for two blocks: the rest comes with the next call.
  s.h.cbDstLength = 1200;
  uint32_t got = s.Convert(512, ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_EQ(got, 1200u);
  s.h.cbDstLength = uint32_t(s.dst.size());
  got += s.Convert(0, ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_EQ(got, 2000u);
}

TEST(Acm, AdpcmSizesFollowTheBlockNotTheDeclaredSamplesPerBlock) {
  // A record claiming 62,478 samples in every block: the decoder takes a block's samples from
  // its size, so the destination is sized from that too, not from the claim.
  std::vector<uint8_t> rec(50, 0);
  ACMWAVEFORMAT f{kAcmTagADPCM, 2, 22050, 22050 * 512, 512, 4, 32};
  std::memcpy(rec.data(), &f, sizeof f);
  const uint16_t claim = 62478;
  std::memcpy(rec.data() + 18, &claim, 2);
  auto* adpcm = reinterpret_cast<ACMWAVEFORMAT*>(rec.data());
  const ACMWAVEFORMAT pcm = Linear(kAcmTagPCM, 16, 2, 22050);
  HACMSTREAM s = nullptr;
  ASSERT_EQ(acmStreamOpen(&s, adpcm, &pcm, nullptr, 0), MMSYSERR_NOERROR);
  uint32_t out = 0;
  ASSERT_EQ(acmStreamSize(s, 8192, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  // 16 blocks of (512 - 14) * 2 / 2 + 2 = 500 frames of 4 bytes, plus the codec's look-ahead.
  EXPECT_GE(out, 16u * 500 * 4);
  EXPECT_LE(out, 16u * 500 * 4 + 64 * 4);
  acmStreamClose(s);
  // A block too small for its channels' headers is no ADPCM record at all.
  adpcm->nBlockAlign = 13;
  EXPECT_NE(acmStreamOpen(nullptr, adpcm, &pcm, nullptr, ACM_STREAMOPENF_QUERY), MMSYSERR_NOERROR);
}

TEST(Acm, FiltersScaleAndEcho) {
  const ACMWAVEFORMAT pcm = Linear(kAcmTagPCM, 16, 1, 1000);
  ECHOWAVEFILTER echo{{sizeof echo, kAcmFilterEcho, 0, {}}, 0x8000, 2};  // 2 ms: 2 samples
  Stream s(&pcm, &pcm, 16, &echo.wfltr);
  const int16_t in[8] = {1000, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(s.src.data(), in, sizeof in);
  ASSERT_EQ(s.Convert(16, 0), 16u);
  int16_t out[8];
  std::memcpy(out, s.dst.data(), sizeof out);
  EXPECT_EQ(out[0], 1000);
  EXPECT_EQ(out[2], 500);
  EXPECT_EQ(out[1], 0);
  ACMWAVEFORMAT other = pcm;
  other.nSamplesPerSec = 2000;
  EXPECT_EQ(acmStreamOpen(nullptr, &pcm, &other, &echo.wfltr, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
}

// FFmpeg's own messages (here the µ-law encoder's note that it cannot be flushed) go to the trace
// sink, not to the program's standard error.
TEST(Acm, FfmpegMessagesGoToTheTraceSink) {
  const ACMWAVEFORMAT pcm = Linear(kAcmTagPCM, 16, 1, 8000);
  const ACMWAVEFORMAT mulaw = Linear(kAcmTagMuLaw, 8, 1, 8000);
  vant::TraceCapture capture;
  std::fflush(stderr);
  const int saved = dup(2);
  FILE* err = std::tmpfile();
  ASSERT_TRUE(err);
  dup2(fileno(err), 2);
  {
    Stream s(&pcm, &mulaw, 2000);
    s.Convert(2000, ACM_STREAMCONVERTF_END);
  }
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fseek(err, 0, SEEK_END);
  const long written = std::ftell(err);
  std::fclose(err);
  EXPECT_EQ(written, 0);
  bool seen = false;
  for (const std::string& line : capture.Lines()) seen |= line.find("flush") != std::string::npos;
  EXPECT_TRUE(seen);
}

}  // namespace
