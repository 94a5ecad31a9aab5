// The converter's main window driven as a person would: its layout, the image buttons under
// the pointer, the bars, the display of a file and the field checks.
#include "bwfmainaa.h"

#include <gtest/gtest.h>

#include <limits.h>

#include <fstream>
#include <map>
#include <vector>

#include <QApplication>
#include <QLineEdit>
#include <QPaintEvent>

#include "aabcresources.h"
#include "boxnotifier.h"
#include "bsplash.h"
#include "clock.h"
#include "comresources.h"
#include "cp932.h"
#include "dispatch.h"
#include "mainaatest.h"
#include "regeditbw.h"
#include "scratchfolder.h"
#include "sysreg.h"
#include "ui_application.h"
#include "ui_datetime.h"
#include "ui_testing.h"
#include "vantbuilder.h"
#include "verformaa.h"

using namespace vant;

namespace {

using vant::testing::ScratchFolder;

// Records what the window asks of the player.
class RecordingPlayer : public orlune::TNoPlayer {
 public:
  void PlayFrom(int64_t ms) override { calls.push_back("play " + std::to_string(ms)); }
  void ShowPosition(int x, int range) override {
    calls.push_back("show " + std::to_string(x) + "/" + std::to_string(range));
  }
  void SeekTo() override { calls.push_back("seek"); }
  void Stop() override { calls.push_back("stop"); }
  void Pause() override { calls.push_back("pause"); }
  void Restart() override { calls.push_back("restart"); }
  unsigned GetState() const override { return state; }
  void SetPlayLength(int64_t ms) override { calls.push_back("length " + std::to_string(ms)); }
  int64_t GetFileLength() const override { return 32000; }
  std::vector<std::string> calls;
  unsigned state = 0;
};

class MainWindowTest : public ConverterWindowTest {
 protected:
  MainWindowTest() { player_link_ = &player_; }
  // Whether the image shows item `index` of the skin list.
  static bool Shows(g32::TImage32* image, g32::TBitmap32List& list, int index) {
    return image->GetBitmap()->WriteData() == list.GetBitmap(index)->WriteData();
  }
  bool ShowsCom(g32::TImage32* image, int index) { return Shows(image, com_->Bitmap32List, index); }
  bool ShowsAabc(g32::TImage32* image, int index) {
    return Shows(image, aabc_->Bitmap32List, index);
  }
  // A point inside `c` in `parent`-independent terms: the control's own client coordinates.
  static void Press(TControl& c) { uitest::MouseDown(c, 5, 5); }

  RecordingPlayer player_;
};

// A commercial with every mark, a PDF and a CSV attachment, stated length "30" and 30 s marked.
vb::TempFile FullFile() { return vb::TempFile(vb::Build(vb::FullVantChunks(4800))); }

TEST_F(MainWindowTest, SplashHoldsTheWindowBackForItsTime) {
  splash_->Show();
  TVANTMainAA w(nullptr);
  w.DoCreate();
  EXPECT_TRUE(w.Timer1->GetEnabled());
  clock_.AdvanceMillis(2999);
  Application->ProcessMessages();
  EXPECT_TRUE(splash_->GetVisible());
  clock_.AdvanceMillis(1);
  Application->ProcessMessages();
  EXPECT_FALSE(splash_->GetVisible());
  EXPECT_FALSE(w.Timer1->GetEnabled());
  EXPECT_EQ(FormatSettings().ShortDateFormat, "yyyy/mm/dd");
}

TEST_F(MainWindowTest, WithoutAFileTheOpenDialogIsAskedAndTheLampsStayDark) {
  TVANTMainAA& w = Start();
  ASSERT_EQ(dialogs_.answerer.Asked().size(), 1u);
  EXPECT_EQ(dialogs_.answerer.Asked()[0].file.filter, "VANT files (*.wav)|*.wav");
  EXPECT_EQ(w.Model(), nullptr);
  EXPECT_EQ(w.GetCaption(), "オルネ　広告会社仕様");
  EXPECT_EQ(w.ClientWidth(), 1022);
  EXPECT_EQ(w.ClientHeight(), 686);
  EXPECT_TRUE(ShowsCom(w.BTIndZOM, 13) && ShowsCom(w.BTIndVANT, 15) && ShowsCom(w.BTIndWav, 17));
  EXPECT_TRUE(ShowsAabc(w.BTAlart, 18));
  EXPECT_TRUE(ShowsAabc(w.BaseImage, 28));
  EXPECT_EQ(version_->ClientWidth(), 480);
}

// The window is on screen behind the first open dialog and the first file's messages, so it must
// already wear its skin then, not only from its first activation on.
TEST_F(MainWindowTest, TheWindowBehindTheFirstOpenDialogIsAlreadySkinned) {
  struct Peek : ScriptedAnswerer {
    bool FileDialog(FileDialogRequest& r) override {
      skinned = look();
      return ScriptedAnswerer::FileDialog(r);
    }
    std::function<bool()> look;
    bool skinned = false;
  } peek;
  peek.look = [this] {
    TVANTMainAA& w = *window_;
    return ShowsAabc(w.BaseImage, 28) && ShowsAabc(w.BTOpen, 8) && ShowsCom(w.BTPlay, 4) &&
           ShowsCom(w.BTIndZOM, 13) && ShowsAabc(w.BTAlart, 18) && w.BTOpen->GetTag() == 108;
  };
  SetDialogAnswerer(&peek);
  Start();
  SetDialogAnswerer(&dialogs_.answerer);
  ASSERT_EQ(peek.Asked().size(), 1u);
  EXPECT_TRUE(peek.skinned);
}

TEST_F(MainWindowTest, ControlsSitAtTheirPlacesWithTheirTagsAndPictures) {
  TVANTMainAA& w = Start();
  struct Case {
    g32::TImage32* image;
    TRect bounds;
    int tag;
  } cases[] = {
      {w.BTAlart, Bounds(842, 13, 37, 37), 118},    {w.BTIndZOM, Bounds(20, 62, 66, 27), 12},
      {w.BTIndWav, Bounds(172, 62, 66, 27), 16},    {w.BTPlay, Bounds(658, 65, 31, 31), 4},
      {w.BTPause, Bounds(697, 65, 31, 31), 6},      {w.BTStop, Bounds(733, 65, 31, 31), 2},
      {w.BTValume, Bounds(768, 65, 101, 31), 8},    {w.BTHandle, Bounds(788, 69, 8, 23), 9},
      {w.BTPosition, Bounds(661, 97, 233, 21), 26}, {w.BTPosHandle, Bounds(661, 103, 23, 8), 27},
      {w.BTOpen, Bounds(914, 35, 95, 24), 108},     {w.BTSave, Bounds(914, 78, 95, 24), 112},
      {w.BTImport, Bounds(914, 170, 95, 24), 120},  {w.BTExport, Bounds(914, 211, 95, 24), 114},
      {w.BTExit, Bounds(914, 647, 95, 24), 10},     {w.BTDispPDF, Bounds(557, 367, 50, 23), 110},
      {w.BTSavePDF, Bounds(613, 367, 50, 23), 104}, {w.BTAttachCSV, Bounds(681, 367, 50, 23), 100},
      {w.BTDispCSV, Bounds(738, 367, 50, 23), 116}, {w.BTDeleteCSV, Bounds(795, 367, 50, 23), 106},
      {w.BTCsvSel, Bounds(617, 30, 69, 23), 122},   {w.BTPdfSel, Bounds(617, 64, 69, 23), 124},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image->GetName());
    EXPECT_EQ(c.image->BoundsRect(), c.bounds);
    EXPECT_EQ(c.image->GetTag(), c.tag);
  }
  EXPECT_EQ(w.MainPage->BoundsRect(), Bounds(15, 123, 879, 549));
  EXPECT_EQ(w.BaseImage->BoundsRect(), Bounds(3, 3, 1016, 684));
  EXPECT_EQ(w.CommonCode->GetMaxLength(), 24);
  EXPECT_EQ(w.ItemNumber->GetMaxLength(), 16);
  EXPECT_EQ(w.CommonCode->GetImeMode(), imDisable);
  EXPECT_TRUE(ShowsAabc(w.BTOpen, 8) && ShowsCom(w.BTPlay, 4) && ShowsAabc(w.BTCsvSel, 22));
  EXPECT_TRUE(ShowsCom(w.BTValume, 8) && ShowsCom(w.BTPosHandle, 27));
}

TEST_F(MainWindowTest, ImageButtonsFollowThePointer) {
  TVANTMainAA& w = Start();
  // A transport button keeps its pressed picture after the release, until the pointer moves.
  uitest::MouseDown(*w.BTPlay, 10, 10);
  EXPECT_TRUE(ShowsCom(w.BTPlay, 5));
  uitest::MouseUp(*w.BTPlay, 10, 10);
  EXPECT_TRUE(ShowsCom(w.BTPlay, 5));
  uitest::MouseMove(*w.BTPlay, 11, 10, false);
  EXPECT_TRUE(ShowsCom(w.BTPlay, 4));
  // A file button returns to its normal picture at once, after running its action.
  uitest::MouseDown(*w.BTOpen, 10, 10);
  EXPECT_TRUE(ShowsAabc(w.BTOpen, 9));
  uitest::MouseUp(*w.BTOpen, 10, 10);
  EXPECT_TRUE(ShowsAabc(w.BTOpen, 8));
  EXPECT_EQ(dialogs_.answerer.Asked().size(), 2u);  // the start-up's dialog and this one
  // While a save runs nothing is pressed or run; moving still resets the picture.
  w.Busy = true;
  uitest::MouseDown(*w.BTOpen, 10, 10);
  uitest::MouseUp(*w.BTOpen, 10, 10);
  EXPECT_TRUE(ShowsAabc(w.BTOpen, 8));
  EXPECT_EQ(dialogs_.answerer.Asked().size(), 2u);
  w.Busy = false;
  uitest::MouseDown(*w.BTStop, 5, 5);
  EXPECT_TRUE(ShowsCom(w.BTStop, 3));
  w.Busy = true;
  uitest::MouseMove(*w.BTStop, 6, 5, true);
  EXPECT_TRUE(ShowsCom(w.BTStop, 2));
}

TEST_F(MainWindowTest, VolumeBarFromTheSettingAndUnderThePointer) {
  struct Case {
    std::optional<int> stored;
    int handle, volume;
  } cases[] = {
      {std::nullopt, 20, 0}, {16384, 58, 16384}, {32767, 96, 32767}, {40000, 20, 0}, {-1, 20, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored.value_or(-99));
    {
      TSysRegVANT reg(nullptr);
      if (c.stored) reg.WriteWorkInteger(106, *c.stored);
    }
    TVANTMainAA& w = Start();
    EXPECT_EQ(w.BTHandle->GetLeft() - w.BTValume->GetLeft(), c.handle);
    EXPECT_EQ(player_.GetVolume(), c.volume);
    if (c.stored && (*c.stored < 0 || *c.stored > 32767)) {
      EXPECT_EQ(SysRegVANT->ReadWorkInteger(106), 0);  // written back
    }
    window_.reset();
    std::filesystem::remove_all(config_.path() / "QORA");
  }
  TVANTMainAA& w = Start();
  const int L = w.BTValume->GetLeft(), W = w.BTValume->GetWidth();
  uitest::MouseDown(*w.BTValume, W - 5, 12);
  EXPECT_EQ(player_.GetVolume(), 32342);
  EXPECT_EQ(w.BTHandle->GetLeft(), L + W - 5);
  for (auto [x, y] : {std::pair{50, 0}, {50, 25}, {19, 10}, {W - 4, 10}}) {
    uitest::MouseDown(*w.BTValume, x, y);
    EXPECT_EQ(player_.GetVolume(), 32342) << x << "," << y;
  }
  uitest::MouseDown(*w.BTValume, 20, 1);
  EXPECT_EQ(player_.GetVolume(), 0);
  EXPECT_EQ(w.BTHandle->GetLeft(), L + 20);
}

TEST_F(MainWindowTest, ShowsAFileOnBothPages) {
  auto file = FullFile();
  TVANTMainAA& w = Start(file.path().string());
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_FALSE(w.Modified);
  EXPECT_EQ(w.BWFFileName->GetText(), file.path().filename().string());
  EXPECT_EQ(w.CMTitle->GetText(), text::ToUtf8(vb::kSjisTitle));
  EXPECT_EQ(w.CMLength->GetText(), "30");
  EXPECT_EQ(w.ProductionCode->GetText(), "PC-0001");
  EXPECT_EQ(w.FileType->GetText(), "1:PCM");
  EXPECT_EQ(w.Channels->GetText(), "STEREO");
  EXPECT_EQ(w.SamplingFreq->GetText(), "48.0");
  EXPECT_EQ(w.CMActualLength->GetText(), "30.00");
  EXPECT_EQ(w.Remarks->GetText(), "remarks here");
  EXPECT_EQ(w.PDFList->Items().Count(), 1);
  EXPECT_EQ(w.PDFList->Items()[0], "contact.pdf");
  ASSERT_EQ(w.CSVList->Items().Count(), 1);
  EXPECT_EQ(w.CSVList->Items()[0], text::ToUtf8(vb::kSjisCsvName));
  EXPECT_EQ(w.AttachCount, 2);
  EXPECT_EQ(w.FreeSlots, 7);
  EXPECT_TRUE(w.FieldsEmpty);  // no item number, common code or agency comment
  EXPECT_TRUE(ShowsCom(w.BTIndZOM, 12) && ShowsCom(w.BTIndVANT, 15) && ShowsCom(w.BTIndWav, 17));
  EXPECT_TRUE(ShowsAabc(w.BTAlart, 19));
  uitest::SaveScreenshot(w, "app_converter_main_page");
  // Read-only fields are drawn grey, not in an edit's white (bottom right, clear of text).
  for (TWinControl* field :
       {static_cast<TWinControl*>(w.BWFFileName), static_cast<TWinControl*>(w.ClientName),
        static_cast<TWinControl*>(w.CMTitle)}) {
    EXPECT_EQ(uitest::RenderedPixel(*field, field->GetWidth() - 5, field->GetHeight() - 4),
              TColor(0xE1E1E1))
        << field->GetName();
  }
  uitest::Click(*w.SubTab, 20, 8);
  EXPECT_TRUE(w.SubPage->GetVisible());
  EXPECT_FALSE(w.MainPage->GetVisible());
  EXPECT_TRUE(ShowsAabc(w.BaseImage, 29));
  uitest::SaveScreenshot(w, "app_converter_sub_page");
  for (TWinControl* field :
       {static_cast<TWinControl*>(w.AdCompany), static_cast<TWinControl*>(w.Production),
        static_cast<TWinControl*>(w.RecordingStudio), static_cast<TWinControl*>(w.RSComment),
        static_cast<TWinControl*>(w.Remarks)}) {
    EXPECT_EQ(uitest::RenderedPixel(*field, field->GetWidth() - 5, field->GetHeight() - 4),
              TColor(0xE1E1E1))
        << field->GetName();
  }
  uitest::Click(*w.MainTab, 20, 8);
  EXPECT_TRUE(w.MainPage->GetVisible());

  w.ClearFields();
  EXPECT_EQ(w.CMTitle->GetText(), "");
  EXPECT_EQ(w.FileType->GetText(), "");
  EXPECT_EQ(w.PDFList->Items().Count(), 0);
  EXPECT_FALSE(w.Modified);
}

TEST_F(MainWindowTest, RelativePathIsOpenedAndRememberedAsAbsolute) {
  auto file = FullFile();
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(file.path().parent_path());
  TVANTMainAA& w = Start(file.path().filename().string());
  std::filesystem::current_path(cwd);
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.CurrentPath, file.path().string());
  EXPECT_EQ(SysRegVANT->ReadWorkString(101), file.path().string());
}

// Any path the system opens is opened from the command line, however long; a longer one is
// refused aloud and never cut (a cut path could name another file), and the open dialog that
// follows offers no other file in its place.
TEST_F(MainWindowTest, EveryPathTheSystemOpensIsOpenedAndALongerOneIsRefusedAloud) {
  namespace fs = std::filesystem;
  // The longest path the system takes: nested folders up to PATH_MAX - 1 bytes.
  fs::path folder = runtime_.path();
  while (folder.string().size() + 201 < PATH_MAX - 11) folder /= std::string(200, 'd');
  fs::create_directories(folder);
  const std::string path =
      folder.string() + "/" + std::string(PATH_MAX - 6 - folder.string().size(), 'n') + ".wav";
  ASSERT_EQ(path.size(), size_t(PATH_MAX - 1));
  const vb::Bytes bytes = vb::Build(vb::FullVantChunks(4800));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  TVANTMainAA::CommandLine = {path};
  TVANTMainAA& w = Start();
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.Model()->GetPath(), path);
  EXPECT_TRUE(dialogs_.answerer.Asked().empty());
  window_.reset();

  // The file opened before must not be offered in the dialog that follows the refusal.
  TVANTMainAA::CommandLine = {path + "x"};
  TVANTMainAA& refused = Start();
  EXPECT_EQ(refused.Model(), nullptr);
  const auto& asked = dialogs_.answerer.Asked();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].kind, ScriptedAnswerer::Question::kMessage);
  EXPECT_EQ(asked[0].text, "ファイルのパスが長すぎるため、開くことができません。");
  EXPECT_EQ(asked[1].kind, ScriptedAnswerer::Question::kFile);
  EXPECT_EQ(asked[1].file.file_name, "");
  fs::remove_all(runtime_.path() / std::string(200, 'd'));
}

TEST_F(MainWindowTest, FilesThatCannotBeShownLeaveTheWindowEmpty) {
  TBoxNotifier notifier;
  TScopedNotifier notifying(notifier);
  // Not PCM: the model says why and nothing is shown.
  vb::TempFile adpcm(vb::Build({vb::Fmt(48000, 2, 4, 2), vb::Data(64)}));
  TVANTMainAA& w = Start(adpcm.path().string());
  EXPECT_EQ(w.Model(), nullptr);
  EXPECT_EQ(w.FileType->GetText(), "");
  ASSERT_FALSE(dialogs_.answerer.Asked().empty());
  EXPECT_EQ(dialogs_.answerer.Asked().back().kind, ScriptedAnswerer::Question::kMessage);
  window_.reset();
  // Missing: nothing opens and nothing is said.
  const size_t asked = dialogs_.answerer.Asked().size();
  TVANTMainAA& w2 = Start((runtime_.path() / "missing.wav").string());
  EXPECT_EQ(w2.Model(), nullptr);
  EXPECT_EQ(dialogs_.answerer.Asked().size(), asked);
}

TEST_F(MainWindowTest, LampsByFileKind) {
  struct Case {
    std::vector<vb::Chunk> chunks;
    int lit;  // 12, 14 or 16
    bool length_on;
    const char* actual;
  } cases[] = {
      // Commercial data with a stated length one second off.
      {{vb::Fmt(), vb::Cmcd(100, {{876, "31"}}), vb::Data(64),
        vb::CueChunk({{1, 0}, {2, 0}, {3, 1440000}}),
        vb::List("adtl",
                 {vb::Labl(1, "BC$START"), vb::Labl(2, "BC$STANDBY"), vb::Labl(3, "BC$END")})},
       12,
       false,
       "30.00"},
      // Broadcast extension only: first shown with the lamp off, whatever the marks.
      {{vb::Fmt(48000, 1), vb::Bext("x"), vb::Data(64), vb::CueChunk({{2, 0}, {3, 48000}}),
        vb::List("adtl", {vb::Labl(2, "BC$STANDBY"), vb::Labl(3, "BC$END")})},
       14,
       false,
       ""},
      {{vb::Fmt(44100, 1), vb::Data(64)}, 16, false, ""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.lit);
    vb::TempFile file(vb::Build(c.chunks));
    TVANTMainAA& w = Start(file.path().string());
    ASSERT_NE(w.Model(), nullptr);
    for (auto [lamp, item] : {std::pair{w.BTIndZOM, 12}, {w.BTIndVANT, 14}, {w.BTIndWav, 16}})
      EXPECT_TRUE(ShowsCom(lamp, item == c.lit ? item : item + 1)) << item;
    EXPECT_TRUE(ShowsAabc(w.BTAlart, c.length_on ? 19 : 18));
    EXPECT_EQ(w.CMActualLength->GetText(), c.actual);
    window_.reset();
  }
  TVANTMainAA& w = Start();
  EXPECT_EQ(w.Channels->GetText(), "");
}

// A lamp describes the file shown: a failed open empties the fields and darkens the lamps with
// them, whatever the refused file was.
TEST_F(MainWindowTest, AFailedOpenDarkensTheLampsWithTheFields) {
  TBoxNotifier notifier;
  TScopedNotifier notifying(notifier);
  vb::TempFile good(vb::Build({vb::Fmt(), vb::Cmcd(100, {{876, "30"}}), vb::Data(64),
                               vb::CueChunk({{1, 0}, {2, 0}, {3, 1440000}}),
                               vb::List("adtl", {vb::Labl(1, "BC$START"), vb::Labl(2, "BC$STANDBY"),
                                                 vb::Labl(3, "BC$END")})}));
  const std::string line = "not a wave file\n";
  vb::TempFile text(vb::Bytes(line.begin(), line.end()), "notwave.wav");
  vb::TempFile adpcm(vb::Build({vb::Fmt(48000, 2, 4, 2), vb::Data(64)}));
  for (const vb::TempFile* refused : {&text, &adpcm}) {
    SCOPED_TRACE(refused->path().filename().string());
    TVANTMainAA& w = Start(good.path().string());
    ASSERT_TRUE(ShowsCom(w.BTIndZOM, 12) && ShowsAabc(w.BTAlart, 19));
    w.OpenFile(refused->path().string());
    EXPECT_EQ(w.Model(), nullptr);
    EXPECT_EQ(w.CMLength->GetText(), "");
    EXPECT_TRUE(ShowsCom(w.BTIndZOM, 13) && ShowsCom(w.BTIndVANT, 15) && ShowsCom(w.BTIndWav, 17));
    EXPECT_TRUE(ShowsAabc(w.BTAlart, 18));
    uitest::SaveScreenshot(w, "app_converter_failed_open_lamps");
    window_.reset();
  }
}

TEST_F(MainWindowTest, FieldChecksColourAndOnlyTheCommonCodeBlocks) {
  auto file = FullFile();
  TVANTMainAA& w = Start(file.path().string());
  struct Case {
    TControl* field;
    const char* text;
    bool blocks, red;
  } cases[] = {
      {w.CMLength, "29,5", false, true},          {w.CMLength, "1.2.3", false, true},
      {w.CMLength, "29.5", false, false},         {w.CreationDate, "2024/02/30", false, true},
      {w.Limitation, "2024/13/01", false, true},  {w.CreationDate, "01/02/2024", false, true},
      {w.Limitation, "2024/02/29", false, false}, {w.CommonCode, "ＡＢ12", true, true},
      {w.CommonCode, "AB12ｶﾅ", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    w.ClearFields();
    EXPECT_EQ(c.field->Font().GetColor(), clWindowText);
    c.field->SetText(c.text);
    EXPECT_EQ(w.ValidateFields(), c.blocks);
    EXPECT_EQ(c.field->Font().GetColor(), c.red ? TColor(255) : clWindowText);
  }
  // All at once, as a person sees them before a refused save.
  w.ClearFields();
  w.CMLength->SetText("29,5");
  w.CreationDate->SetText("2024/02/30");
  w.Limitation->SetText("2024/13/01");
  w.CommonCode->SetText("ＡＢ12");
  EXPECT_TRUE(w.ValidateFields());
  uitest::SaveScreenshot(w, "app_converter_invalid_fields");
}

TEST_F(MainWindowTest, UneditedFieldsKeepTheirBytesAndEditsAreCutAtACharacter) {
  // An item number whose 16 bytes end inside a double-byte character.
  std::string cut = "ABCDEFGHIJKLMNO";
  cut += '\x82';
  const auto off = bwf::Layout(bwf::CmcdField::ItemNumber).offset;
  vb::TempFile file(vb::Build({vb::Fmt(), vb::Cmcd(100, {{off, cut}}), vb::Data(64)}));
  TVANTMainAA& w = Start(file.path().string());
  EXPECT_EQ(w.FieldBytes(w.ItemNumber), cut);
  EXPECT_FALSE(w.FieldsEmpty);
  EXPECT_FALSE(w.Modified);

  w.ItemNumber->SetText("");
  uitest::Type(*w.ItemNumber, "あいうえおかきくけ");
  EXPECT_TRUE(w.Modified);
  EXPECT_EQ(w.ItemNumber->GetText(), "あいうえおかきく");
  EXPECT_EQ(w.FieldBytes(w.ItemNumber), text::ToCp932Lossy("あいうえおかきく"));
}

TEST_F(MainWindowTest, TransportButtonsAskThePlayer) {
  auto file = FullFile();
  TVANTMainAA& w = Start(file.path().string());
  struct Case {
    int index;
    unsigned state;
    std::vector<std::string> calls;
  } cases[] = {
      {4, 0, {"length 32000", "play 0"}},
      {4, orlune::kPlaying, {}},
      {4, orlune::kPlaying | orlune::kPaused, {"length 32000", "restart"}},
      {6, orlune::kPlaying, {"length 32000", "pause"}},
      {6, orlune::kPlaying | orlune::kPaused, {}},
      {2, orlune::kPlaying, {"length 32000", "stop"}},
      {18, 0, {"stop", "length 32000", "play 0"}},
      {20, 0, {"stop", "length 32000", "play 1000"}},
      {22, 0, {"stop", "length 31000", "play 28000"}},
      {24, 0, {"stop", "length 31250", "play 28250"}},
      {18, orlune::kPlaying, {"stop"}},  // a player that did not stop plays nothing new
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    player_.calls.clear();
    player_.state = c.state;
    w.ExecPlayerButton(c.index);
    EXPECT_EQ(player_.calls, c.calls);
  }
  // Released under the pointer, as a person plays.
  player_.calls.clear();
  player_.state = 0;
  uitest::Click(*w.BTPlay, 10, 10);
  EXPECT_EQ(player_.calls, (std::vector<std::string>{"length 32000", "play 0"}));
}

TEST_F(MainWindowTest, PositionBarSeeksOnlyInsideItsSpanWithAFileOpen) {
  {
    TVANTMainAA& w = Start();
    uitest::MouseDown(*w.BTPosition, 50, 10);
    EXPECT_TRUE(player_.calls.empty());
    window_.reset();
  }
  auto file = FullFile();
  TVANTMainAA& w = Start(file.path().string());
  const int P = w.BTPosition->GetLeft();
  for (auto [x, y] : {std::pair{50, 0}, {50, 21}, {220, 10}, {1, 10}}) {
    uitest::MouseDown(*w.BTPosition, x, y);
    EXPECT_TRUE(player_.calls.empty()) << x << "," << y;
  }
  uitest::MouseDown(*w.BTPosition, 50, 10);
  EXPECT_EQ(player_.calls, (std::vector<std::string>{"stop", "show 50/222", "seek"}));
  EXPECT_EQ(w.BTPosHandle->GetLeft(), P + 50);
  // A reported position moves the handle with the display's next frame, the meters' update.
  w.PositionCallback("", 0, 0.5);
  EXPECT_EQ(w.BTPosHandle->GetLeft(), P + 50);
  clock_.AdvanceMillis(100);
  for (int i = 0; i < 3; ++i) Application->ProcessMessages();
  EXPECT_EQ(w.BTPosHandle->GetLeft(), P + 105);
  player_.calls.clear();
  w.Busy = true;
  uitest::MouseDown(*w.BTPosition, 60, 10);
  EXPECT_TRUE(player_.calls.empty());
}

// The pointer held on `source` (which has the mouse while the button is down) moved to (x, y)
// of `over`.
void DragTo(TControl& source, TControl& over, int x, int y) {
  const TPoint p = source.ScreenToClient(over.ClientToScreen({x, y}));
  uitest::MouseMove(source, p.X, p.Y, true);
}
void DropOn(TControl& source, TControl& over, int x, int y) {
  const TPoint p = source.ScreenToClient(over.ClientToScreen({x, y}));
  uitest::MouseUp(source, p.X, p.Y);
}

TEST_F(MainWindowTest, HandlesAreDraggedAlongTheirBars) {
  auto file = FullFile();
  TVANTMainAA& w = Start(file.path().string());
  const int L = w.BTValume->GetLeft(), P = w.BTPosition->GetLeft();
  // The volume handle follows inside the bar's span and stays put outside it.
  uitest::MouseDown(*w.BTHandle, 4, 10);
  DragTo(*w.BTHandle, *w.BTHandle, 7, 10);  // within the drag threshold, over itself
  EXPECT_EQ(w.BTHandle->GetLeft(), L + 20);
  DragTo(*w.BTHandle, *w.BTValume, 60, 12);
  EXPECT_EQ(w.BTHandle->GetLeft(), L + 60);
  DragTo(*w.BTHandle, *w.BTValume, 99, 12);
  EXPECT_EQ(w.BTHandle->GetLeft(), L + 60);
  DropOn(*w.BTHandle, *w.BTValume, 99, 12);
  EXPECT_EQ(player_.GetVolume(), (60 - 20) * 32768 / 77);
  // The position handle: stops at the press, follows without playing, seeks where dropped.
  player_.calls.clear();
  uitest::MouseDown(*w.BTPosHandle, 5, 4);
  DragTo(*w.BTPosHandle, *w.BTPosition, 100, 10);
  EXPECT_EQ(w.BTPosHandle->GetLeft(), P + 100);
  ASSERT_GE(player_.calls.size(), 2u);
  EXPECT_EQ(player_.calls.front(), "stop");
  EXPECT_EQ(player_.calls.back(), "show 100/222");  // shown, not played
  // Dropped on the bar beside the handle: moved there and played from there.
  DragTo(*w.BTPosHandle, *w.BTPosition, 150, 3);
  DropOn(*w.BTPosHandle, *w.BTPosition, 150, 3);
  EXPECT_EQ(w.BTPosHandle->GetLeft(), P + 150);
  ASSERT_GE(player_.calls.size(), 2u);
  EXPECT_EQ(player_.calls[player_.calls.size() - 2], "show 150/222");
  EXPECT_EQ(player_.calls.back(), "seek");
}

TEST_F(MainWindowTest, RightClickOnTheTopStripShowsTheVersionWindow) {
  TVANTMainAA& w = Start();
  // The strip spans the window's top, and the pointer finds it there, not only at its left end.
  EXPECT_EQ(w.VerSpot->BoundsRect(), Bounds(-2, -3, 1013, 16));
  for (int x : {10, 300, 1000}) EXPECT_EQ(uitest::ControlAt(w, 3 + x, 3 + 6), w.VerSpot) << x;
  bool shown = false;
  GetDispatcher().Post([&] {
    shown = version_->GetVisible();
    version_->Close();
  });
  uitest::Click(*w.VerSpot, 300, 8, mbLeft);  // a left click does nothing
  EXPECT_FALSE(shown);
  uitest::Click(*w.VerSpot, 300, 8, mbRight);
  EXPECT_TRUE(shown);
  EXPECT_FALSE(version_->GetVisible());
}

TEST_F(MainWindowTest, ShortDateFormatIsRestoredWhenTheWindowGoes) {
  FormatSettings().ShortDateFormat = "dd/mm/yyyy";
  Start();
  EXPECT_EQ(FormatSettings().ShortDateFormat, "yyyy/mm/dd");
  window_.reset();
  EXPECT_EQ(FormatSettings().ShortDateFormat, "dd/mm/yyyy");
  FormatSettings().ShortDateFormat = "yyyy/mm/dd";
}

}  // namespace

namespace {
// The controls of a window and its children, depth first.
void EveryControl(TControl* c, std::vector<TControl*>& out) {
  out.push_back(c);
  if (auto* w = dynamic_cast<TWinControl*>(c))
    for (int i = 0; i < w->ControlCount(); ++i) EveryControl(w->Controls(i), out);
}

// The pixels the toolkit's paint events asked for, over all widgets.
class PaintedArea : public QObject {
 public:
  int64_t pixels = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint)
      for (const QRect& r : static_cast<QPaintEvent*>(e)->region())
        pixels += int64_t(r.width()) * r.height();
    return false;
  }
};
}  // namespace

// A blink of the text cursor while the window waits paints the cursor's few pixels again: no
// control draws its picture anew, nothing around the cursor is painted.
TEST_F(MainWindowTest, ACaretBlinkRepaintsTheCursorAlone) {
  auto file = FullFile();
  TVANTMainAA& w = Start(file.path().string());
  w.ItemNumber->SetFocus();
  Application->ProcessMessages();
  std::vector<TControl*> controls;
  EveryControl(&w, controls);
  std::map<TControl*, qint64> pictures;
  for (TControl* c : controls)
    if (c->LastPaint()) pictures[c] = c->LastPaint()->cacheKey();
  // What the edit's blink timer asks for: its cursor's rectangle painted again.
  auto* edit = qobject_cast<QLineEdit*>(w.ItemNumber->Host());
  ASSERT_NE(edit, nullptr);
  const QRect caret = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
  PaintedArea painted;
  qApp->installEventFilter(&painted);
  edit->update(caret);
  Application->ProcessMessages();
  qApp->removeEventFilter(&painted);
  for (const auto& [c, key] : pictures)
    EXPECT_EQ(c->LastPaint()->cacheKey(), key) << c->GetName() << " drew its picture again";
  // The edit and the page under it, each for the cursor's rectangle.
  EXPECT_GT(painted.pixels, 0);
  EXPECT_LE(painted.pixels, 2 * int64_t(caret.width()) * caret.height());
}
