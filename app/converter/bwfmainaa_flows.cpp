// The file flows of the converter's main window: opening with its questions and progress,
// saving through the model, the CSV exchange, the attachments, the display programs, the file
// handed over by the disc viewer and the close question. Each flow asks its questions through the
// framework's message dialogs, so a test answers them from a script.
#include <filesystem>
#include <system_error>

#include "bwfattach.h"
#include "bwfmainaa.h"
#include "bwfmessage.h"
#include "bwfnotify.h"
#include "bwfsave.h"
#include "cp932.h"
#include "diskinfo.h"
#include "mainaarules.h"
#include "progform.h"
#include "progsink.h"
#include "regeditbw.h"
#include "sysreg.h"
#include "ui_application.h"

using namespace vant;
namespace fs = std::filesystem;

namespace {

// Settings of the flows.
constexpr int kSaveFolderSetting = 100;
constexpr int kLastFileSetting = 101;
constexpr int kCsvApplicationSetting = 104;
constexpr int kPdfApplicationSetting = 105;
constexpr int kVolumeSetting = 106;
constexpr int kPdfSavedSetting = 107;
constexpr int kAttachedSetting = 108;
constexpr int kImportSetting = 109;
constexpr int kExportSetting = 110;

constexpr int kMaxAttachments = 9;

constexpr const char* kWaveFilter = "WAV files (*.wav)|*.wav";
constexpr const char* kCsvFilter = "CSV files (*.csv)|*.csv";

constexpr const char* kMsgUnsaved =
    "編集データが保存されていません。新しいファイルを開いてよろしいですか？";
constexpr const char* kMsgOpenReadOnly =
    "ファイルが読み込み専用のため、上書き保存することはできません。\nファイルを開きますか？";
constexpr const char* kMsgOpenUnwritable =
    "ドライブが書き込み禁止または空き容量がないため、上書き保存することはできません。\n"
    "ファイルを開きますか？";
constexpr const char* kMsgInvalidField =
    "入力形式が不正なフィールドがあります。修正後、保存操作を行ってください。";
constexpr const char* kMsgSaveUnwritableExisting =
    "ドライブが書き込み禁止または空き容量がないため、上書き保存することはできません。\n"
    "別の保存場所を指定してください。";
constexpr const char* kMsgSaveUnwritableNew =
    "ドライブが書き込み禁止または空き容量がないために、使用することはできません。\n"
    "別の保存場所を指定してください。";
constexpr const char* kMsgNoFileForImport =
    "ファイルが選択されていないため、読み込みができません。";
constexpr const char* kMsgOverwriteFields = "既に入力された項目があります。上書きしますか？";
constexpr const char* kMsgFileExists =
    "指定したファイルは既に存在します。上書きしてよろしいですか？";
constexpr const char* kMsgWrongExtension = "指定拡張子以外のファイル名を添付することはできません。";
constexpr const char* kMsgSameName = "同一ファイル名を添付することはできません。";
constexpr const char* kMsgNoLabelPossible =
    "添付ファイル識別名の割付ができない可能性があります。保存後に、添付操作を行ってください。";
constexpr const char* kMsgAttachCount =
    "ナレーション原稿 : %d, 連絡表 ：%d が既に添付されています。\n";
constexpr const char* kMsgAttachLimit = "最大添付数に達しているため、添付を行うことはできません。";
constexpr const char* kMsgPathTooLong = "ファイルのパスが長すぎるため、開くことができません。";
constexpr const char* kMsgCloseModified = "編集データが変更されています。終了してよろしいですか？";
// A pending attachment that the save cannot take: the save is not made, the line stays.
constexpr const char* kMsgPendingGone =
    "添付するファイルが見つかりません。保存は行われていません。\n";
constexpr const char* kMsgPendingNoLabel =
    "添付ファイル識別名の割付ができないため、添付できません。保存は行われていません。\n";

bool Ask(const std::string& text, TMsgDlgType type = mtConfirmation) {
  return MessageDlg(text, type, mbYes | mbNo) == mrYes;
}
void Warn(const std::string& text) { MessageDlg(text, mtWarning, mbOK); }

std::string ReadString(int n) { return SysRegVANT ? SysRegVANT->ReadWorkString(n) : ""; }
void WriteInteger(int n, int32_t v) {
  if (SysRegVANT) SysRegVANT->WriteWorkInteger(n, v);
}
void WriteString(int n, const std::string& v) {
  if (SysRegVANT) SysRegVANT->WriteWorkString(n, v);
}

fs::path FolderOf(const fs::path& p) {
  return p.parent_path().empty() ? fs::path(".") : p.parent_path();
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(p, ec);
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

bool IsPendingLine(const std::string& line) { return !line.empty() && line[0] == '*'; }

// Restores the cursor when a flow ends, however it ends.
class CursorKeeper {
 public:
  CursorKeeper() : cursor_(Screen->GetCursor()) {}
  ~CursorKeeper() { Screen->SetCursor(cursor_); }

 private:
  TCursor cursor_;
};

}  // namespace

// ---- wiring ------------------------------------------------------------------------------------

void TVANTMainAA::BindFlows() {
  OnCloseQuery = [this](TObject* s, bool& can_close) { FormCloseQuery(s, can_close); };
}

void TVANTMainAA::UnbindFlows() { own_progress_.reset(); }

TPROGForm& TVANTMainAA::Progress() {
  if (ProgressForm) return *ProgressForm;
  if (!own_progress_) {
    own_progress_ = std::make_unique<TPROGForm>(nullptr);
    own_progress_->DoCreate();
  }
  return *own_progress_;
}

void TVANTMainAA::WndProc(TMessage& m) {
  switch (m.Msg) {
    case UM_SAVECOMPLETE:
      UMSaveComplete();
      break;
    case UM_LOADCOMPLETE:
      UMLoadComplete();
      break;
    case UM_CLOSEPROGRESS:
      UMCloseProgress();
      break;
    default:
      TForm::WndProc(m);
  }
}

void TVANTMainAA::UMSaveComplete() {
  Progress().Show();
  Progress().Close();
}

void TVANTMainAA::UMLoadComplete() { LoadDone = true; }

void TVANTMainAA::UMCloseProgress() {
  if (Progress().GetVisible()) Progress().Close();
}

// ---- open --------------------------------------------------------------------------------------

void TVANTMainAA::OpenFile(const std::string& path, bool offer_last) {
  CursorKeeper cursor;
  if (Modified && !Ask(kMsgUnsaved)) return;
  Opening = true;
  struct Done {
    TVANTMainAA* w;
    ~Done() {
      w->Opening = false;
      w->Progress().SetProgress(100);
      w->Progress().Close();
    }
  } done{this};
  if (!OpenFileFrom(path, offer_last)) return;

  Screen->SetCursor(crHourGlass);
  TPROGForm& progress = Progress();
  progress.MMGauge1->SetCaption("読み込み中　");
  progress.SetProgress(0);
  progress.Show();
  progress.Repaint();

  DeleteList.Clear();
  ClearFields();
  model_.reset();
  auto model = std::make_unique<TBWFChunck>(CurrentPath, TBWFChunck::kKeepOpen);
  if (model->GetState() == TBWFChunck::kNotOpen) return;
  if (model->CheckFormat() < 0) return;
  progress.SetProgress(10);
  model->ReadRiffHeader();
  progress.SetProgress(20);
  model->ReadFmtChunk();
  // The model's check looks at the format tag; samples wider than 16 bits are refused here in
  // their plain form as they are there in their extensible one (the player takes 8 and 16).
  if (model->WaveFormat.wBitsPerSample > 16) {
    GetBWFNotifier().Warning("規定外のフォーマットです。処理を中止します。");
    return;
  }
  progress.SetProgress(30);
  model->ReadBextChunk();
  progress.SetProgress(40);
  model->ReadCueChunks();
  progress.SetProgress(50);
  model->MarkerCount = int(model->CuePointCount);
  progress.SetProgress(60);
  model->ReadCmcdChunk();
  progress.SetProgress(70);
  model->ReadDataChunk();
  progress.SetProgress(80);
  model->CalcCMLength();
  if (model->CmcdInfo.GetCmcdVersion() == 0) model->CmcdInfo.SetCmcdVersion(100);
  model_ = std::move(model);

  ShowFileInfo(*model_);
  Modified = false;
  model_->ScanChunks(CurrentPath);
  progress.SetProgress(90);
  if (model_->WaveFormat.wFormatTag == bwf::kFormatPcm) {
    try {
      player_->SetFileName(CurrentPath);
    } catch (const std::exception&) {
    }
  }
  player_->ConnectLevel(1, MMLevel1);
  player_->ConnectLevel(2, MMLevel2);
}

// Settles the current path: the given one, or one chosen in the open dialog; then the questions
// about a file that cannot be saved over, which send the person back to the dialog. False when
// the open ends here (the dialog was cancelled).
bool TVANTMainAA::OpenFileFrom(const std::string& path, bool offer_last) {
  bool ask = path.empty();
  if (!ask) {
    // Kept absolute: the setting outlives the folder the program was started in.
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    CurrentPath = ec ? path : absolute.string();
    OpenDialog1->FileName = CurrentPath;
  } else {
    CurrentPath = ReadString(kLastFileSetting);
    const fs::path last(CurrentPath);
    OpenDialog1->InitialDir = last.has_filename() ? last.parent_path().string() : CurrentPath;
    std::error_code ec;
    OpenDialog1->FileName = offer_last && fs::is_regular_file(last, ec) ? CurrentPath : "";
  }
  for (;;) {
    if (ask) {
      OpenDialog1->Filter = "VANT files (*.wav)|*.wav";
      if (!OpenDialog1->Execute()) {
        // The folder is kept so the next dialog starts there; with no name it is the one the
        // dialog started in.
        std::string folder = OpenDialog1->FileName.empty()
                                 ? OpenDialog1->InitialDir
                                 : fs::path(OpenDialog1->FileName).parent_path().string();
        if (!folder.empty() && folder.back() != '/') folder += '/';
        WriteString(kLastFileSetting, folder);
        OpenDialog1->FileName.clear();
        return false;
      }
      Repaint();
      Application->ProcessMessages();
      CurrentPath = OpenDialog1->FileName;
    }
    WriteString(kLastFileSetting, CurrentPath);
    const char* question = nullptr;
    switch (mmio::CheckFolderWritable(FolderOf(CurrentPath))) {
      case mmio::kWritable:
        if (IsReadOnlyFile(CurrentPath)) question = kMsgOpenReadOnly;
        break;
      default:
        question = kMsgOpenUnwritable;
        break;
    }
    if (question && !Ask(question, mtWarning)) {
      OpenDialog1->FileName.clear();
      ask = true;
      continue;
    }
    return true;
  }
}

void TVANTMainAA::RefusePath() { MessageDlg(kMsgPathTooLong, mtError, mbOK); }

// ---- save --------------------------------------------------------------------------------------

void TVANTMainAA::SaveFile() {
  if (!model_) return;
  CursorKeeper cursor;
  if (ValidateFields()) {
    MessageDlg(kMsgInvalidField, mtError, mbOK);
    return;
  }
  Screen->SetCursor(crHourGlass);
  Busy = true;
  struct Done {
    TVANTMainAA* w;
    ~Done() { w->Busy = false; }
  } done{this};
  player_->Stop();

  SaveDialogWaveFile->DefaultExt = "wav";
  // Until a save folder is kept, and when the kept one is gone (a disc taken out), the received
  // file's own folder: the folder the program was started from would take a save the user
  // believes went over the received file.
  SaveDialogWaveFile->InitialDir = ReadString(kSaveFolderSetting);
  std::error_code gone;
  if (!fs::is_directory(SaveDialogWaveFile->InitialDir, gone))
    SaveDialogWaveFile->InitialDir = FolderOf(model_->GetPath()).string();
  SaveDialogWaveFile->FileName = BWFFileName->GetText();
  std::string chosen;
  bool saved = false;
  std::string target;
  // A disc that fills up during the save sends the user back to the dialog, as the check before
  // it does.
  for (int result = kSaveNoRoom; result == kSaveNoRoom && ChooseWaveTarget(chosen);) {
    const TCmcdInfo cmcd = model_->CmcdInfo;
    const TBextInfo bext = model_->BextInfo;
    StoreFields();
    result = -1;
    if (AddPendingAttachments()) {
      SetDeleteList(*model_, DeleteList.GetText());
      target = mmio::AddFileExt(chosen, ".wav");
      // The model drives the progress window through its sink for the length of the save.
      TPROGFormProgress sink(Progress());
      struct Installed {
        explicit Installed(TBWFProgress& p) { SetBWFProgress(&p); }
        ~Installed() { SetBWFProgress(nullptr); }
      } installed(sink);
      result = ::SaveToFile(*model_, target, model_->GetPath(), std::nullopt, ecAdAgency);
    }
    saved = result == 0;
    if (saved) {
      std::string folder = fs::path(chosen).parent_path().string();
      if (folder.empty()) folder = "/";
      WriteString(kSaveFolderSetting, folder);
      Modified = false;
    } else {
      // Nothing was written: the model goes back to the file as it was opened, with the
      // attachments deleted so far, and the pending lines stay for the next try.
      model_->CmcdInfo = cmcd;
      model_->BextInfo = bext;
      RestoreScanState();
    }
  }
  Progress().Close();
  if (saved) {
    Modified = false;
    OpenFile(target);
    MainTabClick(this);
  }
}

bool TVANTMainAA::ChooseWaveTarget(std::string& chosen) {
  for (;;) {
    SaveDialogWaveFile->Filter = kWaveFilter;
    if (!SaveDialogWaveFile->Execute()) return false;
    chosen = SaveDialogWaveFile->FileName;
    const bool exists = Exists(chosen);
    if (mmio::CheckFolderWritable(FolderOf(chosen)) != mmio::kWritable) {
      Warn(exists ? kMsgSaveUnwritableExisting : kMsgSaveUnwritableNew);
      continue;
    }
    if (exists && IsReadOnlyFile(chosen)) {
      Warn(kMsgSaveReadOnly);
      continue;
    }
    // Room for the file as the save will write it, the pending attachments included.
    std::vector<fs::path> pending;
    for (const std::string& line : CSVList->Items().Items()) {
      if (IsPendingLine(line)) pending.push_back(mmio::PendingPath(line));
    }
    const int64_t size = PlannedSaveSize(*model_, model_->GetPath(), pending);
    const int bits = mmio::CheckSaveSpace(size, chosen, model_->TempFolder, FreeSpace);
    if (bits & mmio::kTempShort) {
      Warn(kMsgSaveTempShort);
      continue;
    }
    if (bits & mmio::kTargetShort) {
      Warn(kMsgSaveTargetShort);
      continue;
    }
    return true;
  }
}

// Registers every pending line with the model. The first one that cannot be registered is named
// in a message and stops the save, so that no saved file silently lacks a document.
bool TVANTMainAA::AddPendingAttachments() {
  for (const std::string& line : CSVList->Items().Items()) {
    if (!IsPendingLine(line)) continue;
    const std::string path = mmio::PendingPath(line);
    std::string name;
    if (!Exists(path)) {
      Warn(kMsgPendingGone + path);
      return false;
    }
    if (!AttachNameOf(path, name)) {
      Warn(std::string(kMsgAttachNameInvalid) + "\n" + path);
      return false;
    }
    uint32_t cue_id = 0;
    if (AddAttachment(*model_, path, cue_id) <= 0) {
      Warn(kMsgPendingNoLabel + path);
      return false;
    }
  }
  return true;
}

void TVANTMainAA::RestoreScanState() {
  model_->ScanChunks(model_->GetPath());
  for (const std::string& id : DeleteList.Items())
    MarkScanMarkerDeleted(*model_, uint32_t(StrToIntDef(id, 0)));
}

void TVANTMainAA::StoreFields() {
  using bwf::CmcdField;
  auto store = [&](CmcdField f, TControl* field, size_t width) {
    mmio::SetFixedField(model_->CmcdInfo.Field(f).data(), FieldBytes(field), width);
  };
  store(CmcdField::ItemNumber, ItemNumber, 16);
  store(CmcdField::CommonCode, CommonCode, 24);
  store(CmcdField::ADComment, ADComment, 128);
  mmio::SetFixedField(model_->BextInfo.bytes.data(), FieldBytes(Remarks), 256);
  model_->BextImage = model_->BextInfo;
  model_->CmcdImage = model_->CmcdInfo;
}

// ---- CSV exchange ------------------------------------------------------------------------------

void TVANTMainAA::ImportCsvFile(TEditionKey key) {
  if (BWFFileName->GetText().empty()) {
    Warn(kMsgNoFileForImport);
    return;
  }
  if ((Modified || !FieldsEmpty) && !Ask(kMsgOverwriteFields)) return;
  OpenDialogImport->InitialDir = ReadString(kImportSetting);
  OpenDialogImport->Filter = kCsvFilter;
  if (!OpenDialogImport->Execute()) return;
  const std::string chosen = OpenDialogImport->FileName;
  // Pending lines and deletions live only in the list; the redisplay must not lose them.
  const std::vector<std::string> kept = CSVList->Items().Items();
  ImportCsv(*model_, chosen, key);
  ShowFileInfo(*model_);
  CSVList->Items().SetItems(kept);
  Modified = true;
  WriteString(kImportSetting, chosen);
}

void TVANTMainAA::ExportCsvFile(TEditionKey key) {
  SaveDialogExport->DefaultExt = "csv";
  SaveDialogExport->InitialDir = ReadString(kExportSetting);
  SaveDialogExport->Filter = kCsvFilter;
  if (!SaveDialogExport->Execute()) return;
  const std::string chosen = SaveDialogExport->FileName;
  if (Exists(chosen) && !Ask(kMsgFileExists)) return;
  StoreFields();
  ExportCsv(*model_, mmio::AddFileExt(chosen, ".csv"), key);
  WriteString(kExportSetting, chosen);
}

// ---- attachments -------------------------------------------------------------------------------

bool TVANTMainAA::IsAttachedName(const std::string& path, const TStrings& list) const {
  const std::string name = Upper(fs::path(path).filename().string());
  for (const std::string& line : list.Items()) {
    std::string listed = Upper(line);
    if (IsPendingLine(line)) {
      const size_t csv = listed.find(".CSV");
      listed = csv == std::string::npos ? listed.substr(1) : listed.substr(1, csv + 3);
    }
    if (listed == name) return true;
  }
  return false;
}

void TVANTMainAA::AttachCsvFile() {
  int pending = 0;
  for (const std::string& line : CSVList->Items().Items()) pending += IsPendingLine(line);
  const int deleted = DeleteList.Count(), free = FreeSlots;
  const int listed = CSVList->Items().Count() + PDFList->Items().Count();
  if (free + deleted <= 0 || listed >= kMaxAttachments) {
    char count[160];
    std::snprintf(count, sizeof count, kMsgAttachCount, PDFList->Items().Count(),
                  CSVList->Items().Count());
    Warn(std::string(count) + kMsgAttachLimit);
    return;
  }
  if (pending >= free + deleted) {
    MessageDlg(kMsgNoLabelPossible, mtInformation, mbOK);
    return;
  }
  OpenDialogAttach->InitialDir = ReadString(kAttachedSetting);
  OpenDialogAttach->Filter = kCsvFilter;
  std::string chosen;
  for (;;) {
    if (!OpenDialogAttach->Execute()) return;
    chosen = OpenDialogAttach->FileName;
    if (Upper(fs::path(chosen).extension().string()) == ".CSV") break;
    Warn(kMsgWrongExtension);
  }
  if (IsAttachedName(chosen, CSVList->Items())) {
    Warn(kMsgSameName);
    return;
  }
  CSVList->Items().Add("*" + fs::path(chosen).filename().string() +
                       "                                      [" + chosen + "]");
  WriteString(kAttachedSetting, chosen);
  Modified = true;
}

// The stored CP932 name behind a list line (the list shows it converted).
std::string TVANTMainAA::StoredName(TListBox* list, bool pdf) const {
  const std::string& line = list->Items()[list->GetItemIndex()];
  std::vector<std::string> names;
  if (pdf) {
    model_->GetPdfList(names);
  } else {
    model_->GetCsvList(names);
  }
  for (const std::string& n : names)
    if (text::ToUtf8(n) == line) return n;
  return text::ToCp932Lossy(line);
}

void TVANTMainAA::DeleteCsvAttachment() {
  const int index = CSVList->GetItemIndex();
  if (index < 0 || !model_) return;
  const std::string line = CSVList->Items()[index];
  const size_t blank = line.find(' ');
  const std::string shown = blank == std::string::npos ? "" : line.substr(0, blank + 1);
  if (!Ask("添付ファイル" + shown + "を削除します。よろしいですか？")) return;
  if (IsPendingLine(line)) {
    CSVList->Items().Delete(index);
    return;
  }
  const std::string id = DeleteAttachment(*model_, StoredName(CSVList, false));
  if (!id.empty()) DeleteList.Add(id);
  CSVList->Items().Delete(index);
  Modified = true;
}

void TVANTMainAA::ShowAttachment(TListBox* list, bool pdf) {
  const int index = list->GetItemIndex();
  if (index < 0 || !model_) return;
  const std::string& line = list->Items()[index];
  std::string file;
  if (IsPendingLine(line)) {
    file = mmio::PendingPath(line);
  } else {
    const std::string name = StoredName(list, pdf);
    file = pdf ? ExtractPdf(*model_, name) : ExtractCsv(*model_, name);
  }
  if (file.empty()) return;
  OpenWithApplication((pdf ? PdfApplicationName : CsvApplicationName)->GetText(), file, "");
}

void TVANTMainAA::ShowCsvAttachment() { ShowAttachment(CSVList, false); }
void TVANTMainAA::ShowPdfAttachment() { ShowAttachment(PDFList, true); }

void TVANTMainAA::SavePdfAttachment() {
  const int index = PDFList->GetItemIndex();
  if (index < 0 || !model_) return;
  const std::string name = StoredName(PDFList, true);
  SaveAttachmentDialog->DefaultExt = "pdf";
  SaveAttachmentDialog->InitialDir = ReadString(kPdfSavedSetting);
  // The stored name may hold separators; the dialog proposes it as one safe file name.
  SaveAttachmentDialog->FileName = SafeAttachFileName(name);
  SaveAttachmentDialog->Filter = "PDF files (*.pdf)|*.pdf";
  if (!SaveAttachmentDialog->Execute()) return;
  const std::string chosen = SaveAttachmentDialog->FileName;
  if (Exists(chosen) && !Ask(kMsgFileExists)) return;
  ExtractPdfTo(*model_, name, chosen);
  WriteString(kPdfSavedSetting, chosen);
}

// ---- display programs --------------------------------------------------------------------------

void TVANTMainAA::SelectApplication(TOpenDialog* dialog, TStaticText* field, int setting,
                                    const char* filter) {
  const std::string current = field->GetText();
  std::error_code ec;
  dialog->InitialDir = fs::path(current).parent_path().string();
  dialog->FileName = fs::is_regular_file(current, ec) ? current : "";
  dialog->Filter = filter;
  if (!dialog->Execute()) return;
  WriteString(setting, dialog->FileName);
  field->SetText(dialog->FileName);
}

// Programs here carry no extension, so the filter lists every file.
void TVANTMainAA::SelectCsvApplication() {
  SelectApplication(OpenDialogCsv, CsvApplicationName, kCsvApplicationSetting,
                    "CSV Application files (*)|*");
}

void TVANTMainAA::SelectPdfApplication() {
  SelectApplication(OpenDialogPdf, PdfApplicationName, kPdfApplicationSetting,
                    "PDF Application files (*)|*");
}

// ---- hand-over and close -----------------------------------------------------------------------

void TVANTMainAA::WMCopyData(const std::string& path) {
  // A path the system cannot take is refused aloud, never cut: a cut one could name another file.
  if (!orlune::PathFits(path)) {
    RefusePath();
    return;
  }
  if (GetWindowState() != wsMinimized) {
    SetWindowState(wsNormal);
    if (!GetVisible()) Show();
  }
  BringToFront();
  if (Busy || Opening || !Exists(path)) return;
  if (model_) {
    std::error_code ec;
    if (model_->GetPath() == fs::path(path) || fs::equivalent(model_->GetPath(), path, ec)) return;
  }
  if (Modified && !Ask(kMsgUnsaved)) return;
  Modified = false;
  OpenFile(path);
  MainTabClick(this);
}

void TVANTMainAA::FormCloseQuery(TObject*, bool& can_close) {
  if (Busy) {
    can_close = false;
    return;
  }
  if (Modified && !Ask(kMsgCloseModified)) {
    can_close = false;
    return;
  }
  WriteInteger(kVolumeSetting, player_->GetVolume());
}
