#include "bwfmainmo.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "bsplash.h"
#include "bwfmessage.h"
#include "cp932.h"
#include "desktopstate.h"
#include "diskinfo.h"
#include "drvstat.h"
#include "mmio.h"
#include "mmutils.h"
#include "mobuttons.h"
#include "moinf.h"
#include "moresources.h"
#include "mowheel.h"
#include "regeditbw.h"
#include "riffio.h"
#include "sysreg.h"
#include "trace.h"
#include "ui_application.h"
#include "verformaa.h"
#include "windowendpoint.h"

using namespace vant;
namespace fs = std::filesystem;
using vant::volume::DriveType;

TVANTMainMO* VANTMainMO = nullptr;

namespace {

// The time file systems stamp writes with, nanoseconds since the epoch.
int64_t WallNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

constexpr int kFolderSetting = 100;
constexpr int kListSetting = 111;
// The mount point of the disc that holds the folder of setting 100 (empty: a fixed drive).
constexpr int kDiscSetting = 112;
// The drive that disc was in ("/dev/sdb"): another disc in it is followed to its own folder.
constexpr int kDriveSetting = 113;
constexpr TColor kFieldGrey = static_cast<TColor>(14803425);
constexpr TColor kPageGrey = static_cast<TColor>(15592941);
constexpr TColor kRed = static_cast<TColor>(255);
constexpr TColor kBlack = static_cast<TColor>(0);

constexpr const char* kMsgFolderMissing = "指定のフォルダーが見つかりません。";
constexpr const char* kMsgDriveUnavailable = "ドライブが利用できません。";
constexpr const char* kMsgEjectRefused =
    "MOドライブをミルダ以外で使用している可能性があるため、取り出すことができません";
constexpr const char* kMsgFixedDisk = "ドライブからディスクを抜くことができません。";
constexpr const char* kMsgOverwrite =
    "指定したファイルは既に存在します。上書きしてよろしいですか？";
constexpr const char* kMsgListDone = "リスト出力を実行しました。";
constexpr const char* kMsgListFailed = "リスト出力は完了しませんでした。";
constexpr const char* kMsgWildcardName = "ファイル名に「*」や「?」は使えません。";

vant::volume::VolumeControl* g_volumes = nullptr;

// What the user reads when the disc did not come out: the cause, and the system's words for it.
std::string EjectMessage(const viewer::EjectOutcome& out) {
  using viewer::EjectStatus;
  std::string text;
  switch (out.status) {
    case EjectStatus::Busy:
      return kMsgEjectRefused;  // the system's words add nothing the user can act on
    case EjectStatus::NoService:
      text = "ディスクを取り出すためのサービスが動作していないため、取り出すことができません。";
      break;
    case EjectStatus::NotAllowed:
      text = "ディスクを取り出す権限がないため、取り出すことができません。";
      break;
    case EjectStatus::DriveCannotEject:
      text =
          "ディスクの使用は終了しましたが、ドライブがディスクを出せませんでした。"
          "ドライブの取り出しボタンで取り出してください。";
      break;
    default:
      text = "ディスクを取り出すことができませんでした。";
      break;
  }
  if (const std::string cause = viewer::EjectCause(out); !cause.empty())
    text += "\n(" + cause + ")";
  return text;
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// A folder as the converter names it: normal form, ending with the separator.
std::string NormalFolder(const std::string& folder) {
  return WithSeparator(fs::path(folder).lexically_normal().string());
}

// Whether `path` is `root` or lies below it, by whole components.
bool IsWithin(const fs::path& path, const fs::path& root) {
  const fs::path p = fs::path(path).lexically_normal(), r = fs::path(root).lexically_normal();
  auto pi = p.begin(), ri = r.begin();
  for (; ri != r.end(); ++ri, ++pi) {
    if (ri->empty()) continue;  // the separator that ends a folder
    if (pi == p.end() || *pi != *ri) return false;
  }
  return true;
}

bool FolderExists(const std::string& folder) {
  std::error_code ec;
  return !folder.empty() && fs::is_directory(folder, ec);
}

// Restores the cursor at every exit of a busy action.
class BusyCursor {
 public:
  explicit BusyCursor(TCursor c) : saved_(Screen->GetCursor()) { Screen->SetCursor(c); }
  ~BusyCursor() { Screen->SetCursor(saved_); }

 private:
  TCursor saved_;
};

// The user's documents folder when the desktop names one.
std::string DocumentsFolder() {
  std::error_code ec;
  if (const char* d = std::getenv("XDG_DOCUMENTS_DIR"); d && fs::is_directory(d, ec)) return d;
  if (const char* home = std::getenv("HOME")) {
    fs::path p = fs::path(home) / "Documents";
    if (fs::is_directory(p, ec)) return p.string();
  }
  return "";
}

// A stored text setting; a value of the other type (a damaged store) reads as none, so that it
// cannot keep the viewer from listing anything.
std::string StoredText(int number) {
  if (!SysRegVANT) return "";
  try {
    return SysRegVANT->ReadWorkString(number);
  } catch (const ERegistryException& e) {
    Trace(std::string("settings: ") + e.what());
    return "";
  }
}

// The converter: beside this program first, else found through PATH.
std::string ConverterPath(const std::string& program, const std::string& exe) {
  if (program.empty()) return program;
  if (!exe.empty()) {
    fs::path beside = fs::path(exe).parent_path() / program;
    if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return program;
}

}  // namespace

vant::volume::VolumeControl& ViewerVolumes() {
  if (g_volumes) return *g_volumes;
  static std::unique_ptr<vant::volume::VolumeControl> system = vant::volume::MakeSystemVolumes();
  return *system;
}

void SetViewerVolumes(vant::volume::VolumeControl* volumes) { g_volumes = volumes; }

TVANTMainMO::TVANTMainMO(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("VANTMainMO");
  SetBorderStyle(bsSingle);
  SetBorderIcons({biSystemMenu, biMinimize});
  SetPosition(poScreenCenter);
  SetClientWidth(1019);
  SetClientHeight(644);
  SetCaption("ミルダ");
  Font().SetName("ＭＳ Ｐゴシック");
  Font().SetHeight(-12);

  MMPanel1 = new TMMPanel(this);
  MMPanel1->SetName("MMPanel1");
  MMPanel1->SetParent(this);
  MMPanel1->SetAlign(alClient);
  MMPanel1->SetColor(clBtnFace);

  BaseImage = new g32::TImage32(this);
  BaseImage->SetName("BaseImage");
  BaseImage->SetParent(MMPanel1);
  BaseImage->SetBounds(3, 3, 1013, 639);
  BaseImage->SetAutoSize(true);

  VerSpot = new TLabel(this);
  VerSpot->SetName("VerSpot");
  VerSpot->SetParent(BaseImage);
  VerSpot->SetAutoSize(false);
  VerSpot->SetTransparent(true);
  VerSpot->SetBounds(-2, -2, 1013, 21);
  VerSpot->SetCaption("");
  VerSpot->OnMouseDown = [this](TObject*, TMouseButton b, TShiftState, int, int) {
    if (b == mbRight && VersionConv) VersionConv->ShowModal();
  };

  auto button = [this](const char* name, int left, int top) {
    auto* b = new g32::TImage32(this);
    b->SetName(name);
    b->SetParent(BaseImage);
    b->SetBounds(left, top, 95, 24);
    b->SetAutoSize(true);
    viewer::BindImageButton(*b, [this](int group, int index) {
      if (group == 0) ExecCommonButton(index);
      if (group == 4) ExecViewerButton(index);
    });
    return b;
  };
  BTOpen = button("BTOpen", 918, 5);
  BTMOEject = button("BTMOEject", 781, 5);
  BTList = button("BTList", 780, 606);
  BTExit = button("BTExit", 916, 606);

  BWFVolumName = new TEdit(this);
  BWFVolumName->SetName("BWFVolumName");
  BWFVolumName->SetParent(BaseImage);
  BWFVolumName->SetBounds(43, 47, 191, 23);
  BWFVolumName->SetReadOnly(true);
  BWFVolumName->SetColor(kFieldGrey);

  BWFClientName = new TEdit(this);
  BWFClientName->SetName("BWFClientName");
  BWFClientName->SetParent(BaseImage);
  BWFClientName->SetBounds(290, 47, 519, 23);
  BWFClientName->SetReadOnly(true);
  BWFClientName->SetColor(kFieldGrey);

  CodeSelection = new TComboBox(this);
  CodeSelection->SetName("CodeSelection");
  CodeSelection->SetParent(BaseImage);
  CodeSelection->SetBounds(607, 73, 137, 19);
  CodeSelection->SetStyle(csDropDownList);
  for (const char* item : {"素材略号", "共通コード", "企画･制作社内素材番号", "放送局コード"}) {
    CodeSelection->Items().Add(item);
  }
  CodeSelection->SetItemIndex(0);
  CodeSelection->OnChange = [this](TObject*) { FillRows(GaugeBar1->GetPosition()); };

  MainPage = new TMMPanel(this);
  MainPage->SetName("MainPage");
  MainPage->SetParent(BaseImage);
  MainPage->SetBounds(18, 98, 963, 493);
  MainPage->SetColor(kPageGrey);

  for (int i = 0; i < kRows; ++i) {
    MInf[i] = new TMOInfo(this, i + 1);
    MInf[i]->SetName("MInf" + std::to_string(i + 1));
    MInf[i]->SetParent(MainPage);
    MInf[i]->SetBounds(1, 1 + 49 * i, 961, 49);
    MInf[i]->SetAlign(alTop);
    MInf[i]->SetParentColor(true);
    MInf[i]->OnOpenFile = [this](int index) { OpenInConverter(index); };
  }

  GaugeBar1 = new g32::TGaugeBar(this);
  GaugeBar1->SetName("GaugeBar1");
  GaugeBar1->SetParent(BaseImage);
  GaugeBar1->SetBounds(980, 101, 17, 484);
  GaugeBar1->Bar().SetKind(g32::sbVertical);
  GaugeBar1->Bar().SetShowHandleGrip(true);
  GaugeBar1->SetMax(0);
  GaugeBar1->SetEnabled(false);
  GaugeBar1->OnChange = [this](TObject*) {
    // The bar spans at least one step: past the last screenful its handle goes back to where
    // the rows are.
    const int last = std::max(0, GetFileCount() - kRows);
    if (GaugeBar1->GetPosition() > last) {
      GaugeBar1->SetPosition(last);
      return;
    }
    FillRows(GaugeBar1->GetPosition());
  };

  // The wheel over the rows moves the listing as over the bar.
  auto wheel = [this](int rows) {
    if (!GaugeBar1->GetEnabled()) return;
    GaugeBar1->SetPosition(std::clamp(GaugeBar1->GetPosition() + rows, 0, GaugeBar1->GetMax()));
  };
  viewer::RouteWheel(*MainPage, wheel);
  viewer::RouteWheel(*GaugeBar1, wheel);

  Timer1 = new TTimer(this);
  Timer1->SetName("Timer1");
  Timer1->SetEnabled(false);
  Timer1->SetInterval(3000);
  Timer1->OnTimer = [this](TObject* s) { Timer1Timer(s); };

  WatchDogTimer = new TTimer(this);
  WatchDogTimer->SetName("WatchDogTimer");
  WatchDogTimer->SetEnabled(false);
  WatchDogTimer->SetInterval(5000);
  WatchDogTimer->OnTimer = [this](TObject* s) { WatchDogTimerTimer(s); };

  DelayTimer = new TTimer(this);
  DelayTimer->SetName("DelayTimer");
  DelayTimer->SetEnabled(false);
  DelayTimer->SetInterval(2000);
  DelayTimer->OnTimer = [this](TObject* s) { DelayTimerTimer(s); };

  SaveDialogExport = new TSaveDialog(this);
  SaveDialogExport->SetName("SaveDialogExport");

  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnShow = [this](TObject* s) { FormShow(s); };
  OnActivate = [this](TObject* s) { FormActivate(s); };
  OnDestroy = [this](TObject* s) { FormDestroy(s); };
  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();

  EjectDelay = [](std::chrono::milliseconds ms) { Delay(static_cast<uint32_t>(ms.count()), true); };
  WriterCheck = vant::IsOpenForWriting;
  FirstActivation = 1;
  EditionCode = VANTSplash ? VANTSplash->EditionCode : 0;
  const std::string title = ViewerTitle(EditionCode);
  if (!title.empty()) {
    Application->SetTitle(title);
    SetCaption(title);
  }
  Notified = false;
  Endpoint = std::make_unique<ipc::WindowEndpoint>(GetCaption());
  Endpoint->OnCopyData = [this](const std::string& path) { Guarded([&] { WMCopyData(path); }); };
  Endpoint->OnActivate = [this] { Guarded([&] { BringWindowForward(*this); }); };
  VANTMainMO = this;
}

TVANTMainMO::~TVANTMainMO() {
  DoDestroy();
  Endpoint.reset();
  if (VANTMainMO == this) VANTMainMO = nullptr;
}

// ---- creation and lifetime ----

void TVANTMainMO::FormCreate(TObject*) {
  ScaleBy(96, Screen->PixelsPerInch());
  if (VANTSplash && VANTSplash->GetVisible()) Timer1->SetEnabled(true);
  if (!SysRegVANT) SysRegVANT = new TSysRegVANT(this);
}

void TVANTMainMO::Timer1Timer(TObject*) {
  Timer1->SetEnabled(false);
  if (VANTSplash) VANTSplash->Close();
}

void TVANTMainMO::FormShow(TObject*) {
  while (VANTSplash && VANTSplash->GetVisible() && !Application->Terminated()) {
    Delay(10, true);
    Application->ProcessMessages();
  }
  if (MODataRes) viewer::ShowSkinItem(*BaseImage, 0);
}

void TVANTMainMO::FormActivate(TObject*) {
  if (!FirstActivation) return;
  FirstActivation = 0;  // a modal dialog below activates the window again
  BusyCursor busy(crHourGlass);
  for (int n = 1; n <= kRows; ++n) {
    MInf[n - 1]->SetRow(n);
    // Nothing is listed before the first scan: no empty numbered rows behind the drive dialog.
    MInf[n - 1]->Segment->SetVisible(false);
  }
  const std::pair<g32::TImage32*, int> buttons[] = {
      {BTOpen, 402}, {BTList, 404}, {BTExit, 408}, {BTMOEject, 410}};
  for (auto [b, tag] : buttons) {
    b->SetTag(tag);
    viewer::ShowSkinItem(*b, viewer::TagIndex(tag));
  }
  Invalidate();
  if (VersionConv && VANTSplash) VersionConv->SetPicture(VANTSplash->Bitmap32List.GetBitmap(0));

  std::string folder = StoredText(kFolderSetting);
  if (folder.empty()) folder = FolderOfExecutable();
  SetFolder(folder);
  if (!Folder.empty() && !IsDriveReady(Root)) {
    if (WaitForDrive() != mrOk) {
      SetFolder("");
      ChooseFolder();
    } else {
      FollowDrive();
    }
  }
  if (!FolderExists(Folder)) {
    std::string docs = DocumentsFolder();
    SetFolder(docs.empty() ? FolderOfExecutable() : docs);
    if (SysRegVANT) SysRegVANT->WriteWorkString(kFolderSetting, Folder);
  }
  if (NormalFolder(StoredText(kFolderSetting)) == NormalFolder(Folder)) RememberDrive();
  ScanFolder(Folder);
  ShowRows();
  WatchDogTimer->SetEnabled(true);
}

void TVANTMainMO::FormDestroy(TObject*) {
  FreeModels();
  Timer1->SetEnabled(false);
  WatchDogTimer->SetEnabled(false);
  DelayTimer->SetEnabled(false);
  if (SysRegVANT && SysRegVANT->GetOwner() == this) {
    delete SysRegVANT;
    SysRegVANT = nullptr;
  }
  ScanListing.clear();
  WatchListing.clear();
  PreviousWatch.clear();
  Watch.reset();
}

std::string TVANTMainMO::FolderOfExecutable() const {
  const std::string exe = Application->ExeName();
  return exe.empty() ? std::string() : fs::path(exe).parent_path().string();
}

void TVANTMainMO::SetFolder(std::string folder) {
  Folder = WithSeparator(std::move(folder));
  Root = Folder.empty() ? fs::path() : DriveOf(Folder);
}

fs::path TVANTMainMO::DriveOf(const std::string& folder) const {
  const std::optional<fs::path> root = ViewerVolumes().RootOf(folder);
  // A disc that is out leaves no mount behind: its folder is gone (automounted media), or it
  // lies on the file system that holds the empty mount point. Either way the remembered disc is
  // still the folder's drive.
  const fs::path disc = StoredText(kDiscSetting);
  if (!disc.empty() && IsWithin(folder, disc) &&
      (!root || (*root != disc && IsWithin(disc, *root)))) {
    return disc;
  }
  return root.value_or(fs::path());
}

void TVANTMainMO::RememberDrive() {
  if (!SysRegVANT || Root.empty() || !IsDriveReady(Root)) return;
  const DriveType type = ViewerVolumes().GetDriveType(Root);
  const bool disc = type == DriveType::Removable || type == DriveType::CdRom;
  SysRegVANT->WriteWorkString(kDiscSetting, disc ? Root.string() : std::string());
  SysRegVANT->WriteWorkString(kDriveSetting, disc ? ViewerVolumes().DriveOf(Root) : std::string());
}

std::optional<fs::path> TVANTMainMO::DiscMovedTo() const {
  const std::string drive = Drive.empty() ? StoredText(kDriveSetting) : Drive;
  if (drive.empty()) return std::nullopt;
  const std::optional<fs::path> now = ViewerVolumes().MountOfDrive(drive);
  if (!now || fs::path(*now).lexically_normal() == Root.lexically_normal() || !IsDriveReady(*now))
    return std::nullopt;
  return now;
}

bool TVANTMainMO::FollowDrive() {
  const std::optional<fs::path> disc = DiscMovedTo();
  if (!disc || IsDriveReady(Root)) return false;
  const fs::path inside = fs::path(Folder).lexically_normal().lexically_relative(Root);
  std::error_code ec;
  fs::path folder = *disc;
  if (!inside.empty() && inside != "." && fs::is_directory(*disc / inside, ec)) folder /= inside;
  SetFolder(folder.string());
  if (SysRegVANT) SysRegVANT->WriteWorkString(kFolderSetting, Folder);
  RememberDrive();
  return true;
}

// ---- buttons ----

void TVANTMainMO::ExecCommonButton(int index) {
  if (index == 10) Close();
}

void TVANTMainMO::WithWatchOff(const std::function<void()>& action) {
  WatchDogTimer->SetEnabled(false);
  action();
  WatchDogTimer->SetEnabled(true);
}

void TVANTMainMO::ExecViewerButton(int index) {
  BusyCursor busy(crHourGlass);
  switch (index) {
    case 2:
      WithWatchOff([&] {
        ChooseFolder();
        ScanFolder(Folder);
        ShowRows();
      });
      viewer::ShowSkinItem(*BTOpen, 2);
      break;
    case 4:
      WithWatchOff([&] { ExportList(); });
      viewer::ShowSkinItem(*BTList, 4);
      break;
    case 8:
      Close();
      break;
    case 10:
      WithWatchOff([&] {
        EjectDisc();
        viewer::ShowSkinItem(*BTMOEject, 10);
      });
      break;
    default:
      break;
  }
}

// ---- scan, rows, watch ----

bool TVANTMainMO::IsDriveReady(const fs::path& root) const {
  if (root.empty()) return true;  // no drive to wait for: the scan reports a missing folder
  auto& volumes = ViewerVolumes();
  switch (volumes.GetDriveType(root)) {
    case DriveType::NoRootDir:  // the medium's mount is gone: the disc was taken out
      return false;
    case DriveType::Removable:
    case DriveType::CdRom:
      return volumes.IsReady(root);
    default:
      return true;
  }
}

void TVANTMainMO::FreeModels() { Models.clear(); }

void TVANTMainMO::ScanFolder(const std::string& folder) {
  BusyCursor busy(crHourGlass);
  ScanListing.clear();
  if (!folder.empty()) {
    if (const fs::path drive = DriveOf(folder); !drive.empty()) Root = drive;
    if (!IsDriveReady(Root)) return;
  }
  if (!FolderExists(folder)) {
    MessageDlg(kMsgFolderMissing, mtError, mbOK);
    return;
  }
  FreeModels();
  auto info = ViewerVolumes().GetVolumeInformation(Root);
  VolumeLabel = info ? info->label : std::string();
  Advertiser.clear();
  const DriveType type = ViewerVolumes().GetDriveType(Root);
  Drive = type == DriveType::Removable || type == DriveType::CdRom ? ViewerVolumes().DriveOf(Root)
                                                                   : std::string();
  WatchFolder();
  // A row waits while its file is still being written: known so from the kernel, or held back
  // by the last poll and not known finished since.
  const int64_t now = WallNanos();
  auto hold = [this, now](const viewer::ListingEntry& e) {
    // A copy under way, whose header promises more than is there yet.
    if (!viewer::WholeOrStill(e, now)) return true;
    // A close after writing may be a pause between the pieces of a copy: after a poll, a file
    // the last scan did not list as it is now waits until it held still since that poll.
    if (Settling && !viewer::HeldStill(e, ScanListing) && !viewer::HeldStill(e, PreviousWatch))
      return true;
    // Only the files in doubt are asked again (a scan opens each file once).
    const bool pending = std::find(Pending.begin(), Pending.end(), e.path) != Pending.end();
    if (!pending && viewer::WriteProgressOf(e, Watch.get(), {}) != viewer::WriteProgress::kWriting)
      return false;
    return viewer::WriteProgressOf(e, Watch.get(), WriterCheck) != viewer::WriteProgress::kFinished;
  };
  viewer::ScanResult r = viewer::ScanModels(folder, hold);
  Models = std::move(r.models);
  Advertiser = std::move(r.advertiser);
  ScanListing = std::move(r.listing);
  PreviousWatch = ScanListing;
}

void TVANTMainMO::ShowRows() {
  const int count = GetFileCount();
  for (int i = 0; i < kRows; ++i) MInf[i]->Segment->SetVisible(i < count);
  if (count > 9) {
    GaugeBar1->SetEnabled(true);
    GaugeBar1->SetMax(count - kRows);
    GaugeBar1->SetPosition(0);
  } else {
    GaugeBar1->SetPosition(0);
    GaugeBar1->SetMax(0);
    GaugeBar1->SetEnabled(false);
  }
  FillRows(GaugeBar1->GetPosition());
}

void TVANTMainMO::FillRows(int position) {
  using vant::text::ToUtf8;
  BWFVolumName->SetText(VolumeLabel);
  BWFClientName->SetText(ToUtf8(Advertiser));
  const int count = GetFileCount();
  // Never past the last screenful, whatever the bar says.
  const int p = std::clamp(position, 0, std::max(0, count - kRows));
  const int code = std::clamp(CodeSelection->GetItemIndex(), 0, 3);
  for (int i = 0; i < kRows; ++i) {
    TMOInfo* row = MInf[i];
    const int index = p + i;
    if (index >= count) {
      row->Segment->SetVisible(false);
      continue;
    }
    row->Segment->SetVisible(true);
    const viewer::ModelTexts t = viewer::TextsOf(*Models[index]);
    row->FileIndex = index;
    row->ShowNumber(index + 1);
    row->FileName->SetText(t.fileName);
    row->Title->SetText(ToUtf8(t.title));
    row->CMLength->SetCaption(ToUtf8(t.length));
    row->CMLength->Font().SetColor(t.lengthRed ? kRed : kBlack);
    row->Channels->SetCaption(t.stereo ? "S" : "M");
    row->CodeInfo->SetText(ToUtf8(t.codes[code]));
    row->Limitation->SetText(ToUtf8(t.limitation));
    row->Attachiment->SetCaption(t.attached ? "●" : "");
    row->Comment->SetCaption(t.commented ? "●" : "");
  }
}

void TVANTMainMO::WatchDogTimerTimer(TObject*) {
  BusyCursor busy(crCross);
  WatchDogTimer->SetEnabled(false);
  if (Folder.empty() || IsDriveReady(Root)) {
    try {
      WatchFolder();
      WatchListing = viewer::ListWaveFiles(Folder);
      // On Linux a file being copied opens fine: what tells a finished file is its writer's
      // close, the lease, or, where neither is known, a size and time that stay put. Files still
      // being written are held back; the rest are compared with the scan.
      viewer::Listing ready;
      Pending.clear();
      const int64_t now = WallNanos();
      for (const viewer::ListingEntry& e : WatchListing) {
        const bool scanned =
            std::any_of(ScanListing.begin(), ScanListing.end(),
                        [&](const viewer::ListingEntry& s) { return viewer::SameEntry(s, e); });
        if (scanned || (viewer::WholeOrStill(e, now) &&
                        viewer::FileFinished(e, PreviousWatch, Watch.get(), WriterCheck))) {
          ready.push_back(e);
        } else {
          Pending.push_back(e.path);
        }
      }
      bool changed = viewer::ListingChanged(ScanListing, ready);
      if (changed) {
        for (const viewer::ListingEntry& e : ready) {
          if (!vant::riff::RiffFile::Open(e.path, vant::riff::Mode::kRead)) {
            changed = false;
            break;
          }
        }
      }
      PreviousWatch = WatchListing;
      if (changed || Notified) {
        DelayTimer->SetEnabled(false);
        DelayTimer->SetInterval(2000);
        DelayTimer->SetEnabled(true);
      }
    } catch (const std::exception& e) {
      Trace(std::string("change check: ") + e.what());
    }
  } else {
    const int r = WaitForDrive();
    if (r != mrOk) {
      SetFolder("/");
      ChooseFolder();
    } else if (FollowDrive()) {
      // another disc in the same drive, at its own folder
    } else if (!FolderExists(Folder)) {
      SetFolder(Root.string());
      ChooseFolder();
    }
    ScanFolder(Folder);
    ShowRows();
  }
  WatchDogTimer->SetEnabled(true);
}

void TVANTMainMO::WatchFolder() {
  if (Watch && Watch->Active() && Watch->Folder() == fs::path(Folder)) {
    Watch->Poll();
    return;
  }
  // A new folder, or the old watch ended with its medium: what was known is gone with it.
  Watch = std::make_unique<vant::FolderWatch>(Folder);
  Pending.clear();
}

void TVANTMainMO::DelayTimerTimer(TObject*) {
  DelayTimer->SetEnabled(false);
  Notified = false;
  struct Settle {
    bool& flag;
    explicit Settle(bool& f) : flag(f) { flag = true; }
    ~Settle() { flag = false; }
  } settle(Settling);
  ScanFolder(Folder);
  ShowRows();
}

void TVANTMainMO::WMCopyData(const std::string& path) {
  if (!Folder.empty() && viewer::SameText(NormalFolder(path), NormalFolder(Folder)))
    Notified = true;
}

// ---- folder, drive, listing, eject, hand-over ----

int TVANTMainMO::WaitForDrive() {
  if (!DriveState) return mrCancel;
  DriveState->DriveReady = [this] { return IsDriveReady(Root) || DiscMovedTo().has_value(); };
  return DriveState->ShowModal();
}

void TVANTMainMO::ChooseFolder() {
  std::string start = Folder;
  if (!Folder.empty() && !IsDriveReady(Root)) MessageDlg(kMsgDriveUnavailable, mtWarning, mbOK);
  auto& volumes = ViewerVolumes();
  auto root = start.empty() ? std::nullopt : volumes.RootOf(start);
  if (!root || !volumes.GetVolumeInformation(*root)) start.clear();
  std::string dir = start;
  if (SelectDirectory("参照するMOドライブの選択", "/", dir)) {
    SetFolder(dir);
    if (SysRegVANT) SysRegVANT->WriteWorkString(kFolderSetting, Folder);
    RememberDrive();
  }
}

void TVANTMainMO::ExportList() {
  const std::string stored = StoredText(kListSetting);
  // The dialog adds no extension itself: the name is completed below, and the setting keeps
  // the name as the user typed it.
  SaveDialogExport->DefaultExt.clear();
  // The remembered folder and the name go in apart: a folder that is no place to save in is
  // dropped by the dialog, and a full path as the proposed name would lead it back there.
  SaveDialogExport->InitialDir = stored.empty() ? "" : fs::path(stored).parent_path().string();
  SaveDialogExport->FileName = stored.empty() ? "" : fs::path(stored).filename().string();
  SaveDialogExport->Filter = "CSV files (*.csv)|*.csv";
  std::string chosen;
  for (;;) {
    if (!SaveDialogExport->Execute()) return;
    chosen = SaveDialogExport->FileName;
    // A name with wildcards is a pattern, not a file to write.
    if (fs::path(chosen).filename().string().find_first_of("*?") == std::string::npos) break;
    MessageDlg(kMsgWildcardName, mtWarning, mbOK);
    SaveDialogExport->InitialDir = fs::path(chosen).parent_path().string();
    SaveDialogExport->FileName.clear();
  }
  const fs::path target = mmio::AddFileExt(chosen, ".csv");
  std::error_code ec;
  if (fs::exists(target, ec) && MessageDlg(kMsgOverwrite, mtConfirmation, mbYes | mbNo) != mrYes) {
    return;
  }
  const auto lines =
      viewer::ListingCsvLines(vant::text::ToCp932Lossy(VolumeLabel), Advertiser, Models);
  if (viewer::WriteCsvFile(target, lines)) {
    MessageDlg(kMsgListDone, mtInformation, mbOK);
  } else {
    MessageDlg(kMsgListFailed, mtError, mbOK);
  }
  if (SysRegVANT) SysRegVANT->WriteWorkString(kListSetting, chosen);
}

void TVANTMainMO::EjectDisc() {
  auto& volumes = ViewerVolumes();
  switch (volumes.GetDriveType(Root)) {
    case DriveType::Removable: {
      auto print = [](const std::string& line) { std::cout << line << std::flush; };
      const viewer::EjectOutcome out = viewer::EjectVolume(volumes, Root, EjectDelay, print);
      if (!out) MessageDlg(EjectMessage(out), mtWarning, mbOK);
      break;
    }
    case DriveType::Fixed:
      MessageDlg(kMsgFixedDisk, mtWarning, mbOK);
      break;
    default:
      break;
  }
}

void TVANTMainMO::OpenInConverter(int index) {
  WatchDogTimer->SetEnabled(false);
  const std::string title = ConverterTitle(EditionCode);
  const std::string program = ConverterPath(ConverterProgram(EditionCode), Application->ExeName());
  if (!title.empty() && index >= 0 && index < GetFileCount()) {
    OpenWithApplication(program, Models[index]->GetPath(), title);
  }
  WatchDogTimer->SetEnabled(true);
}
