// The simple sound call over the Manual backend: the test renders what the device would play.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "manualbackend.h"
#include "simplesound.h"

namespace vant::audio {
namespace {

class SimpleSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_.SetDevices({"test output"});
    SetBackend(&backend_);
  }
  void TearDown() override {
    StopSimpleSound();
    SetBackend(nullptr);
  }
  ManualBackend backend_;
  const WaveFormatEx format_{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  const std::vector<uint8_t> sound_{1, 2, 3, 4, 5, 6, 7, 8};  // four frames
};

TEST_F(SimpleSoundTest, AsyncPlaysOnceAndLoopRepeatsUntilStopped) {
  ASSERT_TRUE(PlaySimpleSound(format_, sound_, SoundMode::Async));
  EXPECT_TRUE(SimpleSoundPlaying());
  EXPECT_EQ(backend_.Render(4), sound_);
  EXPECT_FALSE(SimpleSoundPlaying());
  EXPECT_EQ(backend_.Render(2), std::vector<uint8_t>(4, 0));  // silence after it

  ASSERT_TRUE(PlaySimpleSound(format_, sound_, SoundMode::Loop));
  for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(backend_.Render(4), sound_) << pass;
  EXPECT_TRUE(SimpleSoundPlaying());
  StopSimpleSound();
  EXPECT_FALSE(SimpleSoundPlaying());
  EXPECT_EQ(backend_.OpenStreams(), 0);
}

TEST_F(SimpleSoundTest, SyncReturnsOnceHeardAndANewSoundReplacesTheOld) {
  ASSERT_TRUE(PlaySimpleSound(format_, sound_, SoundMode::Loop));
  std::atomic<bool> returned{false};
  std::thread player([&] {
    const std::vector<uint8_t> other{9, 9, 9, 9};
    EXPECT_TRUE(PlaySimpleSound(format_, other, SoundMode::Sync));
    returned = true;
  });
  std::vector<uint8_t> heard;
  while (!returned) {
    const auto frames = backend_.Render(2);
    heard.insert(heard.end(), frames.begin(), frames.end());
    std::this_thread::yield();
  }
  player.join();
  // The looping sound was stopped before the synchronous one began.
  ASSERT_GE(heard.size(), 4u);
  const std::vector<uint8_t> other{9, 9, 9, 9};
  EXPECT_NE(std::search(heard.begin(), heard.end(), other.begin(), other.end()), heard.end());
  EXPECT_FALSE(SimpleSoundPlaying());
  EXPECT_EQ(backend_.OpenStreams(), 0);
  EXPECT_FALSE(PlaySimpleSound(format_, {}, SoundMode::Async));
}

}  // namespace
}  // namespace vant::audio
