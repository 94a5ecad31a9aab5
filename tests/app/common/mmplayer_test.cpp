// TMOPlayer on the manual audio rig: playing from a position, seeking from the seek bar, the
// 30 ms position report and the slider drag, the stop, the level slots; the load thread's
// energy envelope of a stereo and a mono file.
#include "mmplayer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "mmpcmsup.h"
#include "mmwaveio.h"
#include "playbackrig.h"
#include "scratchfolder.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_timer.h"
#include "wavpanel.h"

namespace vant {
namespace {

// 16-bit PCM at 8,000 frames a second; `sample(frame, channel)` gives the values.
template <class F>
std::string WriteWave(const std::filesystem::path& path, int channels, int64_t frames, F sample) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, channels, 8000);
  std::vector<int16_t> data(size_t(frames * channels));
  for (int64_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) data[size_t(i * channels + c)] = sample(i, c);
  EXPECT_EQ(wioWaveSaveFile(path.string(), &f, data.data(), int64_t(data.size() * 2)), kWioOk);
  return path.string();
}

class PlayerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    // The first initialisation installs the toolkit's dispatcher; the rig's queue runs here.
    SetDispatcher(&rig_.gui);
    RegisterAudioFileReaders();
    player_ = std::make_unique<TMOPlayer>(nullptr);
  }
  void TearDown() override {
    player_.reset();
    DoneRegisteredAudioFiles();
  }
  // A minute of quiet noise, mono.
  void LoadMinute() {
    player_->MMAudioPlayer->SetFileName(
        WriteWave(dir_.path() / "minute.wav", 1, 60 * 8000,
                  [](int64_t i, int) { return int16_t(i % 200 - 100); }));
    ASSERT_EQ(player_->MMAudioPlayer->GetFileLength(), 60000);
  }
  // Also runs the GUI thread's own timers, which the toolkit would run.
  void Step(int ms) {
    for (int i = 0; i < ms; ++i) {
      rig_.Step(1, 8);
      RunDueTimers();
    }
  }
  int32_t Position() { return player_->MMAudioPlayer->GetPosition(); }
  bool Playing() { return player_->MMAudioPlayer->GetState() & wosPlay; }

  PlaybackRig rig_;
  ScopedAnswerer dialogs_;
  testing::ScratchFolder dir_{"moplayer"};
  std::unique_ptr<TMOPlayer> player_;
};

TEST_F(PlayerWindowTest, PlaysFromTheCurrentPlaceOrFromTheOneGiven) {
  LoadMinute();
  // 0 keeps the place the player is at.
  player_->MMAudioPlayer->SetPosition(1200);
  player_->PlayFrom(0);
  Step(20);
  EXPECT_TRUE(Playing());
  EXPECT_GE(Position(), 1200);
  EXPECT_LT(Position(), 1300);
  EXPECT_TRUE(player_->MMHiTimer1->GetEnabled());

  player_->PlayFrom(2500);
  Step(20);
  EXPECT_TRUE(Playing());
  EXPECT_GE(Position(), 2500);
  EXPECT_LT(Position(), 2600);
}

TEST_F(PlayerWindowTest, SeeksInTheLimitedLengthAndPlaysTheWholeFile) {
  LoadMinute();
  player_->MMAudioPlayer->SetPlayLength(10000);
  player_->PlayFrom(0);
  Step(10);
  player_->StopCaption = "stopped";
  player_->SeekTo(2048);
  Step(10);
  EXPECT_GE(Position(), 5000);
  EXPECT_LT(Position(), 5100);
  EXPECT_EQ(player_->MMAudioPlayer->GetPlayLength(), 60000);
  EXPECT_EQ(player_->StopCaption, "");

  // The start of the bar plays from the start, not from where the player is.
  player_->SeekTo(0);
  Step(10);
  EXPECT_TRUE(Playing());
  EXPECT_LT(Position(), 100);
}

// Seek-bar values far outside 0 .. 4096 seek as the bar's ends do (the player starts over from
// the end of the file), whatever the product of value and length; the sanitizer build checks
// that no product is cast out of the int range on the way.
TEST_F(PlayerWindowTest, SeeksToAnEndForValuesFarOutsideTheBar) {
  LoadMinute();
  for (int v : {0, 4096, INT_MAX, 1 << 20, -1, INT_MIN}) {
    player_->MMAudioPlayer->Stop();
    player_->MMAudioPlayer->SetPosition(30000);
    player_->SeekTo(v);
    Step(20);
    EXPECT_TRUE(Playing()) << v;
    EXPECT_LT(Position(), 100) << v;
    EXPECT_EQ(player_->MMAudioPlayer->GetPlayLength(), 60000) << v;
  }
}

TEST_F(PlayerWindowTest, SeekBarShowsItsShareOfTheRange) {
  struct Case {
    int a, b, bar;
  } cases[] = {{0, 100, 0},         {50, 100, 2048},          {1, 3, 1365},    {200, 100, 4096},
               {5, 0, 0},           {INT_MAX, 1, 4096},       {INT_MIN, 1, 0}, {INT_MAX, -1, 0},
               {INT_MIN, -1, 4096}, {INT_MAX, INT_MAX, 4096}, {1, INT_MAX, 0}};
  for (const Case& t : cases) {
    player_->ShowPosition(t.a, t.b);
    EXPECT_EQ(player_->ScrollBar2->GetPosition(), t.bar) << t.a << "/" << t.b;
  }
}

// The position is seen at the display's frames: it is reported at the frame nearest each 30 ms,
// by the GUI thread's own timers, so playing does not wake the timer thread 33 times a second.
TEST_F(PlayerWindowTest, ReportsThePositionEvery30MsAtFramesExceptWhileTheSliderIsDragged) {
  LoadMinute();
  std::vector<std::pair<int32_t, double>> reports;
  int wrong_slot = 0;
  player_->SetPositionCallback(0, [&](const std::string&, int32_t, double) { ++wrong_slot; });
  player_->SetPositionCallback(3, [&](const std::string&, int32_t, double) { ++wrong_slot; });
  player_->SetPositionCallback(2, [&](const std::string& text, int32_t ms, double fraction) {
    EXPECT_EQ(text, "");
    reports.emplace_back(ms, fraction);
  });
  player_->PlayFrom(6000);
  EXPECT_EQ(player_->MMHiTimer1->GetTimerID(), 0u) << "a platform timer wakes the timer thread";
  std::vector<int64_t> at;
  player_->SetPositionCallback(
      1, [&](const std::string&, int32_t, double) { at.push_back(rig_.clock.NowMicros()); });
  Step(100);
  ASSERT_EQ(reports.size(), 3u);
  const int64_t frame = DisplayFramePeriodMicros();
  for (size_t k = 0; k < at.size(); ++k) {
    EXPECT_LT(at[k] % frame, 1000) << k;
    if (k > 0) {
      EXPECT_NEAR(double(at[k] - at[k - 1]), double(2 * frame), 1000) << k;
    }
  }
  for (const auto& [ms, fraction] : reports) EXPECT_DOUBLE_EQ(fraction, ms / 60000.0);
  EXPECT_EQ(player_->MMSlider->GetPosition(), reports.back().first);
  EXPECT_EQ(player_->Label1->GetCaption(), TMOPlayer::PositionText(reports.back().first));
  // The time label keeps its layout's box, so a report every 30 ms lays nothing out again.
  EXPECT_EQ(player_->Label1->BoundsRect(), Bounds(84, 14, 73, 19));

  player_->MMSliderTrack(nullptr);
  Step(100);
  EXPECT_EQ(reports.size(), 3u) << "no report while dragging";
  player_->MMSlider->SetPosition(30000);
  player_->MMSliderTrackEnd(nullptr);
  EXPECT_FALSE(player_->SliderTracking());
  Step(40);
  ASSERT_GT(reports.size(), 3u);
  EXPECT_GE(reports.back().first, 30000);
  EXPECT_EQ(wrong_slot, 0);
}

TEST_F(PlayerWindowTest, FractionIsZeroWithoutAPlayLength) {
  double seen = -1;
  player_->SetPositionCallback(1, [&](const std::string&, int32_t, double f) { seen = f; });
  player_->MMHiTimer1Timer(nullptr);
  EXPECT_EQ(seen, 0.0);
}

TEST_F(PlayerWindowTest, StopEndsTheReportAndShowsTheStopCaption) {
  LoadMinute();
  TLabel display(nullptr);
  player_->DisplayControl = &display;
  player_->StopCaption = "停止";
  player_->PlayFrom(1000);
  Step(40);
  EXPECT_EQ(display.GetCaption(), TMOPlayer::PositionText(player_->MMSlider->GetPosition()));
  player_->MMAudioPlayer->Stop();
  Step(5);
  EXPECT_FALSE(player_->MMHiTimer1->GetEnabled());
  EXPECT_EQ(display.GetCaption(), "停止");
}

TEST_F(PlayerWindowTest, PositionTextIsHoursMinutesSecondsAndHundredths) {
  struct Case {
    int32_t ms;
    const char* text;
  } cases[] = {{0, "00:00:00.00"},
               {3723450, "01:02:03.45"},
               {59999, "00:00:59.99"},
               // Past 18 hours the seconds no longer fit 16 bits; the time stays right.
               {100000000, "27:46:40.00"}};
  for (const Case& t : cases) EXPECT_EQ(TMOPlayer::PositionText(t.ms), t.text) << t.ms;
}

TEST_F(PlayerWindowTest, LevelSlotsOneAndTwoOnly) {
  TMMLevel a(nullptr), b(nullptr), c(nullptr);
  player_->ConnectLevel(3, &c);
  player_->ConnectLevel(0, &c);
  EXPECT_EQ(player_->MMConnector1->GetLevel(1), nullptr);
  EXPECT_EQ(player_->MMConnector1->GetLevel(2), nullptr);
  player_->ConnectLevel(1, &a);
  player_->ConnectLevel(2, &b);
  EXPECT_EQ(player_->MMConnector1->GetLevel(1), &a);
  EXPECT_EQ(player_->MMConnector1->GetLevel(2), &b);
  player_->ConnectLevel(1, nullptr);
  player_->ConnectLevel(2, nullptr);
}

// ---- load thread -------------------------------------------------------------------------------

class LoadThreadTest : public PlayerWindowTest, public ::testing::WithParamInterface<int> {
 protected:
  // Runs the load thread on `path` into `frame` and waits for the hand-over.
  void Load(const std::string& path, TWavPanel& frame) {
    player_->LoadPath = path;
    player_->LoadName = path;
    player_->WaveFrame = &frame;
    player_->LoadThread->Execute();
    // A safety bound for a real thread, not a measure of speed.
    for (int i = 0; i < 1000 && !(player_->LoadThread->GetTerminated() && frame.Total() != 0); ++i)
      rig_.gui.WaitAndProcess(10);
    rig_.gui.ProcessMessages();
  }
};

TEST_P(LoadThreadTest, BuildsTheEnergyEnvelopeOfEachFullBlock) {
  const int channels = GetParam();
  // Left: a saw around 0; right: a steady -1000. A partial block of 100 frames at the end.
  auto sample = [](int64_t i, int c) { return int16_t(c == 0 ? i % 384 * 7 - 1300 : -1000); };
  const int64_t blocks = 20, frames = blocks * 384 + 100;
  const std::string path = WriteWave(dir_.path() / "energy.wav", channels, frames, sample);
  TWavPanel frame(nullptr);
  Load(path, frame);

  const std::vector<uint8_t>& e = frame.EnergyStream();
  const int values = channels == 2 ? 2 : 1;
  ASSERT_EQ(e.size(), 568u + blocks * values * 2);
  auto u32 = [&](size_t at) { return e[at] | e[at + 1] << 8 | e[at + 2] << 16 | e[at + 3] << 24; };
  EXPECT_STREQ(reinterpret_cast<const char*>(e.data()), "ENERGY FILE");
  EXPECT_STREQ(reinterpret_cast<const char*>(e.data() + 32), "energy.wav");
  EXPECT_EQ(u32(544), 1);
  EXPECT_EQ(std::memcmp(e.data() + 548, "line", 4), 0);
  EXPECT_EQ(u32(552), 0);
  EXPECT_EQ(u32(556), channels);
  EXPECT_EQ(u32(560), 2);
  EXPECT_EQ(u32(564), 384);

  for (int64_t b = 0; b < 3; ++b) {
    for (int c = 0; c < values; ++c) {
      int64_t sum = 0;
      for (int f = 0; f < 384; ++f) sum += std::abs(sample(b * 384 + f, c));
      const size_t at = 568 + size_t(b * values + c) * 2;
      EXPECT_EQ(int16_t(e[at] | e[at + 1] << 8), sum / 384) << "block " << b << " channel " << c;
    }
  }
  // Handed over: 20 records less the 12 bytes the frame leaves out.
  EXPECT_EQ(frame.ValueCount(), uint32_t((blocks * values * 2 - 12) / (values * 2)));
  EXPECT_EQ(frame.SampleRate(), 8000);
}

INSTANTIATE_TEST_SUITE_P(Channels, LoadThreadTest, ::testing::Values(1, 2));

TEST_F(PlayerWindowTest, PlayWaitsWhileTheLoadThreadRuns) {
  LoadMinute();
  player_->LoadThread->SetEnabled(false);  // held before it reads anything
  player_->LoadPath = (dir_.path() / "minute.wav").string();
  player_->LoadThread->Execute();
  player_->PlayFrom(0);
  EXPECT_FALSE(Playing());
  ASSERT_EQ(dialogs_.answerer.Asked().size(), 1u);
  EXPECT_EQ(dialogs_.answerer.Asked()[0].text, "ファイルの読み込み中です。");
  player_->LoadThread->SetEnabled(true);
  for (int i = 0; i < 1000 && !player_->LoadThread->GetTerminated(); ++i)
    rig_.gui.WaitAndProcess(10);
  player_->PlayFrom(0);
  Step(5);
  EXPECT_TRUE(Playing());
}

}  // namespace
}  // namespace vant
