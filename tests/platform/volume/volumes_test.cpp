#include "volumes.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

using namespace vant::volume;

namespace {
const char* kMountInfo =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
    "40 22 0:35 / /run rw,nosuid shared:5 - tmpfs tmpfs rw\n"
    "61 22 8:17 / /media/user/MO\\040DISC rw,nosuid master:7 - vfat /dev/sdb1 rw\n"
    "62 22 0:50 / /mnt/share rw shared:9 opt:x - nfs4 server:/export rw\n"
    "63 22 0:51 / /mnt/share rw shared:10 - tmpfs tmpfs rw\n"  // stacked over the nfs mount
    "garbage line without separator\n";
}

TEST(MountInfo, ParsesEscapesOptionalFieldsAndSkipsGarbage) {
  auto m = ParseMountInfo(kMountInfo);
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m[2].mountPoint, "/media/user/MO DISC");
  EXPECT_EQ(m[2].fsType, "vfat");
  EXPECT_EQ(m[2].source, "/dev/sdb1");
  EXPECT_EQ(m[3].fsType, "nfs4");
  EXPECT_EQ(m[3].source, "server:/export");
}

TEST(MountInfo, FindsTheRootOfAFolder) {
  auto m = ParseMountInfo(kMountInfo);
  struct { const char* folder; const char* root; } cases[] = {
      {"/media/user/MO DISC/sub/x.wav", "/media/user/MO DISC"},
      {"/media/user/MO DISC", "/media/user/MO DISC"},
      {"/media/user/MO DISCX", "/"},  // a name that merely starts alike is not inside
      {"/run/user", "/run"},
      {"/mnt/share/a", "/mnt/share"},
      {"/home/u", "/"},
  };
  for (auto& c : cases) {
    auto found = FindMount(m, c.folder);
    ASSERT_TRUE(found) << c.folder;
    EXPECT_EQ(found->mountPoint, c.root) << c.folder;
  }
  EXPECT_EQ(FindMount(m, "/mnt/share/a")->fsType, "tmpfs");  // the last of stacked mounts
}

TEST(SystemVolumes, TheRootFileSystemIsReadyAndNotEjectable) {
  auto volumes = MakeSystemVolumes();
  auto root = volumes->RootOf("/");
  ASSERT_TRUE(root);
  EXPECT_TRUE(volumes->IsReady(*root));
  EXPECT_FALSE(volumes->IsReady("/definitely/not/a/mount/point"));
  EXPECT_EQ(volumes->GetDriveType("/definitely/not/a/mount/point"), DriveType::NoRootDir);
  EXPECT_FALSE(volumes->RootOf("/definitely/not/here"));
  DriveType t = volumes->GetDriveType(*root);
  if (t != DriveType::Removable && t != DriveType::CdRom) {
    VolumeHandle h;
    EXPECT_FALSE(volumes->Open(*root, h));
  }
}

// The bytes this process has read so far (rchar of /proc/self/io).
uint64_t BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string name;
  uint64_t value = 0;
  while (io >> name >> value)
    if (name == "rchar:") return value;
  return 0;
}

// The viewer's check every 5 s asks for the drive's type and readiness: while nothing is mounted
// or unmounted, those answers come without reading the mount table again.
TEST(SystemVolumes, ChecksOfAnUnchangedTableDoNotReadItAgain) {
  std::ifstream in("/proc/self/mountinfo");
  const std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto volumes = MakeSystemVolumes();
  auto root = volumes->RootOf(std::filesystem::temp_directory_path());
  ASSERT_TRUE(root);
  volumes->GetDriveType(*root);
  const uint64_t before = BytesReadSoFar();
  for (int check = 0; check < 10; ++check) {
    volumes->GetDriveType(*root);
    volumes->IsReady(*root);
  }
  EXPECT_LT(BytesReadSoFar() - before, table.size());
}

// A disc changed in a drive comes back at another mount point: it is found by its drive.
TEST(MountInfo, FindsTheMountOfADrive) {
  auto m = ParseMountInfo(kMountInfo +
                          std::string("64 22 8:33 / /media/user/SECOND rw - vfat /dev/sdc1 rw\n"));
  auto diskOf = [](const std::string& source) {
    return source.substr(5, 3);  // "/dev/sdb1" -> "sdb"
  };
  struct {
    const char* disk;
    const char* mount;
  } cases[] = {{"sdb", "/media/user/MO DISC"}, {"sdc", "/media/user/SECOND"}, {"sdd", ""}, {"", ""}};
  for (const auto& c : cases) {
    auto found = FindMountOfDisk(m, c.disk, diskOf);
    EXPECT_EQ(found ? found->mountPoint.string() : "", c.mount) << c.disk;
  }
}

// The table is read once while nothing is mounted or unmounted, and again after a mount: shown
// in a mount namespace of a user namespace of its own, where this user may mount a tmpfs.
TEST(MountTable, ReadAgainOnlyAfterAMountOrUnmount) {
  MountTable table;
  const auto first = table.Entries();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(table.Entries(), first);
  EXPECT_EQ(table.Reads(), 1u);
  ASSERT_TRUE(FindMount(*first, "/"));

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // 10: no namespace for this user here; 1..4: the step that failed.
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(10);
    char dir[] = "/tmp/mounttable-XXXXXX";
    if (!mkdtemp(dir)) _exit(1);
    MountTable own;
    const bool before = !FindMount(*own.Entries(), dir) ||
                        FindMount(*own.Entries(), dir)->mountPoint != dir;
    if (!before || own.Reads() != 1) _exit(2);
    if (mount("none", dir, "tmpfs", 0, nullptr) != 0) _exit(10);
    const auto mounted = own.Entries();
    const bool seen = own.Reads() == 2 && FindMount(*mounted, dir) &&
                      FindMount(*mounted, dir)->mountPoint == dir &&
                      FindMount(*mounted, dir)->fsType == "tmpfs";
    if (!seen) _exit(3);
    own.Entries();
    if (own.Reads() != 2) _exit(3);
    if (umount(dir) != 0) _exit(10);
    const bool gone = FindMount(*own.Entries(), dir)->mountPoint != dir && own.Reads() == 3;
    rmdir(dir);
    _exit(gone ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "no user namespace with mounts here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no folder, 2: read twice, 3: mount not seen or read "
                                       "again, 4: unmount not seen";
}
