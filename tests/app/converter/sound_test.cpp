// The converter plays on a real SDL driver, driven as a person would, on the system clock: the
// sound SDL's disk driver wrote, and the sound a private sound server mixed into a null sink,
// are compared with the sample. Each test is a process of its own under CTest, since SDL picks
// its driver once.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "audiobackend.h"
#include "dispatch.h"
#include "mainaatest.h"
#include "mmplayer.h"
#include "mmwavefile.h"
#include "playerlink.h"
#include "pulsesink.h"
#include "sdlbackend.h"
#include "soundcheck.h"
#include "ui_testing.h"

using namespace vant;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 48000;  // the sample's rate; it is mono

std::vector<char> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<int16_t> Samples(const char* data, size_t bytes) {
  std::vector<int16_t> s(bytes / 2);
  std::memcpy(s.data(), data, s.size() * 2);
  return s;
}

// The samples of a wave file's data chunk.
std::vector<int16_t> WaveSamples(const fs::path& path) {
  const std::vector<char> b = ReadAll(path);
  for (size_t at = 12; at + 8 <= b.size();) {
    uint32_t size = 0;
    std::memcpy(&size, &b[at + 4], 4);
    if (std::memcmp(&b[at], "data", 4) == 0) {
      return Samples(&b[at + 8], std::min<size_t>(size, b.size() - at - 8));
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

class ConverterSoundTest : public ConverterWindowTest {
 protected:
  void SetUp() override {
    ConverterWindowTest::SetUp();
    RegisterAudioFileReaders();
    fs::copy_file(fs::path(VANT_SOURCE_DIR) / "resources/samples/commercial.wav", sample_);
  }
  void TearDown() override {
    window_.reset();
    link_.reset();
    player_.reset();
    audio::SetBackend(nullptr);
    backend_.reset();  // SDL closes what it wrote to
    ConverterWindowTest::TearDown();
    DoneRegisteredAudioFiles();
  }

  // Opens the sample on SDL's driver of the environment, turns the volume up and plays it on
  // the system clock until the player stops by itself. Returns the samples the
  // play should have sounded, scaled to the volume set.
  std::vector<int16_t> PlayToEnd() {
    backend_ = std::make_unique<audio::SdlBackend>();
    audio::SetBackend(backend_.get());
    player_ = std::make_unique<TMOPlayer>(nullptr);
    link_ = std::make_unique<orlune::TMOPlayerLink>(*player_);
    player_link_ = link_.get();
    TVANTMainAA& w = Start(sample_.string());
    SetClock(nullptr);
    EXPECT_EQ(player_->MMAudioPlayer->GetFileLength(), 6000);

    uitest::MouseDown(*w.BTValume, 58, 12);
    volume_ = player_->MMAudioPlayer->GetVolume();
    EXPECT_GT(volume_, 0);
    uitest::Click(*w.BTPlay, 5, 5);
    const int32_t length = player_->MMAudioPlayer->GetPlayLength();
    bool lit = false;
    // A safety bound for a real-time driver, not a measure of speed.
    for (int i = 0; i < 1500 && link_->GetState() != 0; ++i) {
      GetDispatcher().WaitForMessages(10);
      Application->ProcessMessages();
      if (!lit && player_->MMAudioPlayer->GetPosition() > 1000) {
        lit = Lit(*w.MMLevel1) > 0 && Lit(*w.MMLevel2) > 0;
      }
    }
    EXPECT_EQ(link_->GetState(), 0u) << "stopped at the end of the file";
    EXPECT_TRUE(lit) << "both meters showed the sound";
    std::vector<int16_t> played = WaveSamples(sample_);
    played.resize(static_cast<size_t>(length) * kRate / 1000);
    return played;
  }

  vant::testing::ScratchFolder work_{"orlune-sound"};
  fs::path sample_ = work_.path() / "commercial.wav";
  std::unique_ptr<audio::SdlBackend> backend_;
  std::unique_ptr<TMOPlayer> player_;
  std::unique_ptr<orlune::TMOPlayerLink> link_;
  int32_t volume_ = 0;
};

// The peak of `v`'s magnitude.
int Peak(const std::vector<int16_t>& v) {
  int peak = 0;
  for (int16_t s : v) peak = std::max(peak, std::abs(static_cast<int>(s)));
  return peak;
}

TEST_F(ConverterSoundTest, TheDiskDriverWroteTheSampleAtTheVolumeSet) {
  const fs::path written = work_.path() / "heard.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", written.c_str(), 1);
  const std::vector<int16_t> played = PlayToEnd();
  audio::SetBackend(nullptr);
  backend_.reset();

  const std::vector<char> bytes = ReadAll(written);
  const std::vector<int16_t> heard = Samples(bytes.data(), bytes.size());
  ASSERT_GE(heard.size(), played.size());
  EXPECT_GE(MatchingShare(played, heard, kRate, 1, 0.999), 0.99);
  // The software volume scales the sound, 16,384 being unity.
  const double expected = Peak(played) * static_cast<double>(volume_) / 16384;
  EXPECT_NEAR(Peak(heard), expected, expected * 0.01 + 2);
}

TEST_F(ConverterSoundTest, ASoundServerHeardTheSample) {
  vant::testing::PulseNullSink sink;
  START_OR_SKIP(sink.Start(kRate, 1));
  setenv("PULSE_SERVER", sink.Server().c_str(), 1);
  setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
  const fs::path recording = work_.path() / "heard.raw";
  ASSERT_TRUE(sink.StartRecording(recording, kRate, 1));
  const std::vector<int16_t> played = PlayToEnd();
  audio::SetBackend(nullptr);
  backend_.reset();
  sink.StopRecording();

  const std::vector<char> bytes = ReadAll(recording);
  EXPECT_GE(MatchingShare(played, Samples(bytes.data(), bytes.size()), kRate, 1, 0.99), 0.9);
}

}  // namespace
