#include "ipcfolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "trace.h"

namespace vant::ipc {
namespace fs = std::filesystem;

namespace {

// Whether `dir` is, as it stands, a folder of this user that no one else can enter.
bool IsPrivateFolder(const fs::path& dir) {
  struct stat st;
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

// Makes `dir` (mode 0700) when it is missing and checks it. Empty when it is a folder of this
// user, with read and search by others taken away; else why it cannot be used. Where others may
// have created entries in it (`shared`: its parent is everyone's, and it was open to writing),
// it is not used either.
std::string MakePrivate(const fs::path& dir, bool shared) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return "cannot create " + dir.string() + ": " + std::strerror(errno);
  }
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) {
    return "cannot examine " + dir.string() + ": " + std::strerror(errno);
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    return dir.string() + " is not a folder of this user";
  }
  if (shared && (st.st_mode & 022) != 0) return dir.string() + " is open to other users";
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) {
    return "cannot restrict " + dir.string() + ": " + std::strerror(errno);
  }
  return {};
}

fs::path RecordFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    return fs::path(xdg) / "QORA";
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return fs::path(home) / ".config" / "QORA";
  return {};
}

// The record of this machine's private folder: the file, opened and locked (bounded wait), or
// -1 when there is no place for it.
int OpenRecord(const fs::path& file) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    if (fd >= 0) close(fd);
    return -1;
  }
  // Held only while one program reads or writes a name: 2 s is far beyond that.
  for (int i = 0; flock(fd, LOCK_EX | LOCK_NB) != 0; ++i) {
    if (i == 200) {
      close(fd);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fd;
}

std::string ReadRecord(int fd) {
  char buf[16384];
  const ssize_t n = pread(fd, buf, sizeof buf, 0);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// The record holds one line per shared folder: the private folder made in it.
fs::path RecordedIn(const std::string& record, const fs::path& shared) {
  for (size_t at = 0; at < record.size();) {
    size_t end = record.find('\n', at);
    if (end == std::string::npos) end = record.size();
    fs::path line(record.substr(at, end - at));
    if (line.parent_path() == shared) return line;
    at = end + 1;
  }
  return {};
}

std::string Rerecorded(const std::string& record, const fs::path& shared, const fs::path& dir) {
  std::string out;
  for (size_t at = 0; at < record.size();) {
    size_t end = record.find('\n', at);
    if (end == std::string::npos) end = record.size();
    const std::string line = record.substr(at, end - at);
    if (!line.empty() && fs::path(line).parent_path() != shared) out += line + '\n';
    at = end + 1;
  }
  return out + dir.string() + '\n';
}

// Whether others than this user may create entries in `dir`.
bool OpenToOthers(const fs::path& dir) {
  struct stat st;
  return stat(dir.c_str(), &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 022) != 0;
}

}  // namespace

fs::path RuntimeFolderIn(const fs::path& shared, const fs::path& record_folder,
                         const std::string& name) {
  const fs::path fixed = shared / name;
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const fs::path record =
      record_folder.empty() ? fs::path() : record_folder / ("runtime-" + std::string(host));
  // A folder everyone may write to can hold a `name` made by someone else; a private one cannot.
  const bool open = OpenToOthers(shared);
  struct stat st;
  // Nothing recorded: the shared name, unless it is taken.
  const bool recorded = !record.empty() && lstat(record.c_str(), &st) == 0;
  std::string why;
  if (!recorded && (why = MakePrivate(fixed, open)).empty()) return fixed;

  const int fd = record.empty() ? -1 : OpenRecord(record);
  // Only a folder of ours beside the shared name, as this user's programs make them.
  const std::string kept = fd >= 0 ? ReadRecord(fd) : std::string();
  const fs::path found = RecordedIn(kept, shared);
  if (found.filename().string().rfind(name + "-", 0) == 0 && IsPrivateFolder(found)) {
    close(fd);
    return found;
  }
  if (recorded && (why = MakePrivate(fixed, open)).empty()) {
    if (fd >= 0) close(fd);
    return fixed;
  }
  Trace("ipc: " + why + "; a private folder is made instead");
  std::string pattern = (shared / (name + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    const int error = errno;
    if (fd >= 0) close(fd);
    throw EIpcError(why + "; cannot create a folder in " + shared.string() + ": " +
                    std::strerror(error));
  }
  const std::string updated = Rerecorded(kept, shared, pattern);
  if (fd < 0 || ftruncate(fd, 0) != 0 ||
      pwrite(fd, updated.data(), updated.size(), 0) != static_cast<ssize_t>(updated.size()) ||
      fsync(fd) != 0) {
    Trace("ipc: the private folder " + pattern + " could not be recorded for the other program");
  }
  if (fd >= 0) close(fd);
  return pattern;
}

fs::path RuntimeFolderIn(const fs::path& shared, const fs::path& record_folder) {
  return RuntimeFolderIn(shared, record_folder, "vant-" + std::to_string(geteuid()));
}

fs::path RuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (xdg != nullptr && xdg[0] == '/' && stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) {
    return RuntimeFolderIn(xdg, RecordFolder(), "vant");
  }
  // Without a usable runtime dir (unset, relative, or gone) both programs agree on /tmp.
  return RuntimeFolderIn("/tmp", RecordFolder());
}

}  // namespace vant::ipc
