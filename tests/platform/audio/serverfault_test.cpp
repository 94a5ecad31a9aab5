// The wave-out device on a sound server that misbehaves: a private server the test starts (never
// the desktop's), killed, stopped or left alone mid-play, with what its sink mixed recorded.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audiobackend.h"
#include "pulsesink.h"
#include "scratchfolder.h"
#include "streambuffer.h"
#include "waveout.h"

namespace vant::audio {
namespace {

using namespace std::chrono_literals;

constexpr int kRate = 48000;
constexpr WaveFormatEx kFormat{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
// Bound of every wait for what must come: far beyond what the behaviour needs.
constexpr auto kSafety = 20s;

// A sweep and a tone, never silent for two frames running.
std::vector<int16_t> Music(int ms, int from_ms) {
  std::vector<int16_t> s(2 * static_cast<size_t>(ms) * kRate / 1000);
  for (size_t i = 0; i < s.size() / 2; ++i) {
    const double t = static_cast<double>(i) / kRate + from_ms / 1000.0;
    s[2 * i] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * (200 * t + 300 * t * t)) + 3000);
    s[2 * i + 1] = static_cast<int16_t>(7000 * std::sin(2 * M_PI * 1234.5 * t) - 2000);
  }
  return s;
}

class ServerFault : public ::testing::Test {
 protected:
  void SetUp() override {
    START_OR_SKIP(sink_.Start(kRate, 2));
    setenv("PULSE_SERVER", sink_.Server().c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    unsetenv("VANT_AUDIO_BACKEND");
    unsetenv("VANT_AUDIO_QUEUE_MS");
  }
  void TearDown() override {
    if (h_) {
      waveOutReset(h_);
      waveOutClose(h_);
    }
  }

  // Opens the default output on the process's own backend and queues `buffers` of `ms` each.
  void Play(int buffers, int ms) {
    ASSERT_EQ(waveOutOpen(&h_, WAVE_MAPPER, &kFormat, Callback(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    for (int i = 0; i < buffers; ++i) {
      data_.push_back(Music(ms, i * ms));
      WaveHdr& hdr = headers_.emplace_back();
      hdr.lpData = reinterpret_cast<char*>(data_.back().data());
      hdr.dwBufferLength = static_cast<uint32_t>(data_.back().size() * 2);
      ASSERT_EQ(waveOutPrepareHeader(h_, &hdr), MMSYSERR_NOERROR);
      ASSERT_EQ(waveOutWrite(h_, &hdr), MMSYSERR_NOERROR);
    }
  }

  WaveOutCallback Callback() {
    return [this](HWAVEOUT, uint32_t msg, WaveHdr*) {
      if (msg != MM_WOM_DONE) return;
      std::lock_guard lock(mutex_);
      ++done_;
      cv_.notify_all();
    };
  }
  bool WaitDone(int count) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, kSafety, [&] { return done_ >= count; });
  }

  MMRESULT Position(uint32_t* ms) {
    MMTime t;
    t.wType = TIME_MS;
    const MMRESULT r = waveOutGetPosition(h_, &t);
    *ms = t.value;
    return r;
  }
  void WaitPosition(uint32_t ms) {
    const auto bound = std::chrono::steady_clock::now() + kSafety;
    uint32_t now = 0;
    while (Position(&now) == MMSYSERR_NOERROR && now < ms &&
           std::chrono::steady_clock::now() < bound) {
      std::this_thread::sleep_for(5ms);
    }
    ASSERT_GE(now, ms);
  }

  // Frames of the recording with sound in them, once the recorder has caught up with what the
  // sink mixed until now.
  int64_t HeardFrames() {
    const int64_t now = sink_.RecordedBytes();
    const auto bound = std::chrono::steady_clock::now() + kSafety;
    while (sink_.RecordedBytes() < now + kRate * 4 / 5 && std::chrono::steady_clock::now() < bound) {
      std::this_thread::sleep_for(10ms);
    }
    sink_.StopRecording();
    std::ifstream in(dir_.path() / "heard.raw", std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    int64_t frames = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
      frames += bytes[i] || bytes[i + 1] || bytes[i + 2] || bytes[i + 3];
    }
    return frames;
  }

  testing::PulseNullSink sink_;
  testing::ScratchFolder dir_;
  HWAVEOUT h_ = nullptr;
  std::deque<std::vector<int16_t>> data_;
  std::deque<WaveHdr> headers_;
  std::mutex mutex_;
  std::condition_variable cv_;
  int done_ = 0;
};

// The server killed mid-play: every queued buffer comes back, the device then answers with an
// error (the caller's error path ends the play), closes, and the next open finds no device
// until a server answers again, then plays there.
TEST_F(ServerFault, AServerKilledMidPlayGivesEveryBufferBackAndTheNextOpenFindsANewOne) {
  MMRESULT error = MMSYSERR_ERROR;
  auto buffer = StreamBuffer::Create(0, kFormat, kRate * 4, &error);
  ASSERT_TRUE(buffer) << error;
  buffer->Play();
  Play(16, 250);
  WaitPosition(1200);
  EXPECT_FALSE(buffer->OutputLost());
  sink_.Signal(SIGKILL);
  EXPECT_TRUE(WaitDone(16)) << done_ << " of 16 buffers came back";
  const auto bound = std::chrono::steady_clock::now() + kSafety;
  while (!buffer->OutputLost() && std::chrono::steady_clock::now() < bound) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(buffer->OutputLost()) << "the stream buffer did not hear of it";
  buffer.reset();
  uint32_t ms = 0;
  EXPECT_EQ(Position(&ms), MMSYSERR_NODRIVER);
  WaveHdr more{};
  more.lpData = reinterpret_cast<char*>(data_.front().data());
  more.dwBufferLength = 4;
  ASSERT_EQ(waveOutPrepareHeader(h_, &more), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutWrite(h_, &more), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutPause(h_), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutClose(h_), MMSYSERR_NOERROR);
  h_ = nullptr;

  HWAVEOUT h = nullptr;
  EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &kFormat, nullptr, CALLBACK_NULL), MMSYSERR_NODRIVER);

  testing::PulseNullSink again;
  ASSERT_EQ(again.Start(kRate, 2), "");
  setenv("PULSE_SERVER", again.Server().c_str(), 1);
  done_ = 0;
  data_.clear();
  headers_.clear();
  Play(1, 100);
  EXPECT_TRUE(WaitDone(1));
  EXPECT_EQ(waveOutClose(h_), MMSYSERR_NOERROR);
  h_ = nullptr;
}

// The server stopped mid-play: a pause does not wait for it, the position stands still with the
// sound, and once the server goes on the play goes on where the sound stopped, to its end.
TEST_F(ServerFault, AStoppedServerHoldsNoCallerAndThePlayGoesOnWhereTheSoundStopped) {
  ASSERT_TRUE(sink_.StartRecording(dir_.path() / "heard.raw", kRate, 2));
  Play(16, 250);
  WaitPosition(1000);
  sink_.Signal(SIGSTOP);
  uint32_t stalled = 0, later = 0;
  ASSERT_EQ(Position(&stalled), MMSYSERR_NOERROR);
  std::this_thread::sleep_for(1s);
  ASSERT_EQ(Position(&later), MMSYSERR_NOERROR);
  // The clock may carry the position on a little past the server's last word, no further.
  EXPECT_LE(later - stalled, 200u) << "ms the position ran on while nothing played";

  // Should a call wait for the server, it would see it go on first.
  std::atomic<bool> went_on{false};
  std::thread waker([&] {
    std::this_thread::sleep_for(2s);
    went_on = true;
    sink_.Signal(SIGCONT);
  });
  EXPECT_EQ(waveOutPause(h_), MMSYSERR_NOERROR);
  EXPECT_FALSE(went_on) << "the pause waited for the stopped server";
  HWAVEOUT other = nullptr;
  EXPECT_EQ(waveOutGetNumDevs(), 2u);
  EXPECT_EQ(waveOutOpen(&other, WAVE_MAPPER, &kFormat, nullptr, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(other), MMSYSERR_NOERROR);
  EXPECT_FALSE(went_on) << "opening a device waited for the stopped server";
  waker.join();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(waveOutRestart(h_), MMSYSERR_NOERROR);
  EXPECT_TRUE(WaitDone(16)) << done_ << " of 16 buffers came back";
  uint32_t end = 0;
  EXPECT_EQ(Position(&end), MMSYSERR_NOERROR);
  EXPECT_EQ(end, 4000u);
  // All of the sound, once: nothing lost to the stall, nothing played twice.
  EXPECT_NEAR(static_cast<double>(HeardFrames()) / kRate * 1000, 4000, 60) << "ms heard";
}

// A pause a few milliseconds before the end holds until the restart; the rest then plays, and
// every header comes back with the whole sound heard once.
class PauseNearTheEnd : public ServerFault, public ::testing::WithParamInterface<int> {};

TEST_P(PauseNearTheEnd, HoldsAndTheRestPlaysToTheEnd) {
  const uint32_t before_ms = GetParam();
  ASSERT_TRUE(sink_.StartRecording(dir_.path() / "heard.raw", kRate, 2));
  Play(4, 250);
  const auto bound = std::chrono::steady_clock::now() + kSafety;
  uint32_t now = 0;
  while (Position(&now) == MMSYSERR_NOERROR && now < 1000 - before_ms &&
         std::chrono::steady_clock::now() < bound) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(waveOutPause(h_), MMSYSERR_NOERROR);
  // On a loaded machine the pause may come after the end; it holds all the same.
  uint32_t paused = 0, later = 0;
  ASSERT_EQ(Position(&paused), MMSYSERR_NOERROR);
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(Position(&later), MMSYSERR_NOERROR);
  EXPECT_EQ(later, paused) << "the position moved while paused";
  EXPECT_EQ(waveOutRestart(h_), MMSYSERR_NOERROR);
  EXPECT_TRUE(WaitDone(4)) << done_ << " of 4 buffers came back";
  uint32_t end = 0;
  EXPECT_EQ(Position(&end), MMSYSERR_NOERROR);
  EXPECT_EQ(end, 1000u);
  EXPECT_NEAR(static_cast<double>(HeardFrames()) / kRate * 1000, 1000, 10) << "ms heard";
}

INSTANTIATE_TEST_SUITE_P(Milliseconds, PauseNearTheEnd, ::testing::Values(5, 10, 15, 60));

// Context switches of the process's threads but the calling one.
int64_t OtherThreadsSwitches() {
  int64_t total = 0;
  DIR* dir = opendir("/proc/self/task");
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.' || std::atoi(e->d_name) == gettid()) continue;
    std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos) {
        total += std::atoll(line.c_str() + line.find(':') + 1);
      }
    }
  }
  closedir(dir);
  return total;
}

// A paused device's threads sleep: no deadline for a sound that cannot be heard, no questions
// to the server about a stream that does not play.
TEST_F(ServerFault, APausedDeviceSleeps) {
  const auto sleeps = [] {
    std::this_thread::sleep_for(300ms);
    const int64_t before = OtherThreadsSwitches();
    std::this_thread::sleep_for(3s);
    return OtherThreadsSwitches() - before;
  };
  Play(8, 250);
  WaitPosition(300);
  ASSERT_EQ(waveOutPause(h_), MMSYSERR_NOERROR);
  EXPECT_LE(sleeps(), 3) << "wake-ups in 3 s of a paused wave-out device";
  ASSERT_EQ(waveOutReset(h_), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(h_), MMSYSERR_NOERROR);
  h_ = nullptr;

  MMRESULT error = MMSYSERR_ERROR;
  auto buffer = StreamBuffer::Create(0, kFormat, kRate * 4, &error);
  ASSERT_TRUE(buffer) << error;
  const std::vector<int16_t> music = Music(1000, 0);
  uint8_t* region = buffer->Lock(0, buffer->Size());
  ASSERT_TRUE(region);
  std::memcpy(region, music.data(), buffer->Size());
  ASSERT_TRUE(buffer->Unlock());
  buffer->Play();
  std::this_thread::sleep_for(300ms);
  buffer->Stop();
  EXPECT_LE(sleeps(), 3) << "wake-ups in 3 s of a stopped stream buffer";
}

}  // namespace
}  // namespace vant::audio
