#include "ipcfolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vant::ipc {

std::filesystem::path RuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  std::filesystem::path dir = (xdg != nullptr && xdg[0] == '/')
                                  ? std::filesystem::path(xdg) / "vant"
                                  : std::filesystem::path("/tmp/vant-" + std::to_string(geteuid()));
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw EIpcError("cannot create " + dir.string() + ": " + std::strerror(errno));
  }
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) {
    throw EIpcError("cannot examine " + dir.string() + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    throw EIpcError(dir.string() + " is not a folder of this user");
  }
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) {
    throw EIpcError("cannot restrict " + dir.string() + ": " + std::strerror(errno));
  }
  return dir;
}

}  // namespace vant::ipc
