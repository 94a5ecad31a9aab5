#include "volumes.h"

#include <gtest/gtest.h>

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
