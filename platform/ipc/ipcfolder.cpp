#include "ipcfolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vant::ipc {

std::filesystem::path RuntimeFolder() {
  // Without a usable runtime dir (unset, relative, or gone) both programs agree on /tmp.
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  struct stat st;
  std::filesystem::path dir =
      (xdg != nullptr && xdg[0] == '/' && stat(xdg, &st) == 0 && S_ISDIR(st.st_mode))
          ? std::filesystem::path(xdg) / "vant"
          : std::filesystem::path("/tmp/vant-" + std::to_string(geteuid()));
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw EIpcError("cannot create " + dir.string() + ": " + std::strerror(errno));
  }
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
