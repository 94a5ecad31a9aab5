#pragma once
#include <sys/stat.h>
// File, folder and disk helpers of the file model and both programs: fixed-width fields, the
// checks before a save (free space, a writable folder), file extensions, the checked file copy
// and 64-bit file sizes. They report through their results and show no message.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "replacingfile.h"

namespace mmio {

// The value with its four bytes in reverse order.
constexpr uint32_t ByteSwap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// Clears `width` bytes of `field`, then copies min(text length, width) bytes; no terminating zero
// is added, so a text of the full width fills the field.
void SetFixedField(uint8_t* field, std::string_view text, size_t width);

// Bytes free to this user on the file system of a folder; 0 when it does not answer.
using FreeSpaceFn = std::function<int64_t(const std::filesystem::path& folder)>;
int64_t FreeSpaceOf(const std::filesystem::path& folder);

enum SaveSpaceBits : int { kTargetShort = 1, kTempShort = 2 };

// Whether the target's file system and the temporary folder's have room for a new file of
// `new_size` bytes, counted in whole 4 KiB blocks. The save writes the file into the temporary
// folder and copies it beside the target while the first is still there, so where both folders
// share one file system it must hold the file twice. A folder that does not exist has no room.
// Returns kTargetShort | kTempShort as they apply.
int CheckSaveSpace(int64_t new_size, const std::filesystem::path& target,
                   const std::filesystem::path& temp_folder,
                   const FreeSpaceFn& free_space = FreeSpaceOf);

// The path of a pending attachment's list line ("*" + name + blanks + "[" + full path + "]"),
// brackets in the name or its folders included; for a line of another shape the text between its
// first "[" and its first "]". Empty when the line has none.
std::string PendingPath(std::string_view line);

enum FolderWritable : int { kWritable = 0, kNotWritable = 1, kNotAFolder = 2 };
// Creates and removes a temporary file in the folder to find out whether it can be written.
int CheckFolderWritable(const std::filesystem::path& folder);

// The name unchanged when its upper-case form contains the upper-case extension anywhere, else
// the name followed by the extension (given with its dot).
std::string AddFileExt(std::string_view name, std::string_view extension);

// The programs' replacing writer and its naming rules (replacingfile.h in platform/core).
using vant::CutUtf8;
using vant::IsWriteProtected;
using vant::NewFileMode;
using vant::PartFilePrefix;
using vant::RemoveStaleParts;
using ReplacingFile = vant::ReplacingFile;

// Copies a file over `target` without ever leaving a half-written target: the bytes go to a new
// file in the target's folder, which is synced and then renamed over the target. A read-only
// target is replaced as the original shell copy did. The shell's flags (no confirmation, no
// progress) are accepted for its callers and have nothing to switch here. 1 copied, -1 failed.
int ShellCopyFile(const std::filesystem::path& source, const std::filesystem::path& target,
                  unsigned shell_flags = 0);

// The size in bytes (64 bit; a folder gives what the file system reports for it), -1 when
// nothing is there.
int64_t FileSizeByName(const std::filesystem::path& path);

}  // namespace mmio
