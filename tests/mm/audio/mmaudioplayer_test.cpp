// TMMAudioPlayer on either device over the Manual backend, with the clock and the timer service
// injected: each step renders a millisecond, moves the clock and runs the GUI queue.
#include "mmaudioplayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "audiobackend.h"
#include "dispatch.h"
#include "manualbackend.h"
#include "mmdspinterface.h"
#include "mmpcmsup.h"
#include "mmwavefile.h"
#include "mmwaveio.h"
#include "playbackrig.h"
#include "scratchfolder.h"
#include "sdlbackend.h"
#include "sdlplay.h"
#include "soundcheck.h"
#include "testreader.h"
#include "timerservice.h"
#include "ui_dialogs.h"

namespace vant {
namespace {

// Writes a wave file of `bytes` of pattern; answers its path.
std::string MakeWave(const testing::ScratchFolder& dir, const WAVEFORMATEX& f, size_t bytes) {
  const std::string path = (dir.path() / "sound.wav").string();
  const auto data = Pattern(bytes);
  EXPECT_EQ(wioWaveSaveFile(path, &f, data.data(), static_cast<int64_t>(data.size())), kWioOk);
  return path;
}

// Parameter: whether the player plays on the stream-buffer device.
class Player : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("TestWaveReader"), 5);
    pcmBuildWaveHeader(format_, 16, 1, 8000);  // 16,000 bytes a second
    player_ = std::make_unique<TMMAudioPlayer>(nullptr);
    player_->SetUseDSound(GetParam());
    player_->SetBufferSize(1600);
    player_->SetNumBuffers(4);
    player_->OnStart = [this](TObject*) { ++starts_; };
    player_->OnStop = [this](TObject*) {
      ++stops_;
      EXPECT_TRUE(player_->GetState() & wosClose) << "OnStop comes after the close";
    };
    player_->OnPause = [this](TObject*) { ++pauses_; };
    player_->OnRestart = [this](TObject*) { ++restarts_; };
  }
  void TearDown() override {
    player_.reset();
    DoneRegisteredAudioFiles();
  }
  void Load(int ms) { player_->SetFileName(MakeWave(dir_, format_, ms * 16)); }
  void Step(int ms) { rig_.Step(ms, 8); }
  void PlayToEnd() {
    const int stops = stops_;
    for (int i = 0; i < 20000 && stops_ == stops; ++i) Step(1);
  }

  PlaybackRig rig_;
  audio::ManualBackend& backend_ = rig_.backend;
  testing::ScratchFolder dir_;
  WAVEFORMATEX format_{};
  std::unique_ptr<TMMAudioPlayer> player_;
  int starts_ = 0, stops_ = 0, pauses_ = 0, restarts_ = 0;
};

TEST_P(Player, PlayWithoutAFileOrTwiceDoesNothingMore) {
  player_->Play();
  EXPECT_EQ(player_->GetState(), wosClose);
  EXPECT_EQ(starts_, 0);
  Load(1000);
  player_->Play();
  player_->Play();
  EXPECT_EQ(starts_, 1);
  EXPECT_TRUE(player_->GetState() & wosPlay);
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_TRUE(LandsWhole(backend_.Captured(), Pattern(16000), 16));
}

TEST_P(Player, AFinishedFileStartsOverAndPositionsAreClamped) {
  Load(1000);
  player_->SetPosition(5000);
  EXPECT_EQ(player_->GetPosition(), 1000);
  player_->Play();
  EXPECT_LT(player_->GetPosition(), 10);
  PlayToEnd();
  EXPECT_TRUE(LandsWhole(backend_.Captured(), Pattern(16000), 16));
}

TEST_P(Player, MovingWhilePausedStaysPausedWithoutEvents) {
  Load(6000);
  player_->Play();
  Step(300);
  player_->Pause();
  EXPECT_EQ(pauses_, 1);
  player_->SetPosition(5000);
  EXPECT_TRUE(player_->GetState() & wosPause);
  EXPECT_EQ(pauses_, 1);
  EXPECT_EQ(restarts_, 0);
  EXPECT_EQ(player_->GetPosition(), 5000);
  backend_.ClearCaptured();
  Step(100);
  EXPECT_TRUE(Sound(backend_.Captured()).empty()) << "paused means silent";
  player_->Restart();
  EXPECT_EQ(restarts_, 1);
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  // The rest of the file from 5 s on, nothing before it.
  const auto all = Pattern(96000);
  EXPECT_TRUE(
      LandsWhole(backend_.Captured(), std::vector<uint8_t>(all.begin() + 80000, all.end()), 16));
}

TEST_P(Player, StopThenPlayAgainWhereItStoppedOrWhereTheReaderIs) {
  Load(3000);
  player_->SetResetPosition(false);
  player_->Play();
  Step(500);
  const int32_t heard = player_->GetPosition();
  EXPECT_NEAR(heard, 500, 20);
  player_->Stop();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(player_->GetPosition(), heard);
  player_->Play();
  EXPECT_EQ(player_->GetPosition(), heard);
  player_->Stop();

  player_->SetResetPosition(true);
  player_->SetPosition(0);
  player_->Play();
  Step(500);
  player_->Stop();
  // The reader went on by the buffers that were queued.
  EXPECT_GT(player_->GetPosition(), 600);
}

// Looping with a play length on either device, through the program's wave reader: LoopCount n
// plays the play length n + 1 times and tells each loop, without a failure on the way.
TEST_P(Player, LoopingWithAPlayLengthPlaysItLoopCountPlusOneTimes) {
  DoneRegisteredAudioFiles();
  RegisterAudioFileReaders();
  struct Case {
    int file_ms, play_ms;
    uint16_t loop_count;
  };
  for (const Case c : {Case{3000, 500, 2}, Case{3000, 1000, 1}, Case{20000, 12000, 1}}) {
    SCOPED_TRACE(::testing::Message() << c.file_ms << " ms file, play " << c.play_ms << " ms, "
                                      << c.loop_count << " loops");
    player_->FreeFile();
    Load(c.file_ms);
    player_->SetPlayLength(c.play_ms);
    TMMRingWaveOut* device = GetParam() ? static_cast<TMMRingWaveOut*>(player_->DSWaveOut())
                                        : static_cast<TMMRingWaveOut*>(player_->WaveOut());
    device->SetLooping(true);
    device->SetLoopCount(c.loop_count);
    int loops = 0;
    device->OnLooping = [&](TObject*) { ++loops; };
    backend_.ClearCaptured();
    const int stops = stops_;
    player_->Play();
    const int heard_ms = (c.loop_count + 1) * c.play_ms;
    for (int i = 0; i < 2 * heard_ms && stops_ == stops; ++i) ASSERT_NO_THROW(Step(1));
    EXPECT_EQ(stops_, stops + 1);
    EXPECT_EQ(loops, c.loop_count);
    // Every sample of the pattern is loud; each run rises over its first millisecond.
    const std::vector<uint8_t> captured = backend_.Captured();
    int64_t loud = 0;
    for (size_t i = 0; i + 1 < captured.size(); i += 2) {
      loud += captured[i] != 0 || captured[i + 1] != 0;
    }
    EXPECT_NEAR(loud, heard_ms * 8, (c.loop_count + 1) * 16);
    device->SetLooping(false);
    device->OnLooping = nullptr;
  }
}

// A pause and a restart on either device, through the program's wave reader: play goes on at the
// first sample not heard yet (nothing twice, nothing left out), and the position shows what was
// heard.
TEST_P(Player, AResumeGoesOnAtTheFirstSampleNotHeard) {
  DoneRegisteredAudioFiles();
  RegisterAudioFileReaders();
  Load(1500);
  player_->Play();
  for (int pause_at : {300, 437, 811}) {
    while (player_->GetPosition() < pause_at) Step(1);
    player_->Pause();
    Step(100);
    const size_t heard = Sound(backend_.Captured()).size();
    EXPECT_NEAR(player_->GetPosition(), heard / 16.0, 1.0) << "paused at " << pause_at;
    player_->Restart();
  }
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_TRUE(LandsWhole(Sound(backend_.Captured()), Pattern(1500 * 16), 32));
}

// A pause 60 ms before the end holds until Restart on either kind of backend: no stop while
// paused and no position past the play length. Where the backend drops what it holds (a sound
// server), the rest is heard after the restart, once, byte for byte.
TEST_P(Player, APauseNearTheEndHoldsUntilRestart) {
  DoneRegisteredAudioFiles();
  RegisterAudioFileReaders();
  for (const bool flushable : {false, true}) {
    SCOPED_TRACE(flushable ? "a backend that drops what it holds" : "one that cannot");
    backend_.SetFlushable(flushable);
    // 100 ms; the stream device 40 ms, at most what its ring leaves its writer room for.
    backend_.SetLatencyFrames(GetParam() ? 320 : 800);
    backend_.ClearCaptured();
    const int stops = stops_;
    Load(3000);
    player_->Play();
    for (int i = 0; i < 4000 && player_->GetPosition() < 2940; ++i) Step(1);
    ASSERT_GE(player_->GetPosition(), 2940);
    player_->Pause();
    for (int i = 0; i < 2000; ++i) {
      Step(1);
      ASSERT_LE(player_->GetPosition(), 3000);
    }
    EXPECT_EQ(stops_, stops) << "the pause held";
    EXPECT_TRUE(player_->GetState() & wosPause);
    if (flushable) {
      EXPECT_LE(player_->GetPosition(), 2941);
    }
    player_->Restart();
    PlayToEnd();
    EXPECT_EQ(stops_, stops + 1);
    if (flushable) {
      EXPECT_TRUE(LandsWhole(Sound(backend_.Captured()), Pattern(3000 * 16), 32))
          << Sound(backend_.Captured()).size();
    }
  }
}

// A volume change is heard from the next frame rendered, not after the buffers filled ahead.
TEST_P(Player, AVolumeChangeIsHeardAtOnce) {
  DoneRegisteredAudioFiles();
  RegisterAudioFileReaders();
  Load(2000);
  player_->Play();
  Step(300);
  player_->SetVolume(0);
  Step(3);  // the 16 frames of latency
  backend_.ClearCaptured();
  Step(200);
  EXPECT_TRUE(Sound(backend_.Captured()).empty()) << "sound after the volume went to 0";
  player_->SetVolume(16384);
  Step(3);
  backend_.ClearCaptured();
  Step(100);
  EXPECT_EQ(Sound(backend_.Captured()).size(), 1600u) << "the sound back at once, unchanged";
}

TEST_P(Player, VolumePanningAndPitchAreHeldInTheirRanges) {
  Load(1000);
  const bool ds = GetParam();
  player_->SetVolume(40000);
  EXPECT_EQ(player_->GetVolume(), ds ? 16384 : 32768);
  player_->SetVolume(-5);
  EXPECT_EQ(player_->GetVolume(), 0);
  player_->SetPanning(-40000);
  EXPECT_EQ(player_->GetPanning(), -32768);
  player_->SetPitch(75);
  EXPECT_EQ(player_->GetPitch(), 50);
  player_->SetPitch(-75);
  EXPECT_EQ(player_->GetPitch(), -50);
  if (ds) {
    player_->SetVolume(8192);  // half: -6.02 dB
    EXPECT_EQ(player_->DSWaveOut()->GetVolume(), -602);
    EXPECT_EQ(player_->AudioFile()->GetVolume(), 16384);
    player_->SetPanning(16384);
    EXPECT_EQ(player_->DSWaveOut()->GetPan(), 5000);
    EXPECT_EQ(player_->AudioFile()->GetPanning(), 0);
    player_->SetPitch(25);
    EXPECT_EQ(player_->DSWaveOut()->GetRate(), 10000);
  } else {
    player_->SetVolume(8192);
    EXPECT_EQ(player_->AudioFile()->GetVolume(), 8192) << "the audio file applies it";
    player_->SetPanning(16384);
    EXPECT_EQ(player_->AudioFile()->GetPanning(), 16384);
    player_->SetPitch(25);
    EXPECT_EQ(player_->PitchStage()->GetPitch(), 25);
  }
}

TEST_P(Player, TheDeviceCannotBeSwitchedWhileOpen) {
  Load(1000);
  player_->Play();
  EXPECT_THROW(player_->SetUseDSound(!GetParam()), EMMAudioPlayerError);
  player_->Stop();
  player_->SetUseDSound(!GetParam());
  EXPECT_EQ(player_->ActiveDevice() == player_->DSWaveOut(), !GetParam());
  EXPECT_EQ(player_->GetBufferSize(), 1600);
  EXPECT_EQ(player_->GetNumBuffers(), 4);
}

// The largest sample magnitude of 16-bit sound.
int Peak(const uint8_t* data, size_t bytes) {
  int peak = 0;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    int16_t v;
    std::memcpy(&v, data + i, 2);
    peak = std::max(peak, std::abs(int{v}));
  }
  return peak;
}

// With wave-out the buffers handed on to the Output (the level meters' connector) carry the
// volume that is heard, so at volume 0 the meters stand still; the stream buffer attenuates in
// the device, after them.
TEST_P(Player, TheBuffersHandedOnCarryTheVolumeHeard) {
  const std::vector<uint8_t> file = Pattern(1000 * 16);
  const int full = Peak(file.data(), file.size());
  Load(1000);
  TMMDSPInterface tap(nullptr);
  int shown = 0;
  tap.OnBufferReady = [&](TObject*, PMMWaveHdr h) {
    shown = std::max(shown,
                     Peak(reinterpret_cast<const uint8_t*>(h->wh.lpData), h->wh.dwBytesRecorded));
  };
  player_->SetOutput(&tap);
  for (const int32_t volume : {0, 8192, 16384}) {
    SCOPED_TRACE(volume);
    shown = 0;
    backend_.ClearCaptured();
    player_->SetVolume(volume);
    player_->Play();
    PlayToEnd();
    const std::vector<uint8_t> captured = backend_.Captured();
    const int heard = Peak(captured.data(), captured.size());
    EXPECT_NEAR(heard, full * volume / 16384, full / 100 + 1);
    EXPECT_EQ(shown, GetParam() ? full : heard) << "what the meters are handed";
  }
  player_->SetOutput(nullptr);
}

TEST_P(Player, PlayedBuffersPassThroughToTheOutput) {
  Load(1000);
  TMMDSPInterface tap(nullptr);
  int data = 0, passed = 0;
  player_->OnData = [&](TObject*, PMMWaveHdr) { ++data; };
  tap.OnBufferReady = [&](TObject*, PMMWaveHdr) { ++passed; };
  player_->SetOutput(&tap);
  player_->Play();
  PlayToEnd();
  EXPECT_EQ(data, 10);
  EXPECT_GE(passed, data);
  player_->SetOutput(nullptr);
}

TEST_P(Player, SelectFileAsksWithTheReadersFilterAndTakesTheChoice) {
  const std::string wave = MakeWave(dir_, format_, 1600);
  ScopedAnswerer answers;
  answers.answerer.AnswerFile("");
  EXPECT_FALSE(player_->SelectFile());
  EXPECT_TRUE(player_->GetEmpty());
  answers.answerer.AnswerFile(wave);
  EXPECT_TRUE(player_->SelectFile());
  EXPECT_EQ(player_->GetFileName(), wave);
  EXPECT_EQ(player_->GetPlayLength(), 100);
  ASSERT_EQ(answers.answerer.Asked().size(), 2u);
  const auto& asked = answers.answerer.Asked()[1].file;
  EXPECT_EQ(asked.title, "Select Filename");
  EXPECT_EQ(asked.filter, "Wave Files(*.wav)|*.wav");
}

INSTANTIATE_TEST_SUITE_P(Devices, Player, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Stream" : "WaveOut"; });

// Real playback: SDL's disk driver writes what it was given to a file, in real time.
class PlayerOnSdl : public ::testing::TestWithParam<bool> {
 protected:
  // Plays `bytes` of pattern in format `f` on the disk driver; answers what the driver wrote.
  std::vector<uint8_t> PlayOnDisk(const WAVEFORMATEX& f, size_t bytes,
                                  const PlayerDriver& during = {}, bool program_reader = false) {
    testing::ScratchFolder dir;
    const auto out_file = dir.path() / "out.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out_file.c_str(), 1);
    PlayFileOnSdl(MakeWave(dir, f, bytes), GetParam(), during, program_reader);
    std::ifstream in(out_file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

TEST_P(PlayerOnSdl, AWholeFileLandsByteForByte) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  EXPECT_TRUE(LandsWhole(PlayOnDisk(f, 48000 * 4 + 1152), Pattern(48000 * 4 + 1152), 192));
}

// Paused and restarted on SDL's disk driver, through the program's wave reader: what the
// driver wrote is the file once, byte for byte, with silence only where the pauses were.
TEST_P(PlayerOnSdl, AResumeGoesOnAtTheFirstSampleNotHeard) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 44100);
  const size_t bytes = 44100 * 4 * 2;
  int pauses = 0;
  const auto pause_twice = [&](TMMAudioPlayer& player, QueueDispatcher& gui) {
    // A safety bound for a real-time driver, not a measure of speed.
    for (int pause_at : {600, 1200}) {
      for (int i = 0; i < 500 && player.GetPosition() < pause_at; ++i) gui.WaitAndProcess(5);
      player.Pause();
      // Until what was handed to the driver has been heard.
      int32_t before = -1;
      for (int i = 0; i < 100 && player.GetPosition() != before; ++i) {
        before = player.GetPosition();
        gui.WaitAndProcess(50);
      }
      player.Restart();
      ++pauses;
    }
  };
  const std::vector<uint8_t> written = PlayOnDisk(f, bytes, pause_twice, true);
  EXPECT_EQ(pauses, 2);
  EXPECT_TRUE(LandsWhole(Sound(written), Pattern(bytes), 352));
}

// Where no sound server answers, the end is told when SDL's driver has taken the last sample,
// within 100 ms of it, however deep the queue.
TEST_P(PlayerOnSdl, OnStopComesWithTheLastSampleWhateverTheQueue) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // Instrumented code runs several times slower beside a real-time driver: its lateness there
  // says nothing of the program's. The normal build measures it.
  GTEST_SKIP() << "a measure of time, not run in a sanitizer build";
#endif
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  const size_t bytes = 48000 * 4 * 3;
  setenv("VANT_AUDIO_QUEUE_MS", "1000", 1);
  testing::ScratchFolder dir;
  const auto out_file = dir.path() / "out.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out_file.c_str(), 1);
  using Clock = std::chrono::steady_clock;
  Clock::time_point written{}, stopped{};
  const auto watch = [&](TMMAudioPlayer& player, QueueDispatcher& gui) {
    auto told = player.OnStop;
    player.OnStop = [&stopped, told](TObject* sender) {
      stopped = Clock::now();
      told(sender);
    };
    // A safety bound for a real-time driver, not a measure of speed.
    for (int i = 0; i < 5000 && stopped == Clock::time_point{}; ++i) {
      gui.WaitAndProcess(2);
      std::ifstream in(out_file, std::ios::binary);
      const std::vector<uint8_t> out{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
      if (written == Clock::time_point{} && Sound(out).size() + 2 * 192 >= bytes) {
        written = Clock::now();
      }
    }
  };
  PlayFileOnSdl(MakeWave(dir, f, bytes), GetParam(), watch);
  unsetenv("VANT_AUDIO_QUEUE_MS");
  ASSERT_NE(written, Clock::time_point{});
  ASSERT_NE(stopped, Clock::time_point{});
  const double late_ms = std::chrono::duration<double, std::milli>(stopped - written).count();
  EXPECT_LE(late_ms, 100) << "ms from the last sample written to OnStop";
}

INSTANTIATE_TEST_SUITE_P(Devices, PlayerOnSdl, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Stream" : "WaveOut"; });

}  // namespace
}  // namespace vant
