#pragma once
// The library's file dialogs: the platform's open and save dialogs with an area of our own
// controls beside the standard ones. TMMCustomOpenDialog turns the dialog's life into five
// overridable steps; the wave dialogs show a file's format, picture and waveform and play it,
// the picture dialogs preview a picture.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mmobj.h"
#include "ui_canvas.h"
#include "ui_dialogs.h"
#include "ui_stdctrls.h"
#include "ui_timer.h"

class TMMWaveFile;
class TMMADPCMConverter;
class TMMWaveOut;

enum TOpenOptionEx : unsigned {
  ofAllowMultiSelect = 0x200,
  ofExtensionDifferent = 0x400,
  ofNoNetworkButton = 0x20000,
};
enum : unsigned { ofExNoPlacesBar = 1 };

using TFileOKEvent = std::function<void(vant::TObject*, const std::string&, bool&)>;
using TSelChangedEvent = std::function<void(vant::TObject*, const std::string&)>;
using TDialogCommandEvent =
    std::function<void(vant::TObject*, vant::TWinControl*, vant::TWinControl*, int)>;

class TMMCustomOpenDialog : public TMMCommonDialog, protected vant::FileDialogPanel {
 public:
  explicit TMMCustomOpenDialog(vant::TComponent* owner);
  ~TMMCustomOpenDialog() override;
  std::string ClassName() const override { return "TMMCustomOpenDialog"; }

  bool Execute() override;

  const std::string& GetInitialDir() const { return initial_dir_; }
  // Drops a trailing "/" except from the root.
  void SetInitialDir(const std::string& dir);
  void SetHistoryList(const std::vector<std::string>& list) { history_ = list; }
  const std::vector<std::string>& GetHistoryList() const { return history_; }

  unsigned Options = vant::ofHideReadOnly;
  unsigned OptionsEx = 0;
  std::string Filter, Title, DefaultExt, FileName;
  int FilterIndex = 1;
  // The files chosen by the last successful Execute.
  std::vector<std::string> Files;

  vant::TNotifyEvent OnDialogCreate, OnDialogDestroy;
  TFileOKEvent OnFileOK;
  TSelChangedEvent OnSelChanged;
  TDialogCommandEvent OnDialogCommand;

  // The area of our controls while the dialog is up, else nullptr.
  vant::TWinControl* DialogWindow() const { return dialog_window_; }

 protected:
  virtual void DoCreate();
  virtual void DoDestroy();
  virtual void DoFileOK(const std::string& name, bool& accept);
  virtual void DoSelChanged(const std::string& name);
  // A control of our area was used; `id` is its number in the area.
  virtual void DoCommand(vant::TWinControl* window, vant::TWinControl* parent, int id);
  // Builds the area once; a descendant adds its controls.
  virtual void BuildPanel(vant::TPanel& panel) = 0;
  // Wires a control so that its click reaches DoCommand with `id`.
  void Command(vant::TControl& c, int id);

  bool save_ = false;
  bool quiet_ = false;  // set while the area itself sets its check boxes

 private:
  vant::TWinControl* DialogCreated() override;
  void DialogDestroyed() override;
  void SelectionChanged(const std::string& path) override;
  bool FileOK(const std::string& path) override;
  bool Beside() const override { return beside_; }

  std::string initial_dir_;
  std::vector<std::string> history_;
  std::unique_ptr<vant::TPanel> panel_;
  vant::TWinControl* dialog_window_ = nullptr;

 protected:
  bool beside_ = false;
};

class TMMWaveOpenDialog : public TMMCustomOpenDialog {
 public:
  explicit TMMWaveOpenDialog(vant::TComponent* owner);
  ~TMMWaveOpenDialog() override;
  std::string ClassName() const override { return "TMMWaveOpenDialog"; }

  bool Preview = false;
  bool AutoPlay = false;
  int32_t DeviceID = -1;
  vant::TColor Color = 0;
  vant::TColor ForeColor = 0x00FF00;
  vant::TColor LocatorColor = 0x0000FF;

  // Control numbers in the area.
  enum {
    kPlay = 1000,
    kPreview = 1001,
    kAutoPlay = 1002,
    kFormat = 1003,
    kScope = 1004,
    kPicture = 1005
  };
  vant::TControl* Item(int id) const;
  TMMWaveFile* WaveFile() const { return file_.get(); }
  TMMWaveOut* WaveOut() const { return device_.get(); }
  // Whether a selection waits for the 50 ms update.
  bool Pending() const { return pending_; }

  // The overview of the wave (columns of the area inset by 2) drawn onto `canvas`; every
  // column drawn is reported to `column` when given (the mark ahead of it is drawn by then).
  void CreatePCMData(vant::TCanvas& canvas, const vant::TRect& area,
                     const std::function<void(int)>& column = {});
  void DrawPCMData(vant::TCanvas& canvas, const vant::TRect& area);
  void DrawDISP(vant::TCanvas& canvas, const vant::TRect& area);
  // Brings the area up to date with the selected file.
  void UpdateWave();
  // The device's buffer size for the selected file.
  void UpdatePlayParams();

 protected:
  void BuildPanel(vant::TPanel& panel) override;
  void DoCreate() override;
  void DoDestroy() override;
  void DoFileOK(const std::string& name, bool& accept) override;
  void DoSelChanged(const std::string& name) override;
  void DoCommand(vant::TWinControl* window, vant::TWinControl* parent, int id) override;

 private:
  struct Column {
    int16_t left1, left2, right1, right2;
  };
  void FreeChain();
  bool HasDevice() const;
  bool CanPlay();
  void StartDevice();
  void TimerExpired();
  void WaveOutStart();
  void WaveOutStop();
  bool ShowsOverview() const;

  std::unique_ptr<TMMWaveFile> file_;
  std::unique_ptr<TMMADPCMConverter> converter_;
  std::unique_ptr<TMMWaveOut> device_;
  std::unique_ptr<vant::TTimer> timer_;   // the play line
  std::unique_ptr<vant::TTimer> settle_;  // the update after the last selection change
  std::vector<Column> columns_;
  int drawn_ = 0;  // columns the last overview filled
  int64_t line_ = -1;
  bool pending_ = false;
  vant::TLabel* format_ = nullptr;
  vant::TPaintBox* scope_ = nullptr;
  vant::TPaintBox* picture_ = nullptr;
  vant::TButton* play_ = nullptr;
  vant::TCheckBox* preview_ = nullptr;
  vant::TCheckBox* autoplay_ = nullptr;
};

class TMMWaveSaveDialog : public TMMWaveOpenDialog {
 public:
  explicit TMMWaveSaveDialog(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMWaveSaveDialog"; }

 protected:
  void DoFileOK(const std::string& name, bool& accept) override;
};

class TMMPictureOpenDialog : public TMMCustomOpenDialog {
 public:
  explicit TMMPictureOpenDialog(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMPictureOpenDialog"; }

  bool Preview = false;
  vant::TColor Color = vant::clWindow;
  enum { kFrame = 1000, kPreview = 1001 };
  // The picture of the selected file; empty when there is none or it could not be loaded.
  const vant::TBitmap& Picture() const { return picture_; }
  void DrawPicture(vant::TCanvas& canvas, const vant::TRect& client);

 protected:
  void BuildPanel(vant::TPanel& panel) override;
  void DoCreate() override;
  void DoSelChanged(const std::string& name) override;
  void DoCommand(vant::TWinControl* window, vant::TWinControl* parent, int id) override;

 private:
  vant::TBitmap picture_;
  std::string loaded_;
  vant::TPaintBox* frame_ = nullptr;
  vant::TCheckBox* preview_ = nullptr;
};

class TMMPictureSaveDialog : public TMMPictureOpenDialog {
 public:
  explicit TMMPictureSaveDialog(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMPictureSaveDialog"; }
};
