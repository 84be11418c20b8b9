#include "device/disk_enumeration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/test_paths.h"

namespace brevid {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// A made-up /sys, /dev and mountinfo in which image files stand in for disks.
struct FakeSystem {
  SystemRoots roots;
  fs::path top;

  explicit FakeSystem(const std::string& name) : top(test::ScratchDir(name)) {
    roots.sysBlock = (top / "sys/block").string();
    roots.sysDevBlock = (top / "sys/dev/block").string();
    roots.dev = (top / "dev").string();
    roots.mountInfo = (top / "mountinfo").string();
    fs::create_directories(roots.sysBlock);
    fs::create_directories(roots.sysDevBlock);
    fs::create_directories(roots.dev);
  }

  // A disk `name` of `bytes` bytes; `openable` false leaves its device node out.
  void AddDisk(const std::string& name, uint64_t bytes, bool openable = true,
               const std::string& model = "Model") {
    fs::path sys = top / "sys/devices" / name;
    WriteFile(sys / "device/vendor", "ATA     \n");
    WriteFile(sys / "device/model", model + "\n");
    WriteFile(sys / "device/rev", "1.0 \n");
    WriteFile(sys / "removable", "0\n");
    fs::create_directory_symlink(sys, fs::path(roots.sysBlock) / name);
    if (openable) {
      std::ofstream(fs::path(roots.dev) / name).close();
      fs::resize_file(fs::path(roots.dev) / name, bytes);
    }
  }

  // A partition of disk `disk` at `start`, reachable through major:minor.
  void AddPartition(const std::string& disk, const std::string& part, uint64_t start,
                    const std::string& majorMinor) {
    fs::path sys = top / "sys/devices" / disk / part;
    WriteFile(sys / "partition", "1\n");
    WriteFile(sys / "start", std::to_string(start) + "\n");
    fs::create_directory_symlink(sys, fs::path(roots.sysDevBlock) / majorMinor);
  }
};

// Every disk gets one volume at sector 2048, as a partition walk would.
void OneVolumeWalk(DiskInfo& disk, SourceHandle&, const std::string&) {
  VolumeInfo v;
  v.name = "Partition0";
  v.start = 2048;
  disk.volumes.push_back(v);
}

TEST(EnumerateDisks, DiskThatCannotBeOpenedIsSkippedButKeepsItsNumber) {
  FakeSystem sys("enum_skip");
  sys.AddDisk("sda", 1 << 20);
  sys.AddDisk("sdb", 1 << 20, /*openable=*/false);
  sys.AddDisk("sdc", 3 << 20, true, "3031");
  sys.AddDisk("loop0", 1 << 20);  // not a disk we list
  DiskList list;
  EXPECT_EQ(EnumerateDisks(list, OneVolumeWalk, sys.roots), 2);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].number, "0");
  EXPECT_EQ(list[0].path, sys.roots.dev + "/sda");
  EXPECT_EQ(list[1].number, "2");
  EXPECT_EQ(list[1].path, sys.roots.dev + "/sdc");
  EXPECT_EQ(list[1].vendor, "ATA");
  EXPECT_EQ(list[1].product, "3031");  // sysfs texts are never hex pairs
  EXPECT_EQ(list[1].revision, "1.0");
  EXPECT_EQ(list[1].Key(), "ATA303121.0");
  EXPECT_EQ(list[1].sizeBytes, 3u << 20);
  EXPECT_EQ(list[1].fixedMedia, 1u);
  EXPECT_EQ(list[1].heads, 255u);
  EXPECT_EQ(list[1].sectorsPerTrack, 63u);
  EXPECT_EQ(list[1].volumes.size(), 1u);
}

TEST(EnumerateDisks, SysfsIdentityTextsAreTakenAsTheyStand) {
  FakeSystem sys("enum_plain");
  sys.AddDisk("sda", 1 << 20, true, "4B31");
  WriteFile(sys.top / "sys/devices/sda/device/rev", "2020\n");
  DiskList list;
  ASSERT_EQ(EnumerateDisks(list, OneVolumeWalk, sys.roots), 1);
  EXPECT_EQ(list[0].product, "4B31");
  EXPECT_EQ(list[0].revision, "2020");
}

TEST(EnumerateDisks, KernelNameOrderAndTheDisksWeList) {
  EXPECT_TRUE(KernelNameLess("sdz", "sdaa"));
  EXPECT_TRUE(KernelNameLess("nvme2n1", "nvme10n1"));
  EXPECT_TRUE(IsListedDiskName("nvme0n1"));
  EXPECT_TRUE(IsListedDiskName("mmcblk0"));
  EXPECT_FALSE(IsListedDiskName("mmcblk0boot0"));
  EXPECT_FALSE(IsListedDiskName("loop3"));
  EXPECT_FALSE(IsListedDiskName("zram0"));
  EXPECT_FALSE(IsListedDiskName("dm-0"));
}

TEST(AttachDriveNames, MountPointsGoToTheVolumeAtTheSameStartOnTheSameDisk) {
  FakeSystem sys("enum_mounts");
  for (char c = 'a'; c <= 'l'; ++c) sys.AddDisk(std::string("sd") + c, 1 << 20);
  sys.AddPartition("sdl", "sdl1", 2048, "8:177");
  sys.AddPartition("sda", "sda1", 4096, "8:1");  // no volume there
  WriteFile(sys.roots.mountInfo,
            "21 1 8:177 / /mnt/data\\040disk rw - ext4 /dev/sdl1 rw\n"
            "22 1 8:177 /sub /mnt/bind rw - ext4 /dev/sdl1 rw\n"
            "23 1 8:1 / /boot rw - vfat /dev/sda1 rw\n");
  DiskList list;
  ASSERT_EQ(EnumerateDisks(list, OneVolumeWalk, sys.roots), 12);
  EXPECT_EQ(list[11].number, "11");  // numbers of 10 and more are matched whole
  EXPECT_EQ(list[11].volumes[0].driveLetter, "/mnt/data disk");
  EXPECT_EQ(list[1].volumes[0].driveLetter, "");
  EXPECT_EQ(list[0].volumes[0].driveLetter, "");
}

TEST(OpenImageFile, ImageGeometryFromItsSize) {
  std::string dir = test::ScratchDir("image_geometry");
  std::string path = dir + "/odd.img";
  std::ofstream(path).close();
  fs::resize_file(path, 100 * 1024 * 1024 + 300);
  DiskList list;
  ASSERT_TRUE(OpenImageFile(list, path, nullptr));
  const DiskInfo& d = list.back();
  EXPECT_EQ(d.vendor, "odd.img");
  EXPECT_EQ(d.Key(), "odd.img");
  EXPECT_EQ(d.path, path);
  EXPECT_EQ(d.sizeBytes, 100u * 1024 * 1024 + 300);
  EXPECT_EQ(d.cylinders, (100u * 1024 * 1024 + 300) / 512 / 255 / 63);
  EXPECT_EQ(d.heads, 255u);
  EXPECT_EQ(d.sectorsPerTrack, 63u);
  EXPECT_TRUE(d.number.empty());
  EXPECT_FALSE(OpenImageFile(list, dir + "/missing.img", nullptr));
  EXPECT_EQ(list.size(), 1u);
}

}  // namespace
}  // namespace brevid
