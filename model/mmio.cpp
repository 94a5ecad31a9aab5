#include "mmio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "bwffilelayer.h"
#include "bwfformat.h"
#include "diskinfo.h"
#include "tempfiles.h"

namespace mmio {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsFolder(const std::filesystem::path& p) {
  struct stat st;
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Bytes free in a folder, 0 when the folder does not exist.
int64_t RoomIn(const std::filesystem::path& folder, const FreeSpaceFn& free_space) {
  return IsFolder(folder) ? free_space(folder) : 0;
}

// Copies every byte of `in` to `out`, through the file layer like every write of the new file;
// false on a failed or short read or write.
bool CopyBytes(int in, ReplacingFile& out, int64_t size) {
  TBWFFileLayer& io = GetBWFFileLayer();
  if (size > 0 && !io.CopyRange(in, 0, out.Fd(), static_cast<size_t>(size))) return false;
  // A source that grew since it was measured is copied to its new end.
  std::vector<char> buf(64 * 1024);
  for (auto at = static_cast<uint64_t>(size);;) {
    const int64_t n = io.ReadAt(in, buf.data(), buf.size(), at);
    if (n < 0) return false;
    if (n == 0) return true;
    if (!out.Write(buf.data(), static_cast<size_t>(n))) return false;
    at += static_cast<uint64_t>(n);
  }
}

}  // namespace

void SetFixedField(uint8_t* field, std::string_view text, size_t width) {
  bwf::StoreFieldText(std::span<uint8_t>(field, width), text);
}

int64_t FreeSpaceOf(const std::filesystem::path& folder) {
  uint64_t free_bytes = 0, total = 0;
  vant::GetFreeSpace(folder, free_bytes, total);
  return static_cast<int64_t>(std::min<uint64_t>(free_bytes, INT64_MAX));
}

std::string PendingPath(std::string_view line) {
  // The converter's line is "*" + name + blanks + "[" + full path + "]". Names and folders may
  // hold brackets themselves, so the path is the bracketed end of the line that ends in the name
  // standing before it; other lines keep the rule of the first "[" and the first "]".
  if (line.starts_with('*') && line.ends_with(']')) {
    for (size_t open = line.find('['); open != std::string_view::npos;
         open = line.find('[', open + 1)) {
      std::string_view name = line.substr(1, open - 1);
      while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
      const std::string_view path = line.substr(open + 1, line.size() - open - 2);
      if (!name.empty() && path.size() > name.size() && path.ends_with(name) &&
          path[path.size() - name.size() - 1] == '/') {
        return std::string(path);
      }
    }
  }
  size_t open = line.find('[');
  size_t close = line.find(']');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return {};
  return std::string(line.substr(open + 1, close - open - 1));
}

int CheckSaveSpace(int64_t new_size, const std::filesystem::path& target,
                   const std::filesystem::path& temp_folder, const FreeSpaceFn& free_space) {
  constexpr int64_t kBlock = 4096;
  const int64_t need = (std::max<int64_t>(new_size, 0) + kBlock - 1) / kBlock * kBlock;
  // The save writes into the temporary folder itself, which may be a file system of its own.
  const auto temp = IsFolder(temp_folder) ? temp_folder : temp_folder.parent_path();
  // A bare name lies in the current folder; its empty folder part names no folder.
  const auto target_folder = target.has_parent_path() ? target.parent_path() : ".";
  struct stat a, b;
  const bool shared = stat(temp.c_str(), &a) == 0 && stat(target_folder.c_str(), &b) == 0 &&
                      a.st_dev == b.st_dev;
  const int64_t each = shared ? 2 * need : need;
  int bits = 0;
  if (RoomIn(temp, free_space) < each) bits |= kTempShort;
  if (RoomIn(target_folder, free_space) < each) bits |= kTargetShort;
  return bits;
}

int CheckFolderWritable(const std::filesystem::path& folder) {
  int error = 0;
  auto made = vant::CreateTempFile(folder, "TMP", "", &error);
  if (made) {
    unlink(made->c_str());
    return kWritable;
  }
  return error == ENOTDIR ? kNotAFolder : kNotWritable;
}

std::string AddFileExt(std::string_view name, std::string_view extension) {
  if (Upper(name).find(Upper(extension)) != std::string::npos) return std::string(name);
  return std::string(name) + std::string(extension);
}

int ShellCopyFile(const std::filesystem::path& source, const std::filesystem::path& target,
                  unsigned /*shell_flags*/) {
  int in = open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO never holds it up
  if (in < 0) return -1;
  struct stat st;
  bool ok = fstat(in, &st) == 0 && S_ISREG(st.st_mode) && !IsFolder(target);
  if (ok) {
    // The copy keeps the source's permissions, writable by its owner as a cleared read-only
    // attribute would leave it.
    ReplacingFile out(target);
    ok = out.IsOpen() && CopyBytes(in, out, static_cast<int64_t>(st.st_size)) &&
         out.Commit(static_cast<int>((st.st_mode & 0777) | S_IWUSR));
  }
  close(in);
  return ok ? 1 : -1;
}

int64_t FileSizeByName(const std::filesystem::path& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

}  // namespace mmio
