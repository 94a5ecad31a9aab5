// The converter plays: the main window, the player window and its chain on the manual audio rig,
// driven as a person would. Play, pause, resume, the marks, the position bar by click and by
// drag, stop, and saving over the file that plays; the meters light and the handle follows.
#include <gtest/gtest.h>

#include <filesystem>

#include "mainaatest.h"
#include "mmplayer.h"
#include "mmwavefile.h"
#include "openrecorder.h"
#include "playbackrig.h"
#include "playerlink.h"
#include "ui_testing.h"

using namespace vant;
namespace fs = std::filesystem;

namespace {

class PlaybackTest : public ConverterWindowTest {
 protected:
  void SetUp() override {
    ConverterWindowTest::SetUp();
    RegisterAudioFileReaders();
    player_ = std::make_unique<TMOPlayer>(nullptr);
    link_ = std::make_unique<orlune::TMOPlayerLink>(*player_);
    player_link_ = link_.get();
    fs::copy_file(fs::path(VANT_SOURCE_DIR) / "resources/samples/commercial.wav", sample_);
  }
  void TearDown() override {
    window_.reset();
    player_.reset();
    ConverterWindowTest::TearDown();
    DoneRegisteredAudioFiles();
  }
  // The window up past its splash on the window tests' clock; from then on the rig's clock
  // drives the devices, the meters and the position report.
  TVANTMainAA& StartPlayer(const std::string& file) {
    TVANTMainAA& w = Start(file);
    SetClock(&rig_.clock);
    return w;
  }
  // 48 frames a millisecond, the sample's rate.
  // The window's messages go through the application's dispatcher, the rig's through its own.
  void Step(int ms) {
    for (int i = 0; i < ms; ++i) {
      rig_.Step(1, 48);
      Application->ProcessMessages();
    }
  }
  int32_t Position() { return player_->MMAudioPlayer->GetPosition(); }
  unsigned State() { return link_->GetState(); }
  static void Press(g32::TImage32* button) { uitest::Click(*button, 5, 5); }

  PlaybackRig rig_;
  vant::testing::ScratchFolder work_{"orlune-play"};
  fs::path sample_ = work_.path() / "commercial.wav";
  std::unique_ptr<TMOPlayer> player_;
  std::unique_ptr<orlune::TMOPlayerLink> link_;
};

// A received commercial is never opened for writing to be shown or played: the model opens it
// once and the player once, both for reading; playing it reopens it for reading.
TEST_F(PlaybackTest, AShownAndPlayedFileIsOpenedOnlyForReadingOncePerComponent) {
  vant::testing::OpenRecorder opened("/commercial.wav");
  TVANTMainAA& w = StartPlayer(sample_.string());
  ASSERT_NE(w.Model(), nullptr);
  ASSERT_EQ(player_->MMAudioPlayer->GetFileLength(), 6000);
  EXPECT_EQ(opened.opens.size(), 2u);
  uitest::MouseDown(*w.BTValume, 60, 12);
  Press(w.BTPlay);
  Step(200);
  EXPECT_EQ(State(), orlune::kPlaying);
  Press(w.BTStop);
  Step(20);
  EXPECT_EQ(opened.Writable(), 0);
}

TEST_F(PlaybackTest, PlaysPausesSeeksStopsAndSavesOverThePlayingFile) {
  TVANTMainAA& w = StartPlayer(sample_.string());
  ASSERT_NE(w.Model(), nullptr);
  ASSERT_EQ(player_->MMAudioPlayer->GetFileLength(), 6000);
  EXPECT_EQ(player_->MMConnector1->GetLevel(1), w.MMLevel1);
  EXPECT_EQ(player_->MMConnector1->GetLevel(2), w.MMLevel2);
  const int P = w.BTPosition->GetLeft();
  EXPECT_EQ(w.BTPosHandle->GetLeft(), P);

  // A fresh setting is volume 0: the person turns it up first.
  uitest::MouseDown(*w.BTValume, 60, 12);
  EXPECT_EQ(player_->MMAudioPlayer->GetVolume(), (60 - 20) * 32768 / 77);
  Press(w.BTPlay);
  Step(600);
  EXPECT_EQ(State(), orlune::kPlaying);
  EXPECT_GT(Position(), 500);
  EXPECT_GT(w.BTPosHandle->GetLeft(), P) << "the handle follows the sound";
  // A mono file lights both.
  EXPECT_GT(Lit(*w.MMLevel1), 0) << "right channel";
  EXPECT_GT(Lit(*w.MMLevel2), 0) << "left channel";
  uitest::SaveScreenshot(w, "app_converter_playing");

  Press(w.BTPause);
  Step(20);
  const int32_t paused_at = Position();
  Step(300);
  EXPECT_EQ(State(), orlune::kPlaying | orlune::kPaused);
  EXPECT_EQ(Position(), paused_at);
  Press(w.BTPlay);
  Step(300);
  EXPECT_EQ(State(), orlune::kPlaying);
  EXPECT_GT(Position(), paused_at + 200);

  // From START (0 s): back to the beginning.
  w.ExecPlayerButton(18);
  Step(50);
  EXPECT_LT(Position(), 100);
  // The last 3 seconds before END (5.5 s), ending there by itself.
  w.ExecPlayerButton(22);
  Step(50);
  EXPECT_GE(Position(), 2500);
  EXPECT_LT(Position(), 2600);
  Step(3200);
  EXPECT_EQ(State(), 0u) << "stopped at END";
  EXPECT_FALSE(player_->MMHiTimer1->GetEnabled());
  // The handle stays where the last report put it, near END.
  EXPECT_GE(w.BTPosHandle->GetLeft(), P + 222 * 54 / 60);

  // A click on the position bar plays the whole file from there: half way through the length
  // still limited to END is 2.75 s.
  uitest::MouseDown(*w.BTPosition, 111, 10);
  Step(50);
  EXPECT_EQ(State(), orlune::kPlaying);
  EXPECT_GE(Position(), 2750);
  EXPECT_LT(Position(), 2850);
  EXPECT_EQ(player_->MMAudioPlayer->GetPlayLength(), 6000);
  // Dragging the handle stops the sound; the drop plays from where it was dropped.
  w.BTPosHandleMouseDown();
  EXPECT_EQ(State(), 0u);
  bool accept = false;
  w.BTPositionDragOver(w.BTPosHandle, 37, 10, accept);
  Step(100);
  EXPECT_EQ(State(), 0u) << "no sound while dragging";
  EXPECT_EQ(w.BTPosHandle->GetLeft(), P + 37);
  w.BTPositionDragDrop(w.BTPosHandle, 37, 10);
  Step(50);
  EXPECT_EQ(State(), orlune::kPlaying);
  EXPECT_GE(Position(), 1000);
  EXPECT_LT(Position(), 1100);

  Press(w.BTStop);
  Step(20);
  EXPECT_EQ(State(), 0u);

  // Saved over itself while it plays; then it plays again from the file as written.
  Press(w.BTPlay);
  Step(100);
  w.Modified = true;
  dialogs_.answerer.AnswerFile(sample_.string());
  dialogs_.answerer.AnswerMessage(IDYES);
  dialogs_.answerer.AnswerMessage(IDOK);
  w.SaveFile();
  Step(600);
  Application->ProcessMessages();
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_FALSE(w.Modified);
  EXPECT_EQ(player_->MMAudioPlayer->GetFileLength(), 6000);
  Press(w.BTPlay);
  Step(300);
  EXPECT_EQ(State(), orlune::kPlaying);
  EXPECT_GT(Position(), 200);
  EXPECT_GT(Lit(*w.MMLevel2), 0);
}

}  // namespace
