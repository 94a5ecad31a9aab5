// The stream-buffer layer and TMMDSWaveOut over the Manual backend, with the clock and the timer
// service injected: each step renders a millisecond of sound, then moves the clock by as much,
// so the refill steps and the done reports are observed against what was heard.
#include "mmdswaveout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "audiobackend.h"
#include "chainsource.h"
#include "dispatch.h"
#include "manualbackend.h"
#include "mmdspinterface.h"
#include "mmpcmsup.h"
#include "playbackrig.h"
#include "scratchfolder.h"
#include "sdlbackend.h"
#include "soundcheck.h"
#include "timerservice.h"
#include "ui_dialogs.h"

namespace vant {
namespace {

// 8 kHz mono 16-bit: 16,000 bytes a second, fragments of 1,000 bytes, a ring of 4,000.
WAVEFORMATEX Mono16() {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 1, 8000);
  return f;
}

class DSLayer : public ::testing::Test {
 protected:
  // One millisecond at a time: rendered, then the clock moves and due timers run.
  void Step(int ms = 1) { rig_.Step(ms, 8); }

  PlaybackRig rig_;
  QueueDispatcher& gui_ = rig_.gui;
  audio::ManualBackend& backend_ = rig_.backend;
};

// A header with its own data behind it, as the devices allocate them.
struct Header {
  std::vector<uint8_t> data;
  TMMWaveHdr hdr{};
  explicit Header(std::vector<uint8_t> d) : data(std::move(d)) {
    hdr.wh.lpData = reinterpret_cast<char*>(data.data());
    hdr.wh.dwBufferLength = static_cast<uint32_t>(data.size());
  }
};

// Prepares and writes `count` headers of `bytes` each, their patterns apart, appending them to
// `headers`; answers their bytes in order.
std::vector<uint8_t> WriteHeaders(HDSWAVEOUT h, int count, size_t bytes,
                                  std::vector<std::unique_ptr<Header>>& headers) {
  std::vector<uint8_t> all;
  for (int i = 0; i < count; ++i) {
    headers.push_back(std::make_unique<Header>(Pattern(bytes, i * 13)));
    all.insert(all.end(), headers.back()->data.begin(), headers.back()->data.end());
    EXPECT_EQ(DSWaveOutPrepareHeader(h, &headers.back()->hdr), DSWAVE_OK);
    EXPECT_EQ(DSWaveOutWrite(h, &headers.back()->hdr), DSWAVE_OK);
  }
  return all;
}

// Done reports with the samples heard when each came.
struct Reports {
  std::vector<std::pair<PMMWaveHdr, uint32_t>> done;
  std::vector<uint32_t> messages;
  TDSWaveOutCallback Callback() {
    return [this](HDSWAVEOUT h, uint32_t msg, PMMWaveHdr hdr) {
      messages.push_back(msg);
      if (msg != audio::MM_WOM_DONE) return;
      audio::MMTime t;
      t.wType = audio::TIME_SAMPLES;
      EXPECT_EQ(DSWaveOutGetPosition(h, &t), DSWAVE_OK);
      done.push_back({hdr, t.value});
    };
  }
};

TEST(DSLayerSizes, FragmentsAreASixteenthOfASecondAndFourMakeTheRing) {
  struct Case {
    uint32_t bytes_per_second;
    bool emulated;
    uint32_t fragment, buffer;
  };
  const Case cases[] = {{176400, false, 11024, 44096},
                        {176400, true, 11024, 88192},
                        {16000, false, 1000, 4000},
                        {11025, false, 688, 2752}};
  for (const Case& c : cases) {
    EXPECT_EQ(DSWaveOutFragmentSize(c.bytes_per_second), c.fragment) << c.bytes_per_second;
    EXPECT_EQ(DSWaveOutBufferSize(c.bytes_per_second, c.emulated), c.buffer) << c.bytes_per_second;
  }
}

// The ring an open stream really uses: with done reports as soon as a header is copied, the
// first refills take exactly as many one-fragment headers as the ring holds, and no more until a
// fragment has been read (62.5 ms).
TEST_F(DSLayer, AnOpenStreamsRingHoldsFourFragments) {
  struct Case {
    int bits, channels, rate;
    uint32_t fragment;  // a sixteenth of a second, cut to a multiple of 4
  };
  const Case cases[] = {{16, 1, 8000, 1000}, {16, 2, 44100, 11024}, {8, 1, 11025, 688}};
  const bool exact = EXACTRETURN;
  EXACTRETURN = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    size_t done = 0;
    HDSWAVEOUT h = nullptr;
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, c.bits, c.channels, c.rate);
    auto count = [&](HDSWAVEOUT, uint32_t msg, PMMWaveHdr) { done += msg == audio::MM_WOM_DONE; };
    ASSERT_EQ(DSWaveOutOpen(&h, 0, &f, count, audio::CALLBACK_FUNCTION), DSWAVE_OK);
    std::vector<std::unique_ptr<Header>> headers;
    ASSERT_EQ(DSWaveOutPause(h), DSWAVE_OK);
    for (int i = 0; i < 10; ++i) {
      headers.push_back(std::make_unique<Header>(Pattern(c.fragment, i)));
      ASSERT_EQ(DSWaveOutWrite(h, &headers.back()->hdr), DSWAVE_OK);
    }
    ASSERT_EQ(DSWaveOutRestart(h), DSWAVE_OK);
    Step(40);
    EXPECT_EQ(done, 4u);
    DSWaveOutClose(h);
  }
  EXACTRETURN = exact;
}

TEST_F(DSLayer, EveryHeaderIsReportedOnceInOrderWhenItsLastByteWasHeard) {
  Reports reports;
  HDSWAVEOUT h = nullptr;
  const WAVEFORMATEX f = Mono16();
  ASSERT_EQ(DSWaveOutOpen(&h, 0, &f, reports.Callback(), audio::CALLBACK_FUNCTION), DSWAVE_OK);
  std::vector<std::unique_ptr<Header>> headers;
  ASSERT_EQ(DSWaveOutPause(h), DSWAVE_OK);
  const std::vector<uint8_t> all = WriteHeaders(h, 6, 1400, headers);
  ASSERT_EQ(DSWaveOutRestart(h), DSWAVE_OK);
  Step(700);
  ASSERT_EQ(reports.done.size(), headers.size());
  for (size_t i = 0; i < headers.size(); ++i) {
    EXPECT_EQ(reports.done[i].first, &headers[i]->hdr) << i;
    EXPECT_TRUE(headers[i]->hdr.wh.dwFlags & audio::WHDR_DONE);
    // Heard: the header's last sample; and not much later than that.
    const uint32_t end = (i + 1) * 700;
    EXPECT_GE(reports.done[i].second, end) << i;
    EXPECT_LE(reports.done[i].second, end + 24) << i;
  }
  EXPECT_EQ(Sound(backend_.Captured()), all);
  ASSERT_EQ(DSWaveOutClose(h), DSWAVE_OK);
  EXPECT_EQ(reports.messages.front(), audio::MM_WOM_OPEN);
  EXPECT_EQ(reports.messages.back(), audio::MM_WOM_CLOSE);
}

// The stream keeps a deep queue in the backend: SDL's thread renders whole periods (here 90 ms),
// each heard two periods later. The refills count the ring's free space from what the renderer
// has read, so it never reads a stretch of the ring (250 ms) it has played before, nor the silence
// of a stretch not written yet; the position and the done reports still follow what was heard.
TEST_F(DSLayer, WithADeepQueueTheRendererNeverReadsStaleRingData) {
  Reports reports;
  HDSWAVEOUT h = nullptr;
  const WAVEFORMATEX f = Mono16();
  ASSERT_EQ(DSWaveOutOpen(&h, 0, &f, reports.Callback(), audio::CALLBACK_FUNCTION), DSWAVE_OK);
  EXPECT_EQ(backend_.QueueMsAsked(), audio::DeepQueueMs());
  constexpr int kPeriod = 720;
  constexpr int kLatency = 2 * kPeriod;
  backend_.SetLatencyFrames(kLatency);
  std::vector<std::unique_ptr<Header>> headers;
  ASSERT_EQ(DSWaveOutPause(h), DSWAVE_OK);
  const std::vector<uint8_t> all = WriteHeaders(h, 20, 1600, headers);
  const int samples = static_cast<int>(all.size() / 2);
  ASSERT_EQ(DSWaveOutRestart(h), DSWAVE_OK);
  for (int renders = 1; renders <= 40 && reports.done.size() < headers.size(); ++renders) {
    rig_.Step(1, kPeriod);
    const int heard = std::max(renders * kPeriod - kLatency, 0);
    if (heard < samples) {
      audio::MMTime t;
      t.wType = audio::TIME_SAMPLES;
      DSWaveOutGetPosition(h, &t);
      EXPECT_EQ(t.value, static_cast<uint32_t>(heard)) << "after render " << renders;
    }
    rig_.Step(kPeriod / 8 - 1, 0);
  }
  EXPECT_EQ(Sound(backend_.Captured()), all);
  ASSERT_EQ(reports.done.size(), headers.size());
  for (size_t i = 0; i < headers.size(); ++i) {
    EXPECT_EQ(reports.done[i].first, &headers[i]->hdr) << i;
    const uint32_t end = (i + 1) * 800;
    EXPECT_GE(reports.done[i].second, end) << i;
    EXPECT_LE(reports.done[i].second, end + 2 * kPeriod) << i;
  }
  ASSERT_EQ(DSWaveOutClose(h), DSWAVE_OK);
}

TEST_F(DSLayer, PauseSilencesAtOnceAndRestartGoesOnAtTheCursorWithTheStoredVolume) {
  Reports reports;
  HDSWAVEOUT h = nullptr;
  const WAVEFORMATEX f = Mono16();
  ASSERT_EQ(DSWaveOutOpen(&h, 0, &f, reports.Callback(), audio::CALLBACK_FUNCTION), DSWAVE_OK);
  // A constant level, so the gain shows in any sample.
  std::vector<uint8_t> level(8000);
  for (size_t i = 0; i < level.size(); i += 2) {
    const int16_t v = 10000;
    std::memcpy(&level[i], &v, 2);
  }
  Header header(level);
  ASSERT_EQ(DSWaveOutSetVolume(h, -600), DSWAVE_OK);
  ASSERT_EQ(DSWaveOutWrite(h, &header.hdr), DSWAVE_OK);
  Step(100);
  ASSERT_EQ(DSWaveOutPause(h), DSWAVE_OK);
  audio::MMTime at;
  DSWaveOutGetPosition(h, &at);
  EXPECT_NEAR(at.value, 800 - 16, 8);
  backend_.ClearCaptured();
  Step(50);
  EXPECT_TRUE(Sound(backend_.Captured()).empty());
  // What the ring had handed out before the pause (16 frames of latency) was still heard.
  audio::MMTime still;
  DSWaveOutGetPosition(h, &still);
  EXPECT_EQ(still.value, at.value + 16);
  int32_t volume = 0;
  DSWaveOutGetVolume(h, &volume);
  EXPECT_EQ(volume, -600);

  ASSERT_EQ(DSWaveOutRestart(h), DSWAVE_OK);
  backend_.ClearCaptured();
  Step(50);
  const auto after = backend_.Captured();
  int16_t first;
  std::memcpy(&first, after.data(), 2);
  EXPECT_NEAR(first, 10000 * 0.501, 2);
  // Nothing was played twice or skipped: the header ends after its 4,000 samples.
  Step(400);
  ASSERT_EQ(reports.done.size(), 1u);
  EXPECT_GE(reports.done[0].second, 4000u);
  EXPECT_LE(reports.done[0].second, 4000u + 24);
  DSWaveOutClose(h);
}

TEST_F(DSLayer, ResetGivesBackEveryHeaderAndLateTimersDoNothing) {
  Reports reports;
  HDSWAVEOUT h = nullptr;
  const WAVEFORMATEX f = Mono16();
  ASSERT_EQ(DSWaveOutOpen(&h, 0, &f, reports.Callback(), audio::CALLBACK_FUNCTION), DSWAVE_OK);
  std::vector<std::unique_ptr<Header>> headers;
  DSWaveOutPause(h);
  for (int i = 0; i < 8; ++i) {
    headers.push_back(std::make_unique<Header>(Pattern(600, i)));
    DSWaveOutWrite(h, &headers.back()->hdr);
  }
  DSWaveOutRestart(h);
  Step(60);  // 480 samples heard: the first header (300) is done, others copied or queued
  ASSERT_EQ(reports.done.size(), 1u);
  ASSERT_EQ(DSWaveOutReset(h), DSWAVE_OK);
  ASSERT_EQ(reports.done.size(), headers.size());
  for (size_t i = 0; i < headers.size(); ++i) EXPECT_EQ(reports.done[i].first, &headers[i]->hdr);
  audio::MMTime t;
  DSWaveOutGetPosition(h, &t);
  EXPECT_EQ(t.value, 0u);
  Step(400);
  EXPECT_EQ(reports.done.size(), headers.size());
  // Written again after the reset, the sound starts from the top of the ring.
  DSWaveOutWrite(h, &headers[0]->hdr);
  Step(60);
  EXPECT_EQ(reports.done.size(), headers.size() + 1);
  DSWaveOutClose(h);
}

// An output lost for good (a sound server that went away) gives every header back, and the next
// call fails, which ends the play through the device's error path.
TEST_F(DSLayer, ALostOutputGivesEveryHeaderBackAndTheNextCallFails) {
  backend_.SetFlushable(true);
  int done = 0;
  auto count = [&](HDSWAVEOUT, uint32_t msg, PMMWaveHdr) { done += msg == audio::MM_WOM_DONE; };
  HDSWAVEOUT h = nullptr;
  const WAVEFORMATEX f = Mono16();
  ASSERT_EQ(DSWaveOutOpen(&h, 0, &f, count, audio::CALLBACK_FUNCTION), DSWAVE_OK);
  std::vector<std::unique_ptr<Header>> headers;
  WriteHeaders(h, 6, 1000, headers);
  Step(100);
  ASSERT_LT(done, 6);
  backend_.Lose();
  Step(100);
  EXPECT_EQ(done, 6) << "headers came back";
  audio::MMTime t;
  t.wType = audio::TIME_SAMPLES;
  EXPECT_EQ(DSWaveOutGetPosition(h, &t), DSWAVE_FAILED);
  EXPECT_EQ(DSWaveOutWrite(h, &headers.front()->hdr), DSWAVE_FAILED);
  EXPECT_EQ(DSWaveOutClose(h), DSWAVE_OK);
}

TEST_F(DSLayer, Refusals) {
  const WAVEFORMATEX f = Mono16();
  HDSWAVEOUT h = nullptr;
  // Only function callbacks.
  EXPECT_EQ(DSWaveOutOpen(&h, 0, &f, nullptr, 0), DSWAVE_FAILED);
  EXPECT_EQ(DSWaveOutOpen(&h, 0, nullptr, nullptr, audio::CALLBACK_FUNCTION), DSWAVE_FAILED);
  EXPECT_EQ(DSWaveOutOpen(nullptr, 0, &f, nullptr, audio::WAVE_FORMAT_QUERY), DSWAVE_OK);
  EXPECT_EQ(DSWaveOutOpen(nullptr, 3, &f, nullptr, audio::WAVE_FORMAT_QUERY), DSWAVE_FAILED);
  ASSERT_EQ(DSWaveOutOpen(&h, 0, &f, nullptr, audio::CALLBACK_FUNCTION), DSWAVE_OK);
  audio::MMTime t;
  t.wType = audio::TIME_BYTES;
  EXPECT_EQ(DSWaveOutGetPosition(h, &t), DSWAVE_FAILED);
  EXPECT_EQ(t.wType, audio::TIME_SAMPLES);
  EXPECT_EQ(DSWaveOutSetVolume(h, 1), DSWAVE_FAILED);
  EXPECT_EQ(DSWaveOutSetPan(h, -10001), DSWAVE_FAILED);
  EXPECT_EQ(DSWaveOutSetPlayBackRate(h, 100001), DSWAVE_FAILED);
  EXPECT_EQ(DSWaveOutClose(h), DSWAVE_OK);
  EXPECT_EQ(DSWaveOutClose(h), DSWAVE_FAILED);
  backend_.SetDevices({});
  EXPECT_TRUE(DSWaveOutGetDrivers().empty());
  EXPECT_EQ(DSWaveOutOpen(&h, 0, &f, nullptr, audio::CALLBACK_FUNCTION), DSWAVE_FAILED);
}

// The head of a chain that plays a byte vector once.
using Source = chaintest::CountingSource;

class DSDevice : public DSLayer, public ::testing::WithParamInterface<TMMCBMode> {
 protected:
  void Build(size_t bytes) {
    source_ = std::make_unique<Source>(Pattern(bytes), Mono16());
    out_ = std::make_unique<TMMDSWaveOut>(nullptr);
    out_->SetBufferSize(600);
    out_->SetInput(source_.get());
    out_->SetOutput(&tap_);
    out_->OnStop = [this](TObject*) { ++stops_; };
    tap_.OnBufferReady = [this](TObject*, PMMWaveHdr h) {
      ++ready_;
      EXPECT_EQ(h->lpNowPlaying, nullptr);
    };
  }
  void PlayToEnd() {
    for (int i = 0; i < 5000 && stops_ == 0; ++i) {
      Step(1);
      gui_.ProcessMessages();
    }
  }
  void TearDown() override { out_.reset(); }

  std::unique_ptr<Source> source_;
  TMMDSPInterface tap_{nullptr};
  std::unique_ptr<TMMDSWaveOut> out_;
  int stops_ = 0, ready_ = 0;
};

TEST_P(DSDevice, ASourcePlaysThroughWholeAndStopsOnce) {
  Build(9000);
  out_->SetCallBackMode(GetParam());
  out_->SetNumBuffers(4);
  out_->SetTimeFormat(tfSample);
  out_->Start();
  EXPECT_EQ(out_->GetState(), dssOpen | dssPlay);
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(ready_, 15);
  EXPECT_EQ(Sound(backend_.Captured()), Pattern(9000));
  out_->Close();
  EXPECT_EQ(out_->GetState(), dssClose);
}

INSTANTIATE_TEST_SUITE_P(CallbackModes, DSDevice, ::testing::Values(cmWindow, cmThread));

TEST_F(DSDevice, PropertyLimitsAndRefusals) {
  ScopedAnswerer answers;
  answers.answerer.AnswerMessage(IDOK);
  Build(100);
  out_->SetNumBuffers(600);
  EXPECT_EQ(out_->GetNumBuffers(), 10);
  out_->SetNumBuffers(1);
  EXPECT_EQ(out_->GetNumBuffers(), 10);
  out_->SetBufferSize(100);
  EXPECT_EQ(out_->GetBufferSize(), 256);
  out_->SetCallBackMode(cmCallback);
  EXPECT_EQ(out_->GetCallBackMode(), cmWindow);
  out_->SetVolume(-20000);
  EXPECT_EQ(out_->GetVolume(), -10000);
  out_->SetPan(20000);
  EXPECT_EQ(out_->GetPan(), 10000);
  out_->SetRate(150000);
  EXPECT_EQ(out_->GetRate(), 100000);
  EXPECT_EQ(out_->GetProductName(), "Manual output");
  out_->SetDeviceID(5);
  EXPECT_EQ(out_->GetDeviceID(), -2);
  EXPECT_THROW(out_->Open(), EMMDSWaveOutError);
  out_->SetDeviceID(0);
  out_->SetVolume(-300);
  out_->SetRate(0);
  out_->Open();
  // Read back from the open stream.
  EXPECT_EQ(out_->GetVolume(), -300);
  EXPECT_EQ(out_->GetRate(), 8000);
  EXPECT_THROW(out_->SetNumBuffers(4), EMMDSWaveOutError);
  out_->Close();

  backend_.SetDevices({});
  TMMDSWaveOut none(nullptr);
  none.SetInput(source_.get());
  try {
    none.Open();
    ADD_FAILURE() << "opened without a driver";
  } catch (const EMMDSWaveOutError& e) {
    EXPECT_STREQ(e.what(), "No DirectSound playing devices found");
  }
}

// Each loop is told to the device's handler and walks the chain, in either callback mode.
TEST_P(DSDevice, LoopingPlaysTheSourceAgainAndTellsEachLoop) {
  Build(100);
  chaintest::LoopingSource looping(Pattern(1000), Mono16());
  out_->SetCallBackMode(GetParam());
  out_->SetInput(&looping);
  out_->SetNumBuffers(3);
  out_->SetLooping(true);
  out_->SetLoopCount(2);
  int loops = 0, walked = 0;
  out_->OnLooping = [&](TObject*) { ++loops; };
  tap_.OnLooped = [&](TObject*) { ++walked; };
  out_->Start();
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(loops, 2);
  EXPECT_EQ(walked, 2);
  std::vector<uint8_t> three_times;
  for (int i = 0; i < 3; ++i) {
    three_times.insert(three_times.end(), looping.data().begin(), looping.data().end());
  }
  EXPECT_EQ(Sound(backend_.Captured()), three_times);
}

TEST_F(DSDevice, PausingAndResettingKeepThePositionHonest) {
  Build(16000);
  out_->SetTimeFormat(tfSample);
  out_->Start();
  for (int i = 0; i < 100; ++i) {
    Step(1);
    gui_.ProcessMessages();
  }
  out_->Pause();
  const int64_t paused = out_->GetPosition();
  EXPECT_NEAR(paused, 800 - 16, 8);
  Step(50);
  gui_.ProcessMessages();
  EXPECT_EQ(out_->GetPosition(), paused + 16) << "the frames on their way were heard, no more";
  out_->Reset();
  EXPECT_EQ(out_->GetPosition(), 0);
  EXPECT_EQ(out_->GetState(), dssOpen | dssPlay | dssPause);
  out_->Restart();
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
}

// Real playback: SDL's disk driver writes what it was given to a file, in real time.
TEST(DSWaveOutOnSdl, ASoundPlayedThroughTheStreamBufferLandsByteForByte) {
  // A folder of this run's own: runs side by side never share the file.
  testing::ScratchFolder dir;
  const auto out_file = dir.path() / "sdl-disk-dsound.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out_file.c_str(), 1);
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  const std::vector<uint8_t> sound = Pattern(48000 * 4 + 1232);
  QueueDispatcher gui;
  SetDispatcher(&gui);
  auto backend = std::make_unique<audio::SdlBackend>();
  audio::SetBackend(backend.get());
  {
    Source source(sound, f);
    TMMDSWaveOut out(nullptr);
    out.SetBufferSize(16000);
    out.SetInput(&source);
    int stops = 0;
    out.OnStop = [&](TObject*) { ++stops; };
    out.Start();
    // A safety bound for a real-time driver, not a measure of speed.
    for (int i = 0; i < 3000 && stops == 0; ++i) gui.WaitAndProcess(20);
    EXPECT_EQ(stops, 1);
    out.Close();
  }
  audio::SetBackend(nullptr);
  backend.reset();
  SetDispatcher(nullptr);

  std::ifstream in(out_file, std::ios::binary);
  const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
  EXPECT_TRUE(LandsWhole(written, sound, 0));
}

}  // namespace
}  // namespace vant
