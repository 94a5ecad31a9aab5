#include "settingsstore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "filelayer.h"
#include "replacingfile.h"

namespace vant {
namespace {

using Entry = std::pair<std::string, SettingsStore::Value>;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool ValidName(std::string_view name) {
  return !name.empty() && name[0] != '#' && name.find_first_of("=\n\r") == std::string_view::npos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string EscapeString(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool UnescapeString(std::string_view s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
    } else if (i + 1 < s.size() && s[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (i + 3 < s.size() && s[i + 1] == 'x' && HexDigit(s[i + 2]) >= 0 &&
               HexDigit(s[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3]));
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

std::string ToHex(std::string_view data) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : data) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool FromHex(std::string_view s, std::string& out) {
  if (s.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

// Lines are "name=i:123", "name=s:text" or "name=b:0a1b"; anything else is skipped.
bool ParseLine(std::string_view line, Entry& e) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq == 0 || line.size() < eq + 3 || line[eq + 2] != ':')
    return false;
  e.first = std::string(line.substr(0, eq));
  std::string_view body = line.substr(eq + 3);
  SettingsStore::Value& v = e.second;
  switch (line[eq + 1]) {
    case 'i': {
      std::string text(body);
      if (text.empty()) return false;
      char* end = nullptr;
      errno = 0;
      long long n = std::strtoll(text.c_str(), &end, 10);
      if (*end != '\0' || errno == ERANGE) return false;
      v.type = SettingsStore::Type::kInteger;
      v.integer = n;
      return true;
    }
    case 's':
      v.type = SettingsStore::Type::kString;
      return UnescapeString(body, v.bytes);
    case 'b':
      v.type = SettingsStore::Type::kBinary;
      return FromHex(body, v.bytes);
    default:
      return false;
  }
}

std::vector<Entry> ParseEntries(std::string_view text) {
  std::vector<Entry> entries;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line[0] == '#') continue;
    Entry e;
    if (ParseLine(line, e)) entries.push_back(std::move(e));
  }
  return entries;
}

using Entries = std::shared_ptr<const std::vector<Entry>>;

// A settings file as last read, with what tells its contents apart: the file (device and inode),
// its size and its modification time.
struct Snapshot {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  int64_t mtimeNs = 0;
  Entries entries;
};

// The files of every store of this process, each read once and again only when it changed.
std::mutex& SnapshotsLock() {
  static std::mutex lock;
  return lock;
}
std::map<std::string, Snapshot>& Snapshots() {
  static std::map<std::string, Snapshot> snapshots;
  return snapshots;
}

// The entries of `file` as it is now: none when it is missing, no regular file, or larger than
// any settings file the store writes (refused like a damaged one, without reading it).
Entries CurrentEntries(const std::filesystem::path& file) {
  static const Entries none = std::make_shared<const std::vector<Entry>>();
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return none;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return none;
  }
  const int64_t mtime = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  std::lock_guard guard(SnapshotsLock());
  Snapshot& snap = Snapshots()[file.string()];
  if (snap.entries && snap.dev == st.st_dev && snap.ino == st.st_ino && snap.size == st.st_size &&
      snap.mtimeNs == mtime) {
    ::close(fd);
    return snap.entries;
  }
  snap = {st.st_dev, st.st_ino, st.st_size, mtime, none};
  if (st.st_size <= static_cast<off_t>(SettingsStore::kMaxFileBytes)) {
    // Read to the end, but never past the limit: a file that grew since the stat is refused too.
    std::string text;
    char block[64 * 1024];
    while (text.size() <= SettingsStore::kMaxFileBytes) {
      const ssize_t n = ::read(fd, block, sizeof block);
      if (n > 0) {
        text.append(block, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
    if (text.size() <= SettingsStore::kMaxFileBytes) {
      snap.entries = std::make_shared<const std::vector<Entry>>(ParseEntries(text));
    }
  }
  ::close(fd);
  return snap.entries;
}

std::string Serialize(const std::vector<Entry>& entries) {
  std::string out =
      "# Settings of the VANT programs: name=type:value (i integer, s string, b hex)\n";
  for (const auto& [name, v] : entries) {
    out += name;
    switch (v.type) {
      case SettingsStore::Type::kInteger:
        out += "=i:" + std::to_string(v.integer);
        break;
      case SettingsStore::Type::kString:
        out += "=s:" + EscapeString(v.bytes);
        break;
      case SettingsStore::Type::kBinary:
        out += "=b:" + ToHex(v.bytes);
        break;
      case SettingsStore::Type::kNone:
        continue;
    }
    out += '\n';
  }
  return out;
}

// Holds an exclusive lock on "<file>.lock" (the file itself is replaced by rename, so it cannot
// carry the lock).
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& file) {
    std::string lock = file.string() + ".lock";
    fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path SettingsStore::FileForKey(std::string_view key) {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::filesystem::path(home) / ".config";
  else
    base = ".config";
  std::vector<std::string> levels;
  std::string cur;
  for (char c : key) {
    if (c == '\\' || c == '/') {
      if (!cur.empty()) levels.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) levels.push_back(cur);
  if (!levels.empty() && SameName(levels.front(), "Software")) levels.erase(levels.begin());
  if (levels.empty()) return base / "settings.conf";
  std::filesystem::path p = base;
  for (size_t i = 0; i + 1 < levels.size(); ++i) p /= levels[i];
  return p / (levels.back() + ".conf");
}

std::filesystem::path SettingsStore::DefaultFile() { return FileForKey("Software\\QORA\\VANTCM"); }

bool SettingsStore::Exists() const {
  std::error_code ec;
  return std::filesystem::exists(file_, ec);
}

SettingsStore::Value SettingsStore::Get(std::string_view name) const {
  for (const auto& e : *CurrentEntries(file_))
    if (SameName(e.first, name)) return e.second;
  return {};
}

std::optional<int64_t> SettingsStore::GetInteger(std::string_view name) const {
  Value v = Get(name);
  if (v.type != Type::kInteger) return std::nullopt;
  return v.integer;
}

std::optional<std::string> SettingsStore::GetString(std::string_view name) const {
  Value v = Get(name);
  if (v.type != Type::kString) return std::nullopt;
  return std::move(v.bytes);
}

std::optional<std::string> SettingsStore::GetBinary(std::string_view name) const {
  Value v = Get(name);
  if (v.type != Type::kBinary) return std::nullopt;
  return std::move(v.bytes);
}

std::vector<std::string> SettingsStore::Names() const {
  std::vector<std::string> names;
  for (const auto& e : *CurrentEntries(file_)) names.push_back(e.first);
  return names;
}

bool SettingsStore::SetInteger(std::string_view name, int64_t value) {
  Value v{Type::kInteger, value, {}};
  return Write(name, &v);
}

bool SettingsStore::SetString(std::string_view name, std::string_view value) {
  Value v{Type::kString, 0, std::string(value)};
  return Write(name, &v);
}

bool SettingsStore::SetBinary(std::string_view name, std::string_view data) {
  Value v{Type::kBinary, 0, std::string(data)};
  return Write(name, &v);
}

bool SettingsStore::Remove(std::string_view name) { return Write(name, nullptr); }

bool SettingsStore::Write(std::string_view name, const Value* value) {
  if (!ValidName(name)) return false;
  const std::filesystem::path folder = file_.parent_path().empty() ? "." : file_.parent_path();
  MakeFolders(folder);  // a folder that cannot be made fails below, at the lock
  FileLock lock(file_);
  if (!lock.Held()) return false;

  // Re-read under the lock so a value another program wrote since our last look survives.
  std::vector<Entry> entries = *CurrentEntries(file_);
  bool found = false;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (!SameName(it->first, name)) continue;
    found = true;
    if (value)
      it->second = *value;
    else
      entries.erase(it);
    break;
  }
  if (!found) {
    if (!value) return true;
    entries.emplace_back(std::string(name), *value);
  }

  // A new file beside the old one, whole on the disk before it takes the old one's name; a
  // rename the folder sync did not make durable counts as a failed write.
  ReplacingFile out(file_);
  const std::string text = Serialize(entries);
  return out.Write(text.data(), text.size()) && out.Commit(0600);
}

}  // namespace vant
