#include "mmwave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "clock.h"
#include "filelayer.h"
#include "manualbackend.h"
#include "mmpcmsup.h"
#include "powercut.h"
#include "wavebuilder.h"

namespace {

using namespace wavetest;
namespace fs = std::filesystem;

// 16-bit mono ramp at `rate`: sample i holds i.
Bytes MonoRamp(int frames, uint32_t rate = 8000) {
  return Riff({Chunk("fmt ", Fmt(1, 1, rate, 16)), Chunk("data", Ramp16(frames, 1))});
}

std::vector<int16_t> Samples(const Bytes& b, size_t from = 0, size_t bytes = SIZE_MAX) {
  std::vector<int16_t> s;
  for (size_t i = from; i + 1 < b.size() && i + 1 < from + bytes; i += 2)
    s.push_back(int16_t(b[i] | b[i + 1] << 8));
  return s;
}

// Everything the wave plays, read in pieces of `piece` bytes.
Bytes ReadAll(TMMWave& w, int64_t piece = 1000) {
  Bytes out, buf(static_cast<size_t>(piece));
  for (int64_t n; (n = w.ReadDataBytes(buf.data(), piece)) > 0;)
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  return out;
}

std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Wave : public ::testing::Test {
 protected:
  std::string Put(const Bytes& bytes, const std::string& name = "t.wav") {
    return dir_.Put(bytes, name);
  }
  TempDir dir_;
};

TEST_F(Wave, EmptyWaveAnswersItsDefaults) {
  TMMWave w;
  EXPECT_EQ(w.GetSampleRate(), 11025);
  EXPECT_EQ(w.GetBitLength(), 0);
  EXPECT_EQ(w.GetMode(), mMono);
  EXPECT_EQ(w.GetFormatString(), "Unknown");
  EXPECT_EQ(w.GetPosition(), -1);
  EXPECT_EQ(w.GetStartPos(), -1);
  EXPECT_TRUE(w.GetEmpty());
  EXPECT_EQ(w.ReadDataBytes(nullptr, 4), -1);
  w.SetIOBufSize(1000);
  EXPECT_EQ(w.GetIOBufferSize(), 8192);
  EXPECT_THROW(w.GetPWaveData(), EMMWaveError);

  WAVEFORMATEX six{};
  pcmBuildWaveHeader(six, 16, 6, 48000);
  w.SetPWaveFormat(&six);
  EXPECT_EQ(w.GetMode(), mMultiChannel);
}

TEST_F(Wave, TimeUnitsAtTheRatesThatMatter) {
  for (uint32_t rate : {8000u, 11025u, 22050u, 32000u, 44100u, 48000u, 96000u}) {
    for (int channels : {1, 2}) {
      TMMWave w;
      WAVEFORMATEX f{};
      pcmBuildWaveHeader(f, 16, channels, int(rate));
      w.SetPWaveFormat(&f);
      for (int64_t s : {int64_t{1}, int64_t{7}, int64_t{12345}, int64_t{rate} * 600 + 1}) {
        const int64_t ms = std::llround(double(s) * 1000 / rate);
        w.SetTimeFormat(tfMillisecond);
        EXPECT_EQ(w.SamplesToTimeFormat(s), ms) << rate << " " << s;
        EXPECT_EQ(w.TimeFormatToSamples(ms), std::llround(double(ms) * rate / 1000)) << rate;
        w.SetTimeFormat(tfByte);
        EXPECT_EQ(w.SamplesToTimeFormat(s), s * 2 * channels);
        EXPECT_EQ(w.TimeFormatToSamples(s * 2 * channels), s);
        w.SetTimeFormat(tfSample);
        EXPECT_EQ(w.SamplesToTimeFormat(s), s);
      }
    }
  }
}

TEST_F(Wave, ReadsThePlayingRangeToItsEnd) {
  TMMWave w;
  w.SetFileName(Put(MonoRamp(6000)));
  w.SetStartPos(1000);
  w.SetEndPos(5000);
  EXPECT_EQ(w.GetLengthSamples(), 4000);
  w.OpenFile();
  Bytes buf(20000);
  ASSERT_EQ(w.ReadDataBytes(buf.data(), 6000), 6000);
  EXPECT_EQ(Samples(buf, 0, 2).at(0), 1000);
  ASSERT_EQ(w.ReadDataBytes(buf.data(), 6000), 2000);  // the last bytes ...
  EXPECT_EQ(Samples(buf, 1998, 2).at(0), 4999);
  EXPECT_EQ(w.ReadDataBytes(buf.data(), 6000), -1);  // ... then nothing
  EXPECT_EQ(w.GetPosition(), 4000);
  w.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(w.GetPosition(), 500);
  w.SetTimeFormat(tfByte);
  EXPECT_EQ(w.GetPosition(), 8000);

  // Past the end clamps: nothing is left to play.
  w.SetTimeFormat(tfSample);
  w.SetPosition(99999);
  EXPECT_EQ(w.GetPosition(), 4000);
  EXPECT_EQ(w.ReadDataBytes(buf.data(), 100), -1);
  w.SetPosition(3990);
  EXPECT_EQ(w.ReadDataBytes(buf.data(), 100), 20);
  w.CloseFile();
}

TMMCutRegion Cut(int32_t start, int32_t length) { return {start, 0, length, 0, 0}; }

// A wave that plays at half volume from the start of its playing part.
class HalfVolumeWave : public TMMWave {
 public:
  void InitPlayFadeList(bool) override {
    if (!play_fade_list_) play_fade_list_ = std::make_unique<TMMFadeList>();
    play_fade_list_->Clear();
    play_fade_list_->Add({0, 8192, 8192, 8192, 0});
    play_fade_list_->Add({1 << 30, 8192, 8192, 8192, 0});
    play_fade_list_->CurPosition = GetLengthBytes() - GetBytesLeft();
    play_fade_list_->CurLeftVolume = play_fade_list_->CurRightVolume = 8192;
  }
};

TEST_F(Wave, CutListBecomesPlayRegions) {
  const struct {
    std::vector<TMMCutRegion> cuts;
    int64_t start, end;
    std::vector<std::pair<int, int>> played;  // (first sample, count)
  } rows[] = {
      {{}, 1000, 5000, {{1000, 4000}}},
      {{Cut(2000, 500)}, 1000, 5000, {{1000, 1000}, {2500, 2500}}},
      {{Cut(0, 1200), Cut(3000, 10), Cut(4990, 100)}, 1000, 5000, {{1200, 1800}, {3010, 1980}}},
      {{Cut(1000, 4000)}, 1000, 5000, {}},  // one region of length 0
      {{Cut(100, 50), Cut(5000, 7)}, 0, 6000, {{0, 100}, {150, 4850}, {5007, 993}}},
  };
  const std::string name = Put(MonoRamp(6000));
  for (const auto& row : rows) {
    TMMCutList cuts;
    for (const auto& c : row.cuts) cuts.AddRegion(c);
    TMMWave w;
    w.SetFileName(name);
    w.SetCutList(&cuts);
    w.SetStartPos(row.start);
    w.SetEndPos(row.end);
    std::vector<int16_t> want;
    for (auto [from, n] : row.played)
      for (int i = 0; i < n; ++i) want.push_back(int16_t(from + i));
    EXPECT_EQ(w.GetLengthSamples(), int64_t(want.size()));
    w.OpenFile();
    // Odd piece sizes cross the region ends inside a read.
    EXPECT_EQ(Samples(ReadAll(w, 998)), want);
    EXPECT_EQ(w.GetPosition(), int64_t(want.size()));
    // A seek lands inside the right region.
    if (want.size() > 1500) {
      w.SetPosition(1500);
      Bytes two(2);
      ASSERT_EQ(w.ReadDataBytes(two.data(), 2), 2);
      EXPECT_EQ(Samples(two).at(0), want[1500]);
    }
    w.CloseFile();
  }
}

TEST_F(Wave, PlayFadesScaleTheRegionsUnlessIgnored) {
  TMMCutList cuts;
  cuts.AddRegion(Cut(2000, 500));
  for (bool ignore : {false, true}) {
    HalfVolumeWave w;
    w.SetFileName(Put(MonoRamp(6000)));
    w.SetCutList(&cuts);
    w.SetIgnoreFades(ignore);
    w.OpenFile();
    EXPECT_THROW(w.SetIgnoreFades(!ignore), EMMWaveError);
    w.SetPosition(1000);
    const auto got = Samples(ReadAll(w, 1002));
    ASSERT_EQ(got.size(), 4500u);
    for (size_t i = 0; i < got.size(); ++i) {
      const int v = i < 1000 ? 1000 + int(i) : 1500 + int(i);
      ASSERT_EQ(got[i], ignore ? v : v / 2) << i;
    }
    w.CloseFile();
  }
}

TEST_F(Wave, FileThatEndsEarlyGivesOneSilenceBlock) {
  const std::string name = Put(MonoRamp(1000));
  TMMWave w;
  w.SetFileName(name);
  w.OpenFile();
  Bytes buf(4000, 0xAA);
  ASSERT_EQ(w.ReadDataBytes(buf.data(), 1000), 1000);
  // Stand-in for a file that yields nothing: the block's own count says it is used up.
  w.GetPWaveIOCB()->dwBytesLeft = 0;
  EXPECT_EQ(w.ReadDataBytes(buf.data(), 100), 4);
  EXPECT_EQ(Samples(buf, 0, 4), (std::vector<int16_t>{0, 0}));
  EXPECT_EQ(w.GetPosition(), 1000);
  EXPECT_EQ(w.ReadDataBytes(buf.data(), 100), -1);
}

TEST_F(Wave, SameFileIsNotReloadedChangedFileIs) {
  const std::string name = Put(MonoRamp(100));
  TMMWave w;
  int changes = 0;
  w.OnChange = [&](vant::TObject*) { ++changes; };
  w.SetFileName(name);
  EXPECT_EQ(changes, 1);
  w.SetFileName(name);
  EXPECT_EQ(changes, 1);
  Put(MonoRamp(200));
  w.SetFileName(name);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(w.GetDataSize(), 200);

  EXPECT_THROW(w.SetFileName((dir_ / "missing.wav").string()), EMMWaveError);
  EXPECT_EQ(w.GetDataSize(), 200);  // a failed load keeps the wave
  w.SetFileMustExist(false);
  w.SetFileName((dir_ / "missing.wav").string());
  EXPECT_TRUE(w.GetEmpty());
  EXPECT_EQ(w.GetFileName(), (dir_ / "missing.wav").string());
  try {
    w.SetFileName(Put({1, 2, 3}, "junk.wav"));
    FAIL();
  } catch (const EMMWaveError& e) {
    EXPECT_STREQ(e.what(), "Invalid wave file...");
  }
}

// Installs a manual clock while alive.
struct ClockInstalled {
  ClockInstalled() { vant::SetClock(&clock); }
  ~ClockInstalled() { vant::SetClock(nullptr); }
  vant::ManualClock clock;
};

TEST_F(Wave, FileReplacedUnderAnOpenWaveReadsTheNewData) {
  const std::string name = Put(MonoRamp(4000));
  ClockInstalled time;
  TMMWave w;
  w.SetFileName(name);
  w.OpenFile();
  Bytes buf(2000);
  ASSERT_EQ(w.ReadDataBytes(buf.data(), 2000), 2000);
  // The converter saves over the file: a LIST chunk before the data moves it.
  Bytes ramp = Ramp16(6000, 1);
  for (auto& b : ramp) b ^= 0x55;
  WriteFile(name, Riff({Chunk("fmt ", Fmt(1, 1, 8000, 16)),
                        Chunk("LIST", Concat({{'I', 'N', 'F', 'O'}, Chunk("INAM", Text("New"))})),
                        Chunk("data", ramp)}));
  fs::last_write_time(name, fs::last_write_time(name) + std::chrono::seconds(2));
  time.clock.AdvanceMillis(kWaveFileCheckMillis);
  ASSERT_EQ(w.ReadDataBytes(buf.data(), 2000), 2000);
  // Position 1000 of the new data.
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 2000),
            Bytes(ramp.begin() + 2000, ramp.begin() + 4000));
  EXPECT_EQ(w.GetLengthSamples(), 6000);

  // Saved beside it and renamed over it: the open file loses its name.
  const Bytes other = Ramp16(9000, 1);
  WriteFile(dir_ / "new.wav", Riff({Chunk("fmt ", Fmt(1, 1, 8000, 16)), Chunk("data", other)}));
  fs::rename(dir_ / "new.wav", name);
  time.clock.AdvanceMillis(kWaveFileCheckMillis);
  ASSERT_EQ(w.ReadDataBytes(buf.data(), 2000), 2000);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 2000),
            Bytes(other.begin() + 4000, other.begin() + 6000));
  EXPECT_EQ(w.GetLengthSamples(), 9000);
}

// Asking the open file whether it changed costs a system call as dear as a read: a wave reading
// in quick succession asks once per interval, so a change is seen within that interval.
TEST_F(Wave, ReadsAskTheOpenFileOncePerInterval) {
  struct CountingLayer : vant::PosixFileLayer {
    CountingLayer() { vant::SetFileLayer(this); }
    ~CountingLayer() override { vant::SetFileLayer(nullptr); }
    int Fstat(int fd, struct stat& st) override {
      ++asked;
      return PosixFileLayer::Fstat(fd, st);
    }
    int asked = 0;
  };
  const std::string name = Put(MonoRamp(8000));
  ClockInstalled time;
  CountingLayer layer;
  TMMWave w;
  w.SetFileName(name);
  w.OpenFile();
  Bytes buf(400);
  const int opened = layer.asked;
  for (int i = 0; i < 10; ++i) ASSERT_EQ(w.ReadDataBytes(buf.data(), 400), 400);
  EXPECT_EQ(layer.asked - opened, 0);
  time.clock.AdvanceMillis(kWaveFileCheckMillis);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(w.ReadDataBytes(buf.data(), 400), 400);
  EXPECT_EQ(layer.asked - opened, 1);
  EXPECT_EQ(Samples(buf).front(), 3800);  // the 20th piece
}

TEST_F(Wave, MemoryWaveFromAStream) {
  const Bytes image = Riff({Chunk("fmt ", Fmt(1, 2, 48000, 16)),
                            Chunk("LIST", Concat({{'I', 'N', 'F', 'O'}, Chunk("INAM", Text("M"))})),
                            Chunk("data", Ramp16(300, 2))});
  std::stringstream s(std::string(image.begin(), image.end()));
  s.seekg(17);  // the whole stream is taken, wherever it stands
  TMMWave w(true);
  int changes = 0;
  w.OnChange = [&](vant::TObject*) { ++changes; };
  w.LoadFromStream(s);
  EXPECT_EQ(changes, 1);
  ASSERT_NE(w.GetPWaveData(), nullptr);
  EXPECT_EQ(std::memcmp(w.GetPWaveData(), image.data() + w.GetDataOffset(), 1200), 0);
  EXPECT_EQ(w.GetPWaveData()[4], 1);  // frame 1, left
  EXPECT_EQ(w.GetLengthSamples(), 300);
  std::string title;
  w.GetInfoChunk("INAM", title);
  EXPECT_EQ(title, "M");
  EXPECT_THROW(w.GetInfoChunk("XXXX", title), EMMWaveError);

  w.SetPosition(0);
  w.OpenFile();
  EXPECT_EQ(ReadAll(w), Ramp16(300, 2));
  w.CloseFile();

  // A memory wave saves its playing part to a file like any wave.
  w.SaveToFile((dir_ / "m.wav").string());
  TMMWave copy;
  copy.SetFileName((dir_ / "m.wav").string());
  copy.OpenFile();
  EXPECT_EQ(ReadAll(copy), Ramp16(300, 2));

  std::ostringstream saved;
  w.SaveToStream(saved);
  EXPECT_EQ(saved.str(), std::string(image.begin(), image.end()));

  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 1, 8000);
  for (const auto& refused : std::vector<std::function<void()>>{
           [&] { w.CreateFile((dir_ / "x.wav").string(), &f); },
           [&] { w.WriteDataBytes("abcd", 4); }, [&] { w.SetPWaveIOCB(nullptr); }}) {
    try {
      refused();
      FAIL();
    } catch (const EMMWaveError& e) {
      EXPECT_STREQ(e.what(), "Can't write to MemoryWave");
    }
  }

  std::stringstream bad("RIFF....WAVEjunk");
  EXPECT_THROW(w.LoadFromStream(bad), EMMWaveError);
  EXPECT_EQ(w.GetLengthSamples(), 300);  // the old image stays
}

TEST_F(Wave, CreateWriteAndReadBack) {
  const std::string name = (dir_ / "new.wav").string();
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 44100);
  TMMWave w;
  w.CreateFile(name, &f);
  const Bytes data = Ramp16(1001, 2);
  EXPECT_EQ(w.WriteDataBytes(data.data(), int64_t(data.size())), int64_t(data.size()));
  EXPECT_EQ(w.GetLengthSamples(), 1001);
  w.CloseFile();
  TMMWave r;
  r.SetFileName(name);
  r.OpenFile();
  EXPECT_EQ(ReadAll(r), data);
  // The file open in the wave is not deleted from under it.
  EXPECT_THROW(r.CreateFile(name, &f), EMMWaveError);
  r.CloseFile();
  EXPECT_EQ(r.GetDataSize(), 1001);
}

// A layer that fails the n-th data write (counting from 1), or the rename.
class FailingLayer : public TMMWaveFileLayer {
 public:
  int failWrite = 0;
  bool failRename = false;
  int writes = 0;
  int64_t WriteData(TWAVEIOCB* b, const void* d, int64_t n) override {
    return ++writes == failWrite ? 0 : TMMWaveFileLayer::WriteData(b, d, n);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    return !failRename && TMMWaveFileLayer::Rename(from, to);
  }
};

class WaveSave : public Wave {
 protected:
  void SetUp() override {
    source_ = Put(Riff({Chunk("fmt ", Fmt(1, 1, 8000, 16)),
                        Chunk("LIST", Concat({{'I', 'N', 'F', 'O'}, Chunk("INAM", Text("Src"))})),
                        Chunk("data", Ramp16(20000, 1))}),
                  "src.wav");
    target_ = Put({'o', 'l', 'd'}, "target.wav");
    wave_.SetFileName(source_);
  }
  void TearDown() override { SetWaveFileLayer(nullptr); }
  std::string source_, target_;
  TMMWave wave_;
};

TEST_F(WaveSave, SavesThePlayingPartWithItsInfo) {
  wave_.SetStartPos(100);
  wave_.SetEndPos(19000);
  std::vector<int64_t> progress;
  wave_.OnProgress = [&](vant::TObject*, int64_t cur, int64_t total, bool&) {
    progress.push_back(cur);
    EXPECT_EQ(total, 37800);
  };
  wave_.SaveToFile(target_);
  EXPECT_EQ(progress, (std::vector<int64_t>{16000, 32000, 37800}));
  EXPECT_FALSE(wave_.IsOpened());
  TMMWave saved;
  saved.SetFileName(target_);
  std::string title;
  saved.GetInfoChunk("INAM", title);
  EXPECT_EQ(title, "Src");
  saved.OpenFile();
  const Bytes all = Ramp16(20000, 1);
  EXPECT_EQ(ReadAll(saved), Bytes(all.begin() + 200, all.begin() + 38000));
  EXPECT_EQ(FilesIn(dir_.path()), (std::vector<std::string>{"src.wav", "target.wav"}));
  EXPECT_EQ(fs::status(target_).permissions(), fs::status(source_).permissions());
}

TEST_F(WaveSave, FailureOrCancelLeavesTheTargetAlone) {
  FailingLayer layer;
  SetWaveFileLayer(&layer);
  struct {
    int failWrite;
    bool failRename;
    bool cancel;
    const char* message;
  } rows[] = {
      {1, false, false, "Unable to save wave file"},
      {2, false, false, "Unable to save wave file"},
      {0, true, false, "Unable to save wave file"},
      {0, false, true, "Saving was aborted"},
  };
  for (const auto& row : rows) {
    layer.writes = 0;
    layer.failWrite = row.failWrite;
    layer.failRename = row.failRename;
    wave_.OnProgress = [&](vant::TObject*, int64_t, int64_t, bool& cancel) { cancel = row.cancel; };
    try {
      wave_.SaveToFile(target_);
      FAIL() << row.message;
    } catch (const EMMWaveError& e) {
      EXPECT_STREQ(e.what(), row.message);
    }
    EXPECT_EQ(ReadFile(target_), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(FilesIn(dir_.path()), (std::vector<std::string>{"src.wav", "target.wav"}));
    EXPECT_FALSE(wave_.IsOpened());
  }
}

// A power cut at any point of a save or a conversion, over a file and to a new name: the old
// file or the new one is there, whole, and the new one from the end of the save on.
TEST_F(WaveSave, PowerCutAtAnyPointLeavesTheOldFileOrTheNewOne) {
  WAVEFORMATEX stereo8{};
  pcmBuildWaveHeader(stereo8, 8, 2, 8000);
  for (bool convert : {false, true}) {
    for (bool existing : {true, false}) {
      SCOPED_TRACE(std::string(convert ? "conversion" : "save") + (existing ? " over a file" : ""));
      const std::string target = existing ? target_ : (dir_.path() / "new.wav").string();
      fs::remove(dir_.path() / "new.wav");
      std::optional<Bytes> before;
      if (existing) before = ReadFile(target);
      vant::testing::PowerCutRecorder recorder(dir_.path());
      if (convert) {
        wave_.ConvertFile(target, &stereo8);
      } else {
        wave_.SaveToFile(target);
      }
      const auto faults =
          vant::testing::Prove(recorder, vant::testing::TargetNames(target),
                               vant::testing::ReplacedWhole(target, before, ReadFile(target)));
      EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    }
  }
}

TEST_F(WaveSave, RefusesToSaveOverItsOwnFile) {
  const Bytes before = ReadFile(source_);
  for (const auto& own : {source_, (dir_ / "." / "src.wav").string()}) {
    try {
      wave_.SaveToFile(own);
      FAIL();
    } catch (const EMMWaveError& e) {
      EXPECT_STREQ(e.what(), "Unable to save wave file");
    }
  }
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 8, 1, 8000);
  EXPECT_THROW(wave_.ConvertFile(source_, &f), EMMWaveError);
  EXPECT_EQ(ReadFile(source_), before);
  EXPECT_EQ(wave_.GetLengthSamples(), 20000);
}

TEST_F(WaveSave, ConvertsEveryChunk) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 8, 2, 8000);
  wave_.ConvertFile(target_, &f);
  TMMWave c;
  c.SetFileName(target_);
  EXPECT_EQ(c.GetBitLength(), 8);
  EXPECT_EQ(c.GetMode(), mStereo);
  EXPECT_EQ(c.GetDataSize(), 20000);
  c.OpenFile();
  const Bytes got = ReadAll(c);
  ASSERT_EQ(got.size(), 40000u);
  // The ramp's sample 19000 (0x4A38) as 8-bit unsigned, on both channels.
  EXPECT_EQ(got[38000], 0x4A + 128);
  EXPECT_EQ(got[38001], 0x4A + 128);

  WAVEFORMATEX adpcm{2, 1, 8000, 4096, 256, 4, 0};
  try {
    wave_.ConvertFile(target_, &adpcm);
    FAIL();
  } catch (const EMMWaveError& e) {
    EXPECT_STREQ(e.what(), "This wave file is not valid for conversion");
  }
}

TEST_F(WaveSave, ImportFromRawMakesAWaveBesideIt) {
  const Bytes pcm = Ramp16(12001, 2);
  const std::string raw = Put(pcm, "take.raw");
  wave_.ImportFromRaw(raw, 16, 2, 22050);
  EXPECT_EQ(wave_.GetFileName(), (dir_ / "take.WAV").string());
  EXPECT_EQ(wave_.GetSampleRate(), 22050);
  wave_.OpenFile();
  EXPECT_EQ(ReadAll(wave_), pcm);
  wave_.CloseFile();

  EXPECT_THROW(wave_.ImportFromRaw(raw, 24, 2, 22050), EMMWaveError);
  // The raw file itself is never the target.
  const std::string upper = Put(pcm, "same.WAV");
  EXPECT_THROW(wave_.ImportFromRaw(upper, 16, 2, 22050), EMMWaveError);
  EXPECT_EQ(ReadFile(upper), pcm);
  EXPECT_THROW(wave_.ImportFromRaw(Put({}, "empty.raw"), 16, 2, 22050), EMMWaveError);
}

TEST_F(Wave, AssignCopiesFileAndRange) {
  TMMWave a;
  a.SetFileName(Put(MonoRamp(3000)));
  a.SetStartPos(10);
  a.SetEndPos(2000);
  a.SetTimeFormat(tfByte);
  TMMWave b;
  int changes = 0;
  b.OnChange = [&](vant::TObject*) { ++changes; };
  b.Assign(&a);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.GetFileName(), a.GetFileName());
  EXPECT_EQ(b.GetTimeFormat(), tfByte);
  EXPECT_EQ(b.GetLength(), 3980);
  TMMWave m(true);
  EXPECT_ANY_THROW(b.Assign(&m));
  m.Assign(&a);
  EXPECT_EQ(m.GetLength(), 3980);
  EXPECT_NE(m.GetPWaveData(), nullptr);
}

}  // namespace

namespace {

// The whole wave through the simple sound call, heard on the Manual backend: from a file and from
// a memory image, once and looping.
TEST_F(Wave, PlaySoundPlaysTheWholeWave) {
  vant::audio::ManualBackend backend;
  backend.SetDevices({"test output"});
  vant::audio::SetBackend(&backend);
  const Bytes file = MonoRamp(8);
  const Bytes pcm(file.end() - 16, file.end());
  TMMWave w;
  EXPECT_FALSE(w.PlaySound(pmAsync));  // empty
  w.SetFileName(Put(file));
  ASSERT_TRUE(w.PlaySound(pmAsync));
  EXPECT_EQ(backend.Render(8), pcm);
  TMMWave m(true);
  std::stringstream s(std::string(file.begin(), file.end()));
  m.LoadFromStream(s);
  ASSERT_TRUE(m.PlaySound(pmLoop));
  EXPECT_EQ(backend.Render(8), pcm);
  EXPECT_EQ(backend.Render(8), pcm);
  m.StopSound();
  EXPECT_EQ(backend.OpenStreams(), 0);
  vant::audio::SetBackend(nullptr);
}

}  // namespace
