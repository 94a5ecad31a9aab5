#pragma once
// TVANTMainMO: the viewer's one fixed-size skinned window. It lists the 48 kHz PCM files of one
// folder (as a rule a removable disc) ten rows at a time, keeps the listing current through a
// 5-second watch and a 2-second delayed rescan, writes the listing as CSV, ejects the disc and
// hands a row's file to the converter. The data behind the rows comes from molisting.h.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bwfchunk.h"
#include "image32_widget.h"
#include "mmpanel.h"
#include "moeject.h"
#include "molisting.h"
#include "rangebars_widget.h"
#include "ui_dialogs.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_timer.h"
#include "volumes.h"

class TMOInfo;
namespace vant::ipc {
class WindowEndpoint;
}

// The machine's volumes unless a test installed others (not owned; nullptr restores).
vant::volume::VolumeControl& ViewerVolumes();
void SetViewerVolumes(vant::volume::VolumeControl* volumes);

class TVANTMainMO : public vant::TForm {
 public:
  explicit TVANTMainMO(vant::TComponent* owner);
  ~TVANTMainMO() override;
  std::string ClassName() const override { return "TVANTMainMO"; }

  static constexpr int kRows = 10;

  TMMPanel* MMPanel1;
  g32::TImage32* BaseImage;
  vant::TLabel* VerSpot;
  g32::TImage32* BTOpen;
  g32::TImage32* BTMOEject;
  g32::TImage32* BTList;
  g32::TImage32* BTExit;
  vant::TEdit* BWFVolumName;
  vant::TEdit* BWFClientName;  // one read-only line: an edit shows it without a scroll bar
  vant::TComboBox* CodeSelection;
  TMMPanel* MainPage;
  TMOInfo* MInf[kRows];
  g32::TGaugeBar* GaugeBar1;
  vant::TTimer* Timer1;
  vant::TTimer* WatchDogTimer;
  vant::TTimer* DelayTimer;
  vant::TSaveDialog* SaveDialogExport;

  // Creation, splash and lifetime.
  void FormCreate(vant::TObject* Sender);
  void FormShow(vant::TObject* Sender);
  void FormActivate(vant::TObject* Sender);
  void FormDestroy(vant::TObject* Sender);
  void Timer1Timer(vant::TObject* Sender);

  // Buttons.
  void ExecCommonButton(int index);
  void ExecViewerButton(int index);

  // Scan, rows and watch.
  void ScanFolder(const std::string& folder);
  void ShowRows();
  void FillRows(int position);
  void FreeModels();
  bool IsDriveReady(const std::filesystem::path& root) const;
  void WatchDogTimerTimer(vant::TObject* Sender);
  void DelayTimerTimer(vant::TObject* Sender);

  // Folder, drive, listing, eject, hand-over.
  void ChooseFolder();
  void ExportList();
  void EjectDisc();
  void OpenInConverter(int index);
  // A folder named by the converter after a save (the copy-data message).
  void WMCopyData(const std::string& path);

  // State.
  const std::string& GetFolder() const { return Folder; }
  const std::filesystem::path& GetRoot() const { return Root; }
  int GetFileCount() const { return static_cast<int>(Models.size()); }
  const std::vector<std::unique_ptr<TBWFChunck>>& GetModels() const { return Models; }
  bool GetNotified() const { return Notified; }
  int GetEditionCode() const { return EditionCode; }

  // Waits between unmount attempts; the message loop runs meanwhile (tests record instead).
  viewer::EjectDelay EjectDelay;
  // Whether a process holds a file open for writing (the read lease; tests stand in for it).
  viewer::WriterCheck WriterCheck;

 private:
  void SetFolder(std::string folder);
  // The drive of a folder: its mount point, or the remembered disc's while that disc is out.
  std::filesystem::path DriveOf(const std::string& folder) const;
  // Remembers beside the stored folder the mount point of the disc that holds it (none when it
  // lies on a fixed drive), so that a start-up without the disc still waits for it.
  void RememberDrive();
  int WaitForDrive();
  // Where the drive of the listed disc holds a disc now, when that is another root than the
  // folder's (desktops mount each disc at a folder named after its label).
  std::optional<std::filesystem::path> DiscMovedTo() const;
  // Lists the disc now in the drive, from the same folder on it when it has one; false when the
  // drive holds no disc elsewhere.
  bool FollowDrive();
  std::string FolderOfExecutable() const;
  void WithWatchOff(const std::function<void()>& action);

  int FirstActivation = 1;
  int EditionCode = 0;
  std::string Folder;  // native, ends with "/" once set
  std::string VolumeLabel;
  std::string Advertiser;  // CP932
  std::vector<std::unique_ptr<TBWFChunck>> Models;
  std::filesystem::path Root;
  std::string Drive;  // the removable drive ("/dev/sdb") of the listed disc; empty for others
  viewer::Listing ScanListing;
  viewer::Listing WatchListing;
  viewer::Listing PreviousWatch;  // the listing of the poll before, to see files still growing
  // The kernel's notices of writes in the folder, and the files the last poll held back as
  // still being written.
  std::unique_ptr<vant::FolderWatch> Watch;
  std::vector<std::filesystem::path> Pending;
  void WatchFolder();
  // Set while the rescan that follows a poll runs: a new or changed file must still look as that
  // poll saw it.
  bool Settling = false;
  bool Notified = false;
  std::unique_ptr<vant::ipc::WindowEndpoint> Endpoint;
};

// The program-wide reference, set while one exists.
extern TVANTMainMO* VANTMainMO;
