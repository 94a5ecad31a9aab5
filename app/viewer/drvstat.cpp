#include "drvstat.h"

using namespace vant;

TDriveState* DriveState = nullptr;

TDriveState::TDriveState(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("DriveState");
  SetBorderStyle(bsDialog);
  SetBorderIcons({biSystemMenu});
  SetPosition(poScreenCenter);
  SetClientWidth(457);
  SetClientHeight(125);
  SetCaption("ドライブ状態の確認");
  Font().SetName("ＭＳ Ｐゴシック");
  Font().SetHeight(-12);

  Bevel1 = new TMMPanel(this);
  Bevel1->SetName("Bevel1");
  Bevel1->SetParent(this);
  Bevel1->SetBounds(8, 8, 441, 73);
  Bevel1->Bevel().SetBevelOuter(bvLowered);
  Bevel1->Bevel().SetBevelOuterWidth(1);

  // The labels sit inside the frame, so they are placed relative to it.
  Label1 = new TLabel(this);
  Label1->SetName("Label1");
  Label1->SetParent(Bevel1);
  Label1->SetBounds(24 - 8, 24 - 8, 400, 12);
  Label1->SetCaption("指定ドライブの準備が出来ていない、または、ドライブにアクセスできません。");

  Label2 = new TLabel(this);
  Label2->SetName("Label2");
  Label2->SetParent(Bevel1);
  Label2->SetBounds(24 - 8, 56 - 8, 400, 12);
  Label2->SetCaption(
      "ディスクを挿入するか、フォルダー指定ボタンにより別のドライブを指定してください。");

  Folder = new TButton(this);
  Folder->SetName("Folder");
  Folder->SetParent(this);
  Folder->SetBounds(175, 92, 98, 25);
  Folder->SetCaption("フォルダー指定");
  Folder->SetDefault(true);
  Folder->SetModalResult(mrCancel);

  Timer1 = new TTimer(this);
  Timer1->SetName("Timer1");
  Timer1->SetEnabled(false);
  Timer1->SetInterval(2000);
  Timer1->OnTimer = [this](TObject* s) { Timer1Timer(s); };

  OnShow = [this](TObject* s) { FormShow(s); };
  OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();
  DriveState = this;
}

TDriveState::~TDriveState() {
  DoDestroy();
  if (DriveState == this) DriveState = nullptr;
}

void TDriveState::FormShow(TObject*) { Timer1->SetEnabled(true); }

void TDriveState::FormClose(TObject*, TCloseAction&) { Timer1->SetEnabled(false); }

void TDriveState::Timer1Timer(TObject*) {
  Timer1->SetEnabled(false);
  if (DriveReady && DriveReady()) {
    SetModalResult(mrOk);
  } else {
    Timer1->SetEnabled(true);
  }
}
