// The viewer's main window on a generated folder, driven as a person would: start-up, rows and
// scrolling, the change watch on an injected clock, the converter's save notice from another
// process, the listing export, eject, the drive dialog and the hand-over to the converter.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "bsplash.h"
#include "bwfmainmo.h"
#include "bwfmessage.h"
#include "clock.h"
#include "dispatch.h"
#include "drvstat.h"
#include "fakevolumes.h"
#include "moinf.h"
#include "moresources.h"
#include "progstart.h"
#include "regeditbw.h"
#include "scopedenv.h"
#include "scratchfolder.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_testing.h"
#include "verformaa.h"
#include "viewerfiles.h"
#include "windowendpoint.h"

using namespace vant;
namespace fs = std::filesystem;
using vant::testing::FakeVolumes;
using vant::testing::ScratchFolder;
using vant::volume::DriveType;
using viewertest::Cm;
using viewertest::WriteCm;

namespace {

using vant::testing::ScopedEnv;

class ViewerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    chmod(runtime_.path().c_str(), 0700);
    SetClock(&clock_);
    SetViewerVolumes(&volumes_);
    volumes_.Add(disc_.path(), DriveType::Removable, "DISC1", "/dev/sdz");
    splash_ = std::make_unique<TVANTSplash>(nullptr);  // created, never shown
    splash_->EditionCode = ecAdAgency;
    res_ = std::make_unique<TMODataRes>(nullptr);
    version_ = std::make_unique<TVersionConv>(nullptr);
    drive_ = std::make_unique<TDriveState>(nullptr);
    drive_->DoCreate();
  }
  void TearDown() override {
    main_.reset();
    version_.reset();
    drive_.reset();
    res_.reset();
    splash_.reset();
    Application->ProcessMessages();
    SetViewerVolumes(nullptr);
    SetClock(nullptr);
  }

  void StoreFolder(const std::string& folder) {
    TSysRegVANT reg(nullptr);
    reg.WriteWorkString(100, folder);
  }
  std::string Setting(int n) {
    TSysRegVANT reg(nullptr);
    return reg.ReadWorkString(n);
  }
  // Starts the window on the stored folder as the first activation does.
  TVANTMainMO& Open() {
    main_.reset();
    main_ = std::make_unique<TVANTMainMO>(nullptr);
    main_->DoCreate();
    main_->EjectDelay = [this](std::chrono::milliseconds ms) { delays_.push_back(ms.count()); };
    main_->FormShow(main_.get());
    main_->FormActivate(main_.get());
    return *main_;
  }
  TVANTMainMO& OpenDisc() {
    StoreFolder(disc_.path().string());
    return Open();
  }
  void Pass(int ms) {
    clock_.AdvanceMillis(ms);
    Application->ProcessMessages();
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& q : dialogs_.answerer.Asked()) {
      if (q.kind == ScriptedAnswerer::Question::kMessage) out.push_back(q.text);
    }
    return out;
  }
  static std::string RowNumber(TMOInfo* row) { return row->BTLabel->GetCaption(); }

  ScratchFolder config_{"viewer-config"};
  ScratchFolder runtime_{"viewer-run"};
  ScratchFolder disc_{"viewer-disc"};
  ScopedEnv config_env_{"XDG_CONFIG_HOME", config_.path().string()};
  ScopedEnv runtime_env_{"XDG_RUNTIME_DIR", runtime_.path().string()};
  ScopedEnv home_env_{"HOME", config_.path().string()};
  ManualClock clock_;
  FakeVolumes volumes_;
  ScopedAnswerer dialogs_;
  std::unique_ptr<TVANTSplash> splash_;
  std::unique_ptr<TMODataRes> res_;
  std::unique_ptr<TVersionConv> version_;
  std::unique_ptr<TDriveState> drive_;
  std::unique_ptr<TVANTMainMO> main_;
  std::vector<long> delays_;
};

TEST_F(ViewerWindow, TwelveFilesShowTenRowsAndScrollToRows03To12) {
  viewertest::WriteNumbered(disc_.path(), 12);
  TVANTMainMO& w = OpenDisc();
  EXPECT_EQ(w.GetCaption(), "ミルダ 広告会社仕様");
  EXPECT_EQ(w.GetFileCount(), 12);
  EXPECT_EQ(w.BWFVolumName->GetText(), "DISC1");
  EXPECT_TRUE(w.GaugeBar1->GetEnabled());
  EXPECT_EQ(w.GaugeBar1->GetMax(), 2);
  EXPECT_EQ(RowNumber(w.MInf[0]), "01");
  EXPECT_EQ(RowNumber(w.MInf[9]), "10");

  w.GaugeBar1->SetPosition(2);
  EXPECT_EQ(RowNumber(w.MInf[0]), "03");
  EXPECT_EQ(w.MInf[0]->FileName->GetText(), "CM03.wav");
  EXPECT_EQ(RowNumber(w.MInf[9]), "12");
  EXPECT_EQ(w.MInf[9]->Title->GetText(), "T12");
  EXPECT_EQ(w.MInf[9]->FileIndex, 11);
  w.Show();
  uitest::SaveScreenshot(w, "viewer-main-12-files");
}

TEST_F(ViewerWindow, TenFilesNeverScrollPastTheLastFile) {
  viewertest::WriteNumbered(disc_.path(), 10);
  TVANTMainMO& w = OpenDisc();
  EXPECT_TRUE(w.GaugeBar1->GetEnabled());
  // The bar keeps a span of at least one step; its handle stays with the rows, at the top.
  w.GaugeBar1->SetPosition(w.GaugeBar1->GetMax());
  EXPECT_EQ(w.GaugeBar1->GetPosition(), 0);
  EXPECT_EQ(RowNumber(w.MInf[0]), "01");
  w.FillRows(3);
  EXPECT_EQ(RowNumber(w.MInf[0]), "01");
  EXPECT_EQ(RowNumber(w.MInf[9]), "10");
  EXPECT_TRUE(w.MInf[9]->Segment->GetVisible());

  fs::remove(disc_.path() / "CM10.wav");
  w.ScanFolder(w.GetFolder());
  w.ShowRows();
  EXPECT_FALSE(w.GaugeBar1->GetEnabled());
  EXPECT_FALSE(w.MInf[9]->Segment->GetVisible());
}

// Numbers of three digits fit their label whole.
TEST_F(ViewerWindow, ThreeDigitRowNumbersAreNotClipped) {
  viewertest::WriteNumbered(disc_.path(), 9);
  for (int i = 10; i <= 101; ++i)
    fs::copy_file(disc_.path() / "CM01.wav", disc_.path() / ("CM" + std::to_string(i) + ".wav"));
  TVANTMainMO& w = OpenDisc();
  ASSERT_EQ(w.GetFileCount(), 101);
  w.GaugeBar1->SetPosition(w.GaugeBar1->GetMax());
  TLabel& label = *w.MInf[9]->BTLabel;
  EXPECT_EQ(label.GetCaption(), "101");
  // The button's face: inside the dark frame its picture draws, seen above the number.
  g32::TImage32& button = *w.MInf[9]->BTSelect;
  auto dark = [&](int x) {
    const TColor c = uitest::RenderedPixel(button, x, 8);
    return (c & 0xFF) + ((c >> 8) & 0xFF) + ((c >> 16) & 0xFF) < 3 * 128;
  };
  int face_left = 0;
  while (face_left < button.GetWidth() / 2 && !dark(face_left)) ++face_left;
  while (face_left < button.GetWidth() / 2 && dark(face_left)) ++face_left;
  int face_right = button.GetWidth() - 1;
  while (face_right > button.GetWidth() / 2 && !dark(face_right)) --face_right;
  while (face_right > button.GetWidth() / 2 && dark(face_right)) --face_right;
  ASSERT_GT(face_left, 0);
  TBitmap measure;
  std::vector<int> off_the_face;
  for (int n = 1; n <= 256; ++n) {  // the table holds 256 files
    w.MInf[9]->ShowNumber(n);
    measure.Canvas().Font().Assign(&label.Font());
    // Right-aligned: the text begins its width before the label's right edge.
    const int right = label.GetLeft() + label.GetWidth();
    if (right - measure.Canvas().TextWidth(label.GetCaption()) < face_left ||
        right - 1 > face_right)
      off_the_face.push_back(n);
  }
  EXPECT_EQ(off_the_face, std::vector<int>{});
  w.MInf[9]->ShowNumber(101);
  EXPECT_EQ(label.GetCaption(), "101");
  w.Show();
  uitest::SaveScreenshot(w, "viewer-main-101-files");
}

TEST_F(ViewerWindow, RowsShowLengthColourChannelsCodesAndMarks) {
  WriteCm(disc_.path() / "a.wav", {.channels = 1,
                                   .itemNumber = "ITEM",
                                   .commonCode = "COMMON",
                                   .comment = "note",
                                   .lengthSamples = 1439808,  // 29.996 s
                                   .attachment = true});
  WriteCm(disc_.path() / "b.wav", {.lengthSamples = 1439760});  // 29.995 s
  WriteCm(disc_.path() / "c.wav", {.rate = 44100});
  TVANTMainMO& w = OpenDisc();
  ASSERT_EQ(w.GetFileCount(), 2);
  TMOInfo* a = w.MInf[0];
  TMOInfo* b = w.MInf[1];
  EXPECT_EQ(a->CMLength->Font().GetColor(), 0);
  EXPECT_EQ(b->CMLength->Font().GetColor(), 255);
  EXPECT_EQ(a->Channels->GetCaption(), "M");
  EXPECT_EQ(b->Channels->GetCaption(), "S");
  EXPECT_EQ(a->Attachiment->GetCaption(), "●");
  EXPECT_EQ(a->Comment->GetCaption(), "●");
  EXPECT_EQ(b->Attachiment->GetCaption(), "");
  EXPECT_EQ(b->Comment->GetCaption(), "");
  EXPECT_EQ(a->CodeInfo->GetText(), "ITEM");
  w.CodeSelection->SetItemIndex(1);
  w.CodeSelection->OnChange(w.CodeSelection);
  EXPECT_EQ(a->CodeInfo->GetText(), "COMMON");
  EXPECT_FALSE(w.MInf[2]->Segment->GetVisible());
  w.Show();
  uitest::SaveScreenshot(w, "viewer-rows");
}

// One notch of the wheel moves the listing by the desktop's lines per notch (three unless the
// desktop says otherwise), wherever over the rows or the bar the pointer is; the fields never
// scroll on their own.
TEST_F(ViewerWindow, TheWheelOverTheRowsScrollsTheListing) {
  viewertest::WriteNumbered(disc_.path(), 30);
  TVANTMainMO& w = OpenDisc();
  w.Show();
  const int lines = QApplication::wheelScrollLines();
  auto turn = [](TControl& c, int notches) {
    QWidget* target = c.Host();
    if (auto* area = qobject_cast<QAbstractScrollArea*>(target)) target = area->viewport();
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
  };
  struct Step {
    TControl* over;
    int notches;
    int position;
  } steps[] = {
      {w.MInf[0]->Title, -1, lines},         {w.MInf[4]->FileName, -1, 2 * lines},
      {w.MInf[9]->Segment, 1, lines},        {w.MInf[2]->BTSelect, -1, 2 * lines},
      {w.GaugeBar1, -1, 3 * lines},          {w.MInf[5]->CodeInfo, 20, 0},
      {w.MInf[5]->Limitation, -20, 30 - 10},
  };
  for (const Step& s : steps) {
    turn(*s.over, s.notches);
    EXPECT_EQ(w.GaugeBar1->GetPosition(), s.position) << s.over->GetName();
    char first[16];
    std::snprintf(first, sizeof first, "%02d", s.position + 1);
    EXPECT_EQ(RowNumber(w.MInf[0]), first) << s.over->GetName();
  }
  auto* title = qobject_cast<QAbstractScrollArea*>(w.MInf[0]->Title->Host());
  EXPECT_EQ(title->verticalScrollBar()->value(), 0);
}

// Long names, titles and codes wrap inside their 39-px fields without a scroll bar.
TEST_F(ViewerWindow, RowFieldsShowNoScrollBars) {
  const std::string longText(120, 'W');
  WriteCm(disc_.path() / (std::string(60, 'n') + ".wav"),
          {.title = longText, .itemNumber = "0123456789ABCDEF", .limitation = "2099123199"});
  TVANTMainMO& w = OpenDisc();
  w.Show();
  Application->ProcessMessages();
  TMOInfo* row = w.MInf[0];
  for (TControl* field :
       {static_cast<TControl*>(row->FileName), static_cast<TControl*>(row->Title),
        static_cast<TControl*>(row->CodeInfo), static_cast<TControl*>(row->Limitation)}) {
    auto* area = qobject_cast<QAbstractScrollArea*>(field->Host());
    ASSERT_NE(area, nullptr) << field->GetName();
    EXPECT_FALSE(area->verticalScrollBar()->isVisible()) << field->GetName();
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible()) << field->GetName();
  }
  uitest::SaveScreenshot(w, "viewer-long-fields");
}

TEST_F(ViewerWindow, ImageButtonsShowThePressedPictureWhileHeld) {
  viewertest::WriteNumbered(disc_.path(), 1);
  TVANTMainMO& w = OpenDisc();
  auto shows = [](g32::TImage32* image, int item) {
    const g32::TBitmap32* skin = MODataRes->Bitmap32List.GetBitmap(item);
    const int x = skin->Width() / 2, y = skin->Height() / 2 + 3;
    return image->GetBitmap()->GetPixelS(x, y) == skin->GetPixelS(x, y);
  };
  uitest::MouseDown(*w.BTList, 10, 10);
  EXPECT_TRUE(shows(w.BTList, 5));
  EXPECT_FALSE(shows(w.BTList, 4));
  uitest::MouseMove(*w.BTList, 12, 10, true);
  EXPECT_TRUE(shows(w.BTList, 4));
  // The number on a row's button presses the button under it.
  TMOInfo* row = w.MInf[0];
  EXPECT_TRUE(shows(row->BTSelect, 6));
  uitest::MouseDown(*row->BTLabel, 5, 5);
  EXPECT_TRUE(shows(row->BTSelect, 7));
  EXPECT_FALSE(shows(row->BTSelect, 6));
  uitest::MouseMove(*row->BTLabel, 6, 5, true);
  EXPECT_TRUE(shows(row->BTSelect, 6));
}

TEST_F(ViewerWindow, StartFolderFromTheSettingOrTheExecutableOrTheDocuments) {
  const std::string exe_folder = fs::path(Application->ExeName()).parent_path().string() + "/";
  {
    Open();  // nothing stored: the program's folder, not stored
    EXPECT_EQ(main_->GetFolder(), exe_folder);
    EXPECT_EQ(Setting(100), "");
  }
  {
    StoreFolder(disc_.path().string());  // stored without the separator
    Open();
    EXPECT_EQ(main_->GetFolder(), disc_.path().string() + "/");
  }
  {
    fs::create_directory(config_.path() / "Documents");
    StoreFolder((disc_.path() / "gone").string());
    Open();
    const std::string docs = (config_.path() / "Documents").string() + "/";
    EXPECT_EQ(main_->GetFolder(), docs);
    EXPECT_EQ(Setting(100), docs);
  }
  {
    TSysRegVANT(nullptr).WriteWorkInteger(100, 7);  // a damaged store: read as no folder
    Open();
    EXPECT_EQ(main_->GetFolder(), exe_folder);
    EXPECT_TRUE(main_->WatchDogTimer->GetEnabled());
  }
}

TEST_F(ViewerWindow, TheFolderButtonStoresAConfirmedFolderAndRescans) {
  viewertest::WriteNumbered(disc_.path(), 1);
  ScratchFolder other;
  viewertest::WriteNumbered(other.path(), 3);
  TVANTMainMO& w = OpenDisc();
  const g32::TBitmap32* normal = MODataRes->Bitmap32List.GetBitmap(2);

  dialogs_.answerer.AnswerFolder(other.path().string());
  uitest::Click(*w.BTOpen, 10, 10);
  EXPECT_EQ(w.GetFolder(), other.path().string() + "/");
  EXPECT_EQ(Setting(100), other.path().string() + "/");
  EXPECT_EQ(w.GetFileCount(), 3);
  EXPECT_EQ(w.BTOpen->GetBitmap()->GetPixelS(40, 12), normal->GetPixelS(40, 12));
  EXPECT_TRUE(w.WatchDogTimer->GetEnabled());

  // Back on the disc, which has gone: a warning, then the browser; cancelling keeps all.
  dialogs_.answerer.AnswerFolder(disc_.path().string());
  uitest::Click(*w.BTOpen, 10, 10);
  volumes_.At(disc_.path()).ready = false;
  dialogs_.answerer.AnswerMessage(IDOK);
  uitest::Click(*w.BTOpen, 10, 10);  // the browser is cancelled (no answer scripted)
  EXPECT_EQ(Messages(), std::vector<std::string>{"ドライブが利用できません。"});
  EXPECT_EQ(w.GetFolder(), disc_.path().string() + "/");
  EXPECT_EQ(w.GetFileCount(), 1);
}

// A finished file shows within 7 s: the poll that first sees it (every 5 s) schedules the rescan
// 2 s later.
TEST_F(ViewerWindow, AFinishedFileIsRescanned2sAfterThePollThatFindsIt) {
  viewertest::WriteNumbered(disc_.path(), 2);
  TVANTMainMO& w = OpenDisc();
  WriteCm(disc_.path() / "CM03.wav");
  Pass(5000);
  EXPECT_TRUE(w.DelayTimer->GetEnabled());
  Pass(1999);
  EXPECT_EQ(w.GetFileCount(), 2);
  Pass(1);
  EXPECT_EQ(w.GetFileCount(), 3);
  Pass(5000);
  EXPECT_FALSE(w.DelayTimer->GetEnabled());  // the listing matches the scan again
}

// A file still held open by its writer waits, however long it stays the same size; it shows at
// the first poll after the writer is done.
TEST_F(ViewerWindow, AFileStillBeingWrittenWaitsForItsWriter) {
  viewertest::WriteNumbered(disc_.path(), 1);
  TVANTMainMO& w = OpenDisc();
  const fs::path growing = disc_.path() / "CM02.wav";
  WriteCm(growing);
  {
    std::ofstream writer(growing, std::ios::app);
    for (int poll = 1; poll <= 3; ++poll) {
      if (poll < 3) writer << std::string(4000u * poll, 'x') << std::flush;
      Pass(5000);
      EXPECT_FALSE(w.DelayTimer->GetEnabled()) << poll;
    }
  }
  Pass(5000);
  EXPECT_TRUE(w.DelayTimer->GetEnabled());
}

// Whether or not the lease can tell (a file of another owner cannot be leased), a copy that
// pauses is never listed, and a finished file shows within 7 s of its writer's close beside one
// still being written, which waits for its own close.
TEST_F(ViewerWindow, EveryFinishedFileShowsWithin7sAndNoUnfinishedOne) {
  for (const bool lease : {true, false}) {
    SCOPED_TRACE(lease ? "lease" : "no lease");
    ScratchFolder disc{"viewer-copy"};
    volumes_.Add(disc.path(), DriveType::Removable, "COPY");
    viewertest::WriteNumbered(disc.path(), 1);
    StoreFolder(disc.path().string());
    TVANTMainMO& w = Open();
    if (!lease) w.WriterCheck = [](const fs::path&) { return std::optional<bool>(); };
    const vb::Bytes whole = viewertest::CmBytes({.title = "NEW"});
    const auto half = static_cast<std::streamsize>(whole.size() / 2);
    auto open_writer = [&](const char* name) {
      auto out = std::make_unique<std::ofstream>(disc.path() / name, std::ios::binary);
      out->write(reinterpret_cast<const char*>(whole.data()), half);
      out->flush();
      return out;
    };
    auto finish = [&](std::unique_ptr<std::ofstream>& out) {
      out->write(reinterpret_cast<const char*>(whole.data()) + half,
                 static_cast<std::streamsize>(whole.size()) - half);
      out.reset();
    };
    // A copy that pauses: the same size and time poll after poll.
    auto paused = open_writer("CM02.wav");
    for (int poll = 1; poll <= 3; ++poll) {
      Pass(5000);
      EXPECT_FALSE(w.DelayTimer->GetEnabled()) << poll;
    }
    EXPECT_EQ(w.GetFileCount(), 1);
    // One copy ends; another is still under way.
    auto other = open_writer("CM03.wav");
    finish(paused);
    Pass(5000);
    EXPECT_TRUE(w.DelayTimer->GetEnabled());
    Pass(2000);
    EXPECT_EQ(w.GetFileCount(), 2);
    if (w.GetFileCount() == 2) {
      EXPECT_EQ(w.MInf[1]->FileName->GetText(), "CM02.wav");
    }
    for (int poll = 1; poll <= 2; ++poll) {
      Pass(5000);
      EXPECT_FALSE(w.DelayTimer->GetEnabled()) << poll;
    }
    finish(other);
    Pass(5000);
    Pass(2000);
    EXPECT_EQ(w.GetFileCount(), 3);
    main_.reset();
  }
}

// A copy that opens, writes and closes the file a piece at a time is closed between its pieces:
// the file is listed only once its size and time have held still for the settling time after
// its last piece, and then as promptly as any finished file. A pause of 15 s half-way, while the
// header promises more than the file holds, lists nothing either.
TEST_F(ViewerWindow, APieceByPieceCopyIsListedOnlyOnceItHeldStill) {
  for (const bool lease : {true, false}) {
    SCOPED_TRACE(lease ? "lease" : "no lease");
    ScratchFolder disc{"viewer-pieces"};
    volumes_.Add(disc.path(), DriveType::Removable, "COPY");
    viewertest::WriteNumbered(disc.path(), 1);
    StoreFolder(disc.path().string());
    TVANTMainMO& w = Open();
    if (!lease) w.WriterCheck = [](const fs::path&) { return std::optional<bool>(); };
    const vb::Bytes whole =
        viewertest::CmBytes({.title = "NEW", .attachment = true, .dataBytes = 20u << 20});
    const fs::path copy = disc.path() / "CM02.wav";
    constexpr size_t kPiece = 1u << 20;
    int ms = 0;  // since the copy began
    for (size_t at = 0, piece = 1; at < whole.size(); at += kPiece, ++piece) {
      {
        std::ofstream out(copy, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(whole.data()) + at,
                  static_cast<std::streamsize>(std::min(kPiece, whole.size() - at)));
      }
      // 0.4 s between pieces, a pause of 1.6 s after the sixth and one of 15.2 s after the 11th.
      for (int step = 0; step < (piece == 6 ? 4 : piece == 11 ? 38 : 1); ++step) {
        Pass(400);
        ms += 400;
        ASSERT_EQ(w.GetFileCount(), 1) << "listed " << ms << " ms into the copy";
      }
    }
    int waited = 0;
    while (w.GetFileCount() == 1 && waited < 10000) {
      Pass(100);
      waited += 100;
    }
    EXPECT_EQ(w.GetFileCount(), 2);
    EXPECT_LE(waited, 7000);  // the next poll, then the settling time
    if (w.GetFileCount() == 2) {
      EXPECT_EQ(w.MInf[1]->FileName->GetText(), "CM02.wav");
      EXPECT_NE(w.MInf[1]->CMLength->Font().GetColor(), TColor(255));  // the whole length
      EXPECT_EQ(w.MInf[1]->Attachiment->GetCaption(), "●");
    }
    main_.reset();
  }
}

// A file shorter than its header promises that nobody has written to for 30 s is taken for a
// damaged one and listed as such; until then it may be a copy that paused.
TEST_F(ViewerWindow, AShortFileIsListedAsDamagedOnceItStoodStill30s) {
  struct Case {
    int age_s;
    bool listed;
  } cases[] = {{25, false}, {31, true}};  // 5 s of slack for a slow run
  for (const Case& c : cases) {
    SCOPED_TRACE(c.age_s);
    ScratchFolder disc{"viewer-short"};
    volumes_.Add(disc.path(), DriveType::Removable, "SHORT");
    viewertest::WriteNumbered(disc.path(), 1);
    StoreFolder(disc.path().string());
    TVANTMainMO& w = Open();
    const vb::Bytes whole = viewertest::CmBytes({.title = "CUT", .dataBytes = 1u << 20});
    const fs::path cut = disc.path() / "CM02.wav";
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<const char*>(whole.data()),
               static_cast<std::streamsize>(whole.size() / 2));
    fs::last_write_time(cut, fs::file_time_type::clock::now() - std::chrono::seconds(c.age_s));
    Pass(5000);
    Pass(2000);
    ASSERT_EQ(w.GetFileCount(), c.listed ? 2 : 1);
    if (c.listed) {
      EXPECT_EQ(w.MInf[1]->FileName->GetText(), "CM02.wav");
      EXPECT_EQ(w.MInf[1]->CMLength->Font().GetColor(), TColor(255));
    }
    main_.reset();
  }
}

TEST_F(ViewerWindow, ASaveNoticeFromTheConverterRescansTheUnchangedFolder) {
  viewertest::WriteNumbered(disc_.path(), 1);
  TVANTMainMO& w = OpenDisc();
  std::string folder = disc_.path().string() + "/";
  std::transform(folder.begin(), folder.end(), folder.begin(), ::toupper);
  ChildProcess sender;
  ASSERT_EQ(sender.Start({VIEWER_NOTIFY, ViewerTitle(ecAdAgency), folder}), kStartOk);
  while (!sender.WaitFor(0)) {  // the sender's own bound ends this loop
    QCoreApplication::processEvents();
    Application->ProcessMessages();
  }
  EXPECT_EQ(sender.ExitCode(), 0);
  EXPECT_TRUE(w.GetNotified());
  // A change the watch alone would miss: same size, same time.
  const fs::path file = disc_.path() / "CM01.wav";
  const auto time = fs::last_write_time(file);
  WriteCm(file, {.title = "NEW"});
  fs::last_write_time(file, time);
  Pass(5000);
  EXPECT_TRUE(w.DelayTimer->GetEnabled());
  Pass(2000);
  EXPECT_FALSE(w.GetNotified());
  EXPECT_EQ(w.GetFileCount(), 1);
  EXPECT_EQ(w.MInf[0]->Title->GetText(), "NEW");
}

TEST_F(ViewerWindow, OnlyANoticeNamingTheShownFolderCounts) {
  TVANTMainMO& w = OpenDisc();
  const std::string d = disc_.path().string();
  const std::pair<std::string, bool> cases[] = {
      {d + "/sub/", false}, {fs::path(d).parent_path().string() + "/", false},
      {d + "x/", false},    {d, true},
      {d + "//", true},     {d + "/sub/../", true},
  };
  for (const auto& [path, counts] : cases) {
    ASSERT_FALSE(w.GetNotified());
    w.WMCopyData(path);
    EXPECT_EQ(w.GetNotified(), counts) << path;
    w.DelayTimerTimer(&w);  // the rescan clears the flag
  }
}

TEST_F(ViewerWindow, ListingExportCompletesTheNameButStoresItAsTyped) {
  viewertest::WriteNumbered(disc_.path(), 2);
  TVANTMainMO& w = OpenDisc();
  ScratchFolder out;
  const std::string typed = (out.path() / "list").string();
  dialogs_.answerer.AnswerFile(typed);
  dialogs_.answerer.AnswerMessage(IDOK);
  uitest::Click(*w.BTList, 10, 10);
  EXPECT_TRUE(fs::exists(out.path() / "list.csv"));
  EXPECT_FALSE(fs::exists(typed));
  EXPECT_EQ(Setting(111), typed);
  EXPECT_EQ(Messages(), std::vector<std::string>{"リスト出力を実行しました。"});

  // The same name again, not confirmed: nothing written, nothing reported.
  fs::resize_file(out.path() / "list.csv", 0);
  dialogs_.answerer.AnswerFile(typed);
  dialogs_.answerer.AnswerMessage(IDNO);
  uitest::Click(*w.BTList, 10, 10);
  EXPECT_EQ(fs::file_size(out.path() / "list.csv"), 0u);
  EXPECT_EQ(Messages().back(), "指定したファイルは既に存在します。上書きしてよろしいですか？");
}

// A remembered list file in a place that is no ordinary folder to write in (a kernel's pseudo-file
// system, a folder gone) does not make the dialog open there, nor in the working folder: it opens
// in the folder that held the gone one, or, when that is gone too, in the home folder.
TEST_F(ViewerWindow, ListingExportNeverStartsInAPseudoFileSystem) {
  TVANTMainMO& w = OpenDisc();
  ScratchFolder out;
  const std::string home = config_.path().string();  // the fixture's HOME
  const std::pair<std::string, std::string> cases[] = {
      {"/proc/self/list", home},
      {"/sys/kernel/list", home},
      {(out.path() / "gone" / "list").string(), out.path().string()},
      {(out.path() / "gone" / "deeper" / "list").string(), home},
      {(out.path() / "list").string(), out.path().string()},
  };
  for (const auto& [stored, start] : cases) {
    TSysRegVANT(nullptr).WriteWorkString(111, stored);
    uitest::Click(*w.BTList, 10, 10);  // the dialog is cancelled
    ASSERT_FALSE(dialogs_.answerer.Asked().empty());
    EXPECT_EQ(dialogs_.answerer.Asked().back().file.initial_dir, start) << stored;
  }
}

// The folder the toolkit's own dialog opens in after a list file was remembered in a place one
// cannot save in: never that place.
TEST_F(ViewerWindow, ListingExportDialogItselfNeverOpensInAPseudoFileSystem) {
  TVANTMainMO& w = OpenDisc();
  ScratchFolder out;
  const std::pair<std::string, std::string> cases[] = {
      {"/proc/list", "/proc"},
      {"/proc/self/list", "/proc/self"},
      {"/sys/kernel/list", "/sys/kernel"},
      {(out.path() / "list").string(), out.path().string()},
  };
  SetDialogAnswerer(nullptr);  // the toolkit's dialogs; restored below
  for (const auto& [stored, folder] : cases) {
    TSysRegVANT(nullptr).WriteWorkString(111, stored);
    std::string shown;
    QTimer::singleShot(0, [&] {
      auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!d) return;
      shown = d->directory().absolutePath().toStdString();
      d->reject();
    });
    w.ExportList();
    const bool ordinary = folder == out.path().string();
    EXPECT_EQ(shown == folder, ordinary) << stored << " opened in " << shown;
  }
  SetDialogAnswerer(&dialogs_.answerer);
}

// A typed name with wildcards is a pattern, not a file: refused, and the dialog comes back.
TEST_F(ViewerWindow, ListingExportRefusesNamesWithWildcards) {
  viewertest::WriteNumbered(disc_.path(), 1);
  TVANTMainMO& w = OpenDisc();
  ScratchFolder out;
  for (const char* name : {"*", "list?", "a*b.csv"}) {
    const size_t before = dialogs_.answerer.Asked().size();
    dialogs_.answerer.AnswerFile((out.path() / name).string());
    dialogs_.answerer.AnswerMessage(IDOK);
    w.ExportList();  // the dialog that comes back is cancelled
    const auto& asked = dialogs_.answerer.Asked();
    ASSERT_EQ(asked.size(), before + 3) << name;
    EXPECT_EQ(asked[before + 1].text, "ファイル名に「*」や「?」は使えません。");
    EXPECT_EQ(asked[before + 2].kind, ScriptedAnswerer::Question::kFile);
    EXPECT_TRUE(fs::is_empty(out.path())) << name;
  }
}

// Only a busy volume is tried again; every other cause is told at once, in its own words, and a
// drive that keeps the unmounted disc is not blamed on another program.
TEST_F(ViewerWindow, EjectWarnsOnAFixedDiskAndOnARefusedRemovableDisc) {
  const std::string kFixed = "ドライブからディスクを抜くことができません。";
  const std::string kRefused =
      "MOドライブをミルダ以外で使用している可能性があるため、取り出すことができません";
  // The causes in the words of the box, never the system's English.
  const std::string kNoService =
      "ディスクを取り出すためのサービスが動作していないため、取り出すことができません。\n"
      "(udisks2 が動作していないため、管理者のほかはディスクの使用を終了できません)";
  const std::string kNotAllowed =
      "ディスクを取り出す権限がないため、取り出すことができません。\n"
      "(ディスクの使用の終了が許可されませんでした)";
  const std::string kStuck =
      "ディスクの使用は終了しましたが、ドライブがディスクを出せませんでした。"
      "ドライブの取り出しボタンで取り出してください。\n"
      "(ドライブが取り出しの命令を受け付けませんでした)";
  struct Case {
    DriveType type;
    int unmount_failures;
    int unmount_error;
    bool eject_ok;
    std::vector<std::string> messages;
    size_t delays;
  } cases[] = {
      {DriveType::Fixed, 0, EBUSY, true, {kFixed}, 0},
      {DriveType::Removable, -1, EBUSY, true, {kRefused}, 19},
      {DriveType::Removable, -1, ENOSYS, true, {kNoService}, 0},
      {DriveType::Removable, -1, EPERM, true, {kNotAllowed}, 0},
      {DriveType::Removable, -1, EACCES, true, {kNotAllowed}, 0},
      {DriveType::Removable, 0, EBUSY, false, {kStuck}, 0},
      {DriveType::Removable, 2, EBUSY, true, {}, 2},
      {DriveType::Remote, 0, EBUSY, true, {}, 0},
  };
  for (const Case& c : cases) {
    const size_t before = dialogs_.answerer.Asked().size();
    volumes_.At(disc_.path()).type = c.type;
    volumes_.unmount_failures = c.unmount_failures;
    volumes_.unmount_error = c.unmount_error;
    volumes_.eject_ok = c.eject_ok;
    delays_.clear();
    TVANTMainMO& w = OpenDisc();
    for (size_t i = 0; i < c.messages.size(); ++i) dialogs_.answerer.AnswerMessage(IDOK);
    uitest::Click(*w.BTMOEject, 10, 10);
    const auto all = Messages();
    const std::vector<std::string> asked(all.begin() + before, all.end());
    EXPECT_EQ(asked, c.messages) << int(c.type) << " " << c.unmount_error;
    EXPECT_EQ(delays_.size(), c.delays) << int(c.type) << " " << c.unmount_error;
    EXPECT_TRUE(w.WatchDogTimer->GetEnabled());
    // The button is back to its normal picture.
    const g32::TBitmap32* normal = MODataRes->Bitmap32List.GetBitmap(10);
    EXPECT_EQ(w.BTMOEject->GetBitmap()->GetPixelS(40, 12), normal->GetPixelS(40, 12));
  }
}

TEST_F(ViewerWindow, DriveDialogClosesWithin2sOfTheDiscComingBack) {
  viewertest::WriteNumbered(disc_.path(), 1);
  TVANTMainMO& w = OpenDisc();
  volumes_.At(disc_.path()).ready = false;
  viewertest::WriteNumbered(disc_.path(), 3);  // the disc that comes back holds more
  int checks = 0;
  auto show = drive_->OnShow;
  drive_->OnShow = [&](TObject* s) {
    show(s);
    uitest::SaveScreenshot(*drive_, "viewer-drive-state");
    GetDispatcher().Post([&] {
      clock_.AdvanceMillis(2000);  // a check while the drive is still empty
      Application->ProcessMessages();
      checks = drive_->GetModalResult() == mrNone ? 1 : -1;
      volumes_.At(disc_.path()).ready = true;
      clock_.AdvanceMillis(1999);
      Application->ProcessMessages();
      if (drive_->GetModalResult() != mrNone) checks = -1;
      clock_.AdvanceMillis(1);
    });
  };
  Pass(5000);  // the watch finds the drive not ready and waits in the dialog
  EXPECT_EQ(checks, 1);
  EXPECT_FALSE(drive_->GetVisible());
  EXPECT_EQ(w.GetFileCount(), 3);
  EXPECT_TRUE(dialogs_.answerer.Asked().empty());
}

// Desktops mount each disc at a folder named after its label: another disc in the same drive
// closes the drive dialog as the first one would, and is listed from its own folder. A disc in
// another drive does not.
TEST_F(ViewerWindow, TheDriveDialogFollowsTheDriveToAnotherDiscsFolder) {
  struct Case {
    const char* device;
    bool followed;
  } cases[] = {{"/dev/sdz", true}, {"/dev/sdy", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    ScratchFolder second{"viewer-disc2"};
    viewertest::WriteNumbered(second.path(), 4);
    viewertest::WriteNumbered(disc_.path(), 1);
    volumes_.Add(disc_.path(), DriveType::Removable, "DISC1", "/dev/sdz");
    TVANTMainMO& w = OpenDisc();
    // The first disc goes (its folder with it); the next one comes at its own folder.
    fs::remove_all(disc_.path());
    volumes_.Remove(disc_.path());
    bool closed_by_itself = false;
    auto show = drive_->OnShow;
    drive_->OnShow = [&](TObject* s) {
      show(s);
      GetDispatcher().Post([&] {
        volumes_.Add(second.path(), DriveType::Removable, "DISC2", c.device);
        clock_.AdvanceMillis(2000);
        Application->ProcessMessages();
        closed_by_itself = drive_->GetModalResult() == mrOk;
        if (!closed_by_itself) uitest::Click(*drive_->Folder, 10, 10);  // give up: no folder
      });
    };
    Pass(5000);
    drive_->OnShow = show;
    EXPECT_EQ(closed_by_itself, c.followed);
    if (c.followed) {
      EXPECT_EQ(w.GetFolder(), second.path().string() + "/");
      EXPECT_EQ(w.GetFileCount(), 4);
      EXPECT_EQ(w.BWFVolumName->GetText(), "DISC2");
      EXPECT_EQ(Setting(100), second.path().string() + "/");
    }
    main_.reset();
    volumes_.Remove(second.path());
    fs::create_directories(disc_.path());
  }
}

TEST_F(ViewerWindow, GivingUpOnTheDriveLetsTheUserPickAnotherFolder) {
  viewertest::WriteNumbered(disc_.path(), 1);
  ScratchFolder other;
  viewertest::WriteNumbered(other.path(), 2);
  TVANTMainMO& w = OpenDisc();
  volumes_.At(disc_.path()).ready = false;
  auto show = drive_->OnShow;
  drive_->OnShow = [&](TObject* s) {
    show(s);
    GetDispatcher().Post([&] { uitest::Click(*drive_->Folder, 10, 10); });
  };
  dialogs_.answerer.AnswerFolder(other.path().string());
  Pass(5000);
  EXPECT_EQ(drive_->GetModalResult(), mrCancel);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(w.GetFolder(), other.path().string() + "/");
  EXPECT_EQ(w.GetFileCount(), 2);
  EXPECT_TRUE(w.WatchDogTimer->GetEnabled());
}

// A disc that is not in at start-up is waited for in the drive dialog, and its folder is kept,
// whether its folder vanished with it (automounted media) or an empty mount point stays behind.
TEST_F(ViewerWindow, StartUpWithoutTheDiscWaitsForItAndKeepsTheFolder) {
  const std::string folder = disc_.path().string() + "/";
  for (const bool folder_vanishes : {true, false}) {
    SCOPED_TRACE(folder_vanishes ? "automounted" : "fixed mount point");
    viewertest::WriteNumbered(disc_.path(), 2);
    OpenDisc();  // once with the disc in: its drive is remembered
    main_.reset();
    fs::remove_all(disc_.path());
    volumes_.Remove(disc_.path());
    if (!folder_vanishes) {
      fs::create_directory(disc_.path());
      volumes_.Add(disc_.path().parent_path(), DriveType::Fixed);
    }
    bool waited = false;
    int rows_behind = -1;  // rows shown behind the dialog: none, since nothing is listed yet
    auto show = drive_->OnShow;
    drive_->OnShow = [&](TObject* s) {
      show(s);
      waited = true;
      rows_behind = 0;
      for (TMOInfo* row : main_->MInf) rows_behind += row->Segment->GetVisible();
      uitest::SaveScreenshot(*main_, "viewer-main-behind-drive-dialog");
      GetDispatcher().Post([&] {
        fs::create_directories(disc_.path());
        viewertest::WriteNumbered(disc_.path(), 3);
        volumes_.Add(disc_.path(), DriveType::Removable, "DISC1");
        clock_.AdvanceMillis(2000);
      });
    };
    Open();
    drive_->OnShow = show;
    EXPECT_TRUE(waited);
    EXPECT_EQ(rows_behind, 0);
    EXPECT_EQ(main_->GetFolder(), folder);
    EXPECT_EQ(Setting(100), disc_.path().string());
    EXPECT_EQ(main_->GetFileCount(), 3);
    EXPECT_TRUE(Messages().empty());
  }
}

class HandOver : public ViewerWindow {
 protected:
  void SetUp() override {
    ViewerWindow::SetUp();
    const fs::path stub = bin_.path() / "Orlune";
    std::ofstream(stub) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << fifo_.string() << "\"\n";
    chmod(stub.c_str(), 0755);
    mkfifo(fifo_.c_str(), 0600);
    viewertest::WriteNumbered(disc_.path(), 2);
  }
  ScratchFolder bin_{"viewer-bin"};
  fs::path fifo_ = bin_.path() / "args";
  ScopedEnv path_env_{"PATH", bin_.path().string() + ":" + getenv("PATH")};
};

TEST_F(HandOver, ARunningConverterIsBroughtForwardAndGetsTheFile) {
  ipc::WindowEndpoint converter(ConverterTitle(ecAdAgency));
  std::vector<std::string> received;
  int activated = 0;
  converter.OnCopyData = [&](const std::string& p) { received.push_back(p); };
  converter.OnActivate = [&] { ++activated; };
  TVANTMainMO& w = OpenDisc();
  uitest::Click(*w.MInf[1]->BTSelect, 10, 10);
  EXPECT_EQ(activated, 1);
  EXPECT_EQ(received, std::vector<std::string>{(disc_.path() / "CM02.wav").string()});
  // No converter was started: nobody ever opened the stub's pipe for writing.
  int fd = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
  char byte;
  EXPECT_EQ(read(fd, &byte, 1), 0);
  close(fd);
  EXPECT_TRUE(w.WatchDogTimer->GetEnabled());
}

TEST_F(HandOver, WithoutAConverterItIsStartedWithTheFile) {
  TVANTMainMO& w = OpenDisc();
  uitest::Click(*w.MInf[0]->BTLabel, 5, 5);  // the number on the button acts as the button
  std::ifstream args(fifo_);                 // blocks until the started stub writes
  std::stringstream s;
  s << args.rdbuf();
  EXPECT_EQ(s.str(), (disc_.path() / "CM01.wav").string() + "\n");
}

// A name that CP932 cannot hold reaches the converter whole.
TEST_F(HandOver, ANameOutsideCp932ArrivesWhole) {
  fs::rename(disc_.path() / "CM01.wav", disc_.path() / "Café Ω.wav");
  ipc::WindowEndpoint converter(ConverterTitle(ecAdAgency));
  std::vector<std::string> received;
  converter.OnCopyData = [&](const std::string& p) { received.push_back(p); };
  TVANTMainMO& w = OpenDisc();
  EXPECT_EQ(w.MInf[0]->FileName->GetText(), "Café Ω.wav");
  uitest::Click(*w.MInf[0]->BTSelect, 10, 10);
  EXPECT_EQ(received, std::vector<std::string>{(disc_.path() / "Café Ω.wav").string()});
}

TEST_F(ViewerWindow, RightClickOnTheTopStripShowsTheVersionWindowWithTheSplashPicture) {
  TVANTMainMO& w = OpenDisc();
  EXPECT_EQ(version_->GetWidth(), 480);  // the splash's picture 0, not the designed 320 x 120
  EXPECT_EQ(version_->GetHeight(), 250);
  int shown = 0;
  version_->OnShow = [&](TObject*) {
    ++shown;
    uitest::SaveScreenshot(*version_, "viewer-version");
    version_->SetModalResult(mrCancel);
  };
  uitest::Click(*w.VerSpot, 100, 5);
  EXPECT_EQ(shown, 0);
  uitest::Click(*w.VerSpot, 100, 5, mbRight);
  EXPECT_EQ(shown, 1);
}

}  // namespace
