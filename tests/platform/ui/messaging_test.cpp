#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vant
