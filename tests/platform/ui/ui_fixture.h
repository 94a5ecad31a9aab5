#pragma once
// Shared set-up of the framework's tests: the application object, a scripted answerer and a
// manual clock, so nothing waits on a person or on time.
#include <gtest/gtest.h>

#include "clock.h"
#include "ui_application.h"
#include "ui_dialogs.h"

namespace vant {

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    SetClock(&clock_);
    Application->OnException = [this](TObject*, const std::exception& e) {
      exceptions_.push_back(e.what());
    };
  }
  void TearDown() override {
    Application->OnException = nullptr;
    SetClock(nullptr);
    Application->ProcessMessages();
  }
  ManualClock clock_;
  ScopedAnswerer dialogs_;
  std::vector<std::string> exceptions_;
};

}  // namespace vant
