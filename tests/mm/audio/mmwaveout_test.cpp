// TMMWaveOut over the Manual backend: the test renders the sound itself and runs the GUI
// thread's queue, so every completion, refill and stop is observed in order, without timing.
#include "mmwaveout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audiobackend.h"
#include "chainsource.h"
#include "dispatch.h"
#include "manualbackend.h"
#include "mmdspinterface.h"
#include "mmdspthread.h"
#include "mmpcmsup.h"
#include "mmwaveio.h"
#include "scratchfolder.h"
#include "sdlbackend.h"
#include "trace.h"
#include "ui_dialogs.h"

namespace vant {
namespace {

WAVEFORMATEX Stereo16() {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  return f;
}

// Bytes that are never 0, so silence between them would show.
std::vector<uint8_t> Pattern(size_t bytes) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(i * 7 % 251 + 1);
  return v;
}

// The head of a chain: plays a byte vector once.
class Source : public TMMDSPComponent {
 public:
  Source(std::vector<uint8_t> data, const WAVEFORMATEX& f)
      : TMMDSPComponent(nullptr), data_(std::move(data)) {
    PublishLinks(false, true);
    SetPWaveFormat(&f);
  }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    const size_t n = std::min<size_t>(h->wh.dwBufferLength, data_.size() - pos_);
    if (n > 0) std::memcpy(h->wh.lpData, data_.data() + pos_, n);
    pos_ += n;
    h->wh.dwBytesRecorded = static_cast<uint32_t>(n);
    more = pos_ < data_.size();
  }
  void Rewind(size_t pos) { pos_ = pos; }
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

// Strips the silence a renderer adds before, between (an underrun) and after the sound.
std::vector<uint8_t> Sound(const std::vector<uint8_t>& captured) {
  std::vector<uint8_t> out;
  std::copy_if(captured.begin(), captured.end(), std::back_inserter(out),
               [](uint8_t v) { return v != 0; });
  return out;
}

// The GUI queue, counting what is posted to it, so a test can wait for a post without running it.
class CountingQueue : public Dispatcher {
 public:
  void Post(std::function<void()> fn) override {
    ++posts;
    queue_.Post(std::move(fn));
  }
  void ProcessMessages() override { queue_.ProcessMessages(); }
  bool IsGuiThread() const override { return queue_.IsGuiThread(); }
  void WaitForMessages(int timeout_ms) override { queue_.WaitForMessages(timeout_ms); }
  // Waits, without running anything, until more than `seen` posts arrived; false if none came.
  bool WaitForPostsAbove(int seen) {
    for (int i = 0; i < 100 && posts.load() <= seen; ++i) queue_.WaitForMessages(100);
    return posts.load() > seen;
  }
  std::atomic<int> posts{0};

 private:
  QueueDispatcher queue_;
};

class WaveOutDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDispatcher(&gui_);
    audio::SetBackend(&backend_);
    backend_.SetLatencyFrames(256);
  }
  void TearDown() override {
    out_.reset();
    source_.reset();
    audio::SetBackend(nullptr);
    SetDispatcher(nullptr);
  }
  // A device playing `bytes` of pattern through a tap that counts the played buffers.
  void Build(size_t bytes, int32_t buffer_size = 4000, TMMCBMode mode = cmWindow) {
    source_ = std::make_unique<Source>(Pattern(bytes), Stereo16());
    out_ = std::make_unique<TMMWaveOut>(nullptr);
    out_->SetCallBackMode(mode);
    out_->SetBufferSize(buffer_size);
    out_->SetInput(source_.get());
    out_->SetOutput(&tap_);
    out_->OnStop = [this](TObject*) { ++stops_; };
    out_->OnError = [this](TObject*) { ++errors_; };
    tap_.OnBufferReady = [this](TObject*, PMMWaveHdr h) {
      ++ready_;
      EXPECT_NE(h->lpNowPlaying, nullptr);
    };
  }
  // Renders and runs the GUI queue until the device stopped (bounded by a frame budget).
  void PlayToEnd(int frames_per_step = 700) {
    for (int i = 0; i < 20000 && stops_ == 0; ++i) {
      backend_.Render(frames_per_step);
      gui_.ProcessMessages();
    }
  }

  CountingQueue gui_;
  audio::ManualBackend backend_;
  std::unique_ptr<Source> source_;
  TMMDSPInterface tap_{nullptr};
  std::unique_ptr<TMMWaveOut> out_;
  int stops_ = 0, errors_ = 0, ready_ = 0;
};

class WaveOutModes : public WaveOutDevice, public ::testing::WithParamInterface<TMMCBMode> {};

TEST_P(WaveOutModes, ASourceOfThreeAndAHalfBuffersPlaysFourHeadersOnce) {
  Build(14000, 4000, GetParam());
  out_->OnBufferFilled = [](TObject*, PMMWaveHdr h) {
    EXPECT_FALSE(std::atomic_ref<uint32_t>(h->wh.dwFlags).load() & audio::WHDR_INQUEUE)
        << "a header was about to be written while still queued";
  };
  out_->Start();
  EXPECT_EQ(out_->HeadersInUse(), 4);
  EXPECT_EQ(out_->GetState(), wosOpen | wosPlay);
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(errors_, 0);
  EXPECT_EQ(ready_, 4);
  EXPECT_EQ(out_->GetState(), wosOpen);
  EXPECT_EQ(Sound(backend_.Captured()), source_->data());
  EXPECT_EQ(out_->HeadersInUse(), 0);
  out_->Close();
  EXPECT_EQ(out_->GetState(), wosClose);
  EXPECT_EQ(backend_.OpenStreams(), 0);
}

// The player closes the device from its stop handler.
TEST_P(WaveOutModes, AStreamThatRunsOutCanCloseFromOnStop) {
  Build(9000, 4000, GetParam());
  out_->OnStop = [this](TObject*) {
    ++stops_;
    out_->Close();
  };
  out_->Start();
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(out_->GetState(), wosClose);
  EXPECT_EQ(backend_.OpenStreams(), 0);
  source_->Rewind(0);
  out_->Start();  // and plays again from a closed device
  EXPECT_EQ(out_->GetState(), wosOpen | wosPlay);
}

TEST_P(WaveOutModes, ALongSourceCyclesTheRingInOrder) {
  Build(200000, 2048, GetParam());
  out_->SetNumBuffers(3);
  out_->Start();
  PlayToEnd(333);
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(ready_, (200000 + 2047) / 2048);
  EXPECT_EQ(Sound(backend_.Captured()), source_->data());
}

// A source that breaks after a few buffers.
class BrokenSource : public Source {
 public:
  using Source::Source;
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    if (++loads_ > 5) throw Exception("the source broke");
    Source::BufferLoad(h, more);
  }

 private:
  int loads_ = 0;
};

TEST_P(WaveOutModes, AFailureWhileRefillingClosesTheDeviceOnTheGuiThreadAndRaises) {
  Build(100, 4000, GetParam());
  BrokenSource broken(Pattern(80000), Stereo16());
  out_->SetNumBuffers(3);
  out_->SetInput(&broken);
  out_->Start();
  std::string raised;
  for (int i = 0; i < 2000 && raised.empty(); ++i) {
    backend_.Render(700);
    try {
      gui_.ProcessMessages();
    } catch (const std::exception& e) {
      raised = e.what();
    }
  }
  EXPECT_EQ(raised, "the source broke");
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(out_->GetState(), wosClose);
  EXPECT_EQ(backend_.OpenStreams(), 0);
}

INSTANTIATE_TEST_SUITE_P(CallbackModes, WaveOutModes, ::testing::Values(cmWindow, cmThread));

// A source that fails once, on its sixth load.
class FailsOnce : public Source {
 public:
  using Source::Source;
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    if (++loads_ == 6) throw Exception("the source broke");
    Source::BufferLoad(h, more);
  }

 private:
  int loads_ = 0;
};

TEST_F(WaveOutDevice, AFailureOfAnEndedRunDoesNotCloseTheNextRun) {
  Build(100, 4000, cmThread);
  FailsOnce source(Pattern(80000), Stereo16());
  out_->SetNumBuffers(3);
  out_->SetInput(&source);
  out_->Start();
  // The three headers heard: the completion thread refills two and fails on the third; its
  // failure waits in the GUI queue.
  const int before = gui_.posts.load();
  backend_.Render(3000 + 256);
  ASSERT_TRUE(gui_.WaitForPostsAbove(before));
  EXPECT_EQ(errors_, 1);
  // Before the queue gets to it, the program stops and plays again on the same device.
  out_->Stop();
  EXPECT_EQ(stops_, 1);
  source.Rewind(0);
  backend_.ClearCaptured();
  out_->Start();
  EXPECT_NO_THROW(gui_.ProcessMessages()) << "the earlier run's failure reached the new run";
  EXPECT_TRUE(out_->GetState() & wosPlay);
  stops_ = 0;
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(Sound(backend_.Captured()), source.data());
}

// A source that answers "more" but brings nothing on its fifth load.
class RunsDry : public Source {
 public:
  using Source::Source;
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    if (++loads_ == 5) {
      h->wh.dwBytesRecorded = 0;
      more = true;
      return;
    }
    Source::BufferLoad(h, more);
  }

 private:
  int loads_ = 0;
};

TEST_F(WaveOutDevice, ASourceThatPromisesMoreButBringsNothingFailsTheFill) {
  Build(100);
  RunsDry dry(Pattern(80000), Stereo16());
  out_->SetNumBuffers(3);
  out_->SetInput(&dry);
  out_->Start();
  std::string raised;
  for (int i = 0; i < 200 && raised.empty(); ++i) {
    backend_.Render(700);
    try {
      gui_.ProcessMessages();
    } catch (const EMMWaveOutError& e) {
      raised = e.what();
    }
  }
  EXPECT_EQ(raised, LoadResStr(81));
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(out_->GetState(), wosClose);
  EXPECT_EQ(backend_.OpenStreams(), 0);
}

TEST_F(WaveOutDevice, AFormatChangeClosesAnOpenDevice) {
  Build(80000);
  int closes = 0;
  out_->OnClose = [&](TObject*) { ++closes; };
  out_->Start();
  ASSERT_EQ(out_->GetState(), wosOpen | wosPlay);
  WAVEFORMATEX mono{};
  pcmBuildWaveHeader(mono, 8, 1, 22050);
  out_->SetPWaveFormat(&mono);
  EXPECT_EQ(out_->GetState(), wosClose);
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(backend_.OpenStreams(), 0);
  EXPECT_EQ(out_->GetPWaveFormat()->nChannels, 1);
}

// A source whose refill on the completion thread holds until the test lets it go.
class HeldSource : public Source {
 public:
  using Source::Source;
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    if (!GetDispatcher().IsGuiThread()) {
      std::unique_lock lock(mutex_);
      held_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return released_; });
      returned = true;
    }
    Source::BufferLoad(h, more);
  }
  void WaitHeld() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return held_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  std::atomic<bool> returned{false};

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool held_ = false, released_ = false;
};

TEST_F(WaveOutDevice, ADeviceFreedDuringASlowRefillWaitsForIt) {
  TMMDSPThread::SetEndReportInterval(1);
  struct Restore {
    ~Restore() { TMMDSPThread::SetEndReportInterval(5000); }
  } restore;
  TraceCapture trace;
  Build(100, 4000, cmThread);
  HeldSource held(Pattern(80000), Stereo16());
  out_->SetInput(&held);
  out_->Start();
  backend_.Render(1000 + 256);  // the first header heard: its refill holds on the thread
  held.WaitHeld();
  // The refill goes on only once the destructor has said that it goes on waiting; the check runs
  // from the GUI queue, which the destructor serves while it waits.
  std::function<void()> release_once_reported = [&] {
    for (const std::string& line : trace.Lines())
      if (line.find("still waiting") != std::string::npos) return held.Release();
    gui_.Post(release_once_reported);
  };
  gui_.Post(release_once_reported);
  out_.reset();
  EXPECT_TRUE(held.returned);
}

TEST_F(WaveOutDevice, WithoutFixedBuffersEachHeaderIsPreparedPerWrite) {
  FIX_BUFFERS = false;
  Build(30000, 4000);
  out_->SetNumBuffers(3);
  out_->Start();
  PlayToEnd();
  FIX_BUFFERS = true;
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(ready_, 8);
  EXPECT_EQ(Sound(backend_.Captured()), source_->data());
}

TEST_F(WaveOutDevice, AnEmptySourceFailsToStartAndLeavesTheDeviceClosed) {
  Build(0);
  bool error_before_raise = false;
  try {
    out_->Start();
    ADD_FAILURE() << "Start did not raise";
  } catch (const EMMWaveOutError& e) {
    error_before_raise = errors_ == 1;
    EXPECT_STREQ(e.what(), "WaveOutStart:\n\rUnable to start device");
  }
  EXPECT_TRUE(error_before_raise);
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(out_->GetState(), wosClose);
  EXPECT_EQ(backend_.OpenStreams(), 0);
}

TEST_F(WaveOutDevice, OpenRefusesWhatCannotPlay) {
  struct Case {
    const char* what;
    std::vector<std::string> devices;
    int32_t device_id;
    bool format;
    bool refused_format;
    const char* message;
  } cases[] = {
      {"no devices", {}, 0, true, false, "No wave audio playing device found"},
      {"device 5 of 2", {"a", "b"}, 5, true, false, "Invalid DeviceID"},
      {"no format", {"a"}, 0, false, false, "WaveOutOpen:\n\rInvalid wave format"},
      {"format refused",
       {"a"},
       0,
       true,
       true,
       "WaveOutOpen:\n\rThe actual device can't play this format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    backend_.SetDevices(c.devices);
    backend_.SetFormatFilter([&c](const audio::WaveFormatEx&) { return !c.refused_format; });
    TMMWaveOut out(nullptr);
    out.SetDeviceID(c.device_id);
    int errors = 0;
    out.OnError = [&](TObject*) { ++errors; };
    if (c.format) {
      const WAVEFORMATEX f = Stereo16();
      out.SetPWaveFormat(&f);
    }
    try {
      out.Open();
      ADD_FAILURE() << "Open did not raise";
    } catch (const EMMWaveOutError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(out.GetState(), wosClose);
  }
  backend_.SetDevices({"a", "b"});
  TMMWaveOut out(nullptr);
  out.SetDeviceID(5);
  EXPECT_EQ(out.GetDeviceID(), -2);
  EXPECT_EQ(out.GetProductName(), "No wave audio playing device found");
  out.SetDeviceID(1);
  EXPECT_EQ(out.GetProductName(), "b");
}

TEST_F(WaveOutDevice, PropertyLimits) {
  Build(100);
  out_->SetNumBuffers(1);
  EXPECT_EQ(out_->GetNumBuffers(), 10);
  out_->SetNumBuffers(600);
  EXPECT_EQ(out_->GetNumBuffers(), 500);
  out_->SetBufferSize(10);
  EXPECT_EQ(out_->GetBufferSize(), 32);
  out_->Open();
  EXPECT_THROW(out_->SetNumBuffers(4), EMMWaveOutError);
  EXPECT_THROW(out_->SetDeviceID(0), EMMWaveOutError);
  EXPECT_EQ(out_->GetNumBuffers(), 500);
}

TEST_F(WaveOutDevice, AStopFromOnBufferReadyIsDeferredUntilTheHandlerReturns) {
  Build(40000);
  bool stopped_inside = true;
  tap_.OnBufferReady = [&](TObject*, PMMWaveHdr) {
    ++ready_;
    if (ready_ != 1) return;
    out_->Stop();
    stopped_inside = stops_ > 0 || !(out_->GetState() & wosPlay);
  };
  out_->Start();
  PlayToEnd();
  EXPECT_FALSE(stopped_inside);
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(ready_, 1);
  EXPECT_EQ(out_->GetState(), wosOpen);
  // A close asked for while the stop is pending closes once the stop completes.
  out_->Close();
  EXPECT_EQ(out_->GetState(), wosClose);
}

TEST_F(WaveOutDevice, TheEndOfStreamStopOfAFinishedRunDoesNotStopTheNextRun) {
  Build(8000);  // two headers
  out_->Start();
  // The last header's completion posts the end-of-stream stop; it waits in the GUI queue.
  for (int i = 0; i < 200 && ready_ < 2; ++i) {
    backend_.Render(700);
    gui_.ProcessMessages();
  }
  ASSERT_EQ(ready_, 2);
  ASSERT_EQ(stops_, 0);
  // Before the queue gets to it, the program stops and plays again on the same device.
  out_->Stop();
  EXPECT_EQ(stops_, 1);
  source_->Rewind(0);
  backend_.ClearCaptured();
  out_->Start();
  gui_.ProcessMessages();
  EXPECT_EQ(stops_, 1) << "the earlier run's stop ended the new run";
  EXPECT_TRUE(out_->GetState() & wosPlay);
  for (int i = 0; i < 200 && stops_ < 2; ++i) {
    backend_.Render(700);
    gui_.ProcessMessages();
  }
  EXPECT_EQ(stops_, 2);
  EXPECT_EQ(ready_, 4);
  EXPECT_EQ(Sound(backend_.Captured()), source_->data());
}

TEST_F(WaveOutDevice, ResetDropsPendingCompletionsAndRestartsThePosition) {
  Build(80000);
  out_->SetTimeFormat(tfSample);
  out_->Start();
  backend_.Render(2300);  // two headers heard; their completions wait in the GUI queue
  EXPECT_EQ(ready_, 0);
  EXPECT_GT(out_->GetPosition(), 2000);
  source_->Rewind(40000);  // a seek
  out_->Reset();
  EXPECT_EQ(out_->GetPosition(), 0);
  gui_.ProcessMessages();
  EXPECT_EQ(ready_, 0) << "completions from before the reset were handled";
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(ready_, 10);
  const std::vector<uint8_t> tail(source_->data().begin() + 40000, source_->data().end());
  const std::vector<uint8_t> sound = Sound(backend_.Captured());
  ASSERT_GE(sound.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), sound.end() - tail.size()));
}

TEST_F(WaveOutDevice, PauseStopsThePositionWhereTheListenerStopsHearingUntilRestart) {
  Build(80000);
  out_->SetTimeFormat(tfByte);
  out_->Start();
  backend_.Render(1500);
  gui_.ProcessMessages();
  out_->Pause();
  EXPECT_EQ(out_->GetPosition(), (1500 - 256) * 4);
  // What was rendered before the pause is heard; then the position stands.
  backend_.Render(3000);
  gui_.ProcessMessages();
  const int64_t paused_at = out_->GetPosition();
  EXPECT_EQ(paused_at, 1500 * 4);
  out_->Restart();
  backend_.Render(1000);
  gui_.ProcessMessages();
  // The restart goes on after what was heard, once the latency has passed.
  EXPECT_EQ(out_->GetPosition(), paused_at + (1000 - 256) * 4);
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(out_->GetPosition(), 0) << "stopped";
}

TEST_F(WaveOutDevice, ACloseDuringAPendingStopClosesOnceTheStopCompletes) {
  Build(40000);
  int closes = 0;
  out_->OnClose = [&](TObject*) { ++closes; };
  tap_.OnBufferReady = [&](TObject*, PMMWaveHdr) {
    if (++ready_ != 1) return;
    out_->Stop();
    out_->Close();
    EXPECT_EQ(closes, 0);
    EXPECT_NE(out_->GetState(), wosClose);
  };
  out_->Start();
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(out_->GetState(), wosClose);
  EXPECT_EQ(backend_.OpenStreams(), 0);
}

TEST(WaveOutCounter, WrapPairs) {
  struct Case {
    uint32_t previous, now;
    bool wrapped;
    uint32_t period;
  } cases[] = {
      {0xFFFFFF00u, 0x00000100u, true, 0xFFFFFFFFu},  // a 32-bit counter
      {0x00FFFF00u, 0x00000100u, true, 0x00FFFFFFu},  // a 24-bit counter
      {0x00010000u, 0x00000001u, true, 0x000FFFFFu},  // fell by exactly 65,535
      {0x00010000u, 0x00000002u, false, 0},           // by 65,534: not a wrap
      {100, 200, false, 0},
  };
  for (const Case& c : cases) {
    uint32_t period = 0;
    EXPECT_EQ(WaveOutCounterWrapped(c.previous, c.now, &period), c.wrapped)
        << std::hex << c.previous;
    EXPECT_EQ(period, c.period) << std::hex << c.previous;
  }
}

TEST_F(WaveOutDevice, ThePositionRunsOnAcrossTheCounterWrap) {
  const int64_t origin = 0x100000000ll - 1500;  // the device's counter wraps 1,500 frames in
  backend_.SetCounterOriginFrames(origin);
  Build(4 * 4000);
  out_->SetTimeFormat(tfSample);
  out_->Start();
  backend_.Render(1000 + 256);  // the first header heard
  gui_.ProcessMessages();
  EXPECT_EQ(out_->GetPosition(), origin + 1000);
  backend_.Render(1000);  // the second: the counter wrapped on the way
  gui_.ProcessMessages();
  // The period taken for a 32-bit counter is 0xFFFFFFFF, one short of its true length.
  EXPECT_EQ(out_->GetPosition(), origin + 2000 - 1);
  EXPECT_EQ(out_->GetPositionHigh(), 1);
}

// A tap that fires its event on the GUI thread, whatever thread the device drives it from.
TEST_F(WaveOutDevice, AResetInThreadModeServesTheCompletionThreadsSynchronize) {
  Build(80000, 4000, cmThread);
  std::thread::id gui_thread = std::this_thread::get_id();
  std::atomic<int> synced{0};
  tap_.OnBufferReady = [&](TObject*, PMMWaveHdr) {
    GlobalSynchronize([&] {
      EXPECT_EQ(std::this_thread::get_id(), gui_thread);
      ++synced;
    });
  };
  out_->Start();
  backend_.Render(2300);  // two completions for the thread, which then waits for the GUI
  source_->Rewind(0);
  out_->Reset();  // must serve that wait, not deadlock on it
  EXPECT_EQ(out_->GetPosition(), 0);
  PlayToEnd();
  EXPECT_EQ(stops_, 1);
  EXPECT_GE(synced.load(), 20);
}

TEST(DSPThread, GlobalSynchronizeRunsOnTheGuiThreadOnlyFromADeviceThread) {
  QueueDispatcher gui;
  SetDispatcher(&gui);
  struct Worker : TMMDSPThread {
    Worker() : TMMDSPThread(nullptr) {}
    ~Worker() override {
      Terminate();
      WaitFor(5000);
    }
    void Execute() override {
      GlobalSynchronize([this] { ran_on = std::this_thread::get_id(); });
      done = true;
    }
    std::thread::id ran_on;
    std::atomic<bool> done{false};
  };
  {
    Worker w;
    w.Resume();
    EXPECT_TRUE(WaitServingGui([&] { return w.done.load(); }, 10000));
    EXPECT_EQ(w.ran_on, std::this_thread::get_id());
  }
  std::thread::id direct;
  std::thread other([&] { GlobalSynchronize([&] { direct = std::this_thread::get_id(); }); });
  const std::thread::id other_id = other.get_id();
  other.join();
  EXPECT_EQ(direct, other_id);
  SetDispatcher(nullptr);
}

using chaintest::LoopingSource;

TEST_F(WaveOutDevice, LoopingPlaysTheSourceAgainAndTellsEachLoop) {
  // With 3 buffers the ring refills; with 10 the whole looped sound fits in it at the start.
  for (int buffers : {3, 10}) {
    SCOPED_TRACE(buffers);
    Build(100);
    backend_.ClearCaptured();
    stops_ = 0;
    LoopingSource looping(Pattern(10000), Stereo16());
    out_->SetInput(&looping);
    out_->SetNumBuffers(buffers);
    out_->SetLooping(true);
    out_->SetLoopCount(2);
    int loops = 0;
    out_->OnLooping = [&](TObject*) { ++loops; };
    out_->Start();
    PlayToEnd();
    EXPECT_EQ(loops, 2);
    EXPECT_EQ(stops_, 1);
    std::vector<uint8_t> three_times;
    for (int i = 0; i < 3; ++i) {
      three_times.insert(three_times.end(), looping.data().begin(), looping.data().end());
    }
    EXPECT_EQ(Sound(backend_.Captured()), three_times);
    out_.reset();
  }
}

TEST_F(WaveOutDevice, ThePositionInMillisecondsCountsAgainFromEachLoop) {
  Build(100);
  LoopingSource looping(Pattern(10000), Stereo16());  // 2,500 frames; headers of 1,000
  out_->SetInput(&looping);
  out_->SetNumBuffers(3);
  out_->SetLooping(true);
  out_->SetLoopCount(2);
  out_->SetTimeFormat(tfMillisecond);
  int loops = 0;
  out_->OnLooping = [&](TObject*) { ++loops; };
  out_->Start();
  backend_.Render(256 + 960);
  gui_.ProcessMessages();
  EXPECT_EQ(out_->GetPosition(), 20);  // 960 frames at 48 kHz
  // The third header carries the wrap: once it is heard the position starts again. Rendered in
  // steps, so the refills keep the device fed.
  for (int i = 0; i < 4; ++i) {
    backend_.Render(510);
    gui_.ProcessMessages();
  }
  EXPECT_EQ(loops, 1);
  EXPECT_EQ(out_->GetPosition(), 0);
  backend_.Render(480);
  gui_.ProcessMessages();
  EXPECT_EQ(out_->GetPosition(), 10);
  out_->SetTimeFormat(tfSample);
  EXPECT_EQ(out_->GetPosition(), 480);
}

TEST_F(WaveOutDevice, ReadinessAndNamesOfDevices) {
  backend_.SetDevices({"Speakers", "Headphones"});
  struct Case {
    int32_t device;
    bool ready;
    const char* name;
  } cases[] = {{-1, true, "Speakers"},
               {0, true, "Speakers"},
               {1, true, "Headphones"},
               {2, false, ""},
               {-2, false, ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(WaveOutReady(c.device), c.ready) << c.device;
    EXPECT_EQ(WaveOutGetDeviceName(c.device), c.name) << c.device;
  }
  EXPECT_EQ(backend_.OpenStreams(), 0);
  backend_.SetFormatFilter([](const audio::WaveFormatEx& f) { return f.wBitsPerSample != 8; });
  EXPECT_FALSE(WaveOutReady(0));
}

TEST_F(WaveOutDevice, TheHourglassShowsWhileALargeRingIsFilled) {
  struct Case {
    int32_t buffer_size;
    bool show;
    TCursor while_filling;
  } cases[] = {{16000, true, crHourGlass}, {16000, false, crDefault}, {4000, true, crDefault}};
  for (const Case& c : cases) {
    Build(200000, c.buffer_size);
    out_->SetShowHourGlass(c.show);
    TCursor seen = crNone;
    out_->OnBufferLoad = [&](TObject*, PMMWaveHdr, bool&) { seen = Screen->GetCursor(); };
    out_->Start();
    EXPECT_EQ(seen, c.while_filling) << c.buffer_size << " " << c.show;
    EXPECT_EQ(Screen->GetCursor(), crDefault);
    out_.reset();
  }
}

TEST_F(WaveOutDevice, CallbackModeIsRefusedOnThisPlatform) {
  ScopedAnswerer answers;
  answers.answerer.AnswerMessage(IDOK);
  Build(100);
  out_->SetCallBackMode(cmCallback);
  EXPECT_EQ(out_->GetCallBackMode(), cmWindow);
}

// The head of a chain that streams a wave file's data as the device pulls it.
class FileSource : public TMMDSPComponent {
 public:
  explicit FileSource(const std::string& path) : TMMDSPComponent(nullptr) {
    PublishLinks(false, true);
    ok_ = wioReadFileInfo(cb_, path, kWaveForm, kWioFile) == kWioOk &&
          wioWaveOpen(cb_.get()) == kWioOk;
    if (ok_) SetPWaveFormat(cb_->wfx.get());
  }
  ~FileSource() override {
    if (cb_) wioWaveClose(cb_.get());
    wioFreeFileInfo(cb_);
  }
  bool ok() const { return ok_; }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    const int64_t n = wioWaveReadData(cb_.get(), h->wh.lpData, h->wh.dwBufferLength);
    h->wh.dwBytesRecorded = static_cast<uint32_t>(std::max<int64_t>(n, 0));
    more = n > 0 && cb_->dwBytesLeft > 0;
  }

 private:
  PWAVEIOCB cb_;
  bool ok_ = false;
};

// Real playback: SDL's disk driver writes what it was given to a file, in real time.
TEST(WaveOutOnSdl, AWaveFilePlayedThroughTheChainLandsByteForByte) {
  // A folder of this run's own: runs side by side never share the files.
  vant::testing::ScratchFolder scratch;
  const auto dir = scratch.path();
  const auto wave = dir / "sdl-disk-chain.wav";
  const auto out_file = dir / "sdl-disk-chain.raw";
  // A second and a bit: more than the ring holds, so refills run, with 0.8 s of slack against a
  // loaded machine (the disk driver writes silence when the ring runs dry).
  const std::vector<uint8_t> sound = Pattern(48000 * 4 + 1232);
  const WAVEFORMATEX f = Stereo16();
  ASSERT_EQ(wioWaveSaveFile(wave.string(), &f, sound.data(), static_cast<int64_t>(sound.size())),
            kWioOk);
  std::filesystem::remove(out_file);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out_file.c_str(), 1);
  QueueDispatcher gui;
  SetDispatcher(&gui);
  auto backend = std::make_unique<audio::SdlBackend>();
  audio::SetBackend(backend.get());
  {
    FileSource source(wave.string());
    ASSERT_TRUE(source.ok());
    TMMWaveOut out(nullptr);
    out.SetBufferSize(16000);
    out.SetNumBuffers(10);
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
  backend.reset();  // SDL closes its file
  SetDispatcher(nullptr);

  std::ifstream in(out_file, std::ios::binary);
  const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
  auto first = std::find_if(written.begin(), written.end(), [](uint8_t v) { return v != 0; });
  ASSERT_GE(written.end() - first, static_cast<ptrdiff_t>(sound.size()));
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), first)) << "the sound arrived altered";
  EXPECT_TRUE(std::all_of(first + sound.size(), written.end(), [](uint8_t v) { return v == 0; }))
      << "a gap or a repeat in the sound";
}

}  // namespace
}  // namespace vant
