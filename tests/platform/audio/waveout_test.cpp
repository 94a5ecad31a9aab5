// The wave-out layer over the Manual backend: the test renders frames itself, so every step of
// a header's life (queued, rendered, heard, returned) is observed without timing.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "manualbackend.h"
#include "waveout.h"

namespace vant::audio {
namespace {

WaveFormatEx Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = channels * bits / 8;
  return {WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// What the driver thread delivered, and where the position stood at each delivery.
struct Recorder {
  struct Call {
    uint32_t msg;
    WaveHdr* hdr;
    uint32_t position_bytes;
    std::thread::id thread;
  };
  std::mutex mutex;
  std::vector<Call> calls;
  std::function<void(HWAVEOUT, uint32_t, WaveHdr*)> extra;

  WaveOutCallback Callback() {
    return [this](HWAVEOUT h, uint32_t msg, WaveHdr* hdr) {
      MMTime t;
      t.wType = TIME_BYTES;
      if (msg == MM_WOM_DONE) waveOutGetPosition(h, &t);
      {
        std::lock_guard lock(mutex);
        calls.push_back({msg, hdr, t.value, std::this_thread::get_id()});
      }
      if (extra) extra(h, msg, hdr);
    };
  }
  std::vector<WaveHdr*> Done() {
    std::lock_guard lock(mutex);
    std::vector<WaveHdr*> out;
    for (auto& c : calls) {
      if (c.msg == MM_WOM_DONE) out.push_back(c.hdr);
    }
    return out;
  }
  std::vector<uint32_t> Messages() {
    std::lock_guard lock(mutex);
    std::vector<uint32_t> out;
    for (auto& c : calls) out.push_back(c.msg);
    return out;
  }
};

// A header with its own data, filled with a running byte pattern.
struct Buffer {
  std::vector<uint8_t> data;
  WaveHdr hdr{};
  Buffer(size_t bytes, int seed) : data(bytes) {
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
    hdr.lpData = reinterpret_cast<char*>(data.data());
    hdr.dwBufferLength = static_cast<uint32_t>(bytes);
  }
};

class WaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override { SetBackend(&backend_); }
  void TearDown() override {
    if (h_) {
      waveOutReset(h_);
      EXPECT_EQ(waveOutClose(h_), MMSYSERR_NOERROR);
    }
    SetBackend(nullptr);
  }
  void Open(const WaveFormatEx& f = Pcm(2, 48000, 16)) {
    format_ = f;
    ASSERT_EQ(waveOutOpen(&h_, 0, &f, rec_.Callback(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  }
  void Queue(Buffer& b) {
    ASSERT_EQ(waveOutPrepareHeader(h_, &b.hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h_, &b.hdr), MMSYSERR_NOERROR);
  }
  uint32_t Position(uint32_t type) {
    MMTime t;
    t.wType = type;
    EXPECT_EQ(waveOutGetPosition(h_, &t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, type);
    return t.value;
  }

  // Headers must outlive the device's hold on them, so the fixture owns them.
  Buffer& NewBuffer(size_t bytes, int seed) {
    return *buffers_.emplace_back(std::make_unique<Buffer>(bytes, seed));
  }

  std::vector<std::unique_ptr<Buffer>> buffers_;
  ManualBackend backend_;
  Recorder rec_;
  HWAVEOUT h_ = nullptr;
  WaveFormatEx format_{};
};

TEST_F(WaveOutTest, DeviceNumbersAndCapabilities) {
  backend_.SetDevices({"Speakers", "Headphones"});
  EXPECT_EQ(waveOutGetNumDevs(), 2u);
  struct Case {
    int device;
    MMRESULT result;
    const char* name;
  } cases[] = {{0, MMSYSERR_NOERROR, "Speakers"},
               {1, MMSYSERR_NOERROR, "Headphones"},
               {WAVE_MAPPER, MMSYSERR_NOERROR, "Speakers"},
               {2, MMSYSERR_BADDEVICEID, ""},
               {-2, MMSYSERR_BADDEVICEID, ""}};
  for (const Case& c : cases) {
    WaveOutCaps caps;
    EXPECT_EQ(waveOutGetDevCaps(c.device, &caps), c.result) << c.device;
    if (c.result == MMSYSERR_NOERROR) {
      EXPECT_EQ(caps.szPname, c.name);
    }
    const WaveFormatEx f = Pcm(2, 48000, 16);
    EXPECT_EQ(waveOutOpen(nullptr, c.device, &f, nullptr, WAVE_FORMAT_QUERY), c.result);
  }

  backend_.SetDevices({});
  WaveOutCaps caps;
  HWAVEOUT h = nullptr;
  const WaveFormatEx f = Pcm(2, 48000, 16);
  EXPECT_EQ(waveOutGetNumDevs(), 0u);
  EXPECT_EQ(waveOutGetDevCaps(0, &caps), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutOpen(&h, 0, &f, rec_.Callback(), CALLBACK_FUNCTION), MMSYSERR_NODRIVER);
  EXPECT_EQ(h, nullptr);
}

TEST_F(WaveOutTest, FormatQueryOpensNothing) {
  backend_.SetFormatFilter([](const WaveFormatEx& f) { return f.nChannels <= 2; });
  WaveFormatEx bad_align = Pcm(2, 48000, 16);
  bad_align.nBlockAlign = 2;
  WaveFormatEx bad_rate = Pcm(1, 22050, 8);
  bad_rate.nAvgBytesPerSec = 22051;
  WaveFormatEx adpcm = Pcm(1, 22050, 4);
  adpcm.wFormatTag = 2;
  WaveFormatEx flt = Pcm(2, 44100, 32);
  flt.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  struct Case {
    WaveFormatEx f;
    MMRESULT result;
  } cases[] = {{Pcm(1, 22050, 8), MMSYSERR_NOERROR},
               {Pcm(2, 48000, 16), MMSYSERR_NOERROR},
               {Pcm(2, 96000, 32), MMSYSERR_NOERROR},
               {flt, MMSYSERR_NOERROR},
               {Pcm(2, 48000, 24), WAVERR_BADFORMAT},
               {Pcm(4, 48000, 16), WAVERR_BADFORMAT},
               {Pcm(0, 48000, 16), WAVERR_BADFORMAT},
               {Pcm(2, 500, 16), WAVERR_BADFORMAT},
               {bad_align, WAVERR_BADFORMAT},
               {bad_rate, WAVERR_BADFORMAT},
               {adpcm, WAVERR_BADFORMAT}};
  for (const Case& c : cases) {
    HWAVEOUT h = reinterpret_cast<HWAVEOUT>(1);
    EXPECT_EQ(waveOutOpen(&h, 0, &c.f, nullptr, WAVE_FORMAT_QUERY), c.result)
        << c.f.nChannels << "ch " << c.f.wBitsPerSample << "bit";
    EXPECT_EQ(h, nullptr);
  }
  EXPECT_EQ(backend_.OpenStreams(), 0);
}

TEST_F(WaveOutTest, HeadersPlayInOrderAndReturnOnlyOnceHeard) {
  backend_.SetLatencyFrames(100);
  Open();
  // Sizes that do not line up with the renders, and one empty header.
  Buffer& a = NewBuffer(1000, 1);
  Buffer& b = NewBuffer(4, 2);
  Buffer& c = NewBuffer(0, 3);
  Buffer& d = NewBuffer(2400, 4);
  for (Buffer* x : {&a, &b, &c, &d}) Queue(*x);

  std::vector<uint8_t> expected;
  for (Buffer* x : {&a, &b, &c, &d})
    expected.insert(expected.end(), x->data.begin(), x->data.end());

  std::thread::id render_thread = std::this_thread::get_id();
  size_t rendered = 0;
  while (rec_.Done().size() < 4) {
    ASSERT_LT(rendered, 20000u) << "headers never came back";
    backend_.Render(37);
    rendered += 37 * 4;
    // A header still queued has not been heard to its end.
    for (Buffer* x : {&a, &b, &c, &d}) {
      if (x->hdr.dwFlags & WHDR_INQUEUE) {
        EXPECT_FALSE(x->hdr.dwFlags & WHDR_DONE);
      }
    }
  }
  EXPECT_EQ(rec_.Done(), (std::vector<WaveHdr*>{&a.hdr, &b.hdr, &c.hdr, &d.hdr}));
  std::vector<uint8_t> captured = backend_.Captured();
  ASSERT_GE(captured.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), captured.begin()));
  EXPECT_TRUE(std::all_of(captured.begin() + expected.size(), captured.end(),
                          [](uint8_t v) { return v == 0; }));

  uint32_t end = 0;
  std::lock_guard lock(rec_.mutex);
  ASSERT_EQ(rec_.calls.front().msg, MM_WOM_OPEN);
  for (auto& call : rec_.calls) {
    EXPECT_NE(call.thread, render_thread);
    if (call.msg != MM_WOM_DONE) continue;
    end += call.hdr->dwBufferLength;
    EXPECT_GE(call.position_bytes, end) << "returned before its last frame was heard";
    EXPECT_EQ(call.hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED),
              WHDR_DONE | WHDR_PREPARED);
  }
}

TEST_F(WaveOutTest, LatencyDelaysTheReturnToTheExactFrame) {
  backend_.SetLatencyFrames(50);
  Open();
  Buffer& a = NewBuffer(400, 1);
  Queue(a);
  backend_.Render(100);
  EXPECT_EQ(Position(TIME_SAMPLES), 50u);
  backend_.Render(49);
  EXPECT_TRUE(rec_.Done().empty());
  EXPECT_EQ(Position(TIME_SAMPLES), 99u);
  backend_.Render(1);
  EXPECT_EQ(rec_.Done().size(), 1u);
  EXPECT_EQ(Position(TIME_SAMPLES), 100u);
  // Silence after the end is not counted.
  backend_.Render(500);
  EXPECT_EQ(Position(TIME_SAMPLES), 100u);
}

TEST_F(WaveOutTest, PositionUnitsAndTheSilenceOfAnUnderrun) {
  Open(Pcm(2, 48000, 16));
  Buffer& a = NewBuffer(4 * 4800, 1);
  Queue(a);
  backend_.Render(4800 + 1000);  // 1,000 frames of underrun
  Buffer& b = NewBuffer(4 * 2400, 2);
  Queue(b);
  backend_.Render(1200);
  EXPECT_EQ(Position(TIME_SAMPLES), 6000u);
  EXPECT_EQ(Position(TIME_BYTES), 24000u);
  EXPECT_EQ(Position(TIME_MS), 125u);
  MMTime other;
  other.wType = 0x10;  // a unit we do not keep: answered in bytes
  EXPECT_EQ(waveOutGetPosition(h_, &other), MMSYSERR_NOERROR);
  EXPECT_EQ(other.wType, TIME_BYTES);
  EXPECT_EQ(other.value, 24000u);
}

TEST_F(WaveOutTest, PauseLetsWhatWasRenderedBeHeardAndTheRestartGoesOnAfterIt) {
  backend_.SetLatencyFrames(10);
  Open(Pcm(1, 8000, 8));
  Buffer& a = NewBuffer(100, 1);
  Queue(a);
  backend_.Render(30);
  EXPECT_EQ(Position(TIME_SAMPLES), 20u);
  ASSERT_EQ(waveOutPause(h_), MMSYSERR_NOERROR);
  // Frames 20..29 were on their way to the listener: they are heard during the pause, and the
  // position follows them there and stops.
  const std::vector<uint8_t> paused = backend_.Render(5);
  EXPECT_EQ(Position(TIME_SAMPLES), 25u);
  const std::vector<uint8_t> still = backend_.Render(45);
  EXPECT_EQ(Position(TIME_SAMPLES), 30u);
  for (const auto& v : {paused, still}) {
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == 0x80; }));
  }
  ASSERT_EQ(waveOutRestart(h_), MMSYSERR_NOERROR);
  const std::vector<uint8_t> resumed = backend_.Render(10);
  // Nothing twice: the first frame not rendered before the pause.
  EXPECT_TRUE(std::equal(resumed.begin(), resumed.end(), a.data.begin() + 30));
  EXPECT_EQ(Position(TIME_SAMPLES), 30u);
  backend_.Render(200);
  EXPECT_EQ(Position(TIME_SAMPLES), 100u);
  EXPECT_EQ(rec_.Done().size(), 1u);
}

// A backend that can drop what it holds (a sound server): the pause is heard at once, nothing
// plays while paused, and the restart goes on from the first frame not heard, byte for byte.
// Answered late (a stalled server), the pause does not wait for the answer, and nothing is
// rendered until it comes.
TEST_F(WaveOutTest, PauseOnABackendThatDropsWhatItHoldsStopsAtOnceAndResumesWhereHeard) {
  backend_.SetFlushable(true);
  backend_.SetLatencyFrames(10);
  for (const bool late : {false, true}) {
    SCOPED_TRACE(late ? "answered late" : "answered at once");
    backend_.HoldDiscardAnswers(late);
    Open(Pcm(1, 8000, 8));
    Buffer& a = NewBuffer(100, 1);
    Queue(a);
    backend_.Render(30);
    ASSERT_EQ(waveOutPause(h_), MMSYSERR_NOERROR);
    EXPECT_TRUE(backend_.Holding());
    if (!late) {
      EXPECT_EQ(Position(TIME_SAMPLES), 20u);
    }
    const std::vector<uint8_t> paused = backend_.Render(50);
    EXPECT_TRUE(std::all_of(paused.begin(), paused.end(), [](uint8_t b) { return b == 0x80; }));
    EXPECT_TRUE(rec_.Done().empty()) << "nothing heard during the pause";
    ASSERT_EQ(waveOutRestart(h_), MMSYSERR_NOERROR);
    EXPECT_FALSE(backend_.Holding());
    if (late) {
      const std::vector<uint8_t> waiting = backend_.Render(20);
      EXPECT_TRUE(
          std::all_of(waiting.begin(), waiting.end(), [](uint8_t b) { return b == 0x80; }));
      backend_.AnswerDiscards();
    }
    EXPECT_EQ(Position(TIME_SAMPLES), 20u);
    backend_.ClearCaptured();
    backend_.Render(200);
    const std::vector<uint8_t> resumed = backend_.Captured();
    EXPECT_TRUE(std::equal(a.data.begin() + 20, a.data.end(), resumed.begin()));
    EXPECT_EQ(Position(TIME_SAMPLES), 100u);
    EXPECT_EQ(rec_.Done().size(), 1u);
    EXPECT_EQ(waveOutClose(h_), MMSYSERR_NOERROR);
    h_ = nullptr;
    std::lock_guard lock(rec_.mutex);
    rec_.calls.clear();
  }
}

// A reset drops what the backend holds too: the old sound is not heard after it.
TEST_F(WaveOutTest, ResetOnABackendThatDropsWhatItHoldsLeavesNoOldSound) {
  backend_.SetFlushable(true);
  backend_.SetLatencyFrames(40);
  Open(Pcm(1, 8000, 8));
  Queue(NewBuffer(100, 1));
  backend_.Render(60);
  ASSERT_EQ(waveOutReset(h_), MMSYSERR_NOERROR);
  EXPECT_FALSE(backend_.Holding());
  EXPECT_EQ(Position(TIME_SAMPLES), 0u);
  Buffer& fresh = NewBuffer(50, 7);
  Queue(fresh);
  backend_.ClearCaptured();
  backend_.Render(50);
  EXPECT_EQ(backend_.Captured(), fresh.data);
  backend_.Render(40);
  EXPECT_EQ(Position(TIME_SAMPLES), 50u);
}

// A backend that fails to drop what it holds (a sound server that refused a cork or flush, or
// went away) loses the stream: the call says so, every queued header comes back, and every call
// but close answers the same error from then on.
TEST_F(WaveOutTest, AFailedDiscardIsAnErrorAndGivesEveryHeaderBack) {
  backend_.SetFlushable(true);
  backend_.SetLatencyFrames(10);
  backend_.SetDiscardFails(true);
  for (const bool pause : {true, false}) {
    SCOPED_TRACE(pause ? "pause" : "reset");
    Open(Pcm(1, 8000, 8));
    Buffer& a = NewBuffer(100, 1);
    Buffer& b = NewBuffer(100, 2);
    Queue(a);
    Queue(b);
    backend_.Render(30);
    EXPECT_EQ(pause ? waveOutPause(h_) : waveOutReset(h_), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutRestart(h_), MMSYSERR_NODRIVER);
    MMTime t;
    EXPECT_EQ(waveOutGetPosition(h_, &t), MMSYSERR_NODRIVER);
    Buffer& c = NewBuffer(10, 3);
    ASSERT_EQ(waveOutPrepareHeader(h_, &c.hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(h_, &c.hdr), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutReset(h_), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutClose(h_), MMSYSERR_NOERROR);
    h_ = nullptr;
    EXPECT_EQ(rec_.Done(), (std::vector<WaveHdr*>{&a.hdr, &b.hdr}));
    std::lock_guard lock(rec_.mutex);
    rec_.calls.clear();
  }
}

// A pause at any millisecond of the last 100 holds until the restart; the rest then plays to the
// frame, and the last header comes back with its last frame heard.
TEST_F(WaveOutTest, APauseInTheLast100MsHoldsAndTheRestPlaysToTheFrame) {
  backend_.SetFlushable(true);
  for (const uint32_t rate : {8000u, 44100u, 48000u}) {
    const int latency = static_cast<int>(rate / 50);
    const int frames = static_cast<int>(rate / 10);  // per header
    backend_.SetLatencyFrames(latency);
    for (int before_ms = 1; before_ms <= 100; ++before_ms) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz, " << before_ms << " ms before the end");
      Open(Pcm(2, rate, 16));
      std::vector<Buffer*> headers;
      std::vector<uint8_t> sound;
      for (int i = 0; i < 3; ++i) {
        headers.push_back(&NewBuffer(4 * static_cast<size_t>(frames), i + 1));
        Queue(*headers.back());
        sound.insert(sound.end(), headers.back()->data.begin(), headers.back()->data.end());
      }
      const int end = 3 * frames;
      const int pause_at = end - static_cast<int>(int64_t{before_ms} * rate / 1000);
      backend_.ClearCaptured();
      backend_.Render(pause_at + latency);
      ASSERT_EQ(waveOutPause(h_), MMSYSERR_NOERROR);
      backend_.Render(rate / 20);
      EXPECT_EQ(Position(TIME_SAMPLES), static_cast<uint32_t>(pause_at));
      ASSERT_EQ(waveOutRestart(h_), MMSYSERR_NOERROR);
      int rendered = 0;
      while (rec_.Done().size() < 3 && rendered <= end) {
        backend_.Render(static_cast<int>(rate / 1000));
        rendered += static_cast<int>(rate / 1000);
      }
      EXPECT_EQ(rec_.Done().size(), 3u);
      // Returned on the render that made its last frame heard.
      EXPECT_LT(rendered - (end - pause_at) - latency, static_cast<int>(rate / 1000));
      EXPECT_EQ(Position(TIME_SAMPLES), static_cast<uint32_t>(end));
      const std::vector<uint8_t> captured = backend_.Captured();
      std::vector<uint8_t> heard;
      for (size_t i = 0; i + 1 < captured.size(); i += 2) {
        if (captured[i] || captured[i + 1]) heard.insert(heard.end(), {captured[i], captured[i + 1]});
      }
      EXPECT_TRUE(heard == sound) << "the sound was not heard once, whole, in order";
      EXPECT_EQ(waveOutClose(h_), MMSYSERR_NOERROR);
      h_ = nullptr;
      std::lock_guard lock(rec_.mutex);
      rec_.calls.clear();
    }
  }
}

TEST_F(WaveOutTest, ResetReturnsEveryHeaderBeforeItReturns) {
  backend_.SetLatencyFrames(64);
  Open();
  for (int i = 0; i < 5; ++i) Queue(NewBuffer(4096, i));
  backend_.Render(1100);  // first header heard, the second partly
  EXPECT_EQ(rec_.Done().size(), 1u);
  EXPECT_EQ(waveOutClose(h_), WAVERR_STILLPLAYING);

  ASSERT_EQ(waveOutReset(h_), MMSYSERR_NOERROR);
  std::vector<WaveHdr*> order;
  for (auto& b : buffers_) order.push_back(&b->hdr);
  EXPECT_EQ(rec_.Done(), order);
  for (auto& b : buffers_) EXPECT_EQ(b->hdr.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  EXPECT_EQ(Position(TIME_BYTES), 0u);

  // After the reset the position counts the new stream from 0, once the old output drained.
  Buffer& fresh = NewBuffer(400, 9);
  Queue(fresh);
  backend_.Render(164);
  EXPECT_EQ(Position(TIME_SAMPLES), 100u);
}

TEST_F(WaveOutTest, CloseDeliversOpenFirstAndCloseLastThenForgetsTheHandle) {
  Open();
  Buffer& a = NewBuffer(64, 1);
  Queue(a);
  backend_.Render(16);
  ASSERT_EQ(waveOutClose(h_), MMSYSERR_NOERROR);
  EXPECT_EQ(rec_.Messages(), (std::vector<uint32_t>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_CLOSE}));
  EXPECT_EQ(backend_.OpenStreams(), 0);
  MMTime t;
  EXPECT_EQ(waveOutGetPosition(h_, &t), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutClose(h_), MMSYSERR_INVALHANDLE);
  h_ = nullptr;
}

// The callbacks come on a thread named for the device, as the timer service's is.
TEST_F(WaveOutTest, TheDriverThreadIsNamed) {
  std::mutex mutex;
  std::string name;
  // Set before the device's thread starts calling back.
  rec_.extra = [&](HWAVEOUT, uint32_t msg, WaveHdr*) {
    if (msg != MM_WOM_DONE) return;
    char buffer[16] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    std::lock_guard lock(mutex);
    name = buffer;
  };
  Open();
  Queue(NewBuffer(40, 1));
  backend_.Render(20);
  ASSERT_EQ(rec_.Done().size(), 1u);
  std::lock_guard lock(mutex);
  EXPECT_EQ(name, "wave-out");
}

TEST_F(WaveOutTest, HeaderRulesAreEnforced) {
  Open();
  Buffer& a = NewBuffer(64, 1);
  EXPECT_EQ(waveOutWrite(h_, &a.hdr), WAVERR_UNPREPARED);
  Queue(a);
  EXPECT_EQ(waveOutWrite(h_, &a.hdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutUnprepareHeader(h_, &a.hdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutPrepareHeader(h_, &a.hdr), WAVERR_STILLPLAYING);
  WaveHdr no_data{};
  no_data.dwBufferLength = 10;
  no_data.dwFlags = WHDR_PREPARED;
  EXPECT_EQ(waveOutWrite(h_, &no_data), MMSYSERR_INVALPARAM);
  backend_.Render(16);
  EXPECT_EQ(waveOutUnprepareHeader(h_, &a.hdr), MMSYSERR_NOERROR);
  EXPECT_EQ(a.hdr.dwFlags, WHDR_DONE);
  HWAVEOUT stranger = reinterpret_cast<HWAVEOUT>(&a);
  EXPECT_EQ(waveOutWrite(stranger, &a.hdr), MMSYSERR_INVALHANDLE);
  const WaveFormatEx f = Pcm(2, 48000, 16);
  HWAVEOUT h = nullptr;
  EXPECT_EQ(waveOutOpen(&h, 0, &f, nullptr, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(&h, 0, &f, nullptr, 0x10000 /* a window */), MMSYSERR_INVALFLAG);
}

TEST_F(WaveOutTest, CallbacksMayCallTheDeviceButNotCloseIt) {
  MMRESULT close_result = MMSYSERR_NOERROR;
  MMRESULT reset_result = MMSYSERR_ERROR;
  Buffer& a = NewBuffer(64, 1);
  Buffer& b = NewBuffer(64, 2);
  rec_.extra = [&](HWAVEOUT h, uint32_t msg, WaveHdr* hdr) {
    if (msg != MM_WOM_DONE || hdr != &a.hdr) return;
    close_result = waveOutClose(h);
    reset_result = waveOutReset(h);  // must not wait for itself
  };
  Open();
  Queue(a);
  Queue(b);
  backend_.Render(32);
  EXPECT_EQ(close_result, MMSYSERR_HANDLEBUSY);
  EXPECT_EQ(reset_result, MMSYSERR_NOERROR);
  EXPECT_EQ(rec_.Done(), (std::vector<WaveHdr*>{&a.hdr, &b.hdr}));
}

TEST_F(WaveOutTest, WritersOnManyThreadsAgainstTheRenderer) {
  Open(Pcm(1, 8000, 8));
  constexpr int kThreads = 4, kEach = 50;
  for (int i = 0; i < kThreads * kEach; ++i) NewBuffer(16, i);
  auto& buffers = buffers_;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        WaveHdr* hdr = &buffers[t * kEach + i]->hdr;
        waveOutPrepareHeader(h_, hdr);
        waveOutWrite(h_, hdr);
        MMTime pos;
        waveOutGetPosition(h_, &pos);
      }
    });
  }
  for (int i = 0; i < 400 && rec_.Done().size() < buffers.size(); ++i) backend_.Render(16);
  for (auto& w : writers) w.join();
  while (rec_.Done().size() < buffers.size()) backend_.Render(64);
  EXPECT_EQ(Position(TIME_BYTES), 16u * buffers.size());
}

TEST(WaveOutErrorText, KnownAndUnknownCodes) {
  std::string text;
  EXPECT_EQ(waveOutGetErrorText(WAVERR_BADFORMAT, &text), MMSYSERR_NOERROR);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(waveOutGetErrorText(999, &text), MMSYSERR_BADERRNUM);
  EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace vant::audio
