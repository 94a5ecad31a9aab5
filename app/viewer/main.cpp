// Dessan, the disc viewer: the start-up guard, the windows in their order, the message loop.
#include <exception>

#include "boxnotifier.h"
#include "bsplash.h"
#include "bwfmainmo.h"
#include "bwfmessage.h"
#include "comresources.h"
#include "desktopstate.h"
#include "drvstat.h"
#include "instanceguard.h"
#include "mmutils.h"
#include "moresources.h"
#include "progform.h"
#include "ui_application.h"
#include "verformaa.h"

using namespace vant;

namespace {
constexpr const char* kProgramTitle = "ミルダ";
}  // namespace

int main() {
  Application->Initialize();
  const std::string name = ipc::ExecutableName();
  // Shown before any window: the box carries the program's title, so the user knows whose it is.
  ipc::GuardUi guard{[](const std::string& m) { Application->MessageBox(m, kProgramTitle, MB_OK); },
                     ShiftOrCtrlHeld};
  if (auto code = ipc::EnterInstanceGuard(name, ViewerTitle(ecAdAgency), guard)) return *code;
  // The file model's messages (the hand-over to the converter) as the application's boxes.
  TBoxNotifier notifier;
  TScopedNotifier notifying(notifier);
  TVANTSplash* splash = nullptr;
  try {
    splash = new TVANTSplash(Application);
    splash->DoCreate();
    splash->ShowPicture(0);
    splash->EditionCode = ecAdAgency;
    splash->Show();
    splash->Repaint();
    Application->SetTitle(kProgramTitle);
    TVANTMainMO* main_form = nullptr;
    Application->CreateForm(main_form);
    // The player window of the design is left out: the viewer never plays.
    new TComDataRes(Application);
    new TMODataRes(Application);
    TPROGForm* progress = nullptr;  // never shown: the viewer saves nothing
    Application->CreateForm(progress);
    TDriveState* drive_state = nullptr;
    Application->CreateForm(drive_state);
    TVersionConv* version = nullptr;
    Application->CreateForm(version);
    // The main window stays hidden behind the splash until its timer closes the splash.
    Application->SetShowMainForm(false);
    while (splash->GetVisible() && !Application->Terminated()) {
      Delay(10, true);
      Application->ProcessMessages();
    }
    main_form->Show();
    Application->Run();
  } catch (const std::exception& e) {
    Application->ShowException(e);
  } catch (...) {
    Application->ShowException(Exception(""));
  }
  // The windows are freed before the program ends, as the framework's application frees its
  // forms at exit (the splash among them): each main window ends its endpoint, so no socket of
  // it is left behind.
  Application->DestroyComponents();
  ipc::LeaveInstanceGuard(name);
  return 0;
}
