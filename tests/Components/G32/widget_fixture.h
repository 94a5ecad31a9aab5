#pragma once
// The fixture of the graphics library's window tests: an application and a manual clock.
#include <gtest/gtest.h>

#include "clock.h"
#include "ui_application.h"

namespace g32 {

class G32Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    vant::Application->Initialize();
    vant::SetClock(&clock_);
  }
  void TearDown() override {
    vant::SetClock(nullptr);
    vant::Application->ProcessMessages();
  }
  vant::ManualClock clock_;
};

}  // namespace g32
