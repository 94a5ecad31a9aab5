// Runs the converter's start-up as the program does, for the tests of the single-instance
// guard. Message boxes are answered OK and printed as "message: [<caption>] <text>"; "ready" is
// printed once the windows exist; the splash's time is skipped on an injected clock;
// "ORLUNE_OVERRIDE=1" stands for Shift held at start. The program ends when its standard input
// closes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "clock.h"
#include "dispatch.h"
#include "orlunestart.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_form.h"

namespace {

class PrintingAnswerer : public vant::ScriptedAnswerer {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned) override {
    std::printf("message: [%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stdout);
    return vant::IDOK;
  }
};

}  // namespace

int main(int argc, char** argv) {
  PrintingAnswerer answerer;
  vant::SetDialogAnswerer(&answerer);
  vant::ManualClock clock;
  vant::SetClock(&clock);
  OrluneStartHooks hooks;
  hooks.override_held = [] {
    const char* v = std::getenv("ORLUNE_OVERRIDE");
    return v && std::string(v) == "1";
  };
  hooks.before_run = [&] {
    clock.AdvanceMillis(3000);
    std::printf("ready\n");
    std::fflush(stdout);
    // Standard input closing ends the program, through the GUI thread.
    std::thread([] {
      char c;
      while (read(0, &c, 1) > 0) {
      }
      vant::GetDispatcher().Post([] { vant::Application->MainForm()->Close(); });
    }).detach();
  };
  const int code = OrluneMain(std::vector<std::string>(argv + 1, argv + argc), hooks);
  std::printf("exit %d\n", code);
  std::fflush(stdout);
  return code;
}
