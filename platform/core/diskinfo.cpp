#include "diskinfo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace vant {

bool GetFreeSpace(const std::filesystem::path& path, uint64_t& free_bytes, uint64_t& total_bytes) {
  struct statvfs vfs;
  if (path.empty() || ::statvfs(path.c_str(), &vfs) != 0) {
    free_bytes = 0;
    total_bytes = 1;
    return false;
  }
  free_bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  total_bytes = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
  return true;
}

namespace {
bool InGroup(gid_t gid) {
  if (gid == ::getegid()) return true;
  int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  n = ::getgroups(n, groups.data());
  for (int i = 0; i < n; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}
}  // namespace

bool IsReadOnlyFile(const std::filesystem::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  struct statvfs vfs;
  if (::statvfs(path.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY)) return true;
  const uid_t uid = ::geteuid();
  mode_t bit;
  if (uid == 0 || st.st_uid == uid)
    bit = S_IWUSR;
  else if (InGroup(st.st_gid))
    bit = S_IWGRP;
  else
    bit = S_IWOTH;
  return (st.st_mode & bit) == 0;
}

bool SetReadOnlyFile(const std::filesystem::path& path, bool read_only) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode = read_only ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  return ::chmod(path.c_str(), mode) == 0;
}

std::optional<bool> IsOpenForWriting(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<bool> answer;
  struct stat st;
  // A writer that opens the file while the lease is held breaks it and the kernel signals the
  // holder: a signal that is ignored by default, never the terminating SIGIO.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fcntl(fd, F_SETSIG, SIGURG) == 0) {
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
      ::fcntl(fd, F_SETLEASE, F_UNLCK);
      answer = false;
    } else if (errno == EAGAIN) {
      answer = true;
    }
  }
  ::close(fd);
  return answer;
}

}  // namespace vant
