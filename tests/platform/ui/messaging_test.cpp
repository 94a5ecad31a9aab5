#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ui_fixture.h"
#include "ui_timer.h"

namespace vant {
namespace {

using MessagingTest = UiTest;

TEST_F(MessagingTest, TimersFollowTheProcessClock) {
  TTimer t(nullptr);
  t.SetInterval(500);
  int ticks = 0;
  t.OnTimer = [&](TObject*) { ++ticks; };
  clock_.AdvanceMillis(499);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 0);
  clock_.AdvanceMillis(1);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 1);
  clock_.AdvanceMillis(500);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 2);
  t.SetEnabled(false);
  clock_.AdvanceMillis(5000);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 2);
  // Enabling starts a full period; a handler may switch its own timer off.
  t.SetEnabled(true);
  t.OnTimer = [&](TObject*) { ++ticks, t.SetEnabled(false); };
  clock_.AdvanceMillis(499);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 2);
  clock_.AdvanceMillis(1);
  Application->ProcessMessages();
  clock_.AdvanceMillis(1000);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 3);
}

// Timers at frames meet at the display's frames: a position report every 30 ms and a
// display's refresh every frame wake the program together, once per frame.
TEST_F(MessagingTest, TimersAtFramesFireTogetherAtTheFrameNearestTheirTime) {
  const int64_t frame = DisplayFramePeriodMicros();
  clock_.Set(10 * frame + 3000);  // between two frames
  TTimer position(nullptr), refresh(nullptr), plain(nullptr);
  position.SetInterval(30);
  refresh.SetInterval(1);
  plain.SetInterval(30);
  for (TTimer* t : {&position, &refresh}) t->SetAtFrames(true);
  std::vector<int64_t> position_at, refresh_at, plain_at;
  position.OnTimer = [&](TObject*) { position_at.push_back(clock_.NowMicros()); };
  refresh.OnTimer = [&](TObject*) { refresh_at.push_back(clock_.NowMicros()); };
  plain.OnTimer = [&](TObject*) { plain_at.push_back(clock_.NowMicros()); };
  for (int i = 0; i < 200; ++i) {
    clock_.Advance(500);
    Application->ProcessMessages();
  }
  ASSERT_GE(refresh_at.size(), 5u);
  for (size_t k = 0; k < refresh_at.size(); ++k) {
    // Each frame once, from the first one after the timer was armed.
    EXPECT_EQ(refresh_at[k] / frame * frame, (11 + int64_t(k)) * frame) << k;
    EXPECT_LT(refresh_at[k] % frame, 500) << k;
  }
  ASSERT_GE(position_at.size(), 2u);
  for (int64_t at : position_at) {
    EXPECT_LT(at % frame, 500) << at;
    EXPECT_NE(std::find(refresh_at.begin(), refresh_at.end(), at), refresh_at.end()) << at;
  }
  // 30 ms is nearest to two frames of 60 Hz: every other frame.
  EXPECT_NEAR(double(position_at[1] - position_at[0]), double(2 * frame), 500);
  // A timer not at frames keeps its own time.
  ASSERT_GE(plain_at.size(), 2u);
  EXPECT_NEAR(double(plain_at[0] - (10 * frame + 3000)), 30'000, 1000);
}

}  // namespace
}  // namespace vant
