#pragma once
// TVANTMainAA: the converter's only visible window. A fixed-size skinned window on which every
// button is an image (tag = group x 100 + index: the group names the skin module, the index the
// normal picture and index + 1 the pressed one), the commercial's data in two pages (MAIN and
// SUB), a few editable fields checked before a save, the format and length lamps, and the
// transport buttons, volume bar and position bar that drive the player.
//
// bwfmainaa.cpp builds the layout; bwfmainaa_actions.cpp holds the handlers, the display of a
// file and the field checks. The file flows (open with its questions, save, CSV, attachments)
// build on OpenFile, ShowFileInfo, ClearFields, ValidateFields and FieldBytes.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bwfchunk.h"
#include "bwfcsv.h"
#include "bwfnotify.h"
#include "image32_widget.h"
#include "mmio.h"
#include "mmlabel.h"
#include "mmlevel.h"
#include "mmpanel.h"
#include "mmplayer.h"
#include "playerlink.h"
#include "progform.h"
#include "ui_dialogs.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_strings.h"
#include "ui_timer.h"
#include "windowendpoint.h"

class TSysRegVANT;

// Private messages of the main window (UM_LOADCOMPLETE comes from the player window).
constexpr uint32_t UM_SAVECOMPLETE = vant::WM_USER + 410;
constexpr uint32_t UM_CLOSEPROGRESS = vant::WM_USER + 430;

class TVANTMainAA : public vant::TForm {
 public:
  // The window's caption and the application's title.
  static constexpr const char* kTitle = "オルネ　広告会社仕様";
  explicit TVANTMainAA(vant::TComponent* owner);
  ~TVANTMainAA() override;
  std::string ClassName() const override { return "TVANTMainAA"; }

  // The program's arguments after the program name; the entry sets them before the window is
  // made. The first one is the file to open.
  static std::vector<std::string> CommandLine;
  // The player the window drives (not owned; the no-op player when none is set).
  void SetPlayer(orlune::TPlayerLink* player);
  orlune::TPlayerLink& Player() { return *player_; }

  // Lets the message loop run for as long as the splash is visible.
  static void WaitForSplash();

  // Operations of the file flows.
  // `offer_last` false: a dialog asked for instead of a refused path starts without a file.
  void OpenFile(const std::string& path, bool offer_last = true);
  void ShowFileInfo(TBWFChunck& model);
  void ClearFields();
  bool ValidateFields();
  std::string FieldText(int width, std::span<const uint8_t> field);
  // The CP932 bytes of an editable field to store: the bytes shown when the user has not
  // edited it, else its text converted (cut at a character boundary by its limit).
  std::string FieldBytes(vant::TControl* field) const;
  void ExecPlayerButton(int index);
  void ExecFileButton(int index);
  void PositionCallback(const std::string& text, int64_t ms, double fraction);
  // The file flows the file buttons start (bwfmainaa_flows.cpp).
  void SaveFile();
  void ImportCsvFile(TEditionKey key);
  void ExportCsvFile(TEditionKey key);
  void AttachCsvFile();
  void DeleteCsvAttachment();
  void ShowCsvAttachment();
  void ShowPdfAttachment();
  void SavePdfAttachment();
  void SelectCsvApplication();
  void SelectPdfApplication();
  void StoreFields();
  bool IsAttachedName(const std::string& path, const vant::TStrings& list) const;
  // A file or folder path handed over by the disc viewer (native bytes).
  void WMCopyData(const std::string& path);
  void UMSaveComplete();
  void UMLoadComplete();
  void UMCloseProgress();
  void FormCloseQuery(vant::TObject* Sender, bool& CanClose);
  void WndProc(vant::TMessage& m) override;
  void ShowKindLamps(TBWFChunck& model);
  void ShowLengthLamp(TBWFChunck& model);

  // State.
  TBWFChunck* Model() const { return model_.get(); }
  bool Modified = false;
  bool FieldsEmpty = true;
  bool Busy = false;
  bool Opening = false;
  bool FirstActivation = true;
  bool LoadDone = false;
  std::string CurrentPath;
  std::string CommandPath;
  // The command line named a path the system cannot take: said at the first open, whose dialog
  // then offers no other file in its place.
  bool CommandPathRefused = false;
  int AttachCount = 0;
  int FreeSlots = 0;
  vant::TStrings DeleteList;
  int DesignPixelsPerInch = 96;
  int ScreenPixelsPerInch = 96;

  // Layout.
  TMMPanel* MMPanel1;
  g32::TImage32* BaseImage;
  vant::TLabel* VerSpot;
  TMMLabel *MainTab, *SubTab;
  vant::TEdit* BWFFileName;
  vant::TMemo *ClientName, *CMTitle;
  vant::TStaticText* CMLength;
  g32::TImage32 *BTAlart, *BTIndZOM, *BTIndVANT, *BTIndWav;
  g32::TImage32 *BTPlay, *BTPause, *BTStop, *BTValume, *BTHandle, *BTPosition, *BTPosHandle;
  // The level meters of the left (MMLevel2) and the right channel (MMLevel1).
  TMMLevel *MMLevel2, *MMLevel1;
  g32::TImage32 *BTOpen, *BTSave, *BTImport, *BTExport, *BTExit;
  TMMPanel *MainPage, *SubPage;
  vant::TMemo *AdCompany, *Production, *RecordingStudio;
  vant::TEdit *ItemNumber, *CommonCode;
  vant::TStaticText* ProductionCode;
  vant::TMemo *ADComment, *RSComment, *Remarks;
  vant::TListBox *PDFList, *CSVList;
  g32::TImage32 *BTDispPDF, *BTSavePDF, *BTAttachCSV, *BTDispCSV, *BTDeleteCSV;
  vant::TStaticText *FileType, *Channels, *SamplingFreq, *CMActualLength, *CreationDate,
      *Limitation;
  vant::TStaticText *CsvApplicationName, *PdfApplicationName;
  g32::TImage32 *BTCsvSel, *BTPdfSel;
  vant::TTimer* Timer1;
  vant::TOpenDialog *OpenDialog1, *OpenDialogPdf, *OpenDialogCsv, *OpenDialogAttach,
      *OpenDialogImport;
  vant::TSaveDialog *SaveAttachmentDialog, *SaveDialogWaveFile, *SaveDialogExport;

  // The progress window the flows drive (not owned); the window makes its own when none is set.
  TPROGForm* ProgressForm = nullptr;
  // Free bytes of a folder's file system, as the save checks see them (tests shrink a disc).
  mmio::FreeSpaceFn FreeSpace = mmio::FreeSpaceOf;

  // Every image control with a tag, in layout order.
  const std::vector<g32::TImage32*>& ImageControls() const { return images_; }
  // The skin picture for a tag (group x 100 + index); nullptr for groups 3 and 4.
  static const g32::TBitmap32* SkinPicture(int tag);

  // Event handlers.
  void FormCreate(vant::TObject* Sender);
  void FormShow(vant::TObject* Sender);
  void FormActivate(vant::TObject* Sender);
  // Tags, button pictures and, without a file, dark lamps: before the first open and again at the
  // first activation.
  void ShowSkin();
  void FormDestroy(vant::TObject* Sender);
  void Timer1Timer(vant::TObject* Sender);
  void MainTabClick(vant::TObject* Sender);
  void SubTabClick(vant::TObject* Sender);
  void VerSpotMouseDown(vant::TObject* Sender, vant::TMouseButton Button, vant::TShiftState Shift,
                        int X, int Y);
  void FieldUpdated(vant::TObject* Sender);
  void BTMouseDown(g32::TImage32* Sender);
  void BTMouseMove(g32::TImage32* Sender);
  void BTMouseUp(g32::TImage32* Sender);
  void BTValumeMouseDown(int X, int Y);
  void BTValumeDragOver(vant::TObject* Source, int X, int Y, bool& Accept);
  void BTHandleMouseDown();
  void BTPositionMouseDown(int X, int Y);
  void BTPositionDragOver(vant::TObject* Source, int X, int Y, bool& Accept);
  void BTPositionDragDrop(vant::TObject* Source, int X, int Y);
  void BTPosHandleMouseDown();
  void BTPosHandleDragDrop(vant::TObject* Source, int X, int Y);

 private:
  void BuildLayout();
  TMMLevel* LevelMeter(vant::TWinControl* parent, const char* name, int left, TMMChannel channel);
  void BuildMainPage();
  void BuildSubPage();
  g32::TImage32* ImageButton(vant::TWinControl* parent, const char* name, int left, int top,
                             int tag, bool button);
  void SetPicture(g32::TImage32* image, int item);
  // Shows text converted from CP932 field bytes and remembers the bytes for FieldBytes.
  void ShowField(vant::TControl* field, const std::string& bytes);
  void ShowPicture(g32::TImage32* image, const g32::TBitmap32* picture);
  bool SetVolumeAt(int x, int y);
  void MovePosition(int x, bool seek);
  // The flows' wiring: the close question.
  void BindFlows();
  void UnbindFlows();
  TPROGForm& Progress();
  bool OpenFileFrom(const std::string& path, bool offer_last = true);
  // Tells the user a path was refused as longer than the system takes.
  void RefusePath();
  // The format lamps and the length lamp as with no file.
  void DarkenLamps();
  void DarkenKindLamps();
  bool ChooseWaveTarget(std::string& chosen);
  bool AddPendingAttachments();
  void RestoreScanState();
  std::string StoredName(vant::TListBox* list, bool pdf) const;
  void ShowAttachment(vant::TListBox* list, bool pdf);
  void SelectApplication(vant::TOpenDialog* dialog, vant::TStaticText* field, int setting,
                         const char* filter);

  std::unique_ptr<TBWFChunck> model_;
  orlune::TNoPlayer no_player_;
  orlune::TPlayerLink* player_ = &no_player_;
  std::vector<g32::TImage32*> images_;
  std::vector<int> image_tags_;
  // Field bytes as shown, for the fields whose bytes are stored back; erased once edited.
  std::map<const vant::TControl*, std::string> shown_bytes_;
  bool filling_ = false;
  std::string saved_short_date_;
  std::unique_ptr<TPROGForm> own_progress_;
  // Found by title by another start and by the disc viewer.
  vant::ipc::WindowEndpoint endpoint_;
};

// The program-wide reference, set while the window exists.
extern TVANTMainAA* VANTMainAA;
