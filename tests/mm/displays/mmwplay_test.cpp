// TMMWavePlayer over the Manual backend with the clock and the timer service injected: each step
// renders a millisecond, moves the clock and runs the GUI queue.
#include "mmwplay.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "mmpcmsup.h"
#include "mmwaveio.h"
#include "playbackrig.h"
#include "scratchfolder.h"
#include "sdlbackend.h"
#include "soundcheck.h"

namespace vant {
namespace {

class WavePlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    pcmBuildWaveHeader(format_, 16, 1, 8000);  // 16 bytes a millisecond
    player_ = std::make_unique<TMMWavePlayer>(nullptr);
    player_->SetBufferSize(1600);
    player_->SetNumBuffers(4);
    player_->OnStop = [this](TObject*) { ++stops_; };
    player_->OnPause = [this](TObject*) { ++events_; };
    player_->OnRestart = [this](TObject*) { ++events_; };
    const std::string path = (dir_.path() / "w.wav").string();
    const auto data = Pattern(16000);
    ASSERT_EQ(wioWaveSaveFile(path, &format_, data.data(), int64_t(data.size())), kWioOk);
    player_->SetFileName(path);
  }
  void TearDown() override { player_.reset(); }
  void Step(int ms) { rig_.Step(ms, 8); }
  void PlayToEnd() {
    const int stops = stops_;
    for (int i = 0; i < 20000 && stops_ == stops; ++i) Step(1);
  }

  PlaybackRig rig_;
  testing::ScratchFolder dir_;
  WAVEFORMATEX format_{};
  std::unique_ptr<TMMWavePlayer> player_;
  int stops_ = 0, events_ = 0;
};

TEST_F(WavePlayer, PlaysWholeAndAFinishedFileStartsOver) {
  player_->Play();
  player_->Play();  // nothing more
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_TRUE(LandsWhole(rig_.backend.Captured(), Pattern(16000), 16));
  player_->SetPosition(16000);
  EXPECT_EQ(player_->GetPosition(), 16000);
  player_->Play();
  EXPECT_LT(player_->GetPosition(), 1600);
  player_->Stop();
}

TEST_F(WavePlayer, SeekWhilePausedStaysPausedQuietly) {
  player_->Play();
  Step(100);
  player_->Pause();
  player_->Pause();  // nothing more
  EXPECT_EQ(events_, 1);
  player_->SetPosition(8000);
  EXPECT_TRUE(player_->GetState() & wosPause);
  EXPECT_EQ(events_, 1);
  EXPECT_THROW(player_->SetAutoConvert(false), Exception);
  player_->Stop();
}

TEST_F(WavePlayer, WithoutResetPositionAStopKeepsItsPlace) {
  player_->SetResetPosition(false);
  player_->Play();
  Step(300);
  player_->Stop();
  const int32_t stopped = player_->GetPosition();
  EXPECT_GT(stopped, 0);
  EXPECT_LT(stopped, 16000);
  player_->Play();
  EXPECT_GE(player_->GetPosition(), stopped);
  player_->Stop();
}

// Real playback: SDL's disk driver writes what it was given to a file, in real time.
TEST(WavePlayerOnSdl, AWholeFileLandsByteForByte) {
  testing::ScratchFolder dir;
  const auto out_file = dir.path() / "out.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out_file.c_str(), 1);
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  const std::string wave = (dir.path() / "w.wav").string();
  const auto data = Pattern(48000 * 4 + 1152);
  ASSERT_EQ(wioWaveSaveFile(wave, &f, data.data(), int64_t(data.size())), kWioOk);
  QueueDispatcher gui;
  SetDispatcher(&gui);
  auto backend = std::make_unique<audio::SdlBackend>();
  audio::SetBackend(backend.get());
  {
    TMMWavePlayer player(nullptr);
    player.SetBufferSize(16000);
    player.SetNumBuffers(10);
    player.SetFileName(wave);
    int stops = 0;
    player.OnStop = [&](TObject*) { ++stops; };
    player.Play();
    // A safety bound for a real-time driver, not a measure of speed.
    for (int i = 0; i < 3000 && stops == 0; ++i) gui.WaitAndProcess(20);
    EXPECT_EQ(stops, 1);
  }
  audio::SetBackend(nullptr);
  backend.reset();  // SDL closes what it wrote to
  SetDispatcher(nullptr);
  std::ifstream in(out_file, std::ios::binary);
  const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), {});
  EXPECT_TRUE(LandsWhole(written, data, 192));
}

}  // namespace
}  // namespace vant
