// TMMConnector on a manual clock: slices are released when their sound is heard, once each, in
// the shared loop, from its own timer, on demand and while paused.
#include "mmconnector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "displays_fixture.h"
#include "mmresources.h"
#include "mmulaw.h"

namespace vant::testing {
namespace {

const WAVEFORMATEX kStereo48k = Pcm(16, 2, 48000);

// Microseconds after a buffer's arrival at which slice k of 200 bytes falls due at 192,000
// bytes per second.
int64_t DueAt(int k) { return 1'000'000LL * 200 * k / 192'000; }

TEST_F(ConnectorTest, SlicesOfABufferAreReleasedWhenTheyAreHeard) {
  TMMConnector c(nullptr);
  c.SetAutoTrigger(false);
  RecordingDisplay bar;
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  Start(c, kStereo48k, 16000);
  const auto frames = NumberedFrames(4000);
  const int64_t arrival = clock.NowMicros();
  c.NewBuffer(frames.data(), 16000);
  for (int k = 0; k < 80; ++k) {
    clock.Set(arrival + DueAt(k) - 1);
    if (k > 0) {
      c.Trigger();
      ASSERT_EQ(bar.firsts.size(), static_cast<size_t>(k)) << "slice " << k << " came early";
    }
    clock.Set(arrival + DueAt(k));
    c.Trigger();
    c.Trigger();  // one slice per pass, and each slice once
    ASSERT_EQ(bar.firsts.size(), static_cast<size_t>(k + 1)) << "slice " << k << " is late";
    EXPECT_EQ(bar.firsts.back(), 50 * k);
  }
  EXPECT_EQ(DueAt(1), 1041);
  EXPECT_EQ(DueAt(79), 82291);
  // The 81st slice would begin at byte 16,000: the buffer is done one buffer period after it
  // came, and nothing more is shown however long we wait.
  clock.Set(arrival + 83'334);
  for (int i = 0; i < 3; ++i) c.Trigger();
  EXPECT_EQ(bar.firsts.size(), 80u);
  EXPECT_EQ(c.GetRefreshCount(TMMDisplayKind::Level), 80);
}

TEST_F(ConnectorTest, ThresholdsBeyond32BitsStillFallDue) {
  // At 8,000 bytes per second a 3,000-byte offset is 375 ms: 1,000,000 × 3,000 overflows 32 bits.
  TMMConnector c(nullptr);
  c.SetAutoTrigger(false);
  RecordingDisplay bar(1000);
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  Start(c, Pcm(8, 1, 8000), 4000);
  std::vector<uint8_t> data(4000, 128);
  const int64_t arrival = clock.NowMicros();
  c.NewBuffer(data.data(), 4000);
  c.Trigger();
  clock.Set(arrival + 374'999);
  c.Trigger();
  c.Trigger();
  c.Trigger();
  EXPECT_EQ(bar.bytes.size(), 3u);  // 0, 125 ms, 250 ms
  clock.Set(arrival + 375'000);
  c.Trigger();
  EXPECT_EQ(bar.bytes.size(), 4u);
}

TEST_F(ConnectorTest, ReleaseRules) {
  struct Case {
    const char* what;
    bool synchronize;
    int64_t buffer;
    int passes;
    size_t shown;
  } cases[] = {
      {"a buffer shorter than a slice shows nothing", true, 150, 5, 0},
      {"in step with the clock only the first slice is due at once", true, 16000, 10, 1},
      {"without Synchronize every slice is due at once", false, 16000, 100, 80},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TMMConnector c(nullptr);
    c.SetAutoTrigger(false);
    c.SetSynchronize(t.synchronize);
    RecordingDisplay bar;
    c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
    Start(c, kStereo48k, 16000);
    const auto frames = NumberedFrames(4000);
    c.NewBuffer(frames.data(), t.buffer);
    for (int i = 0; i < t.passes; ++i) c.Trigger();
    EXPECT_EQ(bar.firsts.size(), t.shown);
    for (size_t k = 0; k < bar.firsts.size(); ++k) EXPECT_EQ(bar.firsts[k], 50 * k);
  }
}

TEST_F(ConnectorTest, SlicesBeyond32BitsNeverFitABuffer) {
  // 536,870,912 frames of 16-bit stereo: 2,147,483,648 bytes, one more than int32 holds.
  struct Case {
    const char* what;
    TMMDisplayKind kind;
    int64_t slice;
  } cases[] = {{"level bar, 2^31 bytes", TMMDisplayKind::Level, int64_t{1} << 31},
               {"needle meter, 2^32 + 200 bytes", TMMDisplayKind::Meter, (int64_t{1} << 32) + 200},
               {"spectrogram, 2^31 bytes", TMMDisplayKind::Spectrogram, int64_t{1} << 31}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TMMConnector c(nullptr);
    c.SetAutoTrigger(false);
    c.SetSynchronize(false);
    RecordingDisplay huge(t.slice);
    c.SetDisplay(t.kind, 1, &huge);
    Start(c, kStereo48k, 16000);
    const auto frames = NumberedFrames(4000);
    c.NewBuffer(frames.data(), 16000);
    for (int i = 0; i < 5; ++i) c.Trigger();
    EXPECT_TRUE(huge.firsts.empty());
  }
}

TEST_F(ConnectorTest, OscilloscopesMoveOnByTheLargerSlice) {
  // Two scopes of 200 and 800 bytes: each pass shows both, and the next begins 800 bytes on.
  TMMConnector c(nullptr);
  c.SetAutoTrigger(false);
  c.SetSynchronize(false);
  RecordingDisplay small(200), large(800);
  c.SetDisplay(TMMDisplayKind::Oscope, 1, &small);
  c.SetDisplay(TMMDisplayKind::Oscope, 2, &large);
  Start(c, kStereo48k, 16000);
  const auto frames = NumberedFrames(4000);
  c.NewBuffer(frames.data(), 16000);
  for (int i = 0; i < 30; ++i) c.Trigger();
  ASSERT_EQ(small.firsts.size(), 20u);  // 16,000 / 800
  for (size_t k = 0; k < small.firsts.size(); ++k) {
    EXPECT_EQ(small.firsts[k], static_cast<int>(200 * k)) << k;
    EXPECT_EQ(large.firsts[k], static_cast<int>(200 * k)) << k;
  }
}

TEST_F(ConnectorTest, SharedLoopRefreshesEveryRunningConnectorUntilTheyStop) {
  TMMConnector a(nullptr), b(nullptr);
  RecordingDisplay bar_a, bar_b;
  a.SetDisplay(TMMDisplayKind::Level, 1, &bar_a);
  b.SetDisplay(TMMDisplayKind::Level, 2, &bar_b);
  int passes = 0;
  a.OnTrigger = [&](TObject*) { ++passes; };
  Start(a, kStereo48k, 16000);
  Start(b, kStereo48k, 16000);
  const auto frames = NumberedFrames(4000);
  const int64_t arrival = clock.NowMicros();
  a.NewBuffer(frames.data(), 16000);
  b.NewBuffer(frames.data(), 16000);
  for (int ms = 0; ms < 90; ++ms) Pass(1000);
  EXPECT_EQ(bar_a.firsts.size(), 80u);
  EXPECT_EQ(bar_b.firsts.size(), 80u);
  // Each slice came in the first wake of the loop after it fell due, in a round of its own:
  // never before, at most a display frame late.
  const int64_t frame = DisplayFramePeriodMicros();
  for (size_t k = 0; k < bar_a.times.size(); ++k) {
    const int64_t late = bar_a.times[k] - (arrival + DueAt(static_cast<int>(k)));
    EXPECT_GE(late, 0);
    EXPECT_LE(late, frame + 1000);
  }
  EXPECT_GE(passes, 80);
  // ... and the loop woke the GUI thread at the display's frames only, not once a slice nor
  // more often than what it draws can be seen.
  const std::set<int64_t> wakes(bar_a.times.begin(), bar_a.times.end());
  EXPECT_LE(wakes.size(), size_t(90'000 / frame + 1));
  for (auto it = wakes.begin(); std::next(it) != wakes.end(); ++it)
    EXPECT_GE(*std::next(it) - *it, frame - 1000);
  // Stopped: the loop ends and the displays are cleared.
  a.Stopped();
  b.Stopped();
  EXPECT_EQ(bar_a.resets, 1);
  const int before = passes;
  for (int ms = 0; ms < 5; ++ms) Pass(1000);
  EXPECT_EQ(passes, before) << "the loop outlived the last running connector";
}

TEST_F(ConnectorTest, AHeldUpLoopCatchesUpPassByPass) {
  TMMConnector c(nullptr);
  RecordingDisplay bar;
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  Start(c, kStereo48k, 16000);
  const auto frames = NumberedFrames(4000);
  c.NewBuffer(frames.data(), 16000);
  Pass(10'000);  // ten milliseconds without a pass
  for (int i = 0; i < 12; ++i) Gui().ProcessMessages();
  EXPECT_EQ(bar.firsts.size(), 10u) << "slices 0 to 9 are due by 10 ms, slice 10 is not";
  c.Stopped();
}

TEST_F(ConnectorTest, OwnTimerRefreshesEvery20msAndStopsWhenTheMethodChanges) {
  TMMConnector c(nullptr);
  c.SetTriggerMethod(tmTimer);
  RecordingDisplay bar;
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  int passes = 0;
  c.OnTrigger = [&](TObject*) { ++passes; };
  Start(c, kStereo48k, 16000);
  for (int i = 0; i < 5; ++i) Pass(20'000);
  EXPECT_EQ(passes, 5);
  c.SetTriggerMethod(tmMessage);
  for (int i = 0; i < 5; ++i) Pass(20'000);
  EXPECT_EQ(passes, 5);
}

TEST_F(ConnectorTest, WithoutRealTimeEachBufferIsServedAsItArrives) {
  TMMConnector c(nullptr);
  c.SetRealTime(false);
  RecordingDisplay bar;
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  Start(c, kStereo48k, 16000);
  const auto frames = NumberedFrames(4000);
  c.NewBuffer(frames.data(), 16000);
  EXPECT_EQ(bar.firsts, std::vector<int16_t>{0});
  c.NewBuffer(frames.data() + 400, 15600);
  EXPECT_EQ(bar.firsts, (std::vector<int16_t>{0, 100}));
  // Nothing is left running in the background.
  for (int ms = 0; ms < 5; ++ms) Pass(1000);
  EXPECT_EQ(bar.firsts.size(), 2u);
  EXPECT_THROW(c.SetRealTime(true), EMMConnectorError);
  c.Stopped();
  c.Closed();
  c.SetRealTime(true);
  EXPECT_TRUE(c.GetRealTime());
}

TEST_F(ConnectorTest, PauseFeedsSilenceEveryBufferPeriodUntilRestart) {
  struct Case {
    const char* what;
    WAVEFORMATEX format;
    int32_t buffer;
    int64_t period;  // microseconds between fresh silence
  } cases[] = {
      {"a small buffer: its own period", Pcm(8, 1, 11025), 2205, 200'000},
      {"above 8,191 bytes: 25 ms", kStereo48k, 16000, 25'000},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TMMConnector c(nullptr);
    c.SetAutoTrigger(false);
    RecordingDisplay bar(t.buffer);  // one slice per buffer: one per period
    c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
    Start(c, t.format, t.buffer);
    std::vector<uint8_t> loud(t.buffer, 0x40);
    c.NewBuffer(loud.data(), t.buffer);
    c.Trigger();
    ASSERT_EQ(bar.bytes, std::vector<uint8_t>{0x40});
    c.Paused();
    const uint8_t silence = t.format.wBitsPerSample == 8 ? 128 : 0;
    c.NewBuffer(loud.data(), t.buffer);  // ignored while paused
    c.Trigger();
    EXPECT_EQ(bar.bytes.size(), 1u);
    for (int period = 1; period <= 3; ++period) {
      PassInSteps(t.period - 1000);
      c.Trigger();
      EXPECT_EQ(bar.bytes.size(), static_cast<size_t>(period)) << "fed before the period";
      Pass(1000);
      c.Trigger();
      ASSERT_EQ(bar.bytes.size(), static_cast<size_t>(period + 1)) << "not fed at the period";
      EXPECT_EQ(bar.bytes.back(), silence);
    }
    c.Restarted();
    PassInSteps(t.period);
    c.Trigger();
    EXPECT_EQ(bar.bytes.size(), 4u) << "restart leaves the silence feed running";
    c.Stopped();
  }
}

TEST_F(ConnectorTest, StopClearsTheDisplaysOnlyWithRefreshOnStop) {
  for (bool refresh : {true, false}) {
    TMMConnector c(nullptr);
    c.SetRefreshOnStop(refresh);
    RecordingDisplay level, scope;
    c.SetDisplay(TMMDisplayKind::Level, 1, &level);
    c.SetDisplay(TMMDisplayKind::Oscope, 2, &scope);
    Start(c, kStereo48k, 16000);
    c.Stopped();
    EXPECT_EQ(level.resets, refresh ? 1 : 0);
    EXPECT_EQ(scope.resets, refresh ? 1 : 0);
  }
}

TEST_F(ConnectorTest, SlotRules) {
  TMMConnector c(nullptr);
  RecordingDisplay a, b;
  c.SetDisplay(TMMDisplayKind::Level, 1, &a);
  EXPECT_EQ(a.formats, 0) << "no format yet, nothing to give";
  c.SetPWaveFormat(&kStereo48k);
  EXPECT_EQ(a.formats, 1);
  EXPECT_EQ(a.format.nChannels, 2);
  // The same bar in the other slot of its kind is refused.
  c.SetDisplay(TMMDisplayKind::Level, 2, &a);
  EXPECT_EQ(c.GetDisplay(TMMDisplayKind::Level, 2), nullptr);
  // The same display again in its own slot changes nothing.
  c.SetDisplay(TMMDisplayKind::Level, 1, &a);
  EXPECT_EQ(a.formats, 1);
  // Spectrum slots only check their own.
  c.SetDisplay(TMMDisplayKind::Spectrum, 1, &b);
  c.SetDisplay(TMMDisplayKind::Spectrum, 4, &b);
  EXPECT_EQ(c.GetDisplay(TMMDisplayKind::Spectrum, 4), &b);
  EXPECT_EQ(c.GetDisplay(TMMDisplayKind::Spectrum, 5), nullptr);
  // None clears a slot; a freed display leaves every slot it held.
  c.SetDisplay(TMMDisplayKind::Level, 1, nullptr);
  EXPECT_EQ(c.GetDisplay(TMMDisplayKind::Level, 1), nullptr);
  {
    RecordingDisplay gone;
    c.SetDisplay(TMMDisplayKind::Meter, 1, &gone);
    c.SetDisplay(TMMDisplayKind::Spectrum, 2, &gone);
  }
  EXPECT_EQ(c.GetDisplay(TMMDisplayKind::Meter, 1), nullptr);
  EXPECT_EQ(c.GetDisplay(TMMDisplayKind::Spectrum, 2), nullptr);
  // A display that outlives the connector is not told about it afterwards.
  auto other = std::make_unique<TMMConnector>(nullptr);
  other->SetDisplay(TMMDisplayKind::Level, 1, &a);
  other.reset();
}

TEST_F(ConnectorTest, DisablingStopsFeedingAndClearsTheDisplays) {
  TMMConnector c(nullptr);
  RecordingDisplay bar;
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  Start(c, kStereo48k, 16000);
  c.SetEnabled(false);
  EXPECT_EQ(bar.resets, 1);
  const auto frames = NumberedFrames(4000);
  c.NewBuffer(frames.data(), 16000);
  for (int ms = 0; ms < 5; ++ms) Pass(1000);
  EXPECT_TRUE(bar.firsts.empty());
  c.SetEnabled(true);
  Gui().ProcessMessages();
  c.NewBuffer(frames.data(), 16000);
  for (int ms = 0; ms < 30; ++ms) Pass(1000);
  // The loop wakes every 10 ms: its last wake came 20 ms or more after the buffer.
  EXPECT_GE(bar.firsts.size(), 20u);
}

TEST_F(ConnectorTest, OscilloscopeSlicesStartAtTheTriggerCrossing) {
  TMMConnector c(nullptr);
  c.SetAutoTrigger(false);
  c.SetSynchronize(false);
  c.SetTriggerMode(tmUpFlank);
  c.SetTriggerLevel(0);
  RecordingDisplay scope(40);
  scope.step = 4;  // a tiny step still moves on by at least one frame
  c.SetDisplay(TMMDisplayKind::Oscope, 1, &scope);
  Start(c, Pcm(16, 1, 8000), 400);
  // Mono: negative until sample 7, then positive.
  std::vector<int16_t> samples(200, -100);
  for (int i = 7; i < 200; ++i) samples[i] = 100;
  c.NewBuffer(samples.data(), 400);
  c.Trigger();
  ASSERT_EQ(scope.firsts.size(), 1u);
  EXPECT_EQ(scope.firsts[0], 100) << "the slice did not start at the rising crossing";
}

// A trigger posted by a worker while the connector is then disabled must not keep later
// triggers from being posted.
TEST_F(ConnectorTest, WorkerTriggerLostToADisabledConnectorDoesNotBlockLaterOnes) {
  TMMConnector c(nullptr);
  c.SetAutoTrigger(false);
  int passes = 0;
  c.OnTrigger = [&](TObject*) { ++passes; };
  RecordingDisplay bar;
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  Start(c, kStereo48k, 16000);
  std::thread([&] { c.Trigger(); }).join();
  c.SetEnabled(false);
  Gui().ProcessMessages();
  EXPECT_EQ(passes, 0);
  c.SetEnabled(true);
  Gui().ProcessMessages();  // running again
  for (int i = 0; i < 3; ++i) {
    std::thread([&] {
      c.Trigger();
      c.Trigger();
    }).join();
    Gui().ProcessMessages();
  }
  EXPECT_EQ(passes, 3) << "one posted pass per burst of worker triggers";
}

TEST_F(ConnectorTest, BuffersFromADeviceThreadMeetTheGuiPasses) {
  TMMConnector c(nullptr);
  RecordingDisplay bar;
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  Start(c, kStereo48k, 16000);
  const auto frames = NumberedFrames(4000);
  std::atomic<bool> done{false};
  std::thread device([&] {
    for (int i = 0; i < 200; ++i) c.NewBuffer(frames.data(), 16000);
    done = true;
  });
  while (!done) Pass(1000);
  device.join();
  Pass(1000);
  for (int16_t first : bar.firsts) EXPECT_EQ(first % 50, 0);
  c.Stopped();
}

TEST_F(ConnectorTest, MuLawReachesTheDisplaysAsPcm) {
  WAVEFORMATEX mulaw{};
  Build_uLawHeader(mulaw, 1, 8000);
  TMMConnector c(nullptr);
  c.SetAutoTrigger(false);
  c.SetSynchronize(false);
  RecordingDisplay bar(100);
  c.SetDisplay(TMMDisplayKind::Level, 1, &bar);
  Start(c, mulaw, 800);
  const WAVEFORMATEX shown = c.GetDisplayFormat();
  ASSERT_EQ(shown.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(bar.format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(bar.format.nSamplesPerSec, 8000u);
  ASSERT_EQ(shown.wBitsPerSample, 16);
  // 800 µ-law bytes: 400 of +1000, then 400 of -1000.
  std::vector<uint8_t> codes(800, Linear2uLaw(1000, false));
  std::fill(codes.begin() + 400, codes.end(), Linear2uLaw(-1000, false));
  c.NewBuffer(codes.data(), 800);
  for (int i = 0; i < 20; ++i) c.Trigger();
  // 1,600 PCM bytes: 16 slices of 50 samples.
  ASSERT_EQ(bar.firsts.size(), 16u);
  EXPECT_EQ(bar.firsts.front(), uLaw2Linear(Linear2uLaw(1000, false)));
  EXPECT_EQ(bar.firsts.back(), uLaw2Linear(Linear2uLaw(-1000, false)));
  c.Stopped();
  // Without AutoConvert the displays get nothing.
  c.Closed();
  c.SetAutoConvert(false);
  RecordingDisplay other(100);
  c.SetDisplay(TMMDisplayKind::Level, 2, &other);
  Start(c, mulaw, 800);
  c.NewBuffer(codes.data(), 800);
  c.Trigger();
  EXPECT_EQ(other.formats, 0);
  EXPECT_TRUE(other.firsts.empty());
}

TEST_F(ConnectorTest, PeakOfTheCurrentBuffer) {
  TMMConnector c(nullptr);
  Start(c, kStereo48k, 16000);
  int16_t l = 1, r = 1;
  c.GetPeak(l, r);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(r, 0);
  const auto frames = NumberedFrames(1000);
  c.NewBuffer(frames.data(), 4000);
  c.GetPeak(l, r);
  EXPECT_EQ(l, 999);
  EXPECT_EQ(r, -999);
}

}  // namespace
}  // namespace vant::testing
