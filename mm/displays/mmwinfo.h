#pragma once
// The editor of a RIFF file's descriptive chunks: the LIST INFO texts and the DISP description
// and picture. The form changes the entries in place (each keeps the value read beside a
// changed one), so the next write of the file stores what was edited; Reset brings back what the
// file held.
#include <string>

#include "mmobj.h"
#include "mmriff.h"
#include "ui_form.h"
#include "ui_stdctrls.h"

class TMMCustomWaveFile;
class TMMPictureOpenDialog;

class TMMRiffInfoEditorDlg : public vant::TForm {
 public:
  explicit TMMRiffInfoEditorDlg(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMRiffInfoEditorDlg"; }

  // Holds the entries under edit (not owned) and shows them.
  void SetParams(TInfoChunk* info, TDispList* disp);
  // Whether an INFO or DISP entry holds a change.
  bool InfoChanged() const;

  vant::TEdit* DescriptionEdit;
  vant::TImage* DIBImage;
  vant::TButton* PictureBtn;
  vant::TButton* ClrBtn;
  vant::TComboBox* INFOComboBox;
  vant::TLabel* ChunkInfoLabel;
  vant::TMemo* InfoTextMemo;
  vant::TButton* RevertBtn;
  vant::TButton* OKBtn;
  TMMPictureOpenDialog* PictureOpenDialog;

  // The handlers the controls are bound to.
  void INFOComboBoxChange();
  void InfoTextMemoExit();
  void DescriptionEditExit();
  void PictureBtnClick();
  void ClrBtnClick();
  void RevertBtnClick();

 private:
  TInfoData* SelectedEntry();
  void SetupINFOComboBox(int index);
  void SetupDISP();

  TInfoChunk* info_ = nullptr;
  TDispList* disp_ = nullptr;
};

class TMMRiffInfoEditor : public TMMNonVisualComponent {
 public:
  explicit TMMRiffInfoEditor(vant::TComponent* owner) : TMMNonVisualComponent(owner) {}
  std::string ClassName() const override { return "TMMRiffInfoEditor"; }

  std::string Title = "Riff-Info Editor";
  // Shows the form modally; true when it was closed with OK and something changed.
  bool Execute();
  // The form while Execute shows it, else nullptr.
  TMMRiffInfoEditorDlg* Dialog() const { return dialog_; }

 protected:
  // The entries to edit; either may be left nullptr.
  virtual void GetParams(TInfoChunk*& info, TDispList*& disp) = 0;
  void Notification(vant::TComponent* component, vant::TOperation operation) override;

  TMMCustomWaveFile* source_ = nullptr;

 private:
  TMMRiffInfoEditorDlg* dialog_ = nullptr;
};

class TMMWaveInfoEditor : public TMMRiffInfoEditor {
 public:
  explicit TMMWaveInfoEditor(vant::TComponent* owner);
  ~TMMWaveInfoEditor() override;
  std::string ClassName() const override { return "TMMWaveInfoEditor"; }

  TMMCustomWaveFile* GetSource() const { return source_; }
  void SetSource(TMMCustomWaveFile* source);

 protected:
  void GetParams(TInfoChunk*& info, TDispList*& disp) override;
};
