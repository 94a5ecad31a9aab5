// Dessan, the disc viewer: the start-up guard, the windows in their order, the message loop.
#include <QGuiApplication>
#include <exception>

#include "bwfmainmo.h"
#include "bwfmessage.h"
#include "bwfnotify.h"
#include "drvstat.h"
#include "instanceguard.h"
#include "moresources.h"
#include "progform.h"
#include "ui_application.h"
#include "ui_dialogs.h"

using namespace vant;

namespace {

// The file model's messages (the hand-over to the converter) as the application's boxes.
class BoxNotifier : public TBWFNotifier {
 public:
  void Warning(std::string_view t) override { MessageDlg(std::string(t), mtWarning, mbOK); }
  void Error(std::string_view t) override { MessageDlg(std::string(t), mtError, mbOK); }
  void Information(std::string_view t) override { MessageDlg(std::string(t), mtInformation, mbOK); }
  void Plain(std::string_view t) override { Application->MessageBox(std::string(t), "", MB_OK); }
};

bool ShiftOrCtrlHeld() {
  const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
  return (m & (Qt::ShiftModifier | Qt::ControlModifier)) != 0;
}

}  // namespace

int main() {
  Application->Initialize();
  const std::string name = ipc::ExecutableName();
  ipc::GuardUi guard{[](const std::string& m) { Application->MessageBox(m, "", MB_OK); },
                     [] { return ShiftOrCtrlHeld(); }};
  if (auto code = ipc::EnterInstanceGuard(name, ViewerTitle(ecAdAgency), guard)) return *code;
  BoxNotifier notifier;
  SetBWFNotifier(&notifier);
  try {
    ViewerLinks.edition = ecAdAgency;
    Application->SetTitle("ミルダ");
    TVANTMainMO* main_form = nullptr;
    Application->CreateForm(main_form);
    new TMODataRes(Application);
    TPROGForm* progress = nullptr;  // never shown: the viewer saves nothing
    Application->CreateForm(progress);
    TDriveState* drive_state = nullptr;
    Application->CreateForm(drive_state);
    Application->Run();
  } catch (const std::exception& e) {
    Application->ShowException(e);
  } catch (...) {
    Application->ShowException(Exception(""));
  }
  SetBWFNotifier(nullptr);
  ipc::LeaveInstanceGuard(name);
  return 0;
}
