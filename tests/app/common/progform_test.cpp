#include "progform.h"

#include "progsink.h"

#include <gtest/gtest.h>

#include "clock.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_testing.h"

using namespace vant;

namespace {

// Stands for a program's main window: records the messages its handle receives.
class MainWindow : public TForm {
 public:
  using TForm::TForm;
  std::vector<uint32_t> messages;
  void WndProc(TMessage& m) override { messages.push_back(m.Msg); }
};

class ProgFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    SetClock(&clock_);
    main_ = new MainWindow(nullptr);
    Application->SetMainForm(main_);
    form_ = new TPROGForm(nullptr);
    form_->DoCreate();
  }
  void TearDown() override {
    delete form_;
    delete main_;
    SetClock(nullptr);
    Application->ProcessMessages();
  }
  ManualClock clock_;
  ScopedAnswerer dialogs_;
  MainWindow* main_;
  TPROGForm* form_;
};

TEST_F(ProgFormTest, LayoutPutsTheGaugeInsideTheFrame) {
  form_->Show();
  EXPECT_EQ(form_->ClientWidth(), 301);
  EXPECT_EQ(form_->ClientHeight(), 45);
  EXPECT_EQ(form_->MMPanel1->BoundsRect(), Rect(0, 0, 301, 45));
  EXPECT_EQ(form_->MMPanel1->BevelExtend(), 10);
  EXPECT_EQ(form_->MMGauge1->BoundsRect(), Bounds(10, 10, 213, 25));
  EXPECT_EQ(form_->SpeedButton1->BoundsRect(), Bounds(226, 10, 65, 25));
  EXPECT_EQ(form_->GetFormStyle(), fsStayOnTop);
  EXPECT_EQ(form_->GetLeft(), (Screen->Width() - 301) / 2);
  form_->MMGauge1->SetCaption("読み込み中　");
  form_->SetProgress(50);
  EXPECT_EQ(form_->MMGauge1->Text(), "読み込み中　 50%");
  Application->ProcessMessages();
  uitest::SaveScreenshot(*form_, "app_common_progform");
}

TEST_F(ProgFormTest, ClosesAtOneHundredAndTheCancelButtonIsNeverUsable) {
  form_->Show();
  uitest::SaveScreenshot(*form_, "app_common_closes_at_one_hundred_and_the_cancel_button_is_ne");
  EXPECT_FALSE(form_->SpeedButton1->GetEnabled());
  uitest::Click(*form_->SpeedButton1, 10, 10);
  EXPECT_TRUE(form_->GetVisible());
  struct Case {
    int progress;
    bool open;
  } cases[] = {{99, true}, {100, false}, {150, false}};
  for (const auto& c : cases) {
    form_->Show();
    form_->WatchDogTimer->SetEnabled(true);
    form_->SetProgress(c.progress);
    EXPECT_EQ(form_->GetVisible(), c.open) << c.progress;
    EXPECT_EQ(form_->WatchDogTimer->GetEnabled(), c.open) << c.progress;
  }
  EXPECT_EQ(form_->MMGauge1->GetProgress(), 100);
}

TEST_F(ProgFormTest, DelayTimerTellsTheMainFormHalfASecondLater) {
  form_->Show();
  uitest::SaveScreenshot(*form_, "app_common_delay_timer_tells_the_main_form_half_a_second_lat");
  form_->SetProgress(100);
  form_->Show();  // the main window shows it again after a save
  form_->DelayTimer->SetEnabled(true);
  clock_.AdvanceMillis(499);
  Application->ProcessMessages();
  EXPECT_TRUE(main_->messages.empty());
  clock_.AdvanceMillis(1);
  Application->ProcessMessages();
  EXPECT_EQ(main_->messages, (std::vector<uint32_t>{WM_USER + 410}));
  EXPECT_FALSE(form_->GetVisible());
  EXPECT_FALSE(form_->DelayTimer->GetEnabled());
  clock_.AdvanceMillis(5000);
  Application->ProcessMessages();
  EXPECT_EQ(main_->messages.size(), 1u);
}

TEST_F(ProgFormTest, DrivenAsTheModelsProgressSink) {
  TPROGFormProgress sink(*form_);
  SetBWFProgress(&sink);
  TBWFProgress& p = GetBWFProgress();
  p.SetCaption("書き込み中　");
  p.Show();
  uitest::SaveScreenshot(*form_, "app_common_progform_as_sink");
  EXPECT_TRUE(form_->GetVisible());
  p.SetProgress(40);
  EXPECT_EQ(form_->MMGauge1->Text(), "書き込み中　 40%");
  p.SetProgress(100);
  EXPECT_FALSE(form_->GetVisible());
  p.StartDelayTimer();
  clock_.AdvanceMillis(500);
  p.ProcessMessages();
  EXPECT_EQ(main_->messages, (std::vector<uint32_t>{WM_USER + 410}));
  SetBWFProgress(nullptr);
}

}  // namespace
