#pragma once
// Whether a staged file's maker holds its lock, seen from outside, and a file layer that looks
// at every moment a staged file leaves its name.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "filelayer.h"

namespace vant::testing {

// Whether some open file description other than a new one holds `path`'s lock.
inline bool LockedByAnother(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return locked;
}

// The POSIX layer, noting for each rename or removal of an existing file whose name ends with
// `suffix` whether its lock was held right then. Installed while alive.
class StagedLockLayer : public PosixFileLayer {
 public:
  explicit StagedLockLayer(std::vector<std::string> suffixes) : suffixes_(std::move(suffixes)) {
    SetFileLayer(this);
  }
  ~StagedLockLayer() override { SetFileLayer(nullptr); }

  int Rename(const std::filesystem::path& from, const std::filesystem::path& to,
             bool noReplace) override {
    Look("rename", from);
    return PosixFileLayer::Rename(from, to, noReplace);
  }
  int Remove(const std::filesystem::path& p) override {
    Look("remove", p);
    return PosixFileLayer::Remove(p);
  }

  // "rename .x.part: locked" and the like, in order.
  std::vector<std::string> seen;

 private:
  void Look(const char* what, const std::filesystem::path& p) {
    std::error_code ec;
    if (!std::filesystem::exists(p, ec)) return;
    for (const std::string& s : suffixes_) {
      if (p.string().ends_with(s)) {
        seen.push_back(std::string(what) + " *" + s + ": " +
                       (LockedByAnother(p) ? "locked" : "unlocked"));
      }
    }
  }
  std::vector<std::string> suffixes_;
};

}  // namespace vant::testing
