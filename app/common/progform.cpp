#include "progform.h"

#include "ui_application.h"

using namespace vant;

TPROGForm::TPROGForm(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("PROGForm");
  SetBorderStyle(bsNone);
  SetBorderIcons({});
  SetFormStyle(fsStayOnTop);
  SetPosition(poScreenCenter);
  SetClientWidth(301);
  SetClientHeight(45);
  SetCaption("PROGForm");
  Font().SetName("ＭＳ Ｐゴシック");
  Font().SetHeight(-12);

  MMPanel1 = new TMMPanel(this);
  MMPanel1->SetName("MMPanel1");
  MMPanel1->SetParent(this);
  MMPanel1->SetAlign(alClient);
  MMPanel1->Bevel().SetBevelInner(bvLowered);
  MMPanel1->Bevel().SetBevelInnerWidth(2);
  MMPanel1->Bevel().SetBevelOuter(bvLowered);
  MMPanel1->Bevel().SetBevelOuterWidth(4);
  MMPanel1->Bevel().SetBorderWidth(4);

  MMGauge1 = new TMMGauge(this);
  MMGauge1->SetName("MMGauge1");
  MMGauge1->SetBounds(10, 10, 213, 25);
  MMGauge1->SetAlign(alLeft);
  MMGauge1->SetCaption("読み込み中");
  MMGauge1->Bevel().SetBevelOuter(bvLowered);
  MMGauge1->Bevel().SetBevelOuterWidth(1);
  MMGauge1->SetParent(MMPanel1);

  SpeedButton1 = new TSpeedButton(this);
  SpeedButton1->SetName("SpeedButton1");
  SpeedButton1->SetBounds(226, 10, 65, 25);
  SpeedButton1->SetCaption("キャンセル");
  SpeedButton1->SetParent(MMPanel1);
  SpeedButton1->OnClick = [this](TObject* s) { SpeedButton1Click(s); };

  WatchDogTimer = new TTimer(this);
  WatchDogTimer->SetName("WatchDogTimer");
  WatchDogTimer->SetEnabled(false);
  WatchDogTimer->SetInterval(200);

  DelayTimer = new TTimer(this);
  DelayTimer->SetName("DelayTimer");
  DelayTimer->SetEnabled(false);
  DelayTimer->SetInterval(500);
  DelayTimer->OnTimer = [this](TObject* s) { DelayTimerTimer(s); };

  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnShow = [this](TObject* s) { FormShow(s); };
  DesignedPixelsPerInch = 96;
  ScreenPixelsPerInch = Screen->PixelsPerInch();
  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();
}

void TPROGForm::FormCreate(TObject*) { ScaleBy(96, Screen->PixelsPerInch()); }

void TPROGForm::FormShow(TObject*) { SpeedButton1->SetEnabled(false); }

void TPROGForm::SpeedButton1Click(TObject*) { Close(); }

void TPROGForm::SetProgress(int percent) {
  MMGauge1->SetProgress(percent);
  if (percent >= 100) {
    WatchDogTimer->SetEnabled(false);
    Close();
  }
}

void TPROGForm::DelayTimerTimer(TObject*) {
  DelayTimer->SetEnabled(false);
  WatchDogTimer->SetEnabled(false);
  Hide();
  if (TForm* main = Application->MainForm())
    MessageWindow::Send(main->Handle(), WM_PROG_SAVE_DONE, 0, 0);
}
