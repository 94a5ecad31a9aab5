#pragma once
// What the display control tests share: a shown form to place displays on, and the clock and
// shared timer service moved by hand so peak marks hold and fall without waiting.
#include <gtest/gtest.h>

#include "clock.h"
#include "mmtimer.h"
#include "timerservice.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_form.h"

namespace vant {

class DisplayFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    SetClock(&clock);
    SetTimerService(&service);
    form.SetBounds(0, 0, 560, 120);
    form.SetColor(clGray);
    form.Show();
  }
  void TearDown() override {
    Application->ProcessMessages();
    SetTimerService(nullptr);
    SetClock(nullptr);
  }
  // `n` ticks of the shared 25 ms timer.
  void Tick(int n) {
    for (int i = 0; i < n; ++i) {
      clock.AdvanceMillis(kMMTimerPeriod);
      ASSERT_TRUE(service.Settle());
    }
  }

  ManualClock clock;
  ThreadTimerService service{clock};
  ScopedAnswerer dialogs;
  TForm form{nullptr};
};

}  // namespace vant
