#include "tempfiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "filelayer.h"

namespace vant {

std::filesystem::path TempFolder() {
  if (const char* dir = std::getenv("TMPDIR"); dir && *dir) {
    struct stat st;
    if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  }
  return "/tmp";
}

std::optional<std::filesystem::path> CreateTempFile(const std::filesystem::path& folder,
                                                    const std::string& prefix,
                                                    const std::string& suffix, int* error) {
  std::string pattern = (folder / (prefix + "XXXXXX")).string() + suffix;
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = ::mkstemps(buf.data(), static_cast<int>(suffix.size()));
  if (fd < 0) {
    if (error) *error = errno;
    return std::nullopt;
  }
  ::close(fd);
  if (error) *error = 0;
  return std::filesystem::path(buf.data());
}

std::optional<std::filesystem::path> MakeTempName(const std::filesystem::path& folder,
                                                  const std::string& prefix,
                                                  const std::string& suffix) {
  auto made = CreateTempFile(folder, prefix, suffix);
  if (made) ::unlink(made->c_str());  // ours: created exclusively just now
  return made;
}

std::string OwnedTempPrefix(std::string_view stem) {
  return std::string(stem) + std::to_string(::getpid()) + ".";
}

namespace {

// The maker's process id of a name `stem`<pid>.XXXXXX`suffix`, with the stem; nothing for a
// name of another shape.
std::optional<std::pair<std::string_view, pid_t>> ParseOwnedName(std::string_view name,
                                                                 std::string_view suffix) {
  constexpr size_t kUnique = 6;
  if (!name.ends_with(suffix)) return std::nullopt;
  name.remove_suffix(suffix.size());
  if (name.size() < kUnique + 2) return std::nullopt;
  for (char c : name.substr(name.size() - kUnique)) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum) return std::nullopt;
  }
  name.remove_suffix(kUnique);
  if (name.back() != '.') return std::nullopt;
  name.remove_suffix(1);
  size_t digits = 0;
  while (digits < name.size() && name[name.size() - 1 - digits] >= '0' &&
         name[name.size() - 1 - digits] <= '9') {
    ++digits;
  }
  if (digits == 0 || digits > 9 || name[name.size() - digits] == '0') return std::nullopt;
  pid_t pid = 0;
  const char* first = name.data() + name.size() - digits;
  std::from_chars(first, first + digits, pid);
  return std::make_pair(name.substr(0, name.size() - digits), pid);
}

bool ProcessGone(pid_t pid) { return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH; }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Disposes of `path` (last seen as `seen`) if its lock can be taken: then no live process holds
// it. The lock is held through the disposal, and the name is checked to still be that file, so a
// maker that creates or renames at the same moment never loses a live file.
bool DisposeIfAbandoned(const std::filesystem::path& path, const struct stat& seen,
                        const std::function<bool(const std::filesystem::path&)>& dispose) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat opened, now;
  const bool done = ::fstat(fd, &opened) == 0 && SameFile(opened, seen) &&
                    ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &now) == 0 &&
                    SameFile(now, seen) && dispose(path);
  ::close(fd);
  return done;
}

}  // namespace

bool LockStagedFile(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno != EWOULDBLOCK && errno != EINTR;
  // A cleaner may have taken the lock between the creation and now, and removed the file.
  struct stat st;
  return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

StagedHold::StagedHold(int fd) : fd_(fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1) {}

StagedHold& StagedHold::operator=(StagedHold&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void StagedHold::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int RemoveStaleOwnedTemps(const std::filesystem::path& folder, std::string_view suffix,
                          const std::function<bool(std::string_view stem)>& ours) {
  return DisposeStaleOwnedTemps(folder, suffix, ours,
                                [](const std::filesystem::path& path, std::string_view) {
                                  return GetFileLayer().Remove(path) == 0;
                                });
}

int DisposeStaleOwnedTemps(
    const std::filesystem::path& folder, std::string_view suffix,
    const std::function<bool(std::string_view stem)>& ours,
    const std::function<bool(const std::filesystem::path& path, std::string_view stem)>& dispose) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec), end;
  int removed = 0;
  for (; !ec && it != end; it.increment(ec)) {
    const std::filesystem::path path = it->path();
    const std::string name = path.filename().string();
    const auto owned = ParseOwnedName(name, suffix);
    if (!owned || !ours(owned->first)) continue;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;
    }
    const std::string_view stem = owned->first;
    if (ProcessGone(owned->second) &&
        DisposeIfAbandoned(path, st,
                           [&](const std::filesystem::path& p) { return dispose(p, stem); })) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace vant
