#pragma once
// TDriveState: the modal dialog that waits for the listed drive to become ready. It checks every
// 2,000 ms and closes itself with OK once the drive answers; the folder button (or closing the
// dialog) gives Cancel, after which the viewer lets the user pick another folder. Created once at
// start-up and reused for every wait.
#include <functional>

#include "mmpanel.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_timer.h"

class TDriveState : public vant::TForm {
 public:
  explicit TDriveState(vant::TComponent* owner);
  ~TDriveState() override;
  std::string ClassName() const override { return "TDriveState"; }

  TMMPanel* Bevel1;
  vant::TLabel* Label1;
  vant::TLabel* Label2;
  vant::TButton* Folder;
  vant::TTimer* Timer1;

  // Answers whether the drive waited for is ready now; set by whoever shows the dialog.
  std::function<bool()> DriveReady;

  void FormShow(vant::TObject* Sender);
  void FormClose(vant::TObject* Sender, vant::TCloseAction& Action);
  void Timer1Timer(vant::TObject* Sender);
};

// The program-wide reference, set while one exists.
extern TDriveState* DriveState;
