#pragma once
// The container editor: TMMFastFileDialog opens the form TMMFFileDlg on a TMMFastFile's file, which
// lists the files of the container and adds, deletes, renames (in place) and extracts them.
#include <string>

#include "mmffile.h"
#include "mmobj.h"
#include "ui_dialogs.h"
#include "ui_form.h"
#include "ui_listview.h"
#include "ui_stdctrls.h"

class TMMFFileDlg : public vant::TForm {
 public:
  explicit TMMFFileDlg(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMFFileDlg"; }

  vant::TLabel* Label1;
  vant::TLabel* lblFile;
  vant::TLabel* Label3;
  vant::TLabel* lblMaxFiles;
  vant::TLabel* Label2;
  vant::TLabel* lblFiles;
  vant::TListView* ListView;
  vant::TButton* AddBtn;
  vant::TButton* DelBtn;
  vant::TButton* ExtractBtn;
  vant::TButton* OKBtn;
  TMMFastFile* FastFile;
  vant::TOpenDialog* FileOpenDialog;
  vant::TSaveDialog* FileSaveDialog;

  // Fills the list from the container (only while refreshes are allowed).
  void UpdateList();

 private:
  void FormShow();
  void AddClick();
  void DelClick();
  void ExtractClick();
  void ListEnter();
  void ListExit();
  void ListEdited(int item, const std::string& text);
  std::string Selected() const;

  bool refresh_allowed_ = false;
};

// Shows the editor modally on Source's container; true when it was closed with OK.
class TMMFastFileDialog : public TMMNonVisualComponent {
 public:
  explicit TMMFastFileDialog(vant::TComponent* owner) : TMMNonVisualComponent(owner) {}
  ~TMMFastFileDialog() override;
  std::string ClassName() const override { return "TMMFastFileDialog"; }
  TMMFastFile* GetSource() const { return source_; }
  void SetSource(TMMFastFile* source);
  const std::string& GetTitle() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  bool Execute();

  // Tests only: called with the form once it is built and before it is shown modally.
  std::function<void(TMMFFileDlg&)> OnFormCreated;

 protected:
  void Notification(vant::TComponent* component, vant::TOperation operation) override;

 private:
  TMMFastFile* source_ = nullptr;
  std::string title_ = "FastFile-Editor";
};

// The editor's 16 x 16 row picture: a page with a folded corner on white (white is transparent).
vant::TBitmap FastFileRowPicture();
