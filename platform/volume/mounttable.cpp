// The mount table kept between looks, read again when the kernel says it changed.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "volumes.h"

namespace vant::volume {
namespace {

// The whole file from its start (the mount table is a sequence file: read, never mapped).
std::string ReadAll(int fd) {
  std::string text;
  if (::lseek(fd, 0, SEEK_SET) != 0) return text;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, size_t(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return text;
}

std::string ReadPath(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

MountTable::MountTable(std::filesystem::path file)
    : file_(std::move(file)), fd_(::open(file_.c_str(), O_RDONLY | O_CLOEXEC)) {}

MountTable::~MountTable() {
  if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<const std::vector<MountEntry>> MountTable::Entries() {
  std::lock_guard lock(mutex_);
  bool changed = !entries_ || fd_ < 0;
  if (!changed) {
    // POLLPRI (with POLLERR) once after each change; the poll itself takes the notice.
    pollfd p{fd_, POLLPRI, 0};
    int n;
    do n = ::poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    changed = n != 0 && (n < 0 || (p.revents & (POLLPRI | POLLERR)) != 0);
  }
  if (changed) {
    ++reads_;
    entries_ = std::make_shared<const std::vector<MountEntry>>(
        ParseMountInfo(fd_ >= 0 ? ReadAll(fd_) : ReadPath(file_)));
  }
  return entries_;
}

uint64_t MountTable::Reads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

}  // namespace vant::volume
