#include "filelayer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "tempfiles.h"

namespace vant {
namespace {

std::atomic<FileLayer*> g_layer{nullptr};

// Bytes per plain read and write where the kernel cannot copy between the two files itself.
constexpr size_t kPlainCopyBlock = 128 * 1024;

bool PlainCopy(int in, uint64_t offset, int out, size_t count) {
  static thread_local std::vector<char> buf(kPlainCopyBlock);
  PosixFileLayer io;
  while (count > 0) {
    const size_t n = count < buf.size() ? count : buf.size();
    const int64_t got = io.ReadAt(in, buf.data(), n, offset);
    if (got <= 0) {
      errno = ENODATA;  // the reading side failed, or the source ended early
      return false;
    }
    if (!io.Write(out, buf.data(), static_cast<size_t>(got))) return false;
    offset += static_cast<uint64_t>(got);
    count -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

int PosixFileLayer::Open(const std::filesystem::path& path, int flags, int mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int PosixFileLayer::CreateTemp(const std::filesystem::path& folder, const std::string& prefix,
                               const std::string& suffix, std::filesystem::path& made) {
  // Locked as its maker's at once (tempfiles.h); a file a cleaner took in that moment is left to
  // it, and another name is made.
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::string pattern = (folder / (prefix + "XXXXXX")).string() + suffix;
    const int fd = ::mkostemps(pattern.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) return -1;
    if (LockStagedFile(fd)) {
      made = pattern;
      return fd;
    }
    ::close(fd);
  }
  errno = EAGAIN;
  return -1;
}

int64_t PosixFileLayer::ReadAt(int fd, void* buffer, size_t count, uint64_t offset) {
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool PosixFileLayer::Write(int fd, const void* buffer, size_t count) {
  const auto* in = static_cast<const char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(fd, in, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    in += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool PosixFileLayer::CopyRange(int in, uint64_t offset, int out, size_t count) {
  // The kernel copies between two files of one file system without passing the bytes through
  // this process; elsewhere it refuses, and the plain copy takes over.
  auto off = static_cast<off64_t>(offset);
  while (count > 0) {
    const ssize_t n = ::copy_file_range(in, &off, out, nullptr, count, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      return PlainCopy(in, static_cast<uint64_t>(off), out, count);
    }
    if (n <= 0) {
      if (n == 0) errno = ENODATA;  // the source ended early
      return false;
    }
    count -= static_cast<size_t>(n);
  }
  return true;
}

int PosixFileLayer::Allocate(int fd, int64_t size) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  if (size <= st.st_size) return 0;
  const int r = ::posix_fallocate(fd, st.st_size, size - st.st_size);
  if (r == 0) return 0;
  // A file system that cannot reserve blocks: the file is only lengthened.
  if (r != EOPNOTSUPP && r != EINVAL) return errno = r, -1;
  return ::ftruncate(fd, size);
}

int PosixFileLayer::SyncMapping(int /*fd*/, void* view, size_t length) {
  return ::msync(view, length, MS_SYNC);
}

int PosixFileLayer::Fsync(int fd) { return ::fsync(fd); }
int PosixFileLayer::Fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int PosixFileLayer::Fstat(int fd, struct stat& st) { return ::fstat(fd, &st); }

int PosixFileLayer::Close(int fd) {
  // Linux releases the descriptor even when close reports an error; never retry it.
  return ::close(fd);
}

int PosixFileLayer::Stat(const std::filesystem::path& path, struct stat& st) {
  return ::stat(path.c_str(), &st);
}

int PosixFileLayer::Rename(const std::filesystem::path& from, const std::filesystem::path& to,
                           bool noReplace) {
  if (!noReplace) return ::rename(from.c_str(), to.c_str());
  const long r = ::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                           1u /* RENAME_NOREPLACE */);
  if (r == 0 || (errno != EINVAL && errno != ENOSYS)) return static_cast<int>(r);
  // A file system without the flag: a hard link fails on an existing name just the same.
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  if (::unlink(from.c_str()) != 0) {
    const int e = errno;
    ::unlink(to.c_str());
    errno = e;
    return -1;
  }
  return 0;
}

int PosixFileLayer::Remove(const std::filesystem::path& path) { return ::unlink(path.c_str()); }

int PosixFileLayer::MakeFolder(const std::filesystem::path& path, mode_t mode) {
  return ::mkdir(path.c_str(), mode);
}

int PosixFileLayer::SyncFolder(const std::filesystem::path& folder) {
  const int fd =
      Open(folder.empty() ? std::filesystem::path(".") : folder, O_RDONLY | O_DIRECTORY, 0);
  if (fd < 0) return -1;
  const int r = ::fsync(fd);
  const int e = errno;
  ::close(fd);
  errno = e;
  return r;
}

FileLayer& GetFileLayer() {
  static PosixFileLayer posix;
  FileLayer* l = g_layer.load();
  return l ? *l : posix;
}

void SetFileLayer(FileLayer* layer) { g_layer = layer; }

int MakeFolders(const std::filesystem::path& folder) {
  FileLayer& io = GetFileLayer();
  struct stat st;
  if (folder.empty() || io.Stat(folder, st) == 0) {
    if (folder.empty() || S_ISDIR(st.st_mode)) return 0;
    errno = ENOTDIR;
    return -1;
  }
  const std::filesystem::path parent = folder.parent_path();
  if (!parent.empty() && MakeFolders(parent) != 0) return -1;
  if (io.MakeFolder(folder, 0777) != 0 && errno != EEXIST) return -1;
  // The new folder's name lives in its parent until the parent is synced.
  return io.SyncFolder(parent.empty() ? std::filesystem::path(".") : parent);
}

}  // namespace vant
