#pragma once
// What the connector tests share: a GUI queue run by hand, a clock and timer service moved by
// hand, and a display that records every slice it is given.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "clock.h"
#include "dispatch.h"
#include "mmconnector.h"
#include "mmpcmsup.h"
#include "timerservice.h"
#include "ui_timer.h"

namespace vant::testing {

// One for the whole run and never destroyed: a worker may still post as a test ends.
inline QueueDispatcher& Gui() {
  static QueueDispatcher* gui = new QueueDispatcher;
  return *gui;
}

inline WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, bits, channels, rate);
  return f;
}

// 16-bit stereo frames whose left sample is the frame's number and right sample its negation,
// so a slice tells where it starts.
inline std::vector<uint8_t> NumberedFrames(int frames) {
  std::vector<uint8_t> v(static_cast<size_t>(frames) * 4);
  for (int i = 0; i < frames; ++i) {
    const int16_t l = static_cast<int16_t>(i), r = static_cast<int16_t>(-i);
    std::memcpy(&v[i * 4], &l, 2);
    std::memcpy(&v[i * 4 + 2], &r, 2);
  }
  return v;
}

// A display that records the first 16-bit sample of each slice and the clock when it came.
class RecordingDisplay : public TComponent, public TMMDisplayData {
 public:
  explicit RecordingDisplay(int64_t slice_bytes = 200) : TComponent(nullptr) {
    SetSliceBytes(slice_bytes);
  }
  ~RecordingDisplay() override { Destroying(); }
  void SetPCMWaveFormat(const WAVEFORMATEX& f) override {
    format = f;
    ++formats;
  }
  void RefreshPCMData(const void* slice) override {
    int16_t first;
    std::memcpy(&first, slice, 2);
    firsts.push_back(first);
    bytes.push_back(static_cast<const uint8_t*>(slice)[0]);
    times.push_back(GetClock().NowMicros());
  }
  void ResetData() override { ++resets; }
  TComponent* DisplayComponent() override { return this; }
  int64_t StepBytes() const override { return step; }
  void SetSlice(int64_t b) { SetSliceBytes(b); }

  WAVEFORMATEX format{};
  int formats = 0;
  int resets = 0;
  int64_t step = 0;  // 0: moves on with its kind
  std::vector<int16_t> firsts;
  std::vector<uint8_t> bytes;
  std::vector<int64_t> times;
};

class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDispatcher(&Gui());
    SetClock(&clock);
    SetTimerService(&service);
    clock.Set(1'000'000);
  }
  void TearDown() override {
    Gui().ProcessMessages();
    SetTimerService(nullptr);
    SetClock(nullptr);
    SetDispatcher(nullptr);
  }
  // Opens and starts `c` as a device's walk would, for `format` and buffers of `size` bytes.
  void Start(TMMConnector& c, const WAVEFORMATEX& format, int32_t size) {
    c.SetPWaveFormat(&format);
    c.SetBufferSize(size);
    c.Opened();
    c.Started();
    Gui().ProcessMessages();
  }
  // Lets `micros` pass, the timers handle what fell due and the GUI queue run.
  void Pass(int64_t micros) {
    clock.Advance(micros);
    ASSERT_TRUE(service.Settle());
    RunDueTimers();  // the GUI thread's own timers, which the toolkit would run
    Gui().ProcessMessages();
  }

  // The same in steps of 1 ms, so that no periodic tick is skipped on the way.
  void PassInSteps(int64_t micros) {
    for (; micros > 1000; micros -= 1000) Pass(1000);
    Pass(micros);
  }

  ManualClock clock;
  ThreadTimerService service{clock};
};

}  // namespace vant::testing
