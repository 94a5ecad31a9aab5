#include "tempfiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

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

}  // namespace vant
