#include <algorithm>
#include <sstream>

#include "volumes.h"

namespace vant::volume {
namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(const std::string& s) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) && octal(s[i + 2]) && octal(s[i + 3])) {
      out += static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
  std::vector<MountEntry> mounts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::vector<std::string> f;
    std::string w;
    while (in >> w) f.push_back(w);
    // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    size_t dash = 0;
    for (size_t i = 6; i < f.size(); ++i) {
      if (f[i] == "-") {
        dash = i;
        break;
      }
    }
    if (dash == 0 || dash + 1 >= f.size()) continue;
    MountEntry e;
    e.mountPoint = Unescape(f[4]);
    e.fsType = f[dash + 1];
    e.source = dash + 2 < f.size() ? Unescape(f[dash + 2]) : "";
    mounts.push_back(std::move(e));
  }
  return mounts;
}

std::optional<MountEntry> FindMount(const std::vector<MountEntry>& mounts,
                                    const std::filesystem::path& folder) {
  std::optional<MountEntry> best;
  size_t bestDepth = 0;
  for (const MountEntry& m : mounts) {
    auto [mi, fi] = std::mismatch(m.mountPoint.begin(), m.mountPoint.end(), folder.begin(),
                                  folder.end());
    // "/" mount points end with an empty component in some spellings; ignore trailing empties.
    bool prefix = mi == m.mountPoint.end() || (std::next(mi) == m.mountPoint.end() && mi->empty());
    if (!prefix) continue;
    size_t depth = std::distance(m.mountPoint.begin(), m.mountPoint.end());
    if (!best || depth >= bestDepth) {
      best = m;
      bestDepth = depth;
    }
  }
  return best;
}

std::optional<MountEntry> FindMountOfDisk(
    const std::vector<MountEntry>& mounts, const std::string& disk,
    const std::function<std::string(const std::string& source)>& diskOf) {
  if (disk.empty()) return std::nullopt;
  for (const MountEntry& m : mounts) {
    if (m.source.rfind("/dev/", 0) == 0 && diskOf(m.source) == disk) return m;
  }
  return std::nullopt;
}

}  // namespace vant::volume
