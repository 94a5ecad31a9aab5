#pragma once
// Writing a file so that it is replaced whole or not at all: the new bytes go to a hidden file
// beside the target, which is synced and then renamed over it. Every file operation goes through
// the programs' file layer (filelayer.h), so tests can fail any step or replay a power cut.
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "tempfiles.h"

namespace vant {

// The longest start of a UTF-8 text that holds at most `limit` bytes and ends on a character.
std::string CutUtf8(std::string_view text, size_t limit);

// The name prefix of a new file made beside `target` before it replaces it: hidden, after the
// target's name, cut short enough that the whole name still fits a folder entry, and marked with
// this process as its maker (".NAME.PID." + six unique characters + ".part").
std::string PartFilePrefix(const std::filesystem::path& target);

// Removes from `folder` the staged copies that writers killed before their rename left there
// (only files of this user named as PartFilePrefix names them, whose maker is gone). Every
// writer that stages a copy beside its target calls it first. Returns how many went.
int RemoveStaleParts(const std::filesystem::path& folder);

// Whether an existing file is one the writers leave alone: every write bit is clear (judged by
// the mode, so that it stays protected for root too).
inline bool IsWriteProtected(mode_t mode) { return (mode & 0222) == 0; }

// The mode open(2) gives a file it creates with 0666: what the umask leaves of it.
mode_t NewFileMode();

// Puts a finished file `from` (written by a writer of its own) in the place of `to` for good:
// its data synced, the rename, then the folder synced, so that a power cut at any moment leaves
// the old `to` or the whole new one. False when any step failed (after a failed folder sync `to`
// holds the new file, perhaps not durably).
bool ReplaceWithFile(const std::filesystem::path& from, const std::filesystem::path& to);

// A new file written beside its target and renamed over it by Commit; a writer destroyed
// without a successful Commit leaves no trace and the target as it was.
class ReplacingFile {
 public:
  // With `replace_protected` false a write-protected target is refused: nothing is opened.
  explicit ReplacingFile(const std::filesystem::path& target, bool replace_protected = true);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // False when the new file could not be made (the folder is missing or cannot be written).
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // The new file until Commit (for a writer that fills it through a stream of its own).
  const std::filesystem::path& Path() const { return part_; }
  // Writes all bytes; false on any failure, which also makes Commit fail.
  bool Write(const void* data, size_t size);
  // Syncs the bytes, gives the file `mode` (by default the replaced target's, else NewFileMode()),
  // renames it over the target and syncs the folder. True when all of that worked; a rename that
  // the folder sync could not make durable is reported as a failure too (the new file stays).
  bool Commit(int mode = -1);

 private:
  std::filesystem::path target_;
  std::filesystem::path part_;
  StagedHold hold_;  // the new file's lock, until it is renamed or removed
  int fd_ = -1;
  bool failed_ = false;
};

}  // namespace vant
