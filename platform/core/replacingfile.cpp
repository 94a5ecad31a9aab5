#include "replacingfile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

#include "filelayer.h"
#include "tempfiles.h"

namespace vant {
namespace {

std::filesystem::path FolderOf(const std::filesystem::path& target) {
  return target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
}

}  // namespace

std::string CutUtf8(std::string_view text, size_t limit) {
  if (text.size() <= limit) return std::string(text);
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut));
}

std::string PartFilePrefix(const std::filesystem::path& target) {
  // Room for the dots, the six unique characters and ".part" within the 255 bytes of a name.
  return OwnedTempPrefix("." + CutUtf8(target.filename().string(), 200) + ".");
}

mode_t NewFileMode() {
  // Read from the kernel: setting the umask to find it out would, for a moment, give files that
  // other threads create the wrong mode.
  unsigned mask = 0;
  bool found = false;
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (!found && std::fgets(line, sizeof line, status)) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
  }
  if (!found) {
    mask = ::umask(022);
    ::umask(static_cast<mode_t>(mask));
  }
  return 0666 & ~static_cast<mode_t>(mask);
}

int RemoveStaleParts(const std::filesystem::path& folder) {
  return RemoveStaleOwnedTemps(folder, ".part", [](std::string_view stem) {
    return stem.size() > 2 && stem.front() == '.' && stem.back() == '.';
  });
}

bool ReplaceWithFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  FileLayer& io = GetFileLayer();
  const int fd = io.Open(from, O_RDONLY);
  if (fd < 0) return false;
  const bool synced = io.Fsync(fd) == 0;
  io.Close(fd);
  if (!synced || io.Rename(from, to, false) != 0) return false;
  return io.SyncFolder(FolderOf(to)) == 0;
}

ReplacingFile::ReplacingFile(const std::filesystem::path& target, bool replace_protected)
    : target_(target) {
  FileLayer& io = GetFileLayer();
  struct stat st;
  if (!replace_protected && io.Stat(target, st) == 0 && IsWriteProtected(st.st_mode)) return;
  RemoveStaleParts(FolderOf(target));
  fd_ = io.CreateTemp(FolderOf(target), PartFilePrefix(target), ".part", part_);
  if (fd_ < 0) part_.clear();
  hold_ = StagedHold(fd_);
}

ReplacingFile::~ReplacingFile() {
  FileLayer& io = GetFileLayer();
  if (fd_ >= 0) io.Close(fd_);
  if (!part_.empty()) io.Remove(part_);
  hold_.Release();
}

bool ReplacingFile::Write(const void* data, size_t size) {
  if (fd_ < 0 || failed_) return false;
  if (size > 0 && !GetFileLayer().Write(fd_, data, size)) failed_ = true;
  return !failed_;
}

bool ReplacingFile::Commit(int mode) {
  if (fd_ < 0 || failed_) return false;
  FileLayer& io = GetFileLayer();
  if (mode < 0) {
    struct stat st;
    mode = static_cast<int>(io.Stat(target_, st) == 0 ? st.st_mode & 07777 : NewFileMode());
  }
  bool ok = io.Fchmod(fd_, static_cast<mode_t>(mode)) == 0 && io.Fsync(fd_) == 0;
  ok = io.Close(fd_) == 0 && ok;
  fd_ = -1;
  if (!ok || io.Rename(part_, target_, false) != 0) return false;
  part_.clear();
  hold_.Release();
  // Without it the rename may not survive a power loss: the old file could come back.
  return io.SyncFolder(FolderOf(target_)) == 0;
}

}  // namespace vant
