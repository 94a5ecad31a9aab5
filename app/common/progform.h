#pragma once
// TPROGForm: the small stay-on-top progress window with a gauge that both programs create at
// start-up. Its user sets the gauge caption, shows it and feeds SetProgress, which closes the
// window at 100. After a save the delay timer tells the main form, half a second later, that
// the save has ended (message WM_USER + 410).
#include "mmgauge.h"
#include "mmpanel.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_timer.h"

// Sent to the main form's window when the delay after a save has run out.
constexpr uint32_t WM_PROG_SAVE_DONE = vant::WM_USER + 410;

class TPROGForm : public vant::TForm {
 public:
  explicit TPROGForm(vant::TComponent* owner);
  std::string ClassName() const override { return "TPROGForm"; }

  // Sets the gauge; at 100 or more switches the watchdog off and closes (hides) the window.
  void SetProgress(int percent);

  // Layout components, as the window's layout names them.
  TMMPanel* MMPanel1;
  TMMGauge* MMGauge1;
  vant::TSpeedButton* SpeedButton1;
  vant::TTimer* WatchDogTimer;
  vant::TTimer* DelayTimer;
  // The designed pixels per inch and the screen's.
  int DesignedPixelsPerInch = 96;
  int ScreenPixelsPerInch = 96;

  void FormCreate(vant::TObject* Sender);
  void FormShow(vant::TObject* Sender);
  void SpeedButton1Click(vant::TObject* Sender);
  void DelayTimerTimer(vant::TObject* Sender);
};
