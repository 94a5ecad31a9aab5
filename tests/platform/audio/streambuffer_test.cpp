// Looping stream buffers over the Manual backend: the test renders frames itself and sets the
// latency, so the cursors and what the renderer reads are observed exactly.
#include "streambuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "manualbackend.h"

namespace vant::audio {
namespace {

WaveFormatEx Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = channels * bits / 8;
  return {WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

class StreamBufferTest : public ::testing::Test {
 protected:
  void SetUp() override { SetBackend(&backend_); }
  void TearDown() override {
    buffer_.reset();
    SetBackend(nullptr);
  }
  // A mono 16-bit buffer of `frames` frames holding 1, 2, 3, ...
  void Make(int frames) {
    MMRESULT error = MMSYSERR_ERROR;
    buffer_ = StreamBuffer::Create(0, Pcm(1, 8000, 16), frames * 2, &error);
    ASSERT_EQ(error, MMSYSERR_NOERROR);
    ASSERT_TRUE(buffer_);
    auto* p = reinterpret_cast<int16_t*>(buffer_->Lock(0, frames * 2));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < frames; ++i) p[i] = static_cast<int16_t>(1000 + i);
    ASSERT_TRUE(buffer_->Unlock());
  }
  uint32_t PlayCursor() {
    uint32_t play = 0, write = 0;
    buffer_->GetCurrentPosition(&play, &write);
    return play;
  }
  uint32_t WriteCursor() {
    uint32_t play = 0, write = 0;
    buffer_->GetCurrentPosition(&play, &write);
    return write;
  }

  ManualBackend backend_;
  std::unique_ptr<StreamBuffer> buffer_;
};

TEST_F(StreamBufferTest, DriversListTheDefaultOutputFirstAndNoneWithoutSound) {
  backend_.SetDevices({"Speakers", "Headphones"});
  const auto drivers = ListStreamDrivers();
  ASSERT_EQ(drivers.size(), 2u);
  EXPECT_EQ(drivers[0].description, "Speakers");
  EXPECT_EQ(drivers[0].module, "");
  EXPECT_EQ(drivers[1].module, "Headphones");

  backend_.SetDevices({});
  EXPECT_TRUE(ListStreamDrivers().empty());
  MMRESULT error = MMSYSERR_NOERROR;
  EXPECT_FALSE(StreamBuffer::Create(0, Pcm(2, 44100, 16), 4096, &error));
  EXPECT_EQ(error, MMSYSERR_BADDEVICEID);
  backend_.SetDevices({"Speakers"});
  WaveFormatEx bad = Pcm(2, 44100, 16);
  bad.nBlockAlign = 3;
  EXPECT_FALSE(StreamBuffer::Create(0, bad, 4096, &error));
  EXPECT_EQ(error, WAVERR_BADFORMAT);
}

TEST_F(StreamBufferTest, PlaysRoundTheRingAndTheCursorsFollowWhatWasReadAndHeard) {
  Make(100);
  backend_.SetLatencyFrames(30);
  // Silence until Play; the cursors stay put.
  EXPECT_EQ(Samples(backend_.Render(10)), std::vector<int16_t>(10, 0));
  EXPECT_EQ(PlayCursor(), 0u);
  buffer_->Play();
  // Latency covers silence rendered before Play: the listener is still at the start.
  backend_.Render(20);
  EXPECT_EQ(PlayCursor(), 0u);
  EXPECT_EQ(WriteCursor(), 40u);
  backend_.Render(230);  // 250 frames read: twice round and half again
  EXPECT_EQ(WriteCursor(), 100u);
  EXPECT_EQ(PlayCursor(), 2u * (250 - 30 - 200));
  // Unrolled, the cursors go on past the ring's end.
  int64_t heard = 0, read = 0;
  buffer_->GetStreamPosition(&heard, &read);
  EXPECT_EQ(heard, 2 * (250 - 30));
  EXPECT_EQ(read, 2 * 250);
  const auto played = Samples(backend_.Captured());
  ASSERT_EQ(played.size(), 260u);
  for (int i = 0; i < 250; ++i) ASSERT_EQ(played[10 + i], 1000 + i % 100) << i;
}

TEST_F(StreamBufferTest, StopLetsWhatWasReadBeHeardAndPlayGoesOnAfterIt) {
  Make(100);
  backend_.SetLatencyFrames(10);
  buffer_->Play();
  backend_.Render(50);
  buffer_->Stop();
  EXPECT_FALSE(buffer_->IsPlaying());
  EXPECT_EQ(PlayCursor(), 80u);  // frame 40 heard; 40..49 were read and are on their way
  EXPECT_EQ(Samples(backend_.Render(5)), std::vector<int16_t>(5, 0));
  EXPECT_EQ(PlayCursor(), 90u);
  backend_.Render(20);
  EXPECT_EQ(PlayCursor(), 100u) << "the silence after them moves nothing";
  buffer_->Play();
  // Nothing heard twice: the first frame not read yet.
  EXPECT_EQ(Samples(backend_.Render(1))[0], 1050);
  EXPECT_EQ(PlayCursor(), 100u);
  backend_.Render(10);
  EXPECT_EQ(PlayCursor(), 102u);
  // A new cursor while stopped moves both.
  buffer_->Stop();
  buffer_->SetCurrentPosition(61);  // cut to the frame
  EXPECT_EQ(PlayCursor(), 60u);
  EXPECT_EQ(WriteCursor(), 60u);
}

// On a backend that can drop what it holds, a stop is heard at once and Play goes on from the
// first frame not heard.
TEST_F(StreamBufferTest, StopOnABackendThatDropsWhatItHoldsResumesWhereHeard) {
  backend_.SetFlushable(true);
  Make(100);
  backend_.SetLatencyFrames(10);
  buffer_->Play();
  backend_.Render(50);
  buffer_->Stop();
  EXPECT_EQ(PlayCursor(), 80u);
  EXPECT_EQ(WriteCursor(), 80u) << "the frames not heard are read again";
  EXPECT_EQ(Samples(backend_.Render(20)), std::vector<int16_t>(20, 0));
  EXPECT_EQ(PlayCursor(), 80u);
  buffer_->Play();
  const auto resumed = Samples(backend_.Render(10));
  EXPECT_EQ(resumed.front(), 1040);
  EXPECT_EQ(resumed.back(), 1049);
  EXPECT_EQ(PlayCursor(), 80u);
  backend_.Render(10);
  EXPECT_EQ(PlayCursor(), 100u);
}

// On a backend that can drop what it holds, a volume change is heard from the first frame not
// heard: what was rendered at the old volume is dropped and rendered again, and the cursors stay.
TEST_F(StreamBufferTest, AVolumeChangeRendersAgainWhatWasNotHeard) {
  backend_.SetFlushable(true);
  Make(100);
  backend_.SetLatencyFrames(10);
  buffer_->Play();
  backend_.Render(50);
  ASSERT_EQ(buffer_->SetVolume(STREAM_VOLUME_MAX), MMSYSERR_NOERROR);
  EXPECT_EQ(WriteCursor(), 100u) << "the volume it had: nothing to render again";
  ASSERT_EQ(buffer_->SetVolume(STREAM_VOLUME_MIN), MMSYSERR_NOERROR);
  EXPECT_EQ(PlayCursor(), 80u);
  EXPECT_EQ(WriteCursor(), 80u) << "the frames not heard are read again";
  EXPECT_TRUE(buffer_->IsPlaying());
  backend_.Render(20);
  ASSERT_EQ(buffer_->SetVolume(STREAM_VOLUME_MAX), MMSYSERR_NOERROR);
  backend_.Render(10);
  std::vector<int16_t> heard;
  for (int i = 0; i < 40; ++i) heard.push_back(static_cast<int16_t>(1000 + i));
  heard.resize(50, 0);
  for (int i = 50; i < 60; ++i) heard.push_back(static_cast<int16_t>(1000 + i));
  EXPECT_EQ(Samples(backend_.Captured()), heard);
}

// A stream buffer asks the backend for the deep queue, but never for more than two fifths of its
// ring: even rounded up to SDL's period, one render then leaves the writer room ahead of it.
TEST_F(StreamBufferTest, TheQueueIsDeepButLeavesTheWriterRoomInTheRing) {
  struct Case {
    const char* env;
    uint32_t ring_ms;
    int queue_ms;
  };
  for (const Case c : {Case{nullptr, 250, 100}, Case{nullptr, 1000, 100}, Case{"60", 250, 60},
                       Case{"1000", 250, 100}, Case{nullptr, 100, 40}}) {
    if (c.env) {
      setenv("VANT_AUDIO_QUEUE_MS", c.env, 1);
    } else {
      unsetenv("VANT_AUDIO_QUEUE_MS");
    }
    MMRESULT error = MMSYSERR_ERROR;
    const WaveFormatEx f = Pcm(2, 44100, 16);
    buffer_ = StreamBuffer::Create(0, f, f.nAvgBytesPerSec * c.ring_ms / 1000, &error);
    ASSERT_TRUE(buffer_);
    EXPECT_EQ(backend_.QueueMsAsked(), c.queue_ms) << (c.env ? c.env : "") << " " << c.ring_ms;
  }
  unsetenv("VANT_AUDIO_QUEUE_MS");
}

TEST_F(StreamBufferTest, VolumePanAndRateApplyWhileRendering) {
  MMRESULT error;
  buffer_ = StreamBuffer::Create(0, Pcm(2, 8000, 16), 400, &error);
  ASSERT_TRUE(buffer_);
  auto* p = reinterpret_cast<int16_t*>(buffer_->Lock(0, 400));
  for (int i = 0; i < 200; ++i) p[i] = static_cast<int16_t>(i % 2 ? -(i * 100) : i * 100);
  buffer_->Unlock();
  buffer_->Play();

  struct Case {
    int32_t volume, pan;
    uint32_t rate;
    double left, right;  // gain on each side
    int step;            // ring frames per output frame
  };
  const Case cases[] = {
      {0, 0, 0, 1.0, 1.0, 1},     {-600, 0, 0, 0.501, 0.501, 1}, {-10000, 0, 0, 0.0, 0.0, 1},
      {0, 10000, 0, 0.0, 1.0, 1}, {0, -2000, 0, 1.0, 0.1, 1},    {0, 0, 16000, 1.0, 1.0, 2},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(buffer_->SetVolume(c.volume), MMSYSERR_NOERROR);
    ASSERT_EQ(buffer_->SetPan(c.pan), MMSYSERR_NOERROR);
    ASSERT_EQ(buffer_->SetFrequency(c.rate), MMSYSERR_NOERROR);
    buffer_->Stop();
    buffer_->SetCurrentPosition(0);
    buffer_->Play();
    const auto s = Samples(backend_.Render(40));
    for (int i = 0; i < 40; ++i) {
      const int frame = i * c.step;
      EXPECT_NEAR(s[2 * i], frame * 2 * 100 * c.left, 2.0) << c.volume << " " << c.pan << " " << i;
      EXPECT_NEAR(s[2 * i + 1], -(frame * 2 + 1) * 100 * c.right, 2.0) << c.pan << " " << i;
    }
  }
  EXPECT_EQ(buffer_->GetFrequency(), 16000u);
  EXPECT_EQ(buffer_->SetFrequency(0), MMSYSERR_NOERROR);
  EXPECT_EQ(buffer_->GetFrequency(), 8000u);
  EXPECT_EQ(buffer_->SetVolume(1), MMSYSERR_INVALPARAM);
  EXPECT_EQ(buffer_->SetVolume(-10001), MMSYSERR_INVALPARAM);
  EXPECT_EQ(buffer_->SetPan(10001), MMSYSERR_INVALPARAM);
  EXPECT_EQ(buffer_->SetFrequency(99), MMSYSERR_INVALPARAM);
  EXPECT_EQ(buffer_->SetFrequency(100001), MMSYSERR_INVALPARAM);
  EXPECT_EQ(buffer_->GetVolume(), 0);  // the last accepted value
}

TEST_F(StreamBufferTest, ALockedRegionWrapsOverTheEndAndOnlyOneIsOpen) {
  Make(10);
  auto* p = reinterpret_cast<int16_t*>(buffer_->Lock(16, 8));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(buffer_->Lock(0, 2), nullptr);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<int16_t>(-1 - i);
  EXPECT_TRUE(buffer_->Unlock());
  EXPECT_FALSE(buffer_->Unlock());
  EXPECT_EQ(buffer_->Lock(0, 22), nullptr);
  buffer_->Play();
  const std::vector<int16_t> want = {-3, -4, 1002, 1003, 1004, 1005, 1006, 1007, -1, -2};
  EXPECT_EQ(Samples(backend_.Render(10)), want);
  buffer_->Stop();
  buffer_->Clear();
  buffer_->Play();
  EXPECT_EQ(Samples(backend_.Render(3)), std::vector<int16_t>(3, 0));
}

// A writer and a cursor reader beside the renderer, as the refill step and the GUI do.
TEST_F(StreamBufferTest, WritingAndReadingCursorsWhileRenderingIsSafe) {
  Make(1000);
  buffer_->Play();
  std::atomic<bool> done{false};
  std::thread writer([&] {
    uint32_t offset = 0;
    while (!done) {
      if (uint8_t* p = buffer_->Lock(offset, 200)) {
        std::memset(p, 1, 200);
        buffer_->Unlock();
      }
      uint32_t play, write;
      buffer_->GetCurrentPosition(&play, &write);
      buffer_->SetVolume(-100);
      offset = (offset + 200) % 2000;
    }
  });
  uint32_t last = 0;
  for (int i = 0; i < 500; ++i) {
    backend_.Render(37);
    const uint32_t play = PlayCursor();
    // Forward round the ring only.
    EXPECT_LT((play - last + 2000) % 2000, 1000u);
    last = play;
  }
  done = true;
  writer.join();
}

}  // namespace
}  // namespace vant::audio
