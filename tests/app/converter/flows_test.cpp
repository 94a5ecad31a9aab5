// The converter's file flows end to end, as a person works: files chosen in scripted dialogs,
// questions answered from the script, clicks on the buttons and typed text; then the files on
// disc are read back with the model and with libsndfile's programs.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTest>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "aabcresources.h"
#include "boxnotifier.h"
#include "bsplash.h"
#include "bwfattach.h"
#include "bwfcsv.h"
#include "bwffilelayer.h"
#include "bwfmainaa.h"
#include "bwfsave.h"
#include "clock.h"
#include "comresources.h"
#include "cp932.h"
#include "mainaatest.h"
#include "progform.h"
#include "regeditbw.h"
#include "scratchfolder.h"
#include "sysreg.h"
#include "ui_application.h"
#include "ui_testing.h"
#include "vantbuilder.h"
#include "verformaa.h"

extern char** environ;

using namespace vant;
namespace fs = std::filesystem;

namespace {

using vant::testing::ScratchFolder;

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}
void WriteBytes(const fs::path& p, const vb::Bytes& bytes) {
  WriteBytes(p, std::string(bytes.begin(), bytes.end()));
}
std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a program and lets the window's message loop run until it has ended; the programs used
// here bound their own waits, which ends the loop.
int RunBeside(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) Application->ProcessMessages();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Shell(const std::string& command) { return WEXITSTATUS(std::system(command.c_str())); }

// Runs the current test again in a private mount namespace, after `mount` (shell words, the
// folder as "$0") was done on `folder`; the run finds the folder in the environment variable
// `env`. Skips the test where no namespace or mount can be had.
void RerunWithMount(const char* env, const fs::path& folder, const std::string& mount) {
  if (Shell("unshare -m --propagation private true 2>/dev/null") != 0)
    GTEST_SKIP() << "no private mount namespace here";
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const int rc =
      Shell("unshare -m --propagation private sh -c '" + mount + " 2>/dev/null || exit 77; " + env +
            "=\"$0\" exec \"$1\" --gtest_filter=" + test->test_suite_name() + "." + test->name() +
            "' '" + folder.string() + "' /proc/" + std::to_string(getpid()) + "/exe");
  if (rc == 77) GTEST_SKIP() << "no such mount here";
  EXPECT_EQ(rc, 0);
}

// The save's file layer with writes that fail as on a full disc.
class FullDiscLayer : public TBWFPosixFileLayer {
 public:
  bool Write(int, const void*, size_t) override {
    errno = ENOSPC;
    return false;
  }
  bool CopyRange(int, uint64_t, int, size_t) override {
    errno = ENOSPC;
    return false;
  }
};

// A commercial with the four marks, a PDF and a CSV attachment ("一覧.csv"), stated length 30 s.
vb::Bytes FullFile() { return vb::Build(vb::FullVantChunks(4800)); }

// A commercial with nine attachments: contact.pdf and sheet2.csv ... sheet9.csv.
vb::Bytes NineAttachments() {
  std::vector<vb::Cue> cues;
  std::vector<vb::Chunk> adtl;
  for (int n = 1; n <= 9; ++n) {
    cues.push_back({vb::Note(n), 0});
    adtl.push_back(vb::Labl(vb::Note(n), "BC$NOTE" + std::to_string(n)));
    if (n == 1) {
      adtl.push_back(vb::File(vb::Note(n), "contact.pdf", vb::PdfBytes()));
    } else {
      adtl.push_back(
          vb::File(vb::Note(n), "sheet" + std::to_string(n) + ".csv", {'1', '\r', '\n'}));
    }
  }
  return vb::Build(
      {vb::Fmt(), vb::Cmcd(100, {}), vb::Data(4800), vb::CueChunk(cues), vb::List("adtl", adtl)});
}

std::string Sjis(const std::string& utf8) { return text::ToCp932Lossy(utf8); }

class FlowTest : public ConverterWindowTest {
 protected:
  void SetUp() override {
    ConverterWindowTest::SetUp();
    SetBWFNotifier(&notifier_);  // the model's messages as boxes, as the program shows them
  }
  void TearDown() override {
    SetBWFFileLayer(nullptr);
    ConverterWindowTest::TearDown();
    SetBWFNotifier(nullptr);
  }
  TVANTMainAA& Start(const fs::path& file = {}) {
    return ConverterWindowTest::Start(file.string());
  }
  fs::path Put(const std::string& name, const vb::Bytes& bytes) {
    const fs::path p = work_.path() / name;
    WriteBytes(p, bytes);
    return p;
  }
  // The texts of the message boxes asked so far, from `from` on.
  std::vector<std::string> Messages(size_t from = 0) const {
    std::vector<std::string> out;
    const auto& asked = dialogs_.answerer.Asked();
    for (size_t i = from; i < asked.size(); ++i)
      if (asked[i].kind == ScriptedAnswerer::Question::kMessage) out.push_back(asked[i].text);
    return out;
  }
  size_t FileDialogs() const {
    size_t n = 0;
    for (const auto& q : dialogs_.answerer.Asked())
      n += q.kind == ScriptedAnswerer::Question::kFile;
    return n;
  }
  size_t Asked() const { return dialogs_.answerer.Asked().size(); }
  ScriptedAnswerer& Script() { return dialogs_.answerer; }
  static std::string Setting(int n) { return SysRegVANT->ReadWorkString(n); }
  static void Select(TListBox* list, const std::string& line) {
    list->SetItemIndex(list->Items().IndexOf(line));
  }
  static void Press(g32::TImage32* button) { uitest::Click(*button, 5, 5); }
  static void Retype(TWinControl* field, const std::string& text) {
    field->SetText("");
    uitest::Type(*field, text);
  }

  ScratchFolder work_{"orlune-work"};
  TBoxNotifier notifier_;
  bool shrink_temp = false;
};

constexpr const char* kMsgSaveUnwritableExisting =
    "ドライブが書き込み禁止または空き容量がないため、上書き保存することはできません。\n"
    "別の保存場所を指定してください。";
constexpr const char* kUnsaved =
    "編集データが保存されていません。新しいファイルを開いてよろしいですか？";

TEST_F(FlowTest, OpensByArgumentAndByTheOpenButton) {
  const fs::path a = Put("a.wav", FullFile()), b = Put("b.wav", NineAttachments());
  TVANTMainAA& w = Start(a);
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.Model()->GetPath(), a);
  EXPECT_EQ(Asked(), 0u);
  EXPECT_EQ(Setting(101), a.string());
  EXPECT_FALSE(w.Opening);
  EXPECT_FALSE(progress_->GetVisible());
  EXPECT_TRUE(w.MainPage->GetVisible());
  uitest::SaveScreenshot(w, "app_converter_flow_open_argument");

  Script().AnswerFile(b.string());
  uitest::Click(*w.SubTab, 20, 8);
  Press(w.BTOpen);
  ASSERT_EQ(FileDialogs(), 1u);
  const FileDialogRequest& asked = Script().Asked()[0].file;
  EXPECT_EQ(asked.filter, "VANT files (*.wav)|*.wav");
  EXPECT_EQ(asked.initial_dir, work_.path().string());
  EXPECT_EQ(asked.file_name, a.string());
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.Model()->GetPath(), b);
  EXPECT_EQ(w.PDFList->Items().Count() + w.CSVList->Items().Count(), 9);
  EXPECT_TRUE(w.MainPage->GetVisible());
  EXPECT_EQ(Setting(101), b.string());
  uitest::SaveScreenshot(w, "app_converter_flow_open_button");
}

TEST_F(FlowTest, FormatChecksRefuseOrWarn) {
  struct Case {
    vb::Bytes bytes;
    const char* message;
    bool opened;
  } cases[] = {
      {vb::Build({vb::Fmt(), vb::Data(64)}, 0x90000000u),
       "RIFF情報に異常があるか、処理できないファイルサイズです。処理を中止します。", false},
      {vb::Build({vb::Fmt(48000, 2, 16, 3), vb::Data(64)}),
       "規定外のフォーマットです。処理を中止します。", false},
      // Samples wider than 16 bits are refused in their plain form as in their extensible one.
      {vb::Build({vb::Fmt(48000, 2, 24), vb::Data(60)}),
       "規定外のフォーマットです。処理を中止します。", false},
      {vb::Build({vb::Fmt(48000, 2, 32), vb::Data(64)}),
       "規定外のフォーマットです。処理を中止します。", false},
      {vb::Build({vb::Fmt(44100, 2), vb::Data(64)}),
       "規定外のサンプリング周波数です。処理を続けます。", true},
  };
  const fs::path good = Put("good.wav", FullFile());
  TVANTMainAA& w = Start(good);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const size_t before = Asked();
    Script().AnswerFile(Put("case.wav", c.bytes).string());
    Press(w.BTOpen);
    EXPECT_EQ(Messages(before), std::vector<std::string>{c.message});
    // From the reading on the previous file is gone: a refused file leaves an empty window.
    EXPECT_EQ(w.Model() != nullptr, c.opened);
    EXPECT_EQ(w.BWFFileName->GetText(), c.opened ? "case.wav" : "");
    EXPECT_FALSE(progress_->GetVisible());
  }
  EXPECT_EQ(w.SamplingFreq->GetText(), "44.1");
  uitest::SaveScreenshot(w, "app_converter_flow_open_44k");
}

TEST_F(FlowTest, UnsavedEditsAreKeptWhenTheOpenIsDeclinedOrCancelled) {
  const fs::path a = Put("a.wav", FullFile());
  TVANTMainAA& w = Start(a);
  Retype(w.ItemNumber, "EDIT-1");
  ASSERT_TRUE(w.Modified);

  Script().AnswerMessage(IDNO);
  Press(w.BTOpen);
  EXPECT_EQ(Messages(), std::vector<std::string>{kUnsaved});
  EXPECT_EQ(FileDialogs(), 0u);
  EXPECT_EQ(w.Model()->GetPath(), a);
  EXPECT_EQ(w.ItemNumber->GetText(), "EDIT-1");
  EXPECT_TRUE(w.Modified);

  // Yes, then the dialog cancelled: the file stays shown and the dialog's folder is kept.
  Script().AnswerMessage(IDYES);
  Press(w.BTOpen);
  EXPECT_EQ(FileDialogs(), 1u);
  EXPECT_EQ(w.Model()->GetPath(), a);
  EXPECT_EQ(w.ItemNumber->GetText(), "EDIT-1");
  EXPECT_TRUE(w.Modified);
  EXPECT_EQ(Setting(101), work_.path().string() + "/");
  EXPECT_FALSE(w.Opening);
}

TEST_F(FlowTest, AFileThatCannotBeSavedOverIsOpenedOnlyAfterTheQuestion) {
  const fs::path a = Put("a.wav", FullFile());
  chmod(a.c_str(), 0444);
  const char* question =
      "ファイルが読み込み専用のため、上書き保存することはできません。\nファイルを開きますか？";
  // No on a file from the command line returns to the dialog, which is then cancelled.
  Script().AnswerMessage(IDNO);
  TVANTMainAA& w = Start(a);
  EXPECT_EQ(Messages(), std::vector<std::string>{question});
  EXPECT_EQ(FileDialogs(), 1u);
  EXPECT_EQ(w.Model(), nullptr);

  Script().AnswerFile(a.string());
  Script().AnswerMessage(IDYES);
  Press(w.BTOpen);
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.Model()->GetPath(), a);
}

TEST_F(FlowTest, EditedFieldsAreSavedUnderANewNameAndReadBack) {
  const fs::path source = Put("source.wav", FullFile());
  const std::string original = ReadBytes(source);
  TVANTMainAA& w = Start(source);
  Retype(w.ItemNumber, "ITEM-9");
  Retype(w.CommonCode, "CC0123456789");
  w.ADComment->SetText("広告会社の\nコメント");  // pasted with a line break of this desktop
  uitest::SaveScreenshot(w, "app_converter_flow_edited");

  Script().AnswerFile((work_.path() / "renamed").string());  // the dialog adds ".wav"
  Press(w.BTSave);
  const fs::path saved = work_.path() / "renamed.wav";
  EXPECT_EQ(Messages(), std::vector<std::string>{kMsgSaved});
  const FileDialogRequest& asked = Script().Asked()[0].file;
  EXPECT_EQ(asked.filter, "WAV files (*.wav)|*.wav");
  EXPECT_EQ(asked.file_name, "source.wav");
  EXPECT_EQ(asked.default_ext, "wav");
  // The window shows the file as read back from the target.
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.Model()->GetPath(), saved);
  EXPECT_EQ(w.BWFFileName->GetText(), "renamed.wav");
  EXPECT_EQ(w.ADComment->GetText(), "広告会社の\r\nコメント");
  EXPECT_FALSE(w.Modified);
  EXPECT_FALSE(w.Busy);
  EXPECT_EQ(Setting(100), work_.path().string());
  EXPECT_EQ(ReadBytes(source), original);
  uitest::SaveScreenshot(w, "app_converter_flow_saved");

  TBWFChunck back(saved, TBWFChunck::kKeepOpen);
  ReadModelInOrder(back);
  EXPECT_EQ(back.CmcdInfo.Get(bwf::CmcdField::ItemNumber), "ITEM-9");
  EXPECT_EQ(back.CmcdInfo.Get(bwf::CmcdField::CommonCode), "CC0123456789");
  // Line breaks are stored as CR LF, as the Windows programs that exchange these files expect.
  EXPECT_EQ(back.CmcdInfo.Get(bwf::CmcdField::ADComment), Sjis("広告会社の\r\nコメント"));
  EXPECT_EQ(back.CmcdInfo.Get(bwf::CmcdField::CMTitle), vb::kSjisTitle);
  EXPECT_EQ(back.GetEndPos(), 1488000);
  std::vector<std::string> csv;
  EXPECT_EQ(back.GetCsvList(csv), 1);
  EXPECT_EQ(Shell("sndfile-cmp '" + source.string() + "' '" + saved.string() + "'"), 0);
  EXPECT_EQ(Shell("sndfile-info '" + saved.string() + "' > /dev/null"), 0);
}

// With no save folder yet the dialog starts beside the opened file, never in the folder the
// program was started from; a stored save folder is where it starts. Saved under a new name, the
// window describes the file now open.
TEST_F(FlowTest, TheSaveDialogStartsBesideTheOpenedFileUntilASaveFolderIsKept) {
  ScratchFolder received{"orlune-received"};
  const fs::path source = received.path() / "CM000.wav";
  WriteBytes(source, FullFile());
  TVANTMainAA& w = Start(source);
  Retype(w.ItemNumber, "ITEM-1");
  const fs::path renamed = received.path() / "CM000 saved.wav";
  Script().AnswerFile(renamed.string());
  Press(w.BTSave);
  ASSERT_EQ(FileDialogs(), 1u);
  EXPECT_EQ(Script().Asked()[0].file.initial_dir, received.path().string());
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.Model()->GetPath(), renamed);
  EXPECT_EQ(w.BWFFileName->GetText(), "CM000 saved.wav");
  EXPECT_EQ(Setting(100), received.path().string());

  SysRegVANT->WriteWorkString(100, work_.path().string());
  Retype(w.ItemNumber, "ITEM-2");
  Script().AnswerFile("");
  Press(w.BTSave);
  ASSERT_EQ(FileDialogs(), 2u);
  EXPECT_EQ(Script().Asked().back().file.initial_dir, work_.path().string());

  // A kept folder that is gone (the disc it named was ejected): beside the opened file again.
  SysRegVANT->WriteWorkString(100, (work_.path() / "ejected").string());
  Script().AnswerFile("");
  Press(w.BTSave);
  ASSERT_EQ(FileDialogs(), 3u);
  EXPECT_EQ(Script().Asked().back().file.initial_dir, received.path().string());
}

// A file opened from a read-only folder: the save dialog still starts there, and choosing it
// gets the warning and the dialog again; nothing is written anywhere. As root, the folder is
// made read-only by a mount in a private namespace.
TEST_F(FlowTest, AReadOnlyFolderIsOfferedAndRefusedWithItsWarning) {
  const char* env = std::getenv("ORLUNE_READONLY_FOLDER");
  fs::path folder = env ? fs::path(env) : work_.path() / "locked";
  if (!env) {
    fs::create_directory(folder);
    WriteBytes(folder / "c.wav", FullFile());
    if (geteuid() == 0) {
      RerunWithMount("ORLUNE_READONLY_FOLDER", folder,
                     "mount --bind \"$0\" \"$0\" && mount -o remount,ro,bind \"$0\"");
      return;
    }
    chmod(folder.c_str(), 0555);
  }
  const fs::path file = folder / "c.wav";
  const std::string original = ReadBytes(file);
  Script().AnswerMessage(IDYES);  // open it, though it cannot be saved over
  TVANTMainAA& w = Start(file);
  ASSERT_NE(w.Model(), nullptr);
  Retype(w.ItemNumber, "ITEM-RO");
  const size_t before = Asked();
  Script().AnswerFile(file.string());
  Script().AnswerMessage(IDYES);  // replace it?
  Script().AnswerMessage(IDOK);
  Script().AnswerFile("");
  Press(w.BTSave);
  const auto& asked = Script().Asked();
  ASSERT_EQ(asked.size(), before + 4);
  EXPECT_EQ(asked[before].file.initial_dir, folder.string());
  EXPECT_EQ(asked[before + 2].text, kMsgSaveUnwritableExisting);
  EXPECT_EQ(asked[before + 3].file.initial_dir, folder.string());
  EXPECT_EQ(ReadBytes(file), original);
  EXPECT_EQ(w.Model()->GetPath(), file);
  EXPECT_TRUE(w.Modified);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"c.wav"});
  if (!env) chmod(folder.c_str(), 0755);
}

// A name outside ASCII is shown as it is, proposed as it is, and a save over it replaces that file
// instead of making one with a garbled name.
TEST_F(FlowTest, ANameOutsideAsciiIsShownProposedAndSavedOverAsItIs) {
  const std::string name = "見本 ＣＭ.WAV";
  const fs::path source = Put(name, FullFile());
  TVANTMainAA& w = Start(source);
  EXPECT_EQ(w.BWFFileName->GetText(), name);
  Retype(w.ItemNumber, "J");
  Script().AnswerFile(source.string());
  Press(w.BTSave);
  ASSERT_FALSE(Script().Asked().empty());
  EXPECT_EQ(Script().Asked()[0].file.file_name, name);
  EXPECT_EQ(w.BWFFileName->GetText(), name);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(work_.path())) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{name});
}

// A handed-over name with characters outside CP932 is shown and proposed whole, never with '?'.
TEST_F(FlowTest, AHandedOverNameOutsideCp932IsShownAndProposedWhole) {
  const std::string name = "Café Ω.wav";
  const fs::path source = Put(name, FullFile());
  TVANTMainAA& w = Start(Put("a.wav", FullFile()));
  w.WMCopyData(source.string());
  ASSERT_EQ(w.Model()->GetPath(), source);
  EXPECT_EQ(w.BWFFileName->GetText(), name);
  Retype(w.ItemNumber, "J");
  Press(w.BTSave);  // the dialog is cancelled
  ASSERT_FALSE(Script().Asked().empty());
  EXPECT_EQ(Script().Asked()[0].file.file_name, name);
}

TEST_F(FlowTest, HalfASecondAfterASaveTheProgressWindowTellsTheMainWindow) {
  TVANTMainAA& w = Start(Put("a.wav", FullFile()));
  Application->SetMainForm(&w);
  Script().AnswerFile((work_.path() / "b.wav").string());
  Press(w.BTSave);
  EXPECT_TRUE(progress_->DelayTimer->GetEnabled());
  progress_->Show();
  clock_.AdvanceMillis(500);
  Application->ProcessMessages();
  EXPECT_FALSE(progress_->DelayTimer->GetEnabled());
  EXPECT_FALSE(progress_->GetVisible());

  MessageWindow::Send(w.Handle(), UM_LOADCOMPLETE, 0, 0);
  EXPECT_TRUE(w.LoadDone);
  progress_->Show();
  MessageWindow::Send(w.Handle(), UM_CLOSEPROGRESS, 0, 0);
  EXPECT_FALSE(progress_->GetVisible());
  Application->SetMainForm(nullptr);
}

TEST_F(FlowTest, RefusedTargetsReturnToTheDialogAndAFailedSaveKeepsEverything) {
  const fs::path source = Put("source.wav", FullFile());
  const std::string original = ReadBytes(source);
  TVANTMainAA& w = Start(source);
  const fs::path sheet = work_.path() / "sheet.csv";
  WriteBytes(sheet, std::string("x,y\r\n"));

  // A full-width common code blocks the save before any dialog.
  Retype(w.CommonCode, "ＡＢ");
  Press(w.BTSave);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{
                "入力形式が不正なフィールドがあります。修正後、保存操作を行ってください。"});
  EXPECT_EQ(FileDialogs(), 0u);
  Retype(w.CommonCode, "AB");
  Script().AnswerFile(sheet.string());
  Press(w.BTAttachCSV);
  const std::vector<std::string> lines = w.CSVList->Items().Items();
  ASSERT_EQ(lines.size(), 2u);

  // A read-only target, then a full target disc, then a full temporary disc: each warns and
  // asks again; the last dialog is cancelled.
  const fs::path locked = Put("locked.wav", FullFile());
  chmod(locked.c_str(), 0444);
  const fs::path full = work_.path() / "full";
  fs::create_directory(full);
  w.FreeSpace = [&](const fs::path& folder) -> int64_t {
    if (folder == full) return 2000;
    if (folder == w.Model()->TempFolder) return shrink_temp ? 2000 : int64_t(1) << 40;
    return int64_t(1) << 40;
  };
  Script().AnswerFile(locked.string());
  Script().AnswerMessage(IDYES);  // replace it?
  Script().AnswerMessage(IDOK);
  Script().AnswerFile((full / "a.wav").string());
  size_t before = Asked();
  Press(w.BTSave);
  std::vector<std::string> messages = Messages(before);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[1], kMsgSaveReadOnly);
  EXPECT_EQ(messages[2],
            "保存先のドライブの空き容量が不足しています。\n別の保存場所を指定してください。");
  EXPECT_EQ(FileDialogs(), 4u);  // the attach dialog, three save dialogs
  shrink_temp = true;
  Script().AnswerFile((work_.path() / "b.wav").string());
  before = Asked();
  Press(w.BTSave);
  EXPECT_EQ(Messages(before),
            std::vector<std::string>{"一時ファイルの保存先ドライブの空き容量が不足しています。\n"
                                     "容量を確保してからやり直してください。"});
  EXPECT_EQ(FileDialogs(), 6u);
  EXPECT_FALSE(w.Busy);
  shrink_temp = false;

  // The disc fills during the save: the model reports it, nothing is written or lost, and the
  // dialog comes again, as after the check before the save.
  FullDiscLayer full_disc;
  SetBWFFileLayer(&full_disc);
  const fs::path target = work_.path() / "new.wav";
  Script().AnswerFile(target.string());
  const size_t during = Asked();
  bool asked_again = false;
  Script().AnswerFileWith([&](FileDialogSession& dialog) {
    asked_again = true;
    EXPECT_EQ(Messages(during), std::vector<std::string>{kMsgSaveTempShort});
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(w.Model()->GetPath(), source);
    EXPECT_EQ(w.CSVList->Items().Items(), lines);
    EXPECT_TRUE(w.Modified);
    EXPECT_EQ(w.CommonCode->GetText(), "AB");
    EXPECT_EQ(w.Model()->CmcdInfo.Get(bwf::CmcdField::CommonCode), "");
    EXPECT_EQ(Setting(100), "");
    EXPECT_EQ(ReadBytes(source), original);
    // Room is made; the same name is chosen again.
    SetBWFFileLayer(nullptr);
    dialog.Select(target.string());
    return dialog.Accept({target.string()});
  });
  Press(w.BTSave);
  EXPECT_TRUE(asked_again);
  EXPECT_EQ(Messages(during), (std::vector<std::string>{kMsgSaveTempShort, kMsgSaved}));
  // The pending file is stored once.
  EXPECT_EQ(w.Model()->GetPath(), target);
  std::vector<std::string> csv;
  w.Model()->GetCsvList(csv);
  EXPECT_EQ(csv, (std::vector<std::string>{vb::kSjisCsvName, "sheet.csv"}));
  EXPECT_EQ(w.CommonCode->GetText(), "AB");
}

// The space check counts the chunks the save adds: a plain WAV of 576,044 bytes is saved 2,958
// bytes longer, so 577,536 free bytes are not enough.
TEST_F(FlowTest, TheSpaceCheckCountsTheChunksTheSaveAdds) {
  const fs::path source = Put("plain.wav", vb::Build({vb::Fmt(), vb::Data(576000)}));
  ASSERT_EQ(fs::file_size(source), 576044u);
  TVANTMainAA& w = Start(source);
  const fs::path nearly_full = work_.path() / "nearly_full";
  fs::create_directory(nearly_full);
  w.FreeSpace = [&](const fs::path& folder) -> int64_t {
    return folder == nearly_full ? 577536 : int64_t(1) << 40;
  };
  Script().AnswerFile((nearly_full / "plain.wav").string());
  const size_t before = Asked();
  Press(w.BTSave);
  EXPECT_EQ(Messages(before), std::vector<std::string>{kMsgSaveTargetShort});
  EXPECT_FALSE(fs::exists(nearly_full / "plain.wav"));
}

TEST_F(FlowTest, APendingFileTheModelCannotTakeIsNamedAndStopsTheSave) {
  // Labels BC$NOTE1 to BC$NOTE9 without documents: nothing attached, yet no label is free.
  std::vector<vb::Cue> cues;
  std::vector<vb::Chunk> labels;
  for (int n = 1; n <= 9; ++n) {
    cues.push_back({vb::Note(n), 0});
    labels.push_back(vb::Labl(vb::Note(n), "BC$NOTE" + std::to_string(n)));
  }
  struct Case {
    vb::Bytes file;
    bool remove_pending;
    const char* message;
  } cases[] = {
      {FullFile(), true, "添付するファイルが見つかりません。保存は行われていません。\n"},
      {vb::Build({vb::Fmt(), vb::Data(64), vb::CueChunk(cues), vb::List("adtl", labels)}), false,
       "添付ファイル識別名の割付ができないため、添付できません。保存は行われていません。\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TVANTMainAA& w = Start(Put("a.wav", c.file));
    const fs::path sheet = work_.path() / "sheet.csv";
    WriteBytes(sheet, std::string("x\r\n"));
    Script().AnswerFile(sheet.string());
    Press(w.BTAttachCSV);
    if (c.remove_pending) fs::remove(sheet);
    const std::vector<std::string> lines = w.CSVList->Items().Items();
    const fs::path target = work_.path() / "out.wav";
    Script().AnswerFile(target.string());
    const size_t before = Asked();
    Press(w.BTSave);
    EXPECT_EQ(Messages(before), std::vector<std::string>{c.message + sheet.string()});
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(w.CSVList->Items().Items(), lines);
    EXPECT_TRUE(w.Modified);
    EXPECT_EQ(w.Model()->GetPath(), work_.path() / "a.wav");
    window_.reset();
  }
}

// The test runs itself again in a private mount namespace where a 256 KiB tmpfs is the disc;
// where no namespace or mount can be had it is skipped (the injected disc above still runs).
TEST_F(FlowTest, ASmallRealDiscTakesASmallFileAndRefusesALargeOne) {
  const char* disc_env = std::getenv("ORLUNE_SMALL_DISC");
  if (!disc_env) {
    const fs::path disc = work_.path() / "disc";
    fs::create_directory(disc);
    RerunWithMount("ORLUNE_SMALL_DISC", disc, "mount -t tmpfs -o size=256k tmpfs \"$0\"");
    return;
  }
  const fs::path disc = disc_env;
  TVANTMainAA& w = Start(Put("small.wav", FullFile()));
  Script().AnswerFile((disc / "small.wav").string());
  Press(w.BTSave);
  EXPECT_EQ(Messages(), std::vector<std::string>{kMsgSaved});
  EXPECT_EQ(w.Model()->GetPath(), disc / "small.wav");

  const fs::path large = Put("large.wav", vb::Build(vb::FullVantChunks(48000 * 4 * 2)));
  Start(large);
  Script().AnswerFile((disc / "large.wav").string());
  const size_t before = Asked();
  Press(window_->BTSave);
  EXPECT_EQ(Messages(before),
            std::vector<std::string>{
                "保存先のドライブの空き容量が不足しています。\n別の保存場所を指定してください。"});
  EXPECT_EQ(window_->Model()->GetPath(), large);
  EXPECT_FALSE(fs::exists(disc / "large.wav"));
}

TEST_F(FlowTest, AttachmentLimitsNamesAndDeleteThenAttachOnAFullFile) {
  const fs::path nine = Put("nine.wav", NineAttachments());
  TVANTMainAA& w = Start(nine);
  ASSERT_EQ(w.FreeSlots, 0);
  Press(w.BTAttachCSV);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"ナレーション原稿 : 1, 連絡表 ：8 が既に添付されています。\n"
                                     "最大添付数に達しているため、添付を行うことはできません。"});
  EXPECT_EQ(FileDialogs(), 0u);

  // Deleting a stored one frees its label for a new one before any save.
  Select(w.CSVList, "sheet5.csv");
  Script().AnswerMessage(IDYES);
  Press(w.BTDeleteCSV);
  EXPECT_EQ(Messages().back(), "添付ファイルを削除します。よろしいですか？");
  EXPECT_EQ(w.CSVList->Items().IndexOf("sheet5.csv"), -1);
  EXPECT_EQ(w.DeleteList.Count(), 1);

  const fs::path wrong = work_.path() / "notes.txt", added = work_.path() / "added.CSV";
  WriteBytes(wrong, std::string("n"));
  WriteBytes(added, std::string("added,1\r\n"));
  Script().AnswerFile(wrong.string());
  Script().AnswerFile(added.string());
  Press(w.BTAttachCSV);
  EXPECT_EQ(Messages().back(), "指定拡張子以外のファイル名を添付することはできません。");
  const std::string pending =
      "*added.CSV                                      [" + added.string() + "]";
  EXPECT_EQ(w.CSVList->Items().IndexOf(pending), 7);
  EXPECT_EQ(Setting(108), added.string());

  // Nine lines listed again: the count message, whatever the labels.
  Press(w.BTAttachCSV);
  EXPECT_EQ(Messages().back(),
            "ナレーション原稿 : 1, 連絡表 ：8 が既に添付されています。\n"
            "最大添付数に達しているため、添付を行うことはできません。");
  EXPECT_EQ(FileDialogs(), 2u);
  uitest::SaveScreenshot(w, "app_converter_flow_attach_pending");

  Script().AnswerFile(nine.string());
  Script().AnswerMessage(IDYES);  // replace it?
  Press(w.BTSave);
  ASSERT_NE(w.Model(), nullptr);
  std::vector<std::string> csv;
  w.Model()->GetCsvList(csv);
  std::sort(csv.begin(), csv.end());
  EXPECT_EQ(csv,
            (std::vector<std::string>{"added.CSV", "sheet2.csv", "sheet3.csv", "sheet4.csv",
                                      "sheet6.csv", "sheet7.csv", "sheet8.csv", "sheet9.csv"}));
  EXPECT_EQ(w.DeleteList.Count(), 0);
  EXPECT_EQ(w.FreeSlots, 0);
}

TEST_F(FlowTest, ASecondAttachmentOfTheSameNameIsRefused) {
  TVANTMainAA& w = Start(Put("a.wav", FullFile()));
  const fs::path stored = work_.path() / "一覧.csv", other = work_.path() / "x.csv";
  WriteBytes(stored, std::string("s"));
  WriteBytes(other, std::string("x"));
  for (const fs::path& p : {stored, other, other}) Script().AnswerFile(p.string());
  for (int i = 0; i < 3; ++i) Press(w.BTAttachCSV);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"同一ファイル名を添付することはできません。",
                                                  "同一ファイル名を添付することはできません。"}));
  EXPECT_EQ(w.CSVList->Items().Count(), 2);
}

TEST_F(FlowTest, ShowRunsTheChosenProgramOnAnExtractedCopyAndSavePdfWritesTheBytes) {
  const fs::path file = Put("a.wav", FullFile());
  TVANTMainAA& w = Start(file);
  // A display program that reports the file it was given and its bytes through a FIFO.
  const fs::path fifo = work_.path() / "shown", stub = work_.path() / "viewer.sh";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteBytes(stub, "#!/bin/sh\n{ printf '%s\\n' \"$1\"; cat \"$1\"; } > '" + fifo.string() + "'\n");
  chmod(stub.c_str(), 0755);

  uitest::Click(*w.SubTab, 20, 8);
  Script().AnswerFile(stub.string());
  Press(w.BTCsvSel);
  EXPECT_EQ(w.CsvApplicationName->GetText(), stub.string());
  EXPECT_EQ(Setting(104), stub.string());
  uitest::SaveScreenshot(w, "app_converter_flow_sub_page");
  uitest::Click(*w.MainTab, 20, 8);

  const int in = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(in, 0);
  w.CSVList->SetItemIndex(0);
  Press(w.BTDispCSV);
  std::string report;
  for (;;) {
    pollfd p{in, POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 30000), 0) << "the display program did not report";
    char buf[256];
    const ssize_t n = read(in, buf, sizeof buf);
    if (n <= 0) break;
    report.append(buf, size_t(n));
  }
  close(in);
  const size_t nl = report.find('\n');
  ASSERT_NE(nl, std::string::npos);
  EXPECT_EQ(fs::path(report.substr(0, nl)).parent_path(), AttachTempFolder());
  EXPECT_EQ(report.substr(nl + 1), "a,b\r\n");

  // No PDF program chosen: the model says so and starts nothing.
  w.PDFList->SetItemIndex(0);
  Press(w.BTDispPDF);
  EXPECT_EQ(Messages().back(), kMsgNoApplication);

  const fs::path pdf = work_.path() / "saved.pdf";
  Script().AnswerFile(pdf.string());
  Press(w.BTSavePDF);
  EXPECT_EQ(Script().Asked().back().file.file_name, "contact.pdf");
  const vb::Bytes expected = vb::PdfBytes();
  EXPECT_EQ(ReadBytes(pdf), std::string(expected.begin(), expected.end()));
  EXPECT_EQ(Setting(107), pdf.string());
}

// Showing a document keeps the keyboard on the list it was chosen from: the next line is one key
// away.
TEST_F(FlowTest, AfterShowTheKeyboardStaysOnTheList) {
  TVANTMainAA& w = Start(Put("a.wav", NineAttachments()));
  w.CsvApplicationName->SetCaption("/bin/true");
  w.CSVList->SetFocus();
  w.CSVList->SetItemIndex(0);
  ASSERT_TRUE(w.CSVList->Focused());
  // A click as the desktop delivers it: the toolkit moves the focus on such clicks only.
  QTest::mouseClick(w.BTDispCSV->Host(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(w.CSVList->Focused());
  uitest::PressKey(*w.CSVList, VK_DOWN);
  EXPECT_EQ(w.CSVList->GetItemIndex(), 1);
}

TEST_F(FlowTest, ImportTakesTheAgencyColumnsAndExportWritesTheRecord) {
  TVANTMainAA& w = Start(Put("a.wav", FullFile()));
  // Every column but the agency's holds "X", which must not arrive.
  std::string record;
  for (int c = 0; c <= 37; ++c) {
    if (c > 0) record += ',';
    switch (c) {
      case 2:
        record += "ITEM-CSV";
        break;
      case 3:
        record += "CC-77";
        break;
      case 33:
        record += Sjis("代理店コメント");
        break;
      case 34:
        record += "2nd";
        break;
      case 37:
        record += "\"// End of Data\"";
        break;
      default:
        record += "X";
    }
  }
  const fs::path in = work_.path() / "in.csv";
  WriteBytes(in, record + "\r\n");
  Script().AnswerFile(in.string());
  Press(w.BTImport);
  EXPECT_EQ(Messages(), std::vector<std::string>{});  // nothing entered yet: no question
  EXPECT_EQ(w.ItemNumber->GetText(), "ITEM-CSV");
  EXPECT_EQ(w.CommonCode->GetText(), "CC-77");
  EXPECT_EQ(w.ADComment->GetText(), "代理店コメント");
  EXPECT_EQ(w.CMTitle->GetText(), "テスト");
  EXPECT_TRUE(w.Modified);
  EXPECT_EQ(Setting(109), in.string());

  Script().AnswerFile((work_.path() / "out").string());
  Press(w.BTExport);
  const std::string expected = "100,PC-0001,ITEM-CSV,CC-77" + std::string(17, ',') +
                               vb::kSjisTitle + ",30" + std::string(12, ',') +
                               Sjis("代理店コメント") + ",2nd,,,\"// End of Data\"\r\n";
  EXPECT_EQ(ReadBytes(work_.path() / "out.csv"), expected);

  // A second import asks first, and No changes nothing.
  Script().AnswerMessage(IDNO);
  Press(w.BTImport);
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            kMsgExportDone, "既に入力された項目があります。上書きしますか？"}));
  EXPECT_EQ(FileDialogs(), 2u);
}

TEST_F(FlowTest, AFileHandedOverByASecondProgramIsOpenedUnlessASaveRuns) {
  const fs::path a = Put("a.wav", FullFile()), b = Put("b.wav", NineAttachments());
  TVANTMainAA& w = Start(a);
  w.Hide();
  EXPECT_EQ(RunBeside({ORLUNE_HANDOVER, b.string()}), 0);
  EXPECT_TRUE(w.GetVisible());
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.Model()->GetPath(), b);
  uitest::SaveScreenshot(w, "app_converter_flow_handed_over");

  w.Busy = true;
  EXPECT_EQ(RunBeside({ORLUNE_HANDOVER, a.string()}), 0);
  EXPECT_EQ(w.Model()->GetPath(), b);
  w.Busy = false;

  // The open file again: nothing is asked even with edits.
  Retype(w.ItemNumber, "E");
  EXPECT_EQ(RunBeside({ORLUNE_HANDOVER, b.string()}), 0);
  EXPECT_EQ(Asked(), 0u);
  Script().AnswerMessage(IDNO);
  EXPECT_EQ(RunBeside({ORLUNE_HANDOVER, a.string()}), 0);
  EXPECT_EQ(Messages(), std::vector<std::string>{kUnsaved});
  EXPECT_EQ(w.Model()->GetPath(), b);

  w.Modified = false;

  // A name that differs from the open one only in case is another file here.
  const fs::path upper = Put("B.wav", FullFile());
  EXPECT_EQ(RunBeside({ORLUNE_HANDOVER, upper.string()}), 0);
  EXPECT_EQ(w.Model()->GetPath(), upper);
}

// A commercial whose path runs past the old 259-byte bound is opened whether it is handed over to
// a running converter or named when one starts; a path the system cannot take is refused aloud
// and the open file stays.
TEST_F(FlowTest, ALongJapanesePathIsOpenedAndAnOverlongOneIsRefusedAloud) {
  const fs::path folder = work_.path() / "2026年春キャンペーン素材一式";
  fs::create_directory(folder);
  std::string name;
  for (int i = 0; i < 5; ++i) name += "春のセール新商品告知広告素材";
  const fs::path longer = folder / (name + "_長尺版.wav");
  ASSERT_GT(longer.string().size(), 284u);
  WriteBytes(longer, FullFile());
  const fs::path a = Put("a.wav", FullFile());

  TVANTMainAA& w = Start(a);
  EXPECT_EQ(RunBeside({ORLUNE_HANDOVER, longer.string()}), 0);
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(w.Model()->GetPath(), longer);
  EXPECT_EQ(w.BWFFileName->GetText(), name + "_長尺版.wav");
  window_.reset();

  TVANTMainAA& started = Start(longer);
  ASSERT_NE(started.Model(), nullptr);
  EXPECT_EQ(started.Model()->GetPath(), longer);
  EXPECT_EQ(Asked(), 0u);

  started.WMCopyData(a.string() + std::string(PATH_MAX, '/'));
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"ファイルのパスが長すぎるため、開くことができません。"});
  EXPECT_EQ(started.Model()->GetPath(), longer);
}

TEST_F(FlowTest, CloseAsksAboutEditsAndStoresTheVolume) {
  TVANTMainAA& w = Start(Put("a.wav", FullFile()));
  uitest::MouseDown(*w.BTValume, 58, 12);
  const int volume = w.Player().GetVolume();
  ASSERT_GT(volume, 0);
  Retype(w.ADComment, "x");
  Script().AnswerMessage(IDNO);
  w.Close();
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"編集データが変更されています。終了してよろしいですか？"});
  EXPECT_TRUE(w.GetVisible());
  EXPECT_EQ(SysRegVANT->ReadWorkInteger(106), 0);

  w.Busy = true;
  w.Close();
  EXPECT_TRUE(w.GetVisible());
  EXPECT_EQ(Asked(), 1u);
  w.Busy = false;

  w.Modified = false;
  w.Close();
  EXPECT_FALSE(w.GetVisible());
  EXPECT_EQ(Asked(), 1u);
  EXPECT_EQ(SysRegVANT->ReadWorkInteger(106), volume);
}

TEST_F(FlowTest, TheSampleCommercialIsOursAndOpens) {
  const fs::path sample = fs::path(VANT_SOURCE_DIR) / "resources/samples/commercial.wav";
  const fs::path fresh = work_.path() / "fresh.wav";
  ASSERT_EQ(RunBeside({SAMPLEGEN, fresh.string()}), 0);
  EXPECT_EQ(ReadBytes(fresh), ReadBytes(sample));

  TVANTMainAA& w = Start(sample);
  ASSERT_NE(w.Model(), nullptr);
  EXPECT_EQ(Asked(), 0u);
  EXPECT_EQ(w.CMActualLength->GetText(), "5.00");
  EXPECT_EQ(w.CMLength->GetText(), "5");
  EXPECT_EQ(w.CSVList->Items().Items(), std::vector<std::string>{"連絡表.csv"});
  EXPECT_EQ(w.Model()->GetFileKind(), 1);
  for (int64_t mark : {w.Model()->GetStartPos(), w.Model()->GetStandbyPos(), w.Model()->GetEndPos(),
                       w.Model()->GetStopPos()})
    EXPECT_GE(mark, 0);
  EXPECT_EQ(Shell("sndfile-info '" + sample.string() + "' > /dev/null"), 0);
  uitest::SaveScreenshot(w, "app_converter_flow_sample");
}

}  // namespace
