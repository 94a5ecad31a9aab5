#pragma once
// The converter's main window under test: per-test settings and runtime folders, an injected
// clock, scripted dialogs, the skin modules, splash, version and progress windows the program
// makes around it, and Start, which brings the window up as the program does.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "aabcresources.h"
#include "bsplash.h"
#include "bwfmainaa.h"
#include "clock.h"
#include "comresources.h"
#include "progform.h"
#include "scratchfolder.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_testing.h"
#include "verformaa.h"

// Lit segments of a meter: its lime and yellow pixels.
inline int Lit(TMMLevel& level) {
  int lit = 0;
  for (int y = 0; y < level.GetHeight(); ++y) {
    const vant::TColor c = vant::uitest::RenderedPixel(level, level.GetWidth() / 2, y);
    lit += c == vant::clLime || c == vant::clYellow;
  }
  return lit;
}

class ConverterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    vant::Application->Initialize();
    vant::SetClock(&clock_);
    com_ = std::make_unique<TComDataRes>(nullptr);
    aabc_ = std::make_unique<TAABCDataRes>(nullptr);
    splash_ = std::make_unique<TVANTSplash>(nullptr);
    version_ = std::make_unique<TVersionConv>(nullptr);
    progress_ = std::make_unique<TPROGForm>(nullptr);
    progress_->DoCreate();
  }
  void TearDown() override {
    window_.reset();
    vant::Application->ProcessMessages();
    vant::SetClock(nullptr);
    TVANTMainAA::CommandLine.clear();
  }
  // Makes the window with `file` on the command line and brings it up past the splash's
  // 3,000 ms and its first activation.
  TVANTMainAA& Start(const std::string& file = "") {
    if (!file.empty()) TVANTMainAA::CommandLine = {file};
    splash_->Show();
    window_ = std::make_unique<TVANTMainAA>(nullptr);
    window_->ProgressForm = progress_.get();
    window_->DoCreate();
    if (player_link_) window_->SetPlayer(player_link_);
    clock_.AdvanceMillis(3000);
    window_->Show();
    window_->FormActivate(window_.get());
    vant::Application->ProcessMessages();
    return *window_;
  }

  vant::testing::ScratchFolder runtime_{"orlune-run"};
  vant::testing::ScratchFolder config_{"orlune-cfg"};
  vant::ManualClock clock_;
  vant::ScopedAnswerer dialogs_;
  // The player the window drives; the no-op player when null.
  orlune::TPlayerLink* player_link_ = nullptr;
  std::unique_ptr<TComDataRes> com_;
  std::unique_ptr<TAABCDataRes> aabc_;
  std::unique_ptr<TVANTSplash> splash_;
  std::unique_ptr<TVersionConv> version_;
  std::unique_ptr<TPROGForm> progress_;
  std::unique_ptr<TVANTMainAA> window_;
};
