// The converter main window's behaviour: start-up and first activation, the image buttons and
// their actions, the bars, the display of a file and the field checks.
#include <chrono>
#include <filesystem>
#include <thread>

#include "aabcresources.h"
#include "bsplash.h"
#include "bwfmainaa.h"
#include "comresources.h"
#include "cp932.h"
#include "desktopstate.h"
#include "mainaarules.h"
#include "regeditbw.h"
#include "sysreg.h"
#include "ui_application.h"
#include "ui_datetime.h"
#include "verformaa.h"

using namespace vant;

namespace {

constexpr TColor kInvalidColor = 255;  // red
constexpr int kVolumeSetting = 106;
constexpr int kCsvApplicationSetting = 104;
constexpr int kPdfApplicationSetting = 105;

bool ModuleOfGroup(int group, g32::TBitmap32List*& list) {
  list = nullptr;
  if (group == 0 || group > 4) {
    if (ComDataRes) list = &ComDataRes->Bitmap32List;
  } else if (group == 1 || group == 2) {
    if (AABCDataRes) list = &AABCDataRes->Bitmap32List;
  }
  return list != nullptr;
}

}  // namespace

const g32::TBitmap32* TVANTMainAA::SkinPicture(int tag) {
  g32::TBitmap32List* list;
  if (tag < 0 || !ModuleOfGroup(tag / 100, list)) return nullptr;
  const int index = tag % 100;
  if (index >= list->GetBitmaps()->Count()) return nullptr;
  return list->GetBitmap(index);
}

void TVANTMainAA::ShowPicture(g32::TImage32* image, const g32::TBitmap32* picture) {
  if (!picture) return;
  image->SetBitmap(picture);
  image->GetBitmap()->SetDrawMode(g32::dmBlend);
  image->GetBitmap()->SetMasterAlpha(255);
  image->SetAutoSize(true);
}

void TVANTMainAA::SetPicture(g32::TImage32* image, int item) {
  ShowPicture(image, SkinPicture(int(image->GetTag()) / 100 * 100 + item));
}

void TVANTMainAA::SetPlayer(orlune::TPlayerLink* player) {
  player_ = player ? player : &no_player_;
}

// ---- start-up ----------------------------------------------------------------------------------

void TVANTMainAA::FormCreate(TObject*) {
  ScaleBy(DesignPixelsPerInch, ScreenPixelsPerInch);
  if (VANTSplash && VANTSplash->GetVisible()) Timer1->SetEnabled(true);
  if (!SysRegVANT) SysRegVANT = new TSysRegVANT(this);
}

void TVANTMainAA::Timer1Timer(TObject*) {
  Timer1->SetEnabled(false);
  if (VANTSplash) VANTSplash->Close();
}

void TVANTMainAA::WaitForSplash() {
  while (VANTSplash && VANTSplash->GetVisible()) {
    Application->ProcessMessages();
    if (VANTSplash->GetVisible()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void TVANTMainAA::FormShow(TObject*) {
  WaitForSplash();
  // Here the window is already on screen (the toolkit shows it before this handler runs), and
  // the first open's dialog and messages appear over it: it wears its skin from now on.
  ShowSkin();
  MainTabClick(this);
  if (CommandPathRefused) {
    CommandPathRefused = false;
    RefusePath();
    OpenFile(CommandPath, false);
  } else {
    OpenFile(CommandPath);
  }
  MainTabClick(this);
}

void TVANTMainAA::ShowSkin() {
  // The tags first: the pictures are chosen by them.
  for (size_t i = 0; i < images_.size(); ++i) images_[i]->SetTag(image_tags_[i]);
  for (g32::TImage32* b : {BTPlay, BTPause, BTStop, BTExit, BTOpen, BTSave, BTImport, BTExport,
                           BTDispPDF, BTSavePDF, BTAttachCSV, BTDispCSV, BTDeleteCSV, BTCsvSel,
                           BTPdfSel, BTValume, BTHandle, BTPosition, BTPosHandle})
    ShowPicture(b, SkinPicture(int(b->GetTag())));
  if (!model_) DarkenLamps();  // no file yet
}

void TVANTMainAA::DarkenLamps() {
  DarkenKindLamps();
  SetPicture(BTAlart, 18);
}

void TVANTMainAA::DarkenKindLamps() {
  SetPicture(BTIndZOM, 13);
  SetPicture(BTIndVANT, 15);
  SetPicture(BTIndWav, 17);
}

void TVANTMainAA::FormActivate(TObject*) {
  if (!FirstActivation) return;
  ShowSkin();
  if (VersionConv && VANTSplash) VersionConv->SetPicture(VANTSplash->Bitmap32List.GetBitmap(2));

  int volume = SysRegVANT ? SysRegVANT->ReadWorkInteger(kVolumeSetting) : 0;
  const orlune::VolumeBar bar{BTValume->GetWidth()};
  if (volume < 0 || volume > 32767) {
    if (SysRegVANT) SysRegVANT->WriteWorkInteger(kVolumeSetting, 0);
    volume = 0;
  }
  BTHandle->SetLeft(BTValume->GetLeft() + bar.HandleOffset(volume));
  player_->SetVolume(volume);
  player_->SetPositionCallback(2, [this](const std::string& text, int64_t ms, double fraction) {
    PositionCallback(text, ms, fraction);
  });
  FirstActivation = false;
}

void TVANTMainAA::FormDestroy(TObject*) {
  model_.reset();
  if (SysRegVANT && SysRegVANT->GetOwner() == this) {
    delete SysRegVANT;
    SysRegVANT = nullptr;
  }
  FormatSettings().ShortDateFormat = saved_short_date_;
  Timer1->SetEnabled(false);
  DeleteList.Clear();
}

// ---- pages and version -------------------------------------------------------------------------

void TVANTMainAA::MainTabClick(TObject*) {
  MainPage->SetVisible(true);
  SubPage->SetVisible(false);
  if (AABCDataRes) ShowPicture(BaseImage, AABCDataRes->Bitmap32List.GetBitmap(28));
}

void TVANTMainAA::SubTabClick(TObject*) {
  SubPage->SetVisible(true);
  MainPage->SetVisible(false);
  if (AABCDataRes) ShowPicture(BaseImage, AABCDataRes->Bitmap32List.GetBitmap(29));
}

void TVANTMainAA::VerSpotMouseDown(TObject*, TMouseButton Button, TShiftState, int, int) {
  if (Button == mbRight && VersionConv) VersionConv->ShowModal();
}

// ---- image buttons -----------------------------------------------------------------------------

void TVANTMainAA::BTMouseDown(g32::TImage32* Sender) {
  if (Busy) return;
  SetPicture(Sender, int(Sender->GetTag() % 100) + 1);
}

void TVANTMainAA::BTMouseMove(g32::TImage32* Sender) {
  SetPicture(Sender, int(Sender->GetTag() % 100));
}

void TVANTMainAA::BTMouseUp(g32::TImage32* Sender) {
  if (Busy) return;
  const int group = int(Sender->GetTag() / 100), index = int(Sender->GetTag() % 100);
  if (group == 0) {
    // Keeps its pressed picture until the pointer next moves over it.
    ExecPlayerButton(index);
  } else if (group == 1) {
    ExecFileButton(index);
    SetPicture(Sender, index);
  }
}

void TVANTMainAA::ExecPlayerButton(int index) {
  if (index == 10) {
    Close();
    return;
  }
  if (!model_) return;
  orlune::TPlayerLink& p = *player_;
  auto restore_length = [&] { p.SetPlayLength(p.GetFileLength()); };
  const unsigned state = p.GetState();
  const bool playing = state & orlune::kPlaying, paused = state & orlune::kPaused;
  auto ms = [&](int64_t samples) { return int64_t(model_->SamplesToMSec(uint32_t(samples))); };
  switch (index) {
    case 2:
      restore_length();
      p.Stop();
      break;
    case 4:
      if (playing && paused) {
        restore_length();
        p.Restart();
      } else if (!playing) {
        restore_length();
        p.PlayFrom(0);
      }
      break;
    case 6:
      if (playing && !paused) {
        restore_length();
        p.Pause();
      }
      break;
    case 18:
    case 20: {
      p.Stop();
      const int64_t mark = index == 18 ? model_->GetStartPos() : model_->GetStandbyPos();
      // Without the mark there is no place to play from.
      if ((p.GetState() & (orlune::kPlaying | orlune::kPaused)) || mark < 0) break;
      restore_length();
      p.PlayFrom(ms(mark));
      break;
    }
    case 22:
    case 24: {
      p.Stop();
      const int64_t mark = index == 22 ? model_->GetEndPos() : model_->GetStopPos();
      if ((p.GetState() & (orlune::kPlaying | orlune::kPaused)) || mark < 0) break;
      const int64_t e = ms(mark);
      p.SetPlayLength(e);
      p.PlayFrom(e - 3000);
      break;
    }
    default:
      break;
  }
}

// ---- volume and position bars ------------------------------------------------------------------

bool TVANTMainAA::SetVolumeAt(int x, int y) {
  const orlune::VolumeBar bar{BTValume->GetWidth()};
  if (!bar.Accepts(x, y)) return false;
  BTHandle->SetLeft(BTValume->GetLeft() + x);
  player_->SetVolume(bar.VolumeAt(x));
  return true;
}

void TVANTMainAA::BTValumeMouseDown(int X, int Y) { SetVolumeAt(X, Y); }

void TVANTMainAA::BTValumeDragOver(TObject* Source, int X, int Y, bool& Accept) {
  Accept = Source == BTHandle;
  if (Accept) SetVolumeAt(X, Y);
}

void TVANTMainAA::BTHandleMouseDown() { BTHandle->BeginDrag(false); }

void TVANTMainAA::MovePosition(int x, bool seek) {
  const orlune::PositionBar bar{BTPosition->GetWidth(), BTPosHandle->GetWidth()};
  BTPosHandle->SetLeft(BTPosition->GetLeft() + x);
  player_->ShowPosition(x, bar.Range());
  if (seek) player_->SeekTo();
}

void TVANTMainAA::BTPositionMouseDown(int X, int Y) {
  if (Busy || !model_) return;
  const orlune::PositionBar bar{BTPosition->GetWidth(), BTPosHandle->GetWidth()};
  if (!bar.Accepts(X, Y)) return;
  BTPosHandle->SetLeft(BTPosition->GetLeft() + X);
  player_->Stop();
  player_->ShowPosition(X, bar.Range());
  player_->SeekTo();
}

void TVANTMainAA::BTPosHandleMouseDown() {
  if (Busy || !model_) return;
  BTPosHandle->BeginDrag(false);
  player_->Stop();
}

void TVANTMainAA::BTPositionDragOver(TObject* Source, int X, int Y, bool& Accept) {
  Accept = Source == BTPosHandle;
  if (!Accept || Busy || !model_) return;
  const orlune::PositionBar bar{BTPosition->GetWidth(), BTPosHandle->GetWidth()};
  if (bar.Accepts(X, Y)) MovePosition(X, false);
}

void TVANTMainAA::BTPositionDragDrop(TObject* Source, int X, int Y) {
  if (Source != BTPosHandle || Busy || !model_) return;
  const orlune::PositionBar bar{BTPosition->GetWidth(), BTPosHandle->GetWidth()};
  if (bar.Accepts(X, Y)) MovePosition(X, true);
}

void TVANTMainAA::BTPosHandleDragDrop(TObject*, int, int) {
  if (Busy || !model_) return;
  const orlune::PositionBar bar{BTPosition->GetWidth(), BTPosHandle->GetWidth()};
  player_->Stop();
  player_->ShowPosition(BTPosHandle->GetLeft() - BTPosition->GetLeft(), bar.Range());
  player_->SeekTo();
}

void TVANTMainAA::PositionCallback(const std::string&, int64_t, double fraction) {
  const orlune::PositionBar bar{BTPosition->GetWidth(), BTPosHandle->GetWidth()};
  // With the frame that shows the level meters: one screen update for both.
  BTPosHandle->MoveAtFrame(BTPosition->GetLeft() + bar.HandleOffset(fraction),
                           BTPosHandle->GetTop());
}

// ---- fields ------------------------------------------------------------------------------------

void TVANTMainAA::FieldUpdated(TObject* Sender) {
  Modified = true;
  if (!filling_) shown_bytes_.erase(static_cast<TControl*>(Sender));
}

std::string TVANTMainAA::FieldText(int width, std::span<const uint8_t> field) {
  return TBWFChunck::GetFieldText(field.first(std::min<size_t>(field.size(), size_t(width))));
}

void TVANTMainAA::ShowField(TControl* field, const std::string& bytes) {
  filling_ = true;
  field->SetText(text::ToUtf8(bytes));
  filling_ = false;
  shown_bytes_[field] = bytes;
}

std::string TVANTMainAA::FieldBytes(TControl* field) const {
  auto it = shown_bytes_.find(field);
  if (it != shown_bytes_.end()) return it->second;
  return text::ToCp932Lossy(field->GetText());
}

void TVANTMainAA::ShowKindLamps(TBWFChunck& model) {
  DarkenKindLamps();
  switch (model.GetFileKind()) {
    case 1:
      SetPicture(BTIndZOM, 12);
      break;
    case 2:
      SetPicture(BTIndVANT, 14);
      break;
    case 3:
      SetPicture(BTIndWav, 16);
      break;
    default:
      break;
  }
}

void TVANTMainAA::ShowLengthLamp(TBWFChunck& model) {
  const bool on = orlune::LengthLampOn(model.GetFileKind(), model.Present.cue, model.GetCMLength(),
                                       CMLength->GetText());
  ShowPicture(BTAlart, AABCDataRes ? AABCDataRes->Bitmap32List.GetBitmap(on ? 19 : 18) : nullptr);
}

void TVANTMainAA::ShowFileInfo(TBWFChunck& model) {
  using bwf::CmcdField;
  auto cmcd = [&](CmcdField f, int width) { return FieldText(width, model.CmcdInfo.Field(f)); };
  FieldsEmpty = true;
  // The name as the file system has it: the model's CP932 copy loses what that code page lacks.
  filling_ = true;
  BWFFileName->SetText(model.GetPath().filename().string());
  filling_ = false;
  ShowField(ClientName, cmcd(CmcdField::ClientName, 64));
  ShowField(CMTitle, cmcd(CmcdField::CMTitle, 128));
  ShowField(CMLength, cmcd(CmcdField::CMLength, 6));
  ShowLengthLamp(model);
  ShowKindLamps(model);
  ShowField(AdCompany, cmcd(CmcdField::AdCompany, 64));
  ShowField(Production, cmcd(CmcdField::Production, 64));
  ShowField(RecordingStudio, cmcd(CmcdField::RecordingStudio, 64));
  ShowField(ItemNumber, cmcd(CmcdField::ItemNumber, 16));
  ShowField(CommonCode, cmcd(CmcdField::CommonCode, 24));
  ShowField(ProductionCode, cmcd(CmcdField::ProductionCode, 16));
  ShowField(ADComment, cmcd(CmcdField::ADComment, 128));
  ShowField(RSComment, cmcd(CmcdField::RSComment, 128));

  std::vector<std::string> pdf, csv;
  const int pdfs = model.GetPdfList(pdf), csvs = model.GetCsvList(csv);
  PDFList->Items().Clear();
  for (const std::string& n : pdf) PDFList->Items().Add(text::ToUtf8(n));
  CSVList->Items().Clear();
  for (const std::string& n : csv) CSVList->Items().Add(text::ToUtf8(n));
  AttachCount = pdfs + csvs;
  FreeSlots = 9 - AttachCount;

  FileType->SetText(orlune::FileTypeText(model.WaveFormat.wFormatTag));
  Channels->SetText(orlune::ChannelsText(model.WaveFormat.nChannels));
  SamplingFreq->SetText(orlune::SamplingText(model.WaveFormat.nSamplesPerSec));
  CMActualLength->SetText(orlune::ActualLengthText(model.GetStartPos() != -1, model.GetCMLength()));
  ShowField(CreationDate, cmcd(CmcdField::CreationDate, 10));
  ShowField(Limitation, cmcd(CmcdField::Limitation, 10));
  ShowField(Remarks, FieldText(256, model.BextInfo.Field(bwf::BextField::Description)));
  if (SysRegVANT) {
    CsvApplicationName->SetText(SysRegVANT->ReadWorkString(kCsvApplicationSetting));
    PdfApplicationName->SetText(SysRegVANT->ReadWorkString(kPdfApplicationSetting));
  }
  if (!ItemNumber->GetText().empty() || !CommonCode->GetText().empty() ||
      !ADComment->GetText().empty())
    FieldsEmpty = false;
}

void TVANTMainAA::ClearFields() {
  for (TControl* c : std::initializer_list<TControl*>{CMLength, PDFList, CSVList, CreationDate,
                                                      Limitation, CommonCode})
    SetTextColor(*c, clWindowText);
  filling_ = true;
  for (TControl* c :
       std::initializer_list<TControl*>{AdCompany,          Production,   RecordingStudio,
                                        RSComment,          ADComment,    Remarks,
                                        ClientName,         CMTitle,      ItemNumber,
                                        ProductionCode,     CommonCode,   FileType,
                                        Channels,           SamplingFreq, CMActualLength,
                                        CreationDate,       Limitation,   CsvApplicationName,
                                        PdfApplicationName, BWFFileName,  CMLength})
    c->SetText("");
  filling_ = false;
  shown_bytes_.clear();
  PDFList->Items().Clear();
  CSVList->Items().Clear();
  // A lamp must not describe a file the fields no longer show.
  DarkenLamps();
  Modified = false;
}

bool TVANTMainAA::ValidateFields() {
  auto check = [](TControl* c, bool valid) {
    if (!valid) SetTextColor(*c, kInvalidColor);
    return valid;
  };
  check(CMLength, orlune::IsValidLength(CMLength->GetText()));
  check(CreationDate, orlune::IsValidDate(CreationDate->GetText()));
  check(Limitation, orlune::IsValidDate(Limitation->GetText()));
  return !check(CommonCode, orlune::IsSingleByte(CommonCode->GetText()));
}

// ---- file buttons ------------------------------------------------------------------------------

void TVANTMainAA::ExecFileButton(int index) {
  const bool open = model_ != nullptr;
  switch (index) {
    case 0:
      if (open) AttachCsvFile();
      break;
    case 4:
      if (open && PDFList->GetItemIndex() >= 0) SavePdfAttachment();
      break;
    case 6:
      if (open && CSVList->GetItemIndex() >= 0) DeleteCsvAttachment();
      break;
    case 8:
      if (!Opening) {
        OpenFile("");
        MainTabClick(this);
      }
      break;
    case 10:
      if (open) ShowPdfAttachment();
      break;
    case 12:
      if (open && !Opening) SaveFile();
      break;
    case 14:
      if (open) ExportCsvFile(EditionKeyAgency);
      break;
    case 16:
      if (open) ShowCsvAttachment();
      break;
    case 20:
      if (open) ImportCsvFile(EditionKeyAgency);
      break;
    case 22:
      if (open) SelectCsvApplication();
      break;
    case 24:
      if (open) SelectPdfApplication();
      break;
    default:
      break;
  }
}
