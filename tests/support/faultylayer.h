#pragma once
// A file layer for tests: the POSIX one, except that one chosen call fails.
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "filelayer.h"

namespace vant::testing {

// The POSIX layer, except that the `nth` call of `op` whose file's path contains `match` fails
// with `error`. Installed while alive.
class FaultyLayer : public PosixFileLayer {
 public:
  enum Op {
    kNone,
    kOpen,
    kCreateTemp,
    kRead,
    kWrite,
    kCopy,
    kFsync,
    kClose,
    kStat,
    kRename,
    kRemove,
    kSyncFolder,
    kFchmod,
    kFstat
  };
  FaultyLayer(Op op = kNone, int nth = 1, std::string match = {}, int error = EIO)
      : op_(op), nth_(nth), match_(std::move(match)), error_(error) {
    SetFileLayer(this);
  }
  ~FaultyLayer() override { SetFileLayer(nullptr); }

  int Open(const std::filesystem::path& p, int flags, int mode) override {
    if (Fails(kOpen, p)) return -1;
    return Track(PosixFileLayer::Open(p, flags, mode), p);
  }
  int CreateTemp(const std::filesystem::path& folder, const std::string& prefix,
                 const std::string& suffix, std::filesystem::path& made) override {
    ++temps;
    if (Fails(kCreateTemp, folder / prefix)) return -1;
    const int fd = PosixFileLayer::CreateTemp(folder, prefix, suffix, made);
    return Track(fd, made);
  }
  int64_t ReadAt(int fd, void* b, size_t n, uint64_t off) override {
    if (Fails(kRead, paths_[fd])) return -1;
    return PosixFileLayer::ReadAt(fd, b, n, off);
  }
  bool Write(int fd, const void* b, size_t n) override {
    if (Fails(kWrite, paths_[fd])) return false;
    return PosixFileLayer::Write(fd, b, n);
  }
  bool CopyRange(int in, uint64_t off, int out, size_t n) override {
    if (Fails(kCopy, paths_[out])) return false;
    return PosixFileLayer::CopyRange(in, off, out, n);
  }
  int Fsync(int fd) override {
    if (Fails(kFsync, paths_[fd])) return -1;
    return PosixFileLayer::Fsync(fd);
  }
  int Fchmod(int fd, mode_t mode) override {
    if (Fails(kFchmod, paths_[fd])) return -1;
    return PosixFileLayer::Fchmod(fd, mode);
  }
  int Fstat(int fd, struct stat& s) override {
    if (Fails(kFstat, paths_[fd])) return -1;
    return PosixFileLayer::Fstat(fd, s);
  }
  int Close(int fd) override {
    const std::filesystem::path p = paths_[fd];
    paths_.erase(fd);
    const int r = PosixFileLayer::Close(fd);  // released either way, as Linux does
    if (Fails(kClose, p)) return -1;
    return r;
  }
  int Stat(const std::filesystem::path& p, struct stat& s) override {
    if (Fails(kStat, p)) return -1;
    return PosixFileLayer::Stat(p, s);
  }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to,
             bool noReplace) override {
    if (Fails(kRename, from.string() + ">" + to.string())) return -1;
    return PosixFileLayer::Rename(from, to, noReplace);
  }
  int Remove(const std::filesystem::path& p) override {
    if (Fails(kRemove, p)) return -1;
    return PosixFileLayer::Remove(p);
  }
  int SyncFolder(const std::filesystem::path& folder) override {
    if (Fails(kSyncFolder, folder)) return -1;
    return PosixFileLayer::SyncFolder(folder);
  }

  int temps = 0;  // CreateTemp calls
  bool fired = false;

 private:
  int Track(int fd, const std::filesystem::path& p) {
    if (fd >= 0) paths_[fd] = p.string();
    return fd;
  }
  bool Fails(Op op, const std::filesystem::path& p) {
    if (op != op_ || p.string().find(match_) == std::string::npos) return false;
    if (++seen_ != nth_) return false;
    fired = true;
    errno = error_;
    return true;
  }
  Op op_;
  int nth_;
  std::string match_;
  int error_;
  int seen_ = 0;
  std::map<int, std::string> paths_;
};

}  // namespace vant::testing
