#include "instanceguard.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "ipcfolder.h"
#include "trace.h"
#include "windowlink.h"

namespace vant::ipc {
namespace {

// The marker's path, or empty when the per-user folder cannot be used.
std::filesystem::path MarkerPath(std::string name) {
  std::replace(name.begin(), name.end(), '/', '_');
  try {
    return RuntimeFolder() / ("m-" + name);
  } catch (const EIpcError& e) {
    Trace(e.what());
    return {};
  }
}

}  // namespace

std::string ExecutableName() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.filename().string();
}

bool InstanceMarkerExists(const std::string& name) {
  auto path = MarkerPath(name);
  return !path.empty() && access(path.c_str(), F_OK) == 0;
}

bool AddInstanceMarker(const std::string& name) {
  auto path = MarkerPath(name);
  if (path.empty()) return false;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST;
  std::string pid = std::to_string(getpid()) + "\n";
  bool ok = write(fd, pid.data(), pid.size()) == static_cast<ssize_t>(pid.size());
  return close(fd) == 0 && ok;
}

void DeleteInstanceMarker(const std::string& name) {
  auto path = MarkerPath(name);
  if (!path.empty()) unlink(path.c_str());
}

std::optional<int> EnterInstanceGuard(const std::string& name, const std::string& window_title,
                                      const GuardUi& ui) {
  if (InstanceMarkerExists(name)) {
    if (auto window = FindWindowByTitle(window_title)) {
      ui.show_message(kMsgAlreadyRunning);
      ActivateWindow(*window);
      if (!ui.override_held || !ui.override_held()) return 0;
      DeleteInstanceMarker(name);
    } else {
      ui.show_message(kMsgAbnormalEnd);
    }
    return std::nullopt;
  }
  if (!AddInstanceMarker(name)) {
    ui.show_message(kMsgCannotStart);
    return -1;
  }
  return std::nullopt;
}

}  // namespace vant::ipc
