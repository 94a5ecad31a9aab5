#pragma once
// Drives as the programs see them, on Linux: "the root of the drive" is the mount point of a
// folder; its type comes from sysfs and the file-system type; readiness from statvfs; removal
// through udisks2 (or, as root, umount2 and the eject ioctls).
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vant::volume {

// The drive types the programs tell apart.
enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

// One line of /proc/self/mountinfo.
struct MountEntry {
  std::filesystem::path mountPoint;
  std::string fsType;
  std::string source;  // "/dev/sdb1", "server:/export", "tmpfs", ...
};

// Parses the text of /proc/self/mountinfo (octal escapes such as \040 decoded).
std::vector<MountEntry> ParseMountInfo(const std::string& text);

// The entry whose mount point is the longest whole-component prefix of `folder` (the last one of
// stacked mounts on the same point); nullopt when none matches.
std::optional<MountEntry> FindMount(const std::vector<MountEntry>& mounts,
                                    const std::filesystem::path& folder);

// The first mount of a medium in the drive `disk` (a whole device's name, such as "sdb"), where
// `diskOf` names the drive of a mount's source ("" for a source that is no device).
std::optional<MountEntry> FindMountOfDisk(
    const std::vector<MountEntry>& mounts, const std::string& disk,
    const std::function<std::string(const std::string& source)>& diskOf);

// The mount table of this process, read and parsed again only when it changed: the kernel wakes
// a poll on the open table with POLLPRI after every mount and unmount in its namespace, so a
// table that stands still costs one poll per look. A file that cannot be opened is read at every
// look. Safe to share between threads.
class MountTable {
 public:
  explicit MountTable(std::filesystem::path file = "/proc/self/mountinfo");
  ~MountTable();
  MountTable(const MountTable&) = delete;
  MountTable& operator=(const MountTable&) = delete;
  // The entries as they are now.
  std::shared_ptr<const std::vector<MountEntry>> Entries();
  // How often the table has been read.
  uint64_t Reads() const;

 private:
  std::filesystem::path file_;
  mutable std::mutex mutex_;
  int fd_ = -1;
  uint64_t reads_ = 0;
  std::shared_ptr<const std::vector<MountEntry>> entries_;
};

struct VolumeInfo {
  std::string label;   // empty when the volume has none
  std::string fsType;
};

// An opened volume: what a removal needs to know after the file system is gone.
struct VolumeHandle {
  std::filesystem::path root;
  std::string device;  // block device, e.g. /dev/sdb1
  DriveType type = DriveType::Unknown;
};

// The result of a volume operation: the error number and text that the eject routines print.
// The number is an errno value that tells the cause: EBUSY while another program holds the volume
// (the one cause that may pass), EPERM or EACCES when this user may not, ENOSYS when nothing on
// the machine can do it for this user.
struct VolumeResult {
  bool ok = false;
  int error = 0;
  std::string text;
  explicit operator bool() const { return ok; }
};

class VolumeControl {
 public:
  virtual ~VolumeControl() = default;
  // The mount point of the folder ("the root of the drive"); nullopt when it does not exist.
  virtual std::optional<std::filesystem::path> RootOf(const std::filesystem::path& folder) const = 0;
  virtual DriveType GetDriveType(const std::filesystem::path& root) const = 0;
  // True when the volume answers (statvfs of the root succeeds).
  virtual bool IsReady(const std::filesystem::path& root) const = 0;
  virtual std::optional<VolumeInfo> GetVolumeInformation(const std::filesystem::path& root) const = 0;
  // The drive whose medium is mounted at the root, as the whole device ("/dev/sdb"); empty when
  // the root is no mounted device. A disc changed in that drive may come back at another root.
  virtual std::string DriveOf(const std::filesystem::path& root) const = 0;
  // Where a medium in that drive is mounted now; nullopt while none is.
  virtual std::optional<std::filesystem::path> MountOfDrive(const std::string& drive) const = 0;
  // Finds the device behind the root; fails for a root that is not a removable or CD drive.
  virtual VolumeResult Open(const std::filesystem::path& root, VolumeHandle& out) = 0;
  // Unmounts the file system (what locking and dismounting the volume achieve): one attempt.
  virtual VolumeResult Unmount(const VolumeHandle& volume) = 0;
  // Releases the medium and ejects it.
  virtual VolumeResult Eject(const VolumeHandle& volume) = 0;
};

// The machine's volumes.
std::unique_ptr<VolumeControl> MakeSystemVolumes();

}  // namespace vant::volume
