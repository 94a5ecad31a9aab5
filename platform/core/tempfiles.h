#pragma once
// The temporary folder and unique names in it. Names are made with mkstemps, which creates the
// file exclusively, so an existing file is never taken over or deleted.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vant {

// $TMPDIR when it names a folder, else /tmp.
std::filesystem::path TempFolder();

// Creates a new empty file `folder`/`prefix`XXXXXX`suffix` (mode 0600) and returns its path.
// On failure returns nothing and, when `error` is given, the errno (ENOTDIR when `folder` is not
// a folder, EACCES/EROFS when it cannot be written, ENOENT when it does not exist).
std::optional<std::filesystem::path> CreateTempFile(const std::filesystem::path& folder,
                                                    const std::string& prefix,
                                                    const std::string& suffix = {},
                                                    int* error = nullptr);

// A name in `folder` that did not exist when it was made: the file is created exclusively and
// removed again, so the name is free for the caller (who may lose it to another process only by
// that process guessing it).
std::optional<std::filesystem::path> MakeTempName(const std::filesystem::path& folder,
                                                  const std::string& prefix,
                                                  const std::string& suffix = {});

// Files that a writer stages and removes itself, left behind only when its process is killed,
// are named `stem` + the maker's process id + "." + six unique characters + a suffix. The
// prefix to hand to mkstemps (or the file layer's CreateTemp) for this process:
std::string OwnedTempPrefix(std::string_view stem);

// A staged file's maker holds an exclusive lock (flock) on it for as long as the file has its
// staged name, and a cleaner removes only files whose lock it can take. Unlike a process id, a
// lock means the same in every process namespace that shares the folder, and the kernel drops it
// when its holder dies, however it dies. The file layer's CreateTemp takes the lock through the
// descriptor it returns; false when the file is no longer the maker's to lock (a cleaner took it
// first), true also on a file system without locks (where no cleaner can take one either).
bool LockStagedFile(int fd);

// Keeps the lock taken through a staged file's descriptor after the writer has closed that
// descriptor (it holds a duplicate). Released when destroyed, by Release, or by the holder's
// death; a writer releases it only once the staged name is gone (renamed or removed).
class StagedHold {
 public:
  StagedHold() = default;
  explicit StagedHold(int fd);
  ~StagedHold() { Release(); }
  StagedHold(StagedHold&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  StagedHold& operator=(StagedHold&& other) noexcept;
  StagedHold(const StagedHold&) = delete;
  StagedHold& operator=(const StagedHold&) = delete;
  void Release();

 private:
  int fd_ = -1;
};

// Removes from `folder` what killed writers left: every regular file of this user named
// `stem`<pid>.XXXXXX`suffix`, with a `stem` that `ours` accepts, whose maker is no longer running
// here and whose lock nobody holds (see LockStagedFile). A name of another shape, another user's
// file, a symbolic link, a file of a process alive here (this one included) and a file whose
// lock a live process holds, in whatever namespace, stay. Removals go through the file layer.
// Returns how many went.
int RemoveStaleOwnedTemps(const std::filesystem::path& folder, std::string_view suffix,
                          const std::function<bool(std::string_view stem)>& ours);
// The same files, each handed to `dispose` (with its stem) while its lock is held, instead of
// being removed; returns how many it disposed of (true).
int DisposeStaleOwnedTemps(
    const std::filesystem::path& folder, std::string_view suffix,
    const std::function<bool(std::string_view stem)>& ours,
    const std::function<bool(const std::filesystem::path& path, std::string_view stem)>& dispose);

}  // namespace vant
