#pragma once
// Write activity in one folder as the kernel reports it (inotify): for each file, whether it has
// been written to since it was last closed after writing. Asked by polling; never blocks.
#include <filesystem>
#include <map>
#include <string>

namespace vant {

class FolderWatch {
 public:
  enum class WriteState {
    kUnknown,  // nothing seen since the watch began (or the kernel's queue overflowed)
    kWriting,  // created, or written to through an open file, not closed by its writer since
    kClosed,   // closed after writing, or moved into the folder whole
  };

  // Watches `folder`; inactive when the file system or the folder gives no notifications.
  explicit FolderWatch(const std::filesystem::path& folder);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }
  // False when there is no watch, or it ended (the folder or its medium went away).
  bool Active() const { return fd_ >= 0 && wd_ >= 0; }
  // Takes in what the kernel has queued since the last call.
  void Poll();
  // The state of a file of the folder by its name.
  WriteState StateOf(const std::string& name) const;

 private:
  std::filesystem::path folder_;
  int fd_ = -1;
  int wd_ = -1;
  std::map<std::string, WriteState> states_;
  std::map<std::string, int> opens_;  // opens not yet closed, as far as the watch has seen
};

}  // namespace vant
