#include "mmwinfo.h"

#include <cstdio>

#include "mmcstdlg.h"
#include "mmdib.h"
#include "mmresources.h"
#include "mmutilsdraw.h"
#include "mmwavefile.h"
#include "ui_application.h"

using namespace vant;

namespace {

constexpr int kImageSize = 44;

bool HasTranslucentPixels(const TBitmap& picture) {
  for (int y = 0; y < picture.Height(); ++y) {
    const uint32_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x)
      if (row[x] >> 24 != 0xFF) return true;
  }
  return false;
}

template <class T>
T* Make(TForm* form, TWinControl* parent, int left, int top, int width, int height) {
  auto* c = new T(form);
  c->SetParent(parent);
  c->SetBounds(left, top, width, height);
  return c;
}

TLabel* Text(TForm* form, TWinControl* parent, int left, int top, const std::string& text,
             int width = 0, int height = 0) {
  auto* l = Make<TLabel>(form, parent, left, top, width ? width : 200, height ? height : 13);
  l->SetCaption(text);
  if (!width) l->SetAutoSize(true);
  return l;
}

// The first entry of `format` in the list, or nullptr.
TDisp* FirstOf(TDispList* list, uint32_t format) {
  for (auto& e : list->entries)
    if (e->format == format) return e.get();
  return nullptr;
}

std::vector<uint8_t> Bytes(const std::string& text) {
  std::vector<uint8_t> v(text.begin(), text.end());
  v.push_back(0);  // stored with its terminating zero, as a text clipboard block is
  return v;
}

std::string TextOf(const std::vector<uint8_t>& data) {
  std::string s(data.begin(), data.end());
  return s.substr(0, s.find('\0'));
}

}  // namespace

TMMRiffInfoEditorDlg::TMMRiffInfoEditorDlg(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetCaption("Riff Info Editor");
  SetBorderStyle(bsDialog);
  SetPosition(poScreenCenter);
  SetClientWidth(456);
  SetClientHeight(344);
  Font().SetName("MS Sans Serif");
  Font().SetHeight(-11);
  auto* bevel3 = Make<TBevel>(this, this, 8, 8, 440, 297);
  bevel3->SetShape(bsFrame);
  auto* label7 = Text(this, this, 16, 20, "&Description");
  DescriptionEdit = Make<TEdit>(this, this, 16, 40, 206, 21);
  (void)label7;
  DIBImage = Make<TImage>(this, this, 248, 19, kImageSize, kImageSize);
  DIBImage->SetCenter(true);
  DIBImage->SetStretch(true);
  PictureBtn = Make<TButton>(this, this, 304, 28, 60, 25);
  PictureBtn->SetCaption("&Picture...");
  ClrBtn = Make<TButton>(this, this, 375, 28, 60, 25);
  ClrBtn->SetCaption("&Clear");
  auto* bevel2 = Make<TBevel>(this, this, 16, 72, 425, 2);
  bevel2->SetShape(bsTopLine);
  Text(this, this, 24, 80, "INFO Items");
  INFOComboBox = Make<TComboBox>(this, this, 16, 99, 206, 24);
  INFOComboBox->SetStyle(csDropDownList);
  // The group box: a frame with its caption over the top line.
  Make<TBevel>(this, this, 16, 142, 206, 155)->SetShape(bsFrame);
  Text(this, this, 24, 136, " Description of Item ");
  ChunkInfoLabel = Make<TLabel>(this, this, 31, 163, 177, 118);
  ChunkInfoLabel->SetAutoSize(false);
  ChunkInfoLabel->SetBounds(31, 163, 177, 118);
  ChunkInfoLabel->SetWordWrap(true);
  ChunkInfoLabel->SetCaption("Text1");
  auto* bevel1 = Make<TBevel>(this, this, 232, 80, 2, 217);
  bevel1->SetShape(bsLeftLine);
  Text(this, this, 244, 80, "1. Select INFO item to edit/create.");
  Text(this, this, 244, 108, "2. Make change in text below.");
  Text(this, this, 244, 136, "3. When done, selct OK to save changes.", 155, 26)->SetWordWrap(true);
  InfoTextMemo = Make<TMemo>(this, this, 244, 176, 195, 121);
  Text(this, this, 24, 308, "* means contains Data");
  RevertBtn = Make<TButton>(this, this, 272, 312, 75, 25);
  RevertBtn->SetCaption("&Reset");
  OKBtn = Make<TButton>(this, this, 360, 312, 75, 25);
  OKBtn->SetCaption("OK");
  OKBtn->SetDefault(true);
  OKBtn->SetModalResult(mrOk);
  PictureOpenDialog = new TMMPictureOpenDialog(this);
  PictureOpenDialog->DefaultExt = "BMP";
  PictureOpenDialog->Title = "Open File";
  PictureOpenDialog->Options = ofHideReadOnly;
  PictureOpenDialog->Filter =
      "Alle Dateien (*.BMP;*.ICO;*.WMF)|*.BMP;*.ICO;*.WMF|Bitmaps (*.BMP)|*.BMP|Symbole "
      "(*.ICO)|*.ICO|Metadateien (*.WMF)|*.WMF";

  // The lines are columns of id, mark and name, so they align only in a fixed-pitch face.
  INFOComboBox->Font().SetName("Monospace");
  DescriptionEdit->OnEnter = [this](TObject*) { OKBtn->SetDefault(false); };
  DescriptionEdit->OnExit = [this](TObject*) { DescriptionEditExit(); };
  DescriptionEdit->OnKeyPress = [this](TObject*, char32_t& key) {
    if (key == 13) {
      key = 0;
      DescriptionEditExit();
    }
  };
  PictureBtn->OnClick = [this](TObject*) { PictureBtnClick(); };
  ClrBtn->OnClick = [this](TObject*) { ClrBtnClick(); };
  RevertBtn->OnClick = [this](TObject*) { RevertBtnClick(); };
  INFOComboBox->OnChange = [this](TObject*) { INFOComboBoxChange(); };
  InfoTextMemo->OnExit = [this](TObject*) { InfoTextMemoExit(); };
  OnShow = [this](TObject*) {
    if (info_) SetupINFOComboBox(0);
  };
  Loaded();
  SetLoading(false);
  SetupDISP();
}

void TMMRiffInfoEditorDlg::SetParams(TInfoChunk* info, TDispList* disp) {
  if (info != info_) {
    info_ = info;
    if (info_) SetupINFOComboBox(0);
  }
  if (disp != disp_) {
    disp_ = disp;
    SetupDISP();
  }
}

bool TMMRiffInfoEditorDlg::InfoChanged() const {
  if (disp_)
    for (const auto& e : disp_->entries)
      if (e->flags == kRiffChanged) return true;
  if (info_)
    for (const auto& e : info_->entries)
      if (e->flags == kRiffChanged) return true;
  return false;
}

TInfoData* TMMRiffInfoEditorDlg::SelectedEntry() {
  const int index = INFOComboBox->GetItemIndex();
  for (auto& e : info_->entries)
    if (e->index == index) return e.get();
  ChunkInfoLabel->SetCaption("Can't FIND ItemIndex");
  return nullptr;
}

void TMMRiffInfoEditorDlg::SetupINFOComboBox(int index) {
  if (!info_) return;
  INFOComboBox->Items().Clear();
  for (const auto& e : info_->entries) {
    const TInfoId& id = RiffInfoId(e->index);
    const char name[5] = {char(id.id), char(id.id >> 8), char(id.id >> 16), char(id.id >> 24), 0};
    const char* mark = RiffInfoText(*info_, *e).empty() ? " " : "*";
    char line[64];
    std::snprintf(line, sizeof line, "%-4s%-1s %-25s", name, mark, id.name);
    INFOComboBox->Items().Add(line);
  }
  INFOComboBox->SetItemIndex(index);
  INFOComboBoxChange();
}

void TMMRiffInfoEditorDlg::INFOComboBoxChange() {
  if (!info_) return;
  TInfoData* e = SelectedEntry();
  if (!e) return;
  InfoTextMemo->SetText(RiffInfoText(*info_, *e));
  ChunkInfoLabel->SetCaption(RiffInfoId(e->index).description);
}

void TMMRiffInfoEditorDlg::InfoTextMemoExit() {
  if (!info_) return;
  TInfoData* e = SelectedEntry();
  if (!e) return;
  RiffModifyINFO(info_, e, kRiffChanged, 0, InfoTextMemo->GetText());
  // Renews the marks.
  SetupINFOComboBox(INFOComboBox->GetItemIndex());
}

void TMMRiffInfoEditorDlg::DescriptionEditExit() {
  if (disp_) {
    const std::string text = DescriptionEdit->GetText();
    TDisp* e = FirstOf(disp_, kDispText);
    // Leaving the edit without a change must not mark the entry: marked without data it would
    // drop the description from the file.
    const std::vector<uint8_t>* shown = e ? RiffDispData(*e) : nullptr;
    const bool unchanged = shown ? TextOf(*shown) == text : text.empty();
    if (e && !unchanged)
      RiffModifyDISP(disp_, e, kRiffChanged, Bytes(text));
    else if (!e && !text.empty())
      RiffInsertDISP(disp_, RiffCreateDISP(kRiffChanged, kDispText, std::nullopt, Bytes(text)));
  }
  if (!DescriptionEdit->Focused()) OKBtn->SetDefault(true);
}

void TMMRiffInfoEditorDlg::PictureBtnClick() {
  if (!PictureOpenDialog->Execute()) return;
  TBitmap picture;
  if (!picture.LoadFromFile(PictureOpenDialog->FileName, true))
    throw Exception("Cannot load the picture " + PictureOpenDialog->FileName);
  if (!disp_) return;
  // Stored at true colour whatever the screen runs at: a picture that is see-through anywhere
  // keeps its alpha at 32 bits, any other takes 24 bits.
  TDIB dib = HasTranslucentPixels(picture) ? DIB_BitmapToDIB(picture, nullptr, 32, 1)
                                           : DIB_BitmapToDIB(picture, nullptr, 24, 1);
  if (dib.empty()) throw Exception("Cannot load the picture " + PictureOpenDialog->FileName);
  if (TDisp* e = FirstOf(disp_, kDispDIB))
    RiffModifyDISP(disp_, e, kRiffChanged, std::move(dib));
  else
    RiffInsertDISP(disp_, RiffCreateDISP(kRiffChanged, kDispDIB, std::nullopt, std::move(dib)));
  SetupDISP();
}

void TMMRiffInfoEditorDlg::ClrBtnClick() {
  if (!disp_) return;
  if (TDisp* e = FirstOf(disp_, kDispDIB)) RiffModifyDISP(disp_, e, kRiffChanged, std::nullopt);
  SetupDISP();
}

void TMMRiffInfoEditorDlg::RevertBtnClick() {
  if (disp_) {
    for (auto& e : disp_->entries) RiffModifyDISP(disp_, e.get(), kRiffDropped, std::nullopt);
    SetupDISP();
  }
  if (info_) {
    for (auto& e : info_->entries) RiffModifyINFO(info_, e.get(), kRiffDropped, 0, std::nullopt);
    SetupINFOComboBox(INFOComboBox->GetItemIndex());
  }
}

void TMMRiffInfoEditorDlg::SetupDISP() {
  std::string text;
  const std::vector<uint8_t>* picture = nullptr;
  bool have_text = false;
  if (disp_)
    for (const auto& e : disp_->entries) {
      if (e->format == kDispText && !have_text) {
        have_text = true;
        if (const auto* d = e->changed ? &*e->changed : e->read ? &*e->read : nullptr)
          text = TextOf(*d);
      } else if (e->format == kDispDIB && !picture) {
        if (e->changed)
          picture = &*e->changed;
        else if (e->read && e->flags != kRiffChanged)
          picture = &*e->read;
      }
    }
  DescriptionEdit->SetText(text);
  TBitmap& image = DIBImage->Picture();
  std::optional<TLogPalette> palette;
  if (picture && DIB_DIBToBitmap(TDIBView(*picture), image, palette)) {
    ClrBtn->SetEnabled(true);
    DIBImage->SetStretch(image.Width() > kImageSize || image.Height() > kImageSize);
  } else {
    ClrBtn->SetEnabled(false);
    DIBImage->SetStretch(false);
    const TBitmap symbol = LoadLibraryBitmap("BMP_WAVE");
    image.SetSize(symbol.Width(), symbol.Height());
    image.Canvas().Brush().Color = GetColor();
    image.Canvas().FillRect({0, 0, symbol.Width(), symbol.Height()});
    DrawTransparentBitmap(image.Canvas(), symbol, 0, 0, GetTransparentColor(symbol));
  }
  DIBImage->Invalidate();
}

// ---- the components ----

bool TMMRiffInfoEditor::Execute() {
  if (!source_) return false;
  TMMRiffInfoEditorDlg form(nullptr);
  form.SetCaption(Title);
  TInfoChunk* info = nullptr;
  TDispList* disp = nullptr;
  GetParams(info, disp);
  form.SetParams(info, disp);
  dialog_ = &form;
  struct Clear {
    TMMRiffInfoEditorDlg*& d;
    ~Clear() { d = nullptr; }
  } clear{dialog_};
  return form.ShowModal() == mrOk && form.InfoChanged();
}

void TMMRiffInfoEditor::Notification(TComponent* component, TOperation operation) {
  TMMNonVisualComponent::Notification(component, operation);
  if (operation == opRemove && component == source_) source_ = nullptr;
}

TMMWaveInfoEditor::TMMWaveInfoEditor(TComponent* owner) : TMMRiffInfoEditor(owner) {
  Title = "Wave-Info Editor";
}

TMMWaveInfoEditor::~TMMWaveInfoEditor() { SetSource(nullptr); }

void TMMWaveInfoEditor::SetSource(TMMCustomWaveFile* source) {
  if (source == static_cast<TComponent*>(this) || source == source_) return;
  if (source_) source_->RemoveFreeNotification(this);
  source_ = source;
  if (source_) source_->FreeNotification(this);
}

void TMMWaveInfoEditor::GetParams(TInfoChunk*& info, TDispList*& disp) {
  info = nullptr;
  disp = nullptr;
  TMMWave* wave = source_ ? source_->GetWave() : nullptr;
  if (!wave || wave->GetEmpty()) return;
  if (TWAVEIOCB* block = wave->GetPWaveIOCB()) {
    info = block->lpInfo.get();
    disp = block->lpDisp.get();
  }
}
