#pragma once
// Disk space and the read-only state of files, as the save checks ask for them.
#include <cstdint>
#include <filesystem>
#include <optional>

namespace vant {

// Bytes free for an unprivileged user and total bytes of the file system holding `path`
// (statvfs). False with free 0 and total 1 when it cannot be asked, so callers never divide by
// zero.
bool GetFreeSpace(const std::filesystem::path& path, uint64_t& free_bytes, uint64_t& total_bytes);

// True when `path` exists and is read-only: the write bit that applies to this process (owner,
// group or other) is clear, or its file system is mounted read-only. Judged by the mode bits, not
// by access(2), so it holds for root too (root counts as the owner).
bool IsReadOnlyFile(const std::filesystem::path& path);

// Clears (true) or restores (false) the owner's write bit; false when the mode cannot be set.
bool SetReadOnlyFile(const std::filesystem::path& path, bool read_only);

// Whether some process holds the regular file open for writing (a copy still under way): asked
// by trying a read lease, which the kernel grants only to a file nobody writes. nullopt when it
// cannot be told (a file of another owner, a file system without leases, a missing file).
std::optional<bool> IsOpenForWriting(const std::filesystem::path& path);

}  // namespace vant
