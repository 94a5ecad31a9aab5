#include "mmwavefile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "chainbuffer.h"
#include "memorysource.h"
#include "mmaudiofile.h"
#include "mmpcmsup.h"
#include "openrecorder.h"
#include "wavebuilder.h"

namespace {

using namespace wavetest;

void Open(TMMDSPComponent& c) {
  c.Opened();
  c.Started();
}
void Close(TMMDSPComponent& c) {
  c.Stopped();
  c.Closed();
}

class WaveFileComponent : public ::testing::Test {
 protected:
  void TearDown() override { DoneRegisteredAudioFiles(); }
  TempDir dir_;
};

TEST_F(WaveFileComponent, SourceFillsBuffersAndLoops) {
  const Bytes data = Ramp16(1000, 1);
  TMMWaveFile f(nullptr);
  int changed = 0, looped = 0;
  f.OnChanged = [&](vant::TObject*) { ++changed; };
  f.OnLooping = [&](vant::TObject*) { ++looped; };
  f.SetFileName(dir_.Put(Riff({Chunk("fmt ", Fmt(1, 1, 8000, 16)), Chunk("data", data)})));
  EXPECT_EQ(changed, 1);
  ASSERT_NE(f.GetPWaveFormat(), nullptr);  // the wave's format went down the chain
  EXPECT_EQ(f.GetPWaveFormat()->nSamplesPerSec, 8000u);
  EXPECT_EQ(f.GetPlayTime(), 125);
  EXPECT_EQ(f.GetOptimalReadSize(), 2);

  ChainBuffer b(1500);
  f.Opened();
  EXPECT_TRUE(b.Pull(f));  // not started: silence, the whole buffer
  EXPECT_EQ(b.Recorded(), Bytes(1500, 0));
  f.Started();
  EXPECT_TRUE(b.Pull(f));
  EXPECT_EQ(b.Recorded(), Bytes(data.begin(), data.begin() + 1500));
  // The device loops twice more (LoopCount 2): the last bytes wrap to the start.
  b.hdr.LoopRec = {-1, 2, 2, 0};
  Bytes all = b.Recorded();
  const Bytes rest = PullUntilDone(f, 1500, b.hdr.LoopRec, 10);
  all.insert(all.end(), rest.begin(), rest.end());
  EXPECT_EQ(looped, 2);
  EXPECT_EQ(all.size(), 3 * data.size());
  EXPECT_EQ(Bytes(all.begin() + 2000, all.begin() + 4000), data);
  f.SetEnabled(false);
  EXPECT_TRUE(b.Pull(f));
  EXPECT_EQ(b.Recorded(), Bytes(1500, 0));
  Close(f);
}

TEST_F(WaveFileComponent, EightBitSilenceIs128) {
  TMMWaveFile f(nullptr);
  f.SetFileName(dir_.Put(Riff({Chunk("fmt ", Fmt(1, 1, 8000, 8)), Chunk("data", Bytes(10, 7))})));
  f.Opened();
  ChainBuffer b(64);
  EXPECT_TRUE(b.Pull(f));
  EXPECT_EQ(b.Recorded(), Bytes(64, 128));
  f.Closed();
}

// What a recorder gets from its Input: 16-bit stereo at 22,050 Hz.
MemorySource Feed(Bytes bytes) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 22050);
  return MemorySource(&f, std::move(bytes), 4096);
}

TEST_F(WaveFileComponent, RecorderWritesWhatFlowsThroughIt) {
  const Bytes pcm = Ramp16(5001, 2);
  const std::string name = (dir_ / "rec.wav").string();
  MemorySource feed = Feed(pcm);
  TMMWaveFile rec(nullptr);
  rec.GetWave()->SetFileMustExist(false);
  rec.SetInput(&feed);
  rec.SetFileName(name);
  Open(rec);
  ChainBuffer b(4096);
  while (b.Pull(rec)) {
  }
  Close(rec);
  TMMWave back;
  back.SetFileName(name);
  EXPECT_EQ(back.GetSampleRate(), 22050);
  back.OpenFile();
  Bytes got(pcm.size() + 100);
  EXPECT_EQ(back.ReadDataBytes(got.data(), int64_t(got.size())), int64_t(pcm.size()));
  got.resize(pcm.size());
  EXPECT_EQ(got, pcm);
}

TEST_F(WaveFileComponent, RecordingIntoAnExistingFileKeepsWhatFollowsTheData) {
  const Bytes old = Ramp16(100, 2);
  const Bytes cue = Chunk("cue ", Bytes(28, 3));
  const std::string name =
      dir_.Put(Riff({Chunk("fmt ", Fmt(1, 2, 22050, 16)), Chunk("data", old), cue}), "keep.wav");
  Bytes pcm(800, 0x21);
  MemorySource feed = Feed(pcm);
  vant::testing::OpenRecorder opened("/keep.wav");
  TMMWaveFile rec(nullptr);
  rec.SetOverwriteExisting(false);
  rec.SetInput(&feed);
  rec.SetFileName(name);
  rec.SetPosition(50);  // recorded frames replace the old ones from here on
  Open(rec);
  EXPECT_EQ(opened.Writable(), 0) << "opened for a recording, but nothing written yet";
  PullUntilDone(rec, 512);
  Close(rec);
  EXPECT_EQ(opened.Writable(), 1);
  const Bytes file = ReadFile(name);
  const Bytes want = Concat({Bytes(old.begin(), old.begin() + 200), pcm});
  TMMWave back;
  back.SetFileName(name);
  back.OpenFile();
  Bytes got(2000);
  ASSERT_EQ(back.ReadDataBytes(got.data(), 2000), int64_t(want.size()));
  got.resize(want.size());
  EXPECT_EQ(got, want);
  EXPECT_NE(std::search(file.begin(), file.end(), cue.begin(), cue.end()), file.end());
}

// Loading a file into a chain opens it once, for reading, and playing it opens it for reading:
// only a recording into it (above) opens it for writing.
TEST_F(WaveFileComponent, ALoadedAndPlayedFileIsOpenedOnceToLoadAndOnlyForReading) {
  RegisterAudioFileReaders();
  const std::string name =
      dir_.Put(Riff({Chunk("fmt ", Fmt(1, 2, 22050, 16)), Chunk("data", Ramp16(100, 2))}), "r.wav");
  vant::testing::OpenRecorder opened("/r.wav");
  TMMAudioFile file(nullptr);
  file.SetFileName(name);
  ASSERT_FALSE(file.GetEmpty());
  EXPECT_EQ(opened.opens.size(), 1u) << "the reader is chosen and loads with one open";
  TMMWaveFile source(nullptr);
  source.SetFileName(name);
  Open(source);
  ChainBuffer buffer(400);
  buffer.Pull(source);
  EXPECT_EQ(buffer.Recorded().size(), 400u);
  Close(source);
  EXPECT_EQ(opened.Writable(), 0);
}

TEST_F(WaveFileComponent, RecorderWithoutDataLeavesOneBlock) {
  MemorySource feed = Feed({});
  TMMWaveFile rec(nullptr);
  rec.GetWave()->SetFileMustExist(false);
  rec.SetInput(&feed);
  rec.SetFileName((dir_ / "none.wav").string());
  Open(rec);
  Close(rec);
  TMMWave back;
  back.SetFileName((dir_ / "none.wav").string());
  EXPECT_EQ(back.GetLengthBytes(), 4);
}

TEST_F(WaveFileComponent, IsTheRegistrysWaveReader) {
  RegisterAudioFileReaders();
  const std::string wav = dir_.Put(
      Riff({Chunk("fmt ", Fmt(1, 2, 48000, 16)), Chunk("data", Ramp16(4800, 2))}), "a.WAV");
  const std::string mp3 = dir_.Put(ReadFile(wav), "a.mp3");
  const std::string bare = dir_.Put(ReadFile(wav), "bare");
  EXPECT_EQ(GetRegisteredAudioFilters(true), "Wave Files(*.wav)|*.wav");
  EXPECT_TRUE(IsValidAudioFile(wav));
  EXPECT_TRUE(IsValidAudioFile(bare));
  EXPECT_FALSE(IsValidAudioFile(mp3));
  EXPECT_FALSE(IsValidAudioFile(dir_.Put({1, 2, 3}, "junk.wav")));
  TMMAudioFileInfo info;
  info.Bitrate = 9;
  ASSERT_TRUE(GetAudioFileInfo(wav, info));
  EXPECT_TRUE(info.Valid);
  EXPECT_EQ(info.Length, 100);
  EXPECT_EQ(info.Bitrate, 0);
  EXPECT_EQ(info.TagInfo.Title, "a.WAV");
  const TMMCustomFileClass* reader = FindAudioFileClass(wav, {}, 0, dmAll);
  ASSERT_NE(reader, nullptr);
  std::unique_ptr<TMMCustomFile> made(reader->Create(nullptr));
  EXPECT_EQ(made->ClassName(), "TMMWaveFile");
  EXPECT_EQ(made->GetFileType(), ftWave);
}

TEST_F(WaveFileComponent, MemoryWaveScansItsImage) {
  const Bytes image = Riff({Chunk("fmt ", Fmt(1, 2, 48000, 16)), Chunk("data", Ramp16(480, 2))});
  std::stringstream s(std::string(image.begin(), image.end()));
  TMMMemoryWave m(nullptr);
  EXPECT_FALSE(m.PublishesInput());
  m.GetWave()->LoadFromStream(s);
  ASSERT_NE(m.GetPWaveFormat(), nullptr);
  EXPECT_EQ(m.GetPWaveFormat()->nChannels, 2);
  EXPECT_EQ(m.GetWave()->GetLength(), 480);
  m.SetPosition(0);
  const auto* data = m.GetWave()->GetPWaveData();
  EXPECT_EQ(std::memcmp(data, image.data() + 44, 1920), 0);
  EXPECT_EQ(m.GetPlayTime(), 10);
  m.SetPositionMs(5);
  EXPECT_EQ(m.GetPosition(), 240);
  EXPECT_EQ(m.GetPositionMs(), 5);
}

}  // namespace
