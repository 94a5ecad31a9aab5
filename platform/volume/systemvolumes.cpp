// The machine's volumes: mount table, sysfs, statvfs; removal through udisks2 over the system
// bus, and as root through umount2 and the eject ioctls when udisks2 does not answer.
#include <fcntl.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "volumes.h"

namespace vant::volume {
namespace fs = std::filesystem;
namespace {

const std::set<std::string> kRemote = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "afs",
                                       "ceph", "glusterfs", "fuse.sshfs", "davfs", "fuse.davfs2"};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One table for the process: a look at an unchanged table costs a poll.
std::shared_ptr<const std::vector<MountEntry>> Mounts() {
  static MountTable table;
  return table.Entries();
}

std::optional<MountEntry> ExactMount(const fs::path& root) {
  std::optional<MountEntry> found;
  fs::path want = root.lexically_normal();
  const auto mounts = Mounts();
  for (const MountEntry& m : *mounts) {
    if (m.mountPoint.lexically_normal() == want) found = m;  // last of stacked mounts
  }
  return found;
}

std::string RealDevice(const std::string& source) {
  std::error_code ec;
  fs::path p = fs::canonical(source, ec);
  return ec ? source : p.string();
}

// The whole disk of a block device name ("sdb1" -> "sdb").
std::string DiskOf(const std::string& dev) {
  std::error_code ec;
  fs::path sys = fs::path("/sys/class/block") / dev;
  if (fs::exists(sys / "partition", ec)) {
    fs::path parent = fs::canonical(sys / "..", ec);
    if (!ec) return parent.filename().string();
  }
  return dev;
}

VolumeResult Ok() { return {true, 0, ""}; }
VolumeResult Fail(int error, std::string text) { return {false, error, std::move(text)}; }
VolumeResult FromErrno(const char* what) {
  int e = errno;
  return Fail(e, std::string(what) + ": " + std::strerror(e));
}

// udisks2 names block objects by device name with every byte outside [A-Za-z0-9] as _xx.
QString UdisksBlockPath(const std::string& device) {
  std::string name = fs::path(device).filename().string();
  QString out = "/org/freedesktop/UDisks2/block_devices/";
  for (unsigned char c : name) {
    if (std::isalnum(c)) {
      out += QChar(c);
    } else {
      out += QString("_%1").arg(c, 2, 16, QChar('0'));
    }
  }
  return out;
}

constexpr int kBusTimeoutMs = 15000;

bool UdisksPresent() {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return false;
  QDBusInterface probe("org.freedesktop.UDisks2", "/org/freedesktop/UDisks2/Manager",
                       "org.freedesktop.DBus.Peer", bus);
  probe.setTimeout(kBusTimeoutMs);
  return probe.isValid();
}

VolumeResult UdisksCall(const QString& path, const char* iface, const char* method) {
  QDBusInterface obj("org.freedesktop.UDisks2", path, iface, QDBusConnection::systemBus());
  obj.setTimeout(kBusTimeoutMs);
  QDBusMessage reply = obj.call(method, QVariantMap());
  if (reply.type() == QDBusMessage::ErrorMessage) {
    const QString name = reply.errorName();
    int error = EIO;
    if (name.endsWith(".DeviceBusy")) error = EBUSY;
    if (name.contains("NotAuthorized") || name.endsWith(".AccessDenied")) error = EACCES;
    if (name.endsWith(".ServiceUnknown") || name.endsWith(".NameHasNoOwner")) error = ENOSYS;
    return Fail(error, (name + ": " + reply.errorMessage()).toStdString());
  }
  return Ok();
}

// SCSI: allow removal, then stop the unit with the load/eject bit.
VolumeResult ScsiEject(int fd) {
  auto command = [&](unsigned char c0, unsigned char c4) {
    unsigned char cdb[6] = {c0, 0, 0, 0, c4, 0};
    unsigned char sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = sizeof cdb;
    io.cmdp = cdb;
    io.dxfer_direction = SG_DXFER_NONE;
    io.sbp = sense;
    io.mx_sb_len = sizeof sense;
    io.timeout = 10000;
    return ioctl(fd, SG_IO, &io) == 0 && io.status == 0 && io.host_status == 0 &&
           io.driver_status == 0;
  };
  if (!command(0x1E, 0x00)) return Fail(EIO, "PREVENT ALLOW MEDIUM REMOVAL failed");
  if (!command(0x1B, 0x02)) return Fail(EIO, "START STOP UNIT failed");
  return Ok();
}

class SystemVolumes final : public VolumeControl {
 public:
  std::optional<fs::path> RootOf(const fs::path& folder) const override {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(folder, ec);
    if (ec || !fs::exists(p, ec)) return std::nullopt;
    auto m = FindMount(*Mounts(), p);
    if (!m) return std::nullopt;
    return m->mountPoint;
  }

  DriveType GetDriveType(const fs::path& root) const override {
    auto m = ExactMount(root);
    if (!m) return DriveType::NoRootDir;
    if (kRemote.count(m->fsType) || m->source.find(":/") != std::string::npos ||
        m->source.rfind("//", 0) == 0) {
      return DriveType::Remote;
    }
    if (m->fsType == "tmpfs" || m->fsType == "ramfs") return DriveType::RamDisk;
    if (m->source.rfind("/dev/", 0) != 0) return DriveType::Fixed;
    std::string disk = DiskOf(fs::path(RealDevice(m->source)).filename().string());
    if (disk.rfind("sr", 0) == 0 || m->fsType == "iso9660" || m->fsType == "udf") {
      return DriveType::CdRom;
    }
    std::string removable = ReadFile(fs::path("/sys/block") / disk / "removable");
    return removable.rfind("1", 0) == 0 ? DriveType::Removable : DriveType::Fixed;
  }

  bool IsReady(const fs::path& root) const override {
    if (!ExactMount(root)) return false;
    struct statvfs st;
    return ::statvfs(root.c_str(), &st) == 0;
  }

  std::optional<VolumeInfo> GetVolumeInformation(const fs::path& root) const override {
    auto m = ExactMount(root);
    if (!m || !IsReady(root)) return std::nullopt;
    VolumeInfo info;
    info.fsType = m->fsType;
    std::string dev = RealDevice(m->source);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/dev/disk/by-label", ec)) {
      if (RealDevice(e.path().string()) == dev) info.label = DecodeLabel(e.path().filename());
    }
    return info;
  }

  std::string DriveOf(const fs::path& root) const override {
    auto m = ExactMount(root);
    if (!m || m->source.rfind("/dev/", 0) != 0) return "";
    return "/dev/" + DiskOf(fs::path(RealDevice(m->source)).filename().string());
  }

  std::optional<fs::path> MountOfDrive(const std::string& drive) const override {
    auto m = FindMountOfDisk(*Mounts(), fs::path(drive).filename().string(),
                             [](const std::string& source) {
                               return DiskOf(fs::path(RealDevice(source)).filename().string());
                             });
    if (!m) return std::nullopt;
    return m->mountPoint;
  }

  VolumeResult Open(const fs::path& root, VolumeHandle& out) override {
    DriveType type = GetDriveType(root);
    if (type != DriveType::Removable && type != DriveType::CdRom) {
      return Fail(EINVAL, "Drive type is incorrect");
    }
    auto m = ExactMount(root);
    if (!m) return Fail(ENOENT, "not mounted");
    out = VolumeHandle{root, RealDevice(m->source), type};
    return Ok();
  }

  VolumeResult Unmount(const VolumeHandle& v) override {
    if (UdisksPresent()) {
      return UdisksCall(UdisksBlockPath(v.device), "org.freedesktop.UDisks2.Filesystem", "Unmount");
    }
    if (geteuid() != 0) {
      return Fail(ENOSYS, "udisks2 is not running, and without it only root may unmount");
    }
    if (::umount2(v.root.c_str(), 0) != 0) return FromErrno("umount2");
    return Ok();
  }

  VolumeResult Eject(const VolumeHandle& v) override {
    if (UdisksPresent()) {
      QDBusInterface block("org.freedesktop.UDisks2", UdisksBlockPath(v.device),
                           "org.freedesktop.UDisks2.Block", QDBusConnection::systemBus());
      block.setTimeout(kBusTimeoutMs);
      QVariant drive = block.property("Drive");
      if (!drive.isValid()) return Fail(ENODEV, "the device has no drive");
      return UdisksCall(drive.value<QDBusObjectPath>().path(), "org.freedesktop.UDisks2.Drive",
                        "Eject");
    }
    std::string disk = "/dev/" + DiskOf(fs::path(v.device).filename().string());
    int fd = ::open(disk.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return FromErrno("open");
    VolumeResult r = Ok();
    if (v.type == DriveType::CdRom) {
      ioctl(fd, CDROM_LOCKDOOR, 0);
      if (ioctl(fd, CDROMEJECT, 0) != 0) r = FromErrno("CDROMEJECT");
    } else {
      r = ScsiEject(fd);
    }
    ::close(fd);
    return r;
  }

 private:
  // by-label names escape bytes as \xNN.
  static std::string DecodeLabel(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
      if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
        out += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
        i += 3;
      } else {
        out += name[i];
      }
    }
    return out;
  }
};

}  // namespace

std::unique_ptr<VolumeControl> MakeSystemVolumes() { return std::make_unique<SystemVolumes>(); }

}  // namespace vant::volume
