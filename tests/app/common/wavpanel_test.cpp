// TWavPanel: the value count taken from an envelope, the zig-zag strips, the sampling of values
// into pixels, the marker lines and their times; a screenshot with an envelope from the player's
// load thread.
#include "wavpanel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "mmpcmsup.h"
#include "mmplayer.h"
#include "mmwaveio.h"
#include "playbackrig.h"
#include "scratchfolder.h"
#include "ui_application.h"
#include "ui_testing.h"

namespace vant {
namespace {

constexpr TColor kLine = TColor(0x8A8A8A);

// An envelope of `count` records of `channels` values from `value(index)`.
std::vector<uint8_t> Envelope(int channels, int count, const std::function<int16_t(int)>& value,
                              int frames_per_value = 384) {
  std::vector<uint8_t> e = energy::Header("test.wav", channels);
  e[564] = uint8_t(frames_per_value);
  e[565] = uint8_t(frames_per_value >> 8);
  for (int i = 0; i < count; ++i) {
    for (int c = 0; c < channels; ++c) {
      const int16_t v = value(i);
      e.push_back(uint8_t(v));
      e.push_back(uint8_t(uint16_t(v) >> 8));
    }
  }
  return e;
}

class WavPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    form_.SetBounds(0, 0, 662, 160);
    frame_ = new TWavPanel(&form_);
    frame_->SetParent(&form_);
    form_.Show();
  }
  void Give(std::vector<uint8_t> e, int rate = 8000) {
    const uint32_t bytes = uint32_t(e.size() - 568);
    frame_->SetEnergyStream(std::move(e));
    frame_->SetEnergyData(bytes, rate);
  }
  // Redraws into a strip of `width` pixels.
  void Redraw(int width) {
    frame_->PBL->SetAlign(alNone);
    frame_->PBL->SetBounds(3, 3, width, frame_->PBL->GetHeight());
    frame_->ClearDisplay();
    frame_->DrawEnergy(1);
  }
  TColor Pixel(int x, int y) { return frame_->Picture(frame_->PBL).Canvas().GetPixel(x, y); }

  TForm form_{nullptr};
  TWavPanel* frame_;
};

// A zoom widens the strips to that many times the frame's inner width, as far as a control
// reaches: a zoom of any size leaves them as wide as a control gets.
TEST_F(WavPanelTest, ZoomWidensTheStripsAsFarAsAControlReaches) {
  const int inner = frame_->LBase->GetWidth() - 6;
  ASSERT_GT(inner, 0);
  // The smallest zoom whose width no longer fits int, and the largest.
  const int past_int = int(int64_t{INT_MAX} / inner + 1);
  for (int zoom : {2, 1 << 20, past_int, INT_MAX}) {
    SCOPED_TRACE(zoom);
    frame_->SetZoom(zoom);
    const int want = int(std::min<int64_t>(int64_t{zoom} * inner, kMaxControlExtent));
    EXPECT_EQ(frame_->PBL->GetWidth(), want);
    EXPECT_EQ(frame_->PBR->GetWidth(), want);
  }
}

TEST_F(WavPanelTest, ValueCountLeavesOutTheLastTwelveBytes) {
  struct Case {
    const char* what;
    int channels, records;
    uint32_t count;
  } cases[] = {
      {"stereo, 1,003 records", 2, 1003, 1000},
      {"mono, 1,006 values", 1, 1006, 1000},
      {"fewer than 12 bytes: nothing to draw", 2, 2, 0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    Give(Envelope(t.channels, t.records, [](int) { return int16_t(100); }));
    EXPECT_EQ(frame_->ValueCount(), t.count);
    EXPECT_EQ(frame_->Total(), 1000.0 * 384 * t.count);
  }
  // A stream shorter than its header, or a byte count past the stream, is not read past.
  frame_->SetEnergyStream(std::vector<uint8_t>(100));
  frame_->SetEnergyData(4012, 8000);
  EXPECT_EQ(frame_->ValueCount(), 0u);
  frame_->SetEnergyStream(Envelope(2, 10, [](int) { return int16_t(1); }));
  frame_->SetEnergyData(4012, 8000);
  EXPECT_EQ(frame_->ValueCount(), 7u);
}

TEST_F(WavPanelTest, WithoutGainEveryValueLiesOnTheMiddle) {
  Give(Envelope(2, 1003, [](int i) { return int16_t(i * 30); }));
  // At an odd height the middle is the two rows about it.
  const int h = frame_->PBL->GetHeight(), w = frame_->PBL->GetWidth();
  int off_middle = 0;
  for (int x = 0; x < w; ++x) {
    EXPECT_EQ(Pixel(x, h / 2), kLine) << x;
    for (int y = 0; y < h; ++y) off_middle += Pixel(x, y) == kLine && y != h / 2 && y != h - h / 2;
  }
  EXPECT_EQ(off_middle, 0);

  // With a gain the loud end reaches towards both edges.
  frame_->Gain = 1;
  Redraw(w);
  int top = h, bottom = 0;
  for (int y = 0; y < h; ++y) {
    if (Pixel(w - 2, y) != kLine) continue;
    top = std::min(top, y);
    bottom = std::max(bottom, y);
  }
  EXPECT_LT(top, 5);
  EXPECT_GT(bottom, h - 5);
}

TEST_F(WavPanelTest, AStripNarrowerThanTheValuesDrawsEverySecondOne) {
  // Even values silent, odd ones loud: only the silent ones may be drawn.
  Give(Envelope(2, 1003, [](int i) { return int16_t(i % 2 ? 32000 : 0); }));
  frame_->Gain = 1;
  Redraw(500);
  EXPECT_DOUBLE_EQ(frame_->PixelsPerValue(), 0.5);
  const int h = frame_->PBL->GetHeight();
  for (int x = 0; x < 500; ++x) {
    EXPECT_EQ(Pixel(x, h / 2), kLine) << x;
    EXPECT_NE(Pixel(x, 2), kLine) << x;
  }
}

TEST_F(WavPanelTest, MarkersLieAtTheirShareOfTheDuration) {
  EXPECT_EQ(TWavPanel::ParseMarkerTime("00:01:30:50"), 9050);
  EXPECT_EQ(TWavPanel::ParseMarkerTime("01:00:00:00"), 360000);
  EXPECT_EQ(TWavPanel::ParseMarkerTime("xx:01:3a:05"), 6005);
  EXPECT_EQ(TWavPanel::ParseMarkerTime("00:01"), 6000);

  // 181 values of one second each (384 frames at 384 Hz), 12 bytes more that are not drawn.
  frame_->MarkerList = {"00:01:30:50", "00:00:00:00"};
  Give(Envelope(2, 184, [](int) { return int16_t(0); }), 384);
  ASSERT_EQ(frame_->ValueCount(), 181u);
  Redraw(581);
  EXPECT_EQ(Pixel(290, 10), TColor(0x6CE8F1));
  EXPECT_EQ(Pixel(2, 10), TColor(0xF89DF4)) << "time 0 is raised to x = 2";
  EXPECT_EQ(Pixel(0, 10), TColor(0xF4F4F4));
  // The grid: a quarter and three quarters down.
  const int q = frame_->PBL->GetHeight() / 4;
  EXPECT_EQ(Pixel(100, q), TColor(0xC0C0C0));
  EXPECT_EQ(Pixel(100, 3 * q), TColor(0xC0C0C0));
}

TEST_F(WavPanelTest, ShowsTheLoadThreadsEnvelopeAndBecomesThePlayersDisplay) {
  PlaybackRig rig;
  RegisterAudioFileReaders();
  testing::ScratchFolder dir{"wavpanel"};
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 8000);
  // Three seconds of a swelling and fading tone, louder on the left.
  std::vector<int16_t> data(3 * 8000 * 2);
  for (size_t i = 0; i < data.size() / 2; ++i) {
    const double env = std::sin(M_PI * double(i) / (data.size() / 2));
    const double tone = std::sin(2 * M_PI * 440 * double(i) / 8000);
    data[2 * i] = int16_t(12000 * env * tone);
    data[2 * i + 1] = int16_t(6000 * env * tone);
  }
  const std::string path = (dir.path() / "tone.wav").string();
  ASSERT_EQ(wioWaveSaveFile(path, &f, data.data(), int64_t(data.size() * 2)), kWioOk);
  {
    TMOPlayer player(nullptr);
    player.LoadPath = player.LoadName = path;
    player.WaveFrame = frame_;
    player.LoadThread->Execute();
    // A safety bound for a real thread, not a measure of speed.
    for (int i = 0; i < 1000 && frame_->Total() == 0; ++i) rig.gui.WaitAndProcess(10);
    ASSERT_NE(frame_->Total(), 0);
    EXPECT_EQ(player.DisplayControl, frame_->TimeIndicator);
    frame_->Gain = 4;
    frame_->MarkerList = {"00:00:01:00", "00:00:02:00"};
    frame_->SetZoom(1);
    player.MMSlider->SetPosition(1500);
    EXPECT_EQ(frame_->TimeIndicator->GetCaption(), "00:00:01.50");
    Application->ProcessMessages();
    uitest::SaveScreenshot(form_, "waveform_frame");
  }
  DoneRegisteredAudioFiles();
}

}  // namespace
}  // namespace vant
