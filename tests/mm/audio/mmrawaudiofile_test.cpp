#include "mmrawaudiofile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include "chainbuffer.h"
#include "filesizelimit.h"
#include "memorysource.h"
#include "mmpcmsup.h"
#include "mmulaw.h"
#include "wavebuilder.h"

namespace {

using namespace wavetest;

Bytes PullAll(TMMDSPComponent& c, uint32_t size) { return PullUntilDone(c, size); }

// An Input of 8,000 Hz mono samples.
MemorySource Feed(Bytes bytes, int bits) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, bits, 1, 8000);
  return MemorySource(&f, std::move(bytes), 1000);
}

TEST(RawAudioFile, PropertiesKeepToTheirRanges) {
  TMMRawAudioFile r(nullptr);
  EXPECT_EQ(r.GetPWaveFormat()->nSamplesPerSec, 44100u);
  EXPECT_EQ(r.GetPWaveFormat()->nChannels, 2);
  r.SetSampleRate(96000);
  EXPECT_EQ(r.GetSampleRate(), 88200);
  EXPECT_EQ(r.GetPWaveFormat()->nSamplesPerSec, 88200u);
  r.SetSampleRate(1000);
  EXPECT_EQ(r.GetSampleRate(), 8000);
  r.SetBitLength(24);
  r.SetChannels(3);
  EXPECT_EQ(r.GetBitLength(), 16);
  EXPECT_EQ(r.GetChannels(), 2);
  r.SetBitLength(8);
  EXPECT_EQ(r.GetPWaveFormat()->wBitsPerSample, 8);
  r.SetEncoding(reuLaw);
  EXPECT_EQ(r.GetBitLength(), 16);
  r.SetBitLength(8);  // µ-law stands for 16-bit samples
  EXPECT_EQ(r.GetBitLength(), 16);
  WAVEFORMATEX adpcm{2, 1, 8000, 4096, 256, 4, 0};
  try {
    r.SetPWaveFormat(&adpcm);
    FAIL();
  } catch (const EMMRawAudioFileError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
}

TEST(RawAudioFile, MuLawPlaysAsSixteenBitSamples) {
  TempDir dir;
  Bytes ulaw(8000);
  for (size_t i = 0; i < ulaw.size(); ++i) ulaw[i] = uint8_t(i * 7);
  TMMRawAudioFile r(nullptr);
  r.SetEncoding(reuLaw);
  r.SetChannels(1);
  r.SetSampleRate(8000);
  r.LoadFromFile(dir.Put(ulaw, "u.raw"));
  // 8,000 samples at 8,000 Hz: one second, the time of 16,000 bytes of 16-bit PCM.
  EXPECT_EQ(r.GetPlayLength(), 1000);
  r.Opened();
  r.Started();
  EXPECT_THROW(r.SetSampleRate(11025), EMMRawAudioFileError);
  const Bytes pcm = PullAll(r, 3000);
  ASSERT_EQ(pcm.size(), 16000u);
  for (size_t i = 0; i < ulaw.size(); ++i) {
    ASSERT_EQ(int16_t(pcm[2 * i] | pcm[2 * i + 1] << 8), uLaw2Linear(ulaw[i])) << i;
  }
  EXPECT_EQ(r.GetPosition(), 1000);
  r.SetPosition(500);
  ChainBuffer b(4);
  b.Pull(r);
  EXPECT_EQ(int16_t(uint8_t(b.data[0]) | uint8_t(b.data[1]) << 8), uLaw2Linear(ulaw[4000]));
  r.Stopped();
  r.Closed();
}

TEST(RawAudioFile, OffsetBytesAreNeverPlayed) {
  TempDir dir;
  const Bytes pcm = Ramp16(500, 2);
  TMMRawAudioFile r(nullptr);
  r.SetOffset(44);
  r.SetSampleRate(8000);
  r.LoadFromFile(dir.Put(Concat({Bytes(44, 0x7F), pcm}), "o.raw"));
  EXPECT_EQ(r.GetPlayLength(), 62);
  r.Opened();
  r.Started();
  EXPECT_EQ(PullAll(r, 1024), pcm);
  // Looping twice more plays it three times, each from after the offset.
  r.SetPosition(0);
  EXPECT_EQ(PullUntilDone(r, 1024, {-1, 2, 2, 0}), Concat({pcm, pcm, pcm}));
  r.Stopped();
  r.Closed();
}

TEST(RawAudioFile, DisabledOrUnstartedSourceGivesSilence) {
  std::stringstream s(std::string(100, '\x10'));
  TMMRawAudioFile r(nullptr);
  r.SetBitLength(8);
  r.SetSampleRate(8000);
  r.LoadFromStream(s);
  r.Opened();
  ChainBuffer b(64);
  EXPECT_TRUE(b.Pull(r));
  EXPECT_EQ(b.Recorded(), Bytes(64, 128));
  r.Started();
  r.SetEnabled(false);
  EXPECT_TRUE(b.Pull(r));
  EXPECT_EQ(b.Recorded(), Bytes(64, 128));
  r.SetEnabled(true);
  EXPECT_EQ(PullAll(r, 64), Bytes(100, 0x10));
  r.Closed();
  EXPECT_TRUE(s.good() || s.eof());  // the caller's stream is only forgotten
}

TEST(RawAudioFile, SinkWritesPcmOrMuLaw) {
  TempDir dir;
  Bytes eight(3000);
  for (size_t i = 0; i < eight.size(); ++i) eight[i] = uint8_t(i);
  const Bytes sixteen = Ramp16(3000, 1);
  const struct {
    TMMRawEncoding encoding;
    int bits;
    const Bytes* input;
  } rows[] = {
      {reNone, 16, &sixteen}, {reuLaw, 16, &sixteen}, {reuLaw, 8, &eight}, {reNone, 8, &eight}};
  for (const auto& row : rows) {
    const std::string name = dir.Put({}, "out.raw");
    MemorySource feed = Feed(*row.input, row.bits);
    TMMRawAudioFile r(nullptr);
    r.SetEncoding(row.encoding);
    r.SetInput(&feed);
    r.SetFileName(name);
    r.Opened();
    r.Started();
    PullAll(r, 1000);
    // One µ-law byte per sample, whatever the input's width: 3,000 samples at 8 kHz.
    EXPECT_EQ(r.GetPosition(), 375);
    r.Stopped();
    r.Closed();
    Bytes want = *row.input;
    if (row.encoding == reuLaw) {
      want.clear();
      for (int i = 0; i < 3000; ++i) {
        const int v = row.bits == 8 ? (eight[i] - 128) * 256
                                    : int16_t(sixteen[2 * i] | sixteen[2 * i + 1] << 8);
        want.push_back(Linear2uLaw(v, false));
      }
    }
    EXPECT_EQ(ReadFile(name), want) << row.bits;
  }
}

TEST(RawAudioFile, SinkAppendsToAFileItMayNotOverwrite) {
  TempDir dir;
  const std::string name = dir.Put({1, 2, 3, 4}, "keep.raw");
  MemorySource feed = Feed(Ramp16(10, 1), 16);
  TMMRawAudioFile r(nullptr);
  r.SetOverwriteExisting(false);
  r.SetInput(&feed);
  r.SetFileName(name);
  r.Opened();
  r.Started();
  PullAll(r, 64);
  r.Closed();
  EXPECT_EQ(ReadFile(name), Concat({{1, 2, 3, 4}, Ramp16(10, 1)}));
}

// A recording over an existing file that is killed before it closes, or that the disk stops
// halfway, leaves the old file as it was; the next recording removes what the killed one left
// and replaces the file whole.
TEST(RawAudioFile, AKilledOrFailedRecordingLeavesTheOldFile) {
  TempDir dir;
  const Bytes old = Ramp16(50, 1);
  const std::string name = dir.Put(old, "take.raw");
  const auto record = [&](bool killed) {
    MemorySource feed = Feed(Ramp16(3000, 1), 16);
    TMMRawAudioFile r(nullptr);
    r.SetInput(&feed);
    r.SetFileName(name);
    r.Opened();
    r.Started();
    PullAll(r, 1000);
    if (killed) ::_exit(0);  // no clean-up, as a kill
    r.Closed();
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) record(true);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(name), old);
  {
    vant::testing::FileSizeLimit limit(1000);
    record(false);
  }
  EXPECT_EQ(ReadFile(name), old);

  record(false);
  EXPECT_EQ(ReadFile(name), Ramp16(3000, 1));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
