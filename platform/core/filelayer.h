#pragma once
// Every file operation of the programs' writers (the save, the replacing writers of the model,
// the settings store, the container's packing, RIFF files and the wave's whole-file writes)
// behind one interface, so that tests can make any of them fail (a full disk in the middle of a
// copy, a failed rename or fsync) or record them and replay a power cut at each. The real layer
// is plain POSIX calls; every call reports failure with -1 (or false) and errno.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vant {

class FileLayer {
 public:
  virtual ~FileLayer() = default;

  // A descriptor, or -1. `flags` as for open(2).
  virtual int Open(const std::filesystem::path& path, int flags, int mode = 0666) = 0;
  // Creates `folder`/`prefix`XXXXXX`suffix` exclusively (mkstemps), opened for reading and
  // writing and locked as its maker's (LockStagedFile); its path goes to `made`. A descriptor,
  // or -1.
  virtual int CreateTemp(const std::filesystem::path& folder, const std::string& prefix,
                         const std::string& suffix, std::filesystem::path& made) = 0;
  // Bytes read at `offset` (fewer only at the end of the file), or -1.
  virtual int64_t ReadAt(int fd, void* buffer, size_t count, uint64_t offset) = 0;
  // Appends at the descriptor's position; true when every byte was written.
  virtual bool Write(int fd, const void* buffer, size_t count) = 0;
  // Copies `count` bytes from `in` at `offset` to `out` at its position; true when all arrived.
  // A failure on the reading side (the source ending early included) sets errno to ENODATA.
  virtual bool CopyRange(int in, uint64_t offset, int out, size_t count) = 0;
  // Gives the file at least `size` bytes with real blocks behind them, so that a full disk fails
  // here and never as a fault on a mapped page.
  virtual int Allocate(int fd, int64_t size) = 0;
  // Writes back what was stored through a shared mapping of the file's first `length` bytes at
  // `view`, and waits for it.
  virtual int SyncMapping(int fd, void* view, size_t length) = 0;
  virtual int Fsync(int fd) = 0;
  virtual int Fchmod(int fd, mode_t mode) = 0;
  virtual int Fstat(int fd, struct stat& st) = 0;
  virtual int Close(int fd) = 0;
  // -1 with ENOENT when nothing is there.
  virtual int Stat(const std::filesystem::path& path, struct stat& st) = 0;
  // With `noReplace` an existing `to` is never overwritten (the call fails with EEXIST).
  virtual int Rename(const std::filesystem::path& from, const std::filesystem::path& to,
                     bool noReplace) = 0;
  virtual int Remove(const std::filesystem::path& path) = 0;
  // One new folder (its parent must exist); -1 with EEXIST when something has the name.
  virtual int MakeFolder(const std::filesystem::path& path, mode_t mode = 0777) = 0;
  // Makes the creations, renames and removals in a folder durable.
  virtual int SyncFolder(const std::filesystem::path& folder) = 0;
};

class PosixFileLayer : public FileLayer {
 public:
  int Open(const std::filesystem::path& path, int flags, int mode) override;
  int CreateTemp(const std::filesystem::path& folder, const std::string& prefix,
                 const std::string& suffix, std::filesystem::path& made) override;
  int64_t ReadAt(int fd, void* buffer, size_t count, uint64_t offset) override;
  bool Write(int fd, const void* buffer, size_t count) override;
  bool CopyRange(int in, uint64_t offset, int out, size_t count) override;
  int Allocate(int fd, int64_t size) override;
  int SyncMapping(int fd, void* view, size_t length) override;
  int Fsync(int fd) override;
  int Fchmod(int fd, mode_t mode) override;
  int Fstat(int fd, struct stat& st) override;
  int Close(int fd) override;
  int Stat(const std::filesystem::path& path, struct stat& st) override;
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to,
             bool noReplace) override;
  int Remove(const std::filesystem::path& path) override;
  int MakeFolder(const std::filesystem::path& path, mode_t mode) override;
  int SyncFolder(const std::filesystem::path& folder) override;
};

// The process-wide layer: the POSIX one unless `SetFileLayer` installed another (not owned);
// nullptr restores the POSIX one.
FileLayer& GetFileLayer();
void SetFileLayer(FileLayer* layer);

// Creates `folder` and every missing folder above it, and syncs the parent of each one made, so
// that a folder made here cannot vanish with what is later written into it. 0, or -1 and errno.
int MakeFolders(const std::filesystem::path& folder);

}  // namespace vant
