#include "mmffedit.h"

#include <algorithm>
#include <cstdio>

#include "ui_application.h"

using namespace vant;

namespace {

constexpr char kAllFiles[] = "All files (*)|*";

// The path cut in the middle with "..." until it fits `width` pixels in `canvas`'s font.
std::string ShortenedPath(TCanvas& canvas, const std::string& path, int width) {
  if (canvas.TextWidth(path) <= width) return path;
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash);
  std::string head = slash == std::string::npos ? std::string() : path.substr(0, slash);
  while (!head.empty() && canvas.TextWidth(head + "..." + name) > width) head.pop_back();
  return head.empty() ? "..." + name : head + "..." + name;
}

TLabel* MakeLabel(TForm* form, const char* name, int left, int top, const char* caption) {
  auto* l = new TLabel(form);
  l->SetName(name);
  l->SetParent(form);
  l->SetBounds(left, top, 0, 13);
  l->SetAutoSize(true);
  l->SetCaption(caption);
  return l;
}

TButton* MakeButton(TForm* form, const char* name, int top, const char* caption) {
  auto* b = new TButton(form);
  b->SetName(name);
  b->SetParent(form);
  b->SetBounds(285, top, 75, 25);
  b->SetCaption(caption);
  return b;
}

}  // namespace

TBitmap FastFileRowPicture() {
  TBitmap b(16, 16);
  TCanvas& c = b.Canvas();
  c.Brush().Color = clWhite;
  c.FillRect(TRect{0, 0, 16, 16});
  c.Pen().Color = clBlack;
  const std::vector<TPoint> page = {{3, 1}, {10, 1}, {13, 4}, {13, 15}, {3, 15}};
  c.Brush().Color = clSilver;
  c.Polygon(page);
  c.MoveTo(10, 1);
  c.LineTo(10, 4);
  c.LineTo(13, 4);
  c.Pen().Color = clNavy;
  for (int y = 7; y <= 12; y += 2) {
    c.MoveTo(5, y);
    c.LineTo(12, y);
  }
  return b;
}

TMMFFileDlg::TMMFFileDlg(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("MMFFileDlg");
  SetCaption("FastFile-Editor");
  SetBorderStyle(bsDialog);
  SetPosition(poScreenCenter);
  SetClientWidth(372);
  SetClientHeight(161);

  Label1 = MakeLabel(this, "Label1", 2, 5, "File:");
  lblFile = MakeLabel(this, "lblFile", 24, 5, "none");
  lblFile->SetAutoSize(false);
  lblFile->SetBounds(24, 5, 113, 13);
  Label3 = MakeLabel(this, "Label3", 146, 5, "MaxFiles:");
  lblMaxFiles = MakeLabel(this, "lblMaxFiles", 196, 5, "  0");
  Label2 = MakeLabel(this, "Label2", 224, 5, "Files:");
  lblFiles = MakeLabel(this, "lblFiles", 252, 5, "  0");

  ListView = new TListView(this);
  ListView->SetName("ListView");
  ListView->SetParent(this);
  ListView->SetBounds(0, 20, 270, 141);
  ListView->SetColumns({{"Name", 110, taLeftJustify}, {"Size", 75, taRightJustify},
                        {"Offset", 80, taLeftJustify}});
  ListView->SetSmallImage(FastFileRowPicture(), clWhite);
  ListView->OnSelectItem = [this](TObject*, int, bool) {
    const bool any = ListView->GetSelected() >= 0;
    DelBtn->SetEnabled(any);
    ExtractBtn->SetEnabled(any);
  };
  ListView->OnEnter = [this](TObject*) { ListEnter(); };
  ListView->OnExit = [this](TObject*) { ListExit(); };
  ListView->OnEdited = [this](TObject*, int item, std::string& text) { ListEdited(item, text); };

  AddBtn = MakeButton(this, "AddBtn", 20, "&Add");
  AddBtn->SetEnabled(false);
  AddBtn->OnClick = [this](TObject*) { AddClick(); };
  DelBtn = MakeButton(this, "DelBtn", 50, "&Delete");
  DelBtn->SetEnabled(false);
  DelBtn->OnClick = [this](TObject*) { DelClick(); };
  ExtractBtn = MakeButton(this, "ExtractBtn", 80, "&Extract");
  ExtractBtn->SetEnabled(false);
  ExtractBtn->OnClick = [this](TObject*) { ExtractClick(); };
  OKBtn = MakeButton(this, "OKBtn", 128, "OK");
  OKBtn->SetDefault(true);
  OKBtn->SetModalResult(mrOk);

  FastFile = new TMMFastFile(this);
  FastFile->SetName("FastFile");
  FastFile->OnChange = [this](TObject*) { UpdateList(); };

  FileOpenDialog = new TOpenDialog(this);
  FileOpenDialog->SetName("FileOpenDialog");
  FileOpenDialog->Options = ofHideReadOnly | ofPathMustExist | ofFileMustExist;
  FileSaveDialog = new TSaveDialog(this);
  FileSaveDialog->SetName("FileSaveDialog");
  FileSaveDialog->Options = ofOverwritePrompt | ofHideReadOnly | ofPathMustExist;

  OnShow = [this](TObject*) { FormShow(); };

  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();
}

void TMMFFileDlg::FormShow() {
  refresh_allowed_ = true;
  if (!FastFile->GetFileName().empty()) {
    FastFile->Init();
    AddBtn->SetEnabled(true);
    lblFile->SetCaption(ShortenedPath(lblFile->Canvas(), FastFile->GetFileName(),
                                      lblFile->GetWidth()));
    char text[16];
    std::snprintf(text, sizeof text, "%3d", FastFile->GetMaxFiles());
    lblMaxFiles->SetCaption(text);
  }
  FileOpenDialog->Filter = kAllFiles;
  FileSaveDialog->Filter = kAllFiles;
  UpdateList();
}

void TMMFFileDlg::UpdateList() {
  if (!refresh_allowed_) return;
  ListView->Clear();
  for (int i = 0; i < FastFile->GetCount(); ++i) {
    const TFileEntry e = FastFile->GetFileEntries(i);
    char size[24], offset[24];
    std::snprintf(size, sizeof size, "%d KB", std::max(e.size / 1024, 1));
    std::snprintf(offset, sizeof offset, "%.7X", static_cast<unsigned>(e.offset));
    ListView->AddItem({e.Name(), {size, offset}});
  }
  char count[16];
  std::snprintf(count, sizeof count, "%3d", FastFile->GetCount());
  lblFiles->SetCaption(count);
}

std::string TMMFFileDlg::Selected() const {
  const int i = ListView->GetSelected();
  return i < 0 ? std::string() : ListView->Item(i).caption;
}

void TMMFFileDlg::AddClick() {
  if (FileOpenDialog->Execute()) FastFile->AddFile(FileOpenDialog->FileName);
}

void TMMFFileDlg::DelClick() {
  if (ListView->GetSelected() >= 0) FastFile->RemoveFile(Selected());
}

void TMMFFileDlg::ExtractClick() {
  if (ListView->GetSelected() < 0) return;
  const std::string name = Selected();
  FileSaveDialog->FileName = name;
  if (FileSaveDialog->Execute()) FastFile->ExtractFile(name, FileSaveDialog->FileName);
}

void TMMFFileDlg::ListEnter() {
  if (ListView->Count() > 0 && ListView->GetSelected() < 0) ListView->SetSelected(0);
  OKBtn->SetDefault(false);
}

void TMMFFileDlg::ListExit() { OKBtn->SetDefault(true); }

void TMMFFileDlg::ListEdited(int item, const std::string& text) {
  const std::string old_name = FastFile->GetFiles(item);
  refresh_allowed_ = false;
  try {
    FastFile->RenameFile(old_name, text);
  } catch (...) {
    refresh_allowed_ = true;
    throw;
  }
  refresh_allowed_ = true;
}

// ---- TMMFastFileDialog ----

TMMFastFileDialog::~TMMFastFileDialog() { SetSource(nullptr); }

void TMMFastFileDialog::SetSource(TMMFastFile* source) {
  if (source_ == source) return;
  if (source_ != nullptr) source_->RemoveFreeNotification(this);
  source_ = source;
  if (source_ != nullptr) source_->FreeNotification(this);
}

void TMMFastFileDialog::Notification(TComponent* component, TOperation operation) {
  TMMNonVisualComponent::Notification(component, operation);
  if (operation == opRemove && component == source_) source_ = nullptr;
}

bool TMMFastFileDialog::Execute() {
  if (source_ == nullptr) return false;
  // The form works through its own component, which packs the container when the form goes.
  std::unique_ptr<TMMFFileDlg> form(new TMMFFileDlg(nullptr));
  form->FastFile->SetFileName(source_->GetFileName());
  form->SetCaption(title_);
  if (OnFormCreated) OnFormCreated(*form);
  return form->ShowModal() == mrOk;
}
