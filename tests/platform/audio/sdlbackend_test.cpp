// The wave-out layer on SDL2: the dummy driver for the plain path, the disk driver to check
// that what we queue is what reaches the driver, byte for byte. Each test starts SDL itself, so
// it can pick its driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "manualbackend.h"
#include "scratchfolder.h"
#include "sdlbackend.h"
#include "waveout.h"

namespace vant::audio {
namespace {

// A safety bound for waits on a real-time driver, not a measure of speed.
constexpr auto kSafety = std::chrono::seconds(60);

struct Returns {
  std::mutex mutex;
  std::condition_variable cv;
  int done = 0;
  WaveOutCallback Callback() {
    return [this](HWAVEOUT, uint32_t msg, WaveHdr*) {
      if (msg != MM_WOM_DONE) return;
      std::lock_guard lock(mutex);
      ++done;
      cv.notify_all();
    };
  }
  bool WaitFor(int n) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, kSafety, [&] { return done >= n; });
  }
};

class SdlWaveOut : public ::testing::Test {
 protected:
  void Start(const char* driver) {
    setenv("SDL_AUDIODRIVER", driver, 1);
    backend_ = std::make_unique<SdlBackend>();
    SetBackend(backend_.get());
  }
  void TearDown() override {
    SetBackend(nullptr);
    backend_.reset();
  }
  std::unique_ptr<SdlBackend> backend_;
};

TEST_F(SdlWaveOut, DummyDriverPlaysAndReturnsHeadersAndLeavesSignalsAlone) {
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  Start("dummy");
  ASSERT_GE(waveOutGetNumDevs(), 1u);
  WaveOutCaps caps;
  ASSERT_EQ(waveOutGetDevCaps(0, &caps), MMSYSERR_NOERROR);
  EXPECT_FALSE(caps.szPname.empty());

  const WaveFormatEx f{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
  Returns returns;
  HWAVEOUT h = nullptr;
  ASSERT_EQ(waveOutOpen(&h, 0, &f, returns.Callback(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);

  std::vector<std::vector<char>> data(3, std::vector<char>(9600));  // 3 x 50 ms
  std::vector<WaveHdr> hdrs(3);
  for (int i = 0; i < 3; ++i) {
    hdrs[i] = WaveHdr{data[i].data(), 9600, 0, 0, 0, 0, nullptr, 0};
    ASSERT_EQ(waveOutPrepareHeader(h, &hdrs[i]), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &hdrs[i]), MMSYSERR_NOERROR);
  }
  ASSERT_TRUE(returns.WaitFor(3));
  MMTime t;
  t.wType = TIME_SAMPLES;
  ASSERT_EQ(waveOutGetPosition(h, &t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.value, 7200u);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

// Without a sound server or a sound card (SDL's ALSA driver starts, but no output opens) the
// open says the device cannot be opened, not that another program holds it.
TEST_F(SdlWaveOut, AnOutputThatDoesNotOpenIsNotCalledBusy) {
  Start("alsa");
  ASSERT_GE(waveOutGetNumDevs(), 1u) << "SDL's ALSA driver did not start";
  const WaveFormatEx f{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
  HWAVEOUT h = nullptr;
  const MMRESULT r = waveOutOpen(&h, 0, &f, nullptr, CALLBACK_NULL);
  if (r == MMSYSERR_NOERROR) {
    waveOutClose(h);
    GTEST_SKIP() << "this machine has a sound card";
  }
  std::string text;
  ASSERT_EQ(waveOutGetErrorText(r, &text), MMSYSERR_NOERROR);
  EXPECT_EQ(text, "Unable to open device");
}

// Where SDL writes to a file, the end is told once the file holds the last sample, within
// 100 ms of it, however deep the queue (and so SDL's period).
TEST_F(SdlWaveOut, TheEndIsToldWhenTheFileHoldsTheLastSample) {
  testing::ScratchFolder dir;
  const auto file = dir.path() / "out.raw";
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  const WaveFormatEx f{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
  for (const char* queue_ms : {"100", "1000"}) {
    SCOPED_TRACE(::testing::Message() << queue_ms << " ms queued");
    setenv("VANT_AUDIO_QUEUE_MS", queue_ms, 1);
    Start("disk");
    Returns returns;
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, returns.Callback(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    std::vector<std::vector<char>> data(8, std::vector<char>(38400, 1));  // 8 x 200 ms
    std::vector<WaveHdr> hdrs(8);
    for (int i = 0; i < 8; ++i) {
      hdrs[i] = WaveHdr{data[i].data(), 38400, 0, 0, 0, 0, nullptr, 0};
      ASSERT_EQ(waveOutPrepareHeader(h, &hdrs[i]), MMSYSERR_NOERROR);
      ASSERT_EQ(waveOutWrite(h, &hdrs[i]), MMSYSERR_NOERROR);
    }
    // The sound is all ones; the device may have written silence before it came.
    const auto bound = std::chrono::steady_clock::now() + kSafety;
    std::chrono::steady_clock::time_point written{}, told{};
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (written == decltype(written){}) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> out{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
        if (std::count(out.begin(), out.end(), 1) >= 8 * 38400) written = now;
      }
      {
        std::lock_guard lock(returns.mutex);
        if (returns.done == 8 && told == decltype(told){}) told = now;
      }
      if ((written != decltype(written){} && told != decltype(told){}) || now > bound) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_NE(told, decltype(told){}) << "the headers never came back";
    const double late_ms = std::chrono::duration<double, std::milli>(told - written).count();
    EXPECT_LE(late_ms, 100)
        << "ms from the last sample written to the last header told";
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    TearDown();
  }
  unsetenv("VANT_AUDIO_QUEUE_MS");
}

TEST_F(SdlWaveOut, DiskDriverReceivesTheQueuedBytesUnchanged) {
  // A folder of this run's own: runs side by side never share the file.
  testing::ScratchFolder dir;
  const auto file = dir.path() / "sdl-disk-waveout.raw";
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);  // ms per period: much faster than real time
  Start("disk");

  const WaveFormatEx f{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  Returns returns;
  HWAVEOUT h = nullptr;
  ASSERT_EQ(waveOutOpen(&h, 0, &f, returns.Callback(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  // Queue everything while paused, so no silence falls between the headers.
  ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  constexpr int kHeaders = 8, kBytes = 10000;
  std::vector<char> sound(kHeaders * kBytes);
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<char>((i * 13) % 251 + 1);
  std::vector<WaveHdr> hdrs(kHeaders);
  for (int i = 0; i < kHeaders; ++i) {
    hdrs[i] = WaveHdr{sound.data() + i * kBytes, kBytes, 0, 0, 0, 0, nullptr, 0};
    ASSERT_EQ(waveOutPrepareHeader(h, &hdrs[i]), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &hdrs[i]), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(returns.WaitFor(kHeaders));
  ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  TearDown();  // SDL flushes and closes the file

  std::ifstream in(file, std::ios::binary);
  std::vector<char> written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto first = std::find_if(written.begin(), written.end(), [](char c) { return c != 0; });
  ASSERT_GE(written.end() - first, static_cast<ptrdiff_t>(sound.size()));
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), first));
  EXPECT_TRUE(std::all_of(first + sound.size(), written.end(), [](char c) { return c == 0; }));
}

// What SDL's thread asks for and what it says is still unheard: a source that asks for the deep
// queue gets periods of about 100 ms (so a busy machine may keep SDL's thread waiting that long
// without a gap), a source that asks for 20 ms keeps about as much, and each render counts
// itself and the period queued before it as unheard, so the heard position lags by all of what
// is queued rather than running ahead of the listener.
TEST_F(SdlWaveOut, TheQueueIsAsDeepAsTheSourceAsksAndCountedAsUnheard) {
  struct Recorder final : RenderSource {
    explicit Recorder(int queue_ms) : queue_ms_(queue_ms) {}
    size_t Render(uint8_t* out, size_t bytes, int64_t latency_bytes, bool) override {
      std::memset(out, 0, bytes);
      std::lock_guard lock(mutex);
      if (this->bytes == 0) {
        this->bytes = bytes;
        latency = latency_bytes;
      }
      cv.notify_all();
      return bytes;
    }
    bool WaitCallbacksIdle(int) override { return true; }
    int QueueMs() const override { return queue_ms_; }
    const int queue_ms_;
    std::mutex mutex;
    std::condition_variable cv;
    size_t bytes = 0;
    int64_t latency = 0;
  };
  Start("dummy");
  struct Case {
    uint32_t rate;
    int queue_ms;
    double min_ms, max_ms;
  };
  for (const Case c : {Case{44100, DeepQueueMs(), 80, 200}, Case{48000, DeepQueueMs(), 80, 200},
                       Case{8000, DeepQueueMs(), 80, 200}, Case{48000, 20, 10, 30}}) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, " << c.queue_ms << " ms asked");
    const WaveFormatEx f{WAVE_FORMAT_PCM, 2, c.rate, c.rate * 4, 4, 16, 0};
    Recorder source(c.queue_ms);
    MMRESULT error = MMSYSERR_NOERROR;
    auto stream = backend_->Open(0, f, &source, &error);
    ASSERT_TRUE(stream) << error;
    stream->Start();
    std::unique_lock lock(source.mutex);
    ASSERT_TRUE(source.cv.wait_for(lock, kSafety, [&] { return source.bytes > 0; }));
    const double period_ms = source.bytes * 1000.0 / f.nAvgBytesPerSec;
    EXPECT_GE(period_ms, c.min_ms);
    EXPECT_LE(period_ms, c.max_ms);
    // The null driver takes what was rendered as soon as the render returns.
    EXPECT_EQ(source.latency, 0);
    lock.unlock();
    stream.reset();
  }
}

TEST(DeepQueue, TheEnvironmentMayChangeItWithinBounds) {
  ManualBackend backend;  // its own depth, as SDL's: 100 ms
  SetBackend(&backend);
  struct Case {
    const char* value;
    int ms;
  };
  for (const Case c : {Case{nullptr, 100}, Case{"250", 250}, Case{"5", 10}, Case{"99999", 4000},
                       Case{"junk", 100}, Case{"", 100}}) {
    if (c.value) {
      setenv("VANT_AUDIO_QUEUE_MS", c.value, 1);
    } else {
      unsetenv("VANT_AUDIO_QUEUE_MS");
    }
    EXPECT_EQ(DeepQueueMs(), c.ms) << (c.value ? c.value : "unset");
  }
  unsetenv("VANT_AUDIO_QUEUE_MS");
  SetBackend(nullptr);
}

}  // namespace
}  // namespace vant::audio
