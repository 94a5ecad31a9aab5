// A program for the cross-process tests: runs the start-up guard, then a window endpoint, and
// reports on stdout what happens. It ends when its stdin closes.
//   ipc_peer serve <marker name> <title>
// Environment: PEER_OVERRIDE=1 holds the override key; PEER_HANG=1 makes the copy-data handler
// block until stdin closes (a hung program).
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "childprocess.h"
#include "instanceguard.h"
#include "windowendpoint.h"

using vant::testing::HexBytes;

namespace {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

bool Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && std::string(v) == "1";
}

void WaitForStdinEnd() {
  char buf[64];
  while (read(0, buf, sizeof buf) > 0) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::string(argv[1]) != "serve") return 2;
  QCoreApplication app(argc, argv);
  const std::string name = argv[2];
  vant::ipc::GuardUi ui{[](const std::string& m) { Say("MSG " + m); },
                        [] { return Env("PEER_OVERRIDE"); }};
  if (auto code = vant::ipc::EnterInstanceGuard(name, argv[3], ui)) {
    Say("EXIT " + std::to_string(*code));
    return *code;
  }
  vant::ipc::WindowEndpoint endpoint(argv[3]);
  const bool hang = Env("PEER_HANG");
  endpoint.OnCopyData = [hang](const std::string& path) {
    if (hang) WaitForStdinEnd();
    Say("COPY " + HexBytes(path));
  };
  endpoint.OnActivate = [] { Say("ACTIVATE"); };
  QSocketNotifier stdin_watch(0, QSocketNotifier::Read);
  QObject::connect(&stdin_watch, &QSocketNotifier::activated, [&] {
    char buf[64];
    if (read(0, buf, sizeof buf) <= 0) app.quit();
  });
  Say("READY " + endpoint.GetSocket().string());
  app.exec();
  vant::ipc::LeaveInstanceGuard(name);
  Say("BYE");
  return 0;
}
