// The reader registry and the audio file component: loading by name and its failures, the
// play length, fades, volume and panning, the end of the stream, looping and FadeOut, all
// pulled standalone through ReadFileData or the chain's BufferLoad.
#include "mmaudiofile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "mmwavefile.h"
#include "mmwaveio.h"
#include "scratchfolder.h"
#include "testreader.h"
#include "ui_dialogs.h"

namespace {

WAVEFORMATEX Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = channels * bits / 8;
  return {WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// A second reader class for the registry's order and filters.
class OtherReader : public TestWaveReader {
 public:
  using TestWaveReader::TestWaveReader;
  static bool IsValidFile(const std::string&, const TMMDecryptProc&, int32_t, TMMDecryptMode) {
    return false;
  }
  static std::string GetFilter() { return "Test Files(*.tst)|*.tst;*.wav"; }
};

class Registry : public ::testing::Test {
 protected:
  void TearDown() override { DoneRegisteredAudioFiles(); }
  static void RegisterWave() {
    DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("TestWaveReader"), 5);
  }
};

TEST_F(Registry, ReadersRunByPriorityAndEachClassOnce) {
  DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("A"), 5);
  DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("B"), 1);
  DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("C"), 5);
  DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("D"), 3);
  DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("B"), 9);
  std::string order;
  for (const auto& r : GetRegisteredAudioFiles()) order += r.FileClass.ClassName;
  EXPECT_EQ(order, "BDAC");
}

TEST_F(Registry, FiltersAndSupportedExtensions) {
  EXPECT_EQ(GetRegisteredAudioFilters(true), "");
  RegisterWave();
  EXPECT_EQ(GetRegisteredAudioFilters(true), "Wave Files(*.wav)|*.wav");
  EXPECT_TRUE(IsFileSupported("/x/song.WAV"));
  EXPECT_FALSE(IsFileSupported("/x/song.wa")) << "a part of an extension is not one";
  EXPECT_FALSE(IsFileSupported("/x/song"));
  EXPECT_FALSE(IsFileSupported("/x/song.tst"));
  DoRegisterCustomAudioFile(FileClassOf<OtherReader>("OtherReader"), 7);
  EXPECT_EQ(GetRegisteredAudioFilters(true),
            "All Audio Files (*.wav;*.tst)|*.wav;*.tst|Wave Files(*.wav)|*.wav|"
            "Test Files(*.tst)|*.tst;*.wav");
  EXPECT_EQ(ExtractExtensions("a|*.x;*.y|b|*.y|c"), "*.x;*.y");
  EXPECT_TRUE(IsFileSupported("t.tst"));
}

TEST_F(Registry, OnlyExistingFilesAReaderAcceptsAreValid) {
  RegisterWave();
  vant::testing::ScratchFolder dir;
  const std::string wav = (dir.path() / "a.wav").string();
  const WAVEFORMATEX f = Pcm(1, 8000, 16);
  std::vector<int16_t> s(800, 100);
  ASSERT_EQ(wioWaveSaveFile(wav, &f, s.data(), 1600), kWioOk);
  std::ofstream((dir.path() / "junk.wav").string()) << "not a wave";
  EXPECT_TRUE(IsValidAudioFile(wav));
  EXPECT_FALSE(IsValidAudioFile((dir.path() / "junk.wav").string()));
  EXPECT_FALSE(IsValidAudioFile(""));
  EXPECT_FALSE(IsValidAudioFile("RESOURCE://WAVE1")) << "never taken from a typed name";
  EXPECT_FALSE(IsValidAudioFile("POINTER://1234"));
  TMMAudioFileInfo info;
  ASSERT_TRUE(GetAudioFileInfo(wav, info));
  EXPECT_EQ(info.Length, 100);
  EXPECT_FALSE(GetAudioFileInfo((dir.path() / "missing.wav").string(), info));
}

// ---- the component ----

class AudioFile : public Registry {
 protected:
  void SetUp() override {
    RegisterWave();
    file = std::make_unique<TMMAudioFile>(nullptr);
  }
  void TearDown() override {
    file.reset();
    Registry::TearDown();
  }

  // A constant-level wave of `ms` milliseconds (16-bit, 8 kHz unless said otherwise).
  std::string Make(const char* name, int ms, uint16_t channels = 1, int16_t level = 10000,
                   uint16_t bits = 16) {
    const WAVEFORMATEX f = Pcm(channels, 8000, bits);
    const size_t bytes = size_t(ms) * f.nAvgBytesPerSec / 1000;
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i + 1 < bytes || (bits == 8 && i < bytes); i += bits / 8) {
      if (bits == 8) {
        data[i] = uint8_t(128 + level / 256);
      } else {
        std::memcpy(&data[i], &level, 2);
      }
    }
    const std::string path = (dir.path() / name).string();
    EXPECT_EQ(wioWaveSaveFile(path, &f, data.data(), int64_t(bytes)), kWioOk);
    return path;
  }

  void Start(int32_t buffer = 1600) {
    file->OpenFile(buffer);
    file->StartFile();
  }

  // Reads until a read brings nothing; every read's size in order.
  std::vector<int32_t> ReadAll(std::vector<uint8_t>* out = nullptr, int32_t size = 1600) {
    std::vector<int32_t> reads;
    std::vector<uint8_t> buf(size);
    bool more = true;
    for (int guard = 0; guard < 100000; ++guard) {
      const int32_t n = file->ReadFileData(buf.data(), size, more);
      if (n == 0) break;
      reads.push_back(n);
      if (out) out->insert(out->end(), buf.begin(), buf.begin() + n);
    }
    return reads;
  }

  static int64_t Sum(const std::vector<int32_t>& reads) {
    int64_t s = 0;
    for (int32_t r : reads) s += r;
    return s;
  }
  static int16_t At(const std::vector<uint8_t>& b, size_t sample) {
    int16_t v;
    std::memcpy(&v, &b[2 * sample], 2);
    return v;
  }

  vant::testing::ScratchFolder dir;
  std::unique_ptr<TMMAudioFile> file;
};

TEST_F(AudioFile, SetFileNameLoadsEmptiesAndReportsFailures) {
  const std::string wav = Make("a.wav", 1000);
  TestWaveReader::Created = 0;
  file->SetFileName(wav);
  ASSERT_FALSE(file->GetEmpty());
  EXPECT_EQ(file->GetFileType(), ftWave);
  EXPECT_EQ(file->GetFileLength(), 1000);
  EXPECT_EQ(file->GetPlayLength(), 1000);
  EXPECT_EQ(file->GetSampleRate(), 8000);
  ASSERT_NE(file->GetPWaveFormat(), nullptr) << "the format comes through the stages";
  EXPECT_EQ(file->GetPWaveFormat()->nSamplesPerSec, 8000u);
  file->SetFileName(wav);
  EXPECT_EQ(TestWaveReader::Created, 1) << "the current name loads nothing again";

  file->SetFileName((dir.path() / "missing.wav").string());
  EXPECT_TRUE(file->GetEmpty());
  EXPECT_EQ(file->GetFileName(), "");

  std::ofstream((dir.path() / "junk.wav").string()) << "not a wave";
  try {
    file->SetFileName((dir.path() / "junk.wav").string());
    FAIL() << "no error";
  } catch (const EMMAudioError& e) {
    EXPECT_STREQ(e.what(), "This is not a valid Audiofile");
  }
  EXPECT_TRUE(file->GetEmpty());

  // A reader that fails to open the name: a message, nothing loaded, nothing raised.
  std::ofstream((dir.path() / "x.broken").string()) << "x";
  vant::ScopedAnswerer answers;
  file->SetFileName((dir.path() / "x.broken").string());
  EXPECT_TRUE(file->GetEmpty());
  ASSERT_EQ(answers.answerer.Asked().size(), 1u);
  EXPECT_NE(answers.answerer.Asked()[0].text.find("Unable to read"), std::string::npos);
}

TEST_F(AudioFile, APlayLengthEndsTheStreamAfterItsBytesWithOneSilenceBlock) {
  file->SetFileName(Make("a.wav", 60000));
  file->SetPlayLength(10000);
  EXPECT_EQ(file->GetPlayLength(), 10000);
  Start();
  std::vector<uint8_t> out;
  const std::vector<int32_t> reads = ReadAll(&out);
  ASSERT_GE(reads.size(), 2u);
  EXPECT_EQ(reads.back(), 4) << "the end brings one 4-byte block";
  EXPECT_EQ(Sum(reads) - 4, 10000 * 16);
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 4, out.end()), std::vector<uint8_t>(4, 0));
  bool more = true;
  std::vector<uint8_t> buf(1600);
  EXPECT_EQ(file->ReadFileData(buf.data(), 1600, more), 0);
  EXPECT_FALSE(more);
}

TEST_F(AudioFile, The8BitSilenceBlockIsTheCentreValue) {
  file->SetFileName(Make("a.wav", 200, 1, 10000, 8));
  Start(800);
  std::vector<uint8_t> out;
  const std::vector<int32_t> reads = ReadAll(&out, 800);
  EXPECT_EQ(reads.back(), 4);
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 4, out.end()), std::vector<uint8_t>(4, 128));
}

TEST_F(AudioFile, EvenWithoutAFadeInPlayRisesFromSilenceOverOneMillisecond) {
  file->SetFileName(Make("a.wav", 500));
  Start();
  std::vector<uint8_t> out;
  ReadAll(&out);
  EXPECT_EQ(At(out, 0), 0);
  EXPECT_NEAR(At(out, 4), 5000, 10);  // 8 samples to the millisecond
  EXPECT_EQ(At(out, 8), 10000);
  EXPECT_EQ(At(out, 3000), 10000);

  // A fade-in of 100 ms rises over 800 samples from wherever play starts.
  file->StopFile();
  file->SetFadeInDuration(100);
  file->SetPosition(200);
  file->StartFile();
  out.clear();
  ReadAll(&out);
  EXPECT_EQ(At(out, 0), 0);
  EXPECT_NEAR(At(out, 404), 5000, 20);
  EXPECT_EQ(At(out, 900), 10000);
}

// A seek while playing rises from silence again; going on within the same play (how the player
// loads again what it holds after a volume change) does not: the new volume from the first
// sample, and the fade-in of the play goes on where it was.
TEST_F(AudioFile, ContinuingWithinThePlayRisesFromNoSilence) {
  file->SetFileName(Make("a.wav", 500));
  file->SetFadeInDuration(100);
  Start();
  std::vector<uint8_t> buf(1600);
  bool more = true;
  ASSERT_EQ(file->ReadFileData(buf.data(), 1600, more), 1600);  // 100 ms
  struct Case {
    bool continuing;
    int32_t at, volume;
    int16_t first;
  };
  // The fade-in rises to full 101 ms after where the play began: 10,000 x 40 / 101 at 40 ms,
  // after the seek to 200 ms 10,000 x 50 / 101 at 250 ms.
  for (const Case c : {Case{true, 40, 16384, 3960}, Case{true, 200, 8192, 5000},
                       Case{false, 200, 8192, 0}, Case{true, 250, 16384, 4950}}) {
    file->SetVolume(c.volume);
    if (c.continuing) {
      file->ContinueAt(c.at);
    } else {
      file->SetPosition(c.at);
    }
    file->ResetFile();  // as the device's reset does
    ASSERT_EQ(file->ReadFileData(buf.data(), 1600, more), 1600);
    EXPECT_NEAR(At(buf, 0), c.first, 10) << c.continuing << " " << c.at;
    EXPECT_EQ(file->GetPosition(), c.at + 100);
  }
}

TEST_F(AudioFile, VolumeAndPanningAreClampedAndPanningHalvesOneSide) {
  file->SetFileName(Make("s.wav", 300, 2));
  file->SetVolume(40000);
  EXPECT_EQ(file->GetVolume(), 32768);
  file->SetVolume(-5);
  EXPECT_EQ(file->GetVolume(), 0);
  file->SetPanning(-40000);
  EXPECT_EQ(file->GetPanning(), -32768);
  file->SetVolume(16384);
  file->SetPanning(16384);
  Start();
  std::vector<uint8_t> out;
  ReadAll(&out);
  EXPECT_EQ(At(out, 2 * 1000), 5000) << "left halved";
  EXPECT_EQ(At(out, 2 * 1000 + 1), 10000) << "right untouched";
  // While playing a new volume reaches the data from the next read on.
  file->StopFile();
  file->SetPosition(0);
  file->StartFile();
  std::vector<uint8_t> buf(1600);
  bool more;
  file->ReadFileData(buf.data(), 1600, more);
  file->SetPanning(0);
  file->SetVolume(32768);
  ASSERT_EQ(file->ReadFileData(buf.data(), 1600, more), 1600);
  EXPECT_EQ(At(buf, 100), 20000);
  EXPECT_EQ(At(buf, 101), 20000);
}

TEST_F(AudioFile, LoopCountNPlaysTheStreamNPlusOneTimesAndZeroUntilStopped) {
  file->SetFileName(Make("a.wav", 100));  // 1,600 bytes
  Start(1000);
  // Pulls as the device does, with its loop record; answers the bytes and the last MoreBuffers.
  // The device keeps one loop record across its pulls.
  std::vector<char> data(1000);
  TMMWaveHdr h{};
  auto pull = [&](int max_pulls, int* looped, bool* more) {
    int64_t total = 0;
    for (int i = 0; i < max_pulls; ++i) {
      h.wh.lpData = data.data();
      h.wh.dwBufferLength = 1000;
      h.wh.dwBytesRecorded = 0;
      h.LoopRec.dwLooped = 0;
      *more = false;
      file->BufferLoad(&h, *more);
      total += h.wh.dwBytesRecorded;
      if (h.LoopRec.dwLooped) ++*looped;
      EXPECT_EQ(h.LoopRec.dwLooping, -1) << "restored after the pull";
      if (!*more) break;
    }
    return total;
  };
  int looped = 0;
  bool more = true;
  h.LoopRec = {-1, 2, 2, 0};
  EXPECT_EQ(pull(100, &looped, &more), 3 * 1600);
  EXPECT_EQ(looped, 2);
  EXPECT_FALSE(more);
  EXPECT_EQ(pull(1, &looped, &more), 4) << "then the silence block";

  file->StopFile();
  file->SetPosition(0);
  file->StartFile();
  looped = 0;
  h.LoopRec = {-1, 0, 0, 0};
  EXPECT_EQ(pull(40, &looped, &more), 20 * 1600);
  EXPECT_EQ(looped, 20);
  EXPECT_TRUE(more) << "endless until stopped";
}

// Looping with a play length, through the program's wave reader and the tests' one, in headers
// of several sizes: every loop brings the play length from the top of the file, the looped
// marker comes once a loop, and no pull promises more with an empty header (which a device
// takes for the end or for a failure).
TEST_F(AudioFile, LoopingWithAPlayLengthPlaysItLoopCountPlusOneTimes) {
  struct Case {
    bool program_reader;
    int file_ms, play_ms;
    int32_t loop_count;
    uint32_t capacity;
  };
  const Case cases[] = {
      {true, 3000, 500, 2, 16000},  {true, 3000, 1000, 2, 16000}, {true, 20000, 12000, 1, 16000},
      {false, 3000, 500, 2, 1000},  {true, 3000, 500, 3, 3000},   {true, 3000, 3000, 1, 16000},
      {false, 3000, 1000, 1, 3000},
  };
  // Sample i of the file is i mod 20,000 + 1, so each loop shows where in the file it is.
  auto sample = [](size_t i) { return static_cast<int16_t>(i % 20000 + 1); };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.file_ms << " ms file, play " << c.play_ms << ", loops " << c.loop_count
                 << ", headers of " << c.capacity << (c.program_reader ? ", wave reader" : ""));
    file->SetFileName("");
    DoneRegisteredAudioFiles();
    if (c.program_reader) {
      RegisterAudioFileReaders();
    } else {
      RegisterWave();
    }
    std::vector<int16_t> samples(size_t(c.file_ms) * 8);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = sample(i);
    const WAVEFORMATEX f = Pcm(1, 8000, 16);
    const std::string path = (dir.path() / "ramp.wav").string();
    ASSERT_EQ(wioWaveSaveFile(path, &f, samples.data(), int64_t(samples.size() * 2)), kWioOk);
    file->SetFileName(path);
    ASSERT_FALSE(file->GetEmpty());
    file->SetPlayLength(c.play_ms);
    Start(int32_t(c.capacity));

    std::vector<char> data(c.capacity);
    std::vector<uint8_t> out;
    TMMWaveHdr h{};
    h.LoopRec = {-1, c.loop_count, c.loop_count, 0};
    int looped = 0;
    bool more = true;
    for (int i = 0; i < 100000 && more; ++i) {
      h.wh.lpData = data.data();
      h.wh.dwBufferLength = c.capacity;
      h.wh.dwBytesRecorded = 0;
      h.LoopRec.dwLooped = 0;
      more = false;
      file->BufferLoad(&h, more);
      if (more) {
        ASSERT_GT(h.wh.dwBytesRecorded, 0u) << "more to come in an empty header";
      }
      if (h.LoopRec.dwLooped) ++looped;
      out.insert(out.end(), data.begin(), data.begin() + h.wh.dwBytesRecorded);
    }
    const size_t loop_samples = size_t(c.play_ms) * 8;
    EXPECT_EQ(out.size() / 2, (c.loop_count + 1) * loop_samples);
    EXPECT_EQ(looped, c.loop_count);
    for (int32_t k = 0; k <= c.loop_count && out.size() >= (k + 1) * loop_samples * 2; ++k) {
      // Past the millisecond each run rises over, before the last one.
      for (size_t at : {size_t(8), loop_samples / 2, loop_samples - 9}) {
        EXPECT_EQ(At(out, k * loop_samples + at), sample(at)) << "loop " << k << " at " << at;
      }
    }
    file->StopFile();
    file->CloseFile();
  }
}

TEST_F(AudioFile, FadeOutEndsTheStreamWhenItsFadeIsDoneAndStopRestoresTheSettings) {
  file->SetFileName(Make("a.wav", 60000));
  file->SetFadeOutDuration(3000);
  EXPECT_EQ(file->GetFadeOutPosition(), 57000);
  Start();  // buffers of 100 ms
  std::vector<uint8_t> buf(1600);
  bool more = true;
  int64_t total = 0;
  while (file->GetPosition() < 5000) total += file->ReadFileData(buf.data(), 1600, more);
  file->FadeOut(2000);
  std::vector<uint8_t> out;
  const std::vector<int32_t> reads = ReadAll(&out);
  total += Sum(reads) - 4;
  EXPECT_EQ(total, 7000 * 16);
  EXPECT_EQ(file->GetPosition(), 7000);
  EXPECT_NEAR(At(out, 8000), 5000, 20) << "half way down";
  EXPECT_LT(std::abs(At(out, out.size() / 2 - 3)), 20) << "silent at the end";
  file->StopFile();
  EXPECT_EQ(file->GetFadeOutPosition(), 57000);
  EXPECT_EQ(file->GetFadeOutDuration(), 3000);
}

TEST_F(AudioFile, AFailingPullGoesToOnErrorWhichMayHandleIt) {
  file->SetFileName(Make("a.wav", 100));
  Start();
  bool asked = false;
  file->OnError = [&](vant::TObject*, bool& handled) {
    asked = true;
    handled = true;
  };
  file->OnBufferLoad = [](vant::TObject*, PMMWaveHdr, bool&) {
    throw vant::Exception("read failed");
  };
  std::vector<uint8_t> buf(1600, 0xAA);
  bool more = false;
  EXPECT_EQ(file->ReadFileData(buf.data(), 1600, more), 4);
  EXPECT_TRUE(asked);
  EXPECT_EQ(buf[0], 0);
  file->OnError = nullptr;
  EXPECT_THROW(file->ReadFileData(buf.data(), 1600, more), vant::Exception);
}

}  // namespace
