#include "boxnotifier.h"

#include <string>

#include "ui_application.h"
#include "ui_dialogs.h"

using namespace vant;

void TBoxNotifier::Warning(std::string_view t) { MessageDlg(std::string(t), mtWarning, mbOK); }
void TBoxNotifier::Error(std::string_view t) { MessageDlg(std::string(t), mtError, mbOK); }
void TBoxNotifier::Information(std::string_view t) {
  MessageDlg(std::string(t), mtInformation, mbOK);
}
void TBoxNotifier::Plain(std::string_view t) { Application->MessageBox(std::string(t), "", MB_OK); }
