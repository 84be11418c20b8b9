// The lost-partition search on disks made by sfdisk, mkfs.fat and mkntfs
// whose partition tables were wiped afterwards, checked against the walk of
// the same disks before the wipe, and on hostile disks held in memory.
#include "scan/partition_search.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "scan/deep_scan.h"
#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/test_paths.h"
#include "tasks/disk_list.h"

namespace brevid {
namespace {

using Find = std::tuple<uint64_t, FsType, uint64_t, uint8_t>;  // start, type, count, kind

std::vector<Find> Finds(const DiskInfo& disk) {
  std::vector<Find> finds;
  for (const VolumeInfo& v : disk.volumes)
    if (v.origin != kOriginPartitionMap)
      finds.emplace_back(v.start, v.fsType, v.sectorCount, v.entryKind);
  return finds;
}

DiskInfo Searched(const std::string& path, SearchMode mode, int* result = nullptr) {
  test::UnchangedImage unchanged(path);
  DiskList list;
  EXPECT_TRUE(AddImageFile(list, path));
  DiskInfo disk = list.back();
  ProgressRecord progress;
  int r = SearchLostPartitions(disk, mode, progress);
  if (result) *result = r;
  return disk;
}

TEST(PartitionSearch, CylinderAlignedDiskWithDamagedBootSectors) {
  const std::string path = test::FixturePath("lost_cyl.img");
  // FAT32 through its backup boot sector; NTFS through the backup just
  // before the next cylinder; the logical volume on head 1 is logical.
  const std::vector<Find> quick = {{63, kFsFat32Lba, 80262, 1},
                                   {96390, kFsNtfs, 32129, 1},
                                   {128520, kFsFat16, 32130, 1},
                                   {160713, kFsFat16, 32067, 2}};
  DiskInfo disk = Searched(path, SearchMode::kQuick);
  EXPECT_EQ(Finds(disk), quick);
  EXPECT_EQ(disk.cylinders, 12u);
  EXPECT_EQ(disk.volumes[2].name, "Partition2");
  EXPECT_EQ(disk.volumes[3].label, "LOST_LOG   ");

  std::vector<Find> precise = quick;
  std::get<3>(precise[3]) = 1;
  EXPECT_EQ(Finds(Searched(path, SearchMode::kPrecise)), precise);

  // A second search adds nothing; a find after them is numbered on.
  ProgressRecord progress;
  SearchLostPartitions(disk, SearchMode::kPrecise, progress);
  EXPECT_EQ(Finds(disk), quick);
}

// 1 MiB-aligned disks: every FAT16, FAT32, exFAT and NTFS volume the walk
// lists on the intact disk is found again, at the same place and size, once the MBR
// is gone.
TEST(PartitionSearch, AlignedDisksGiveBackWhatTheirTablesListed) {
  for (const char* name : {"mbr_ext.img", "mbr_logical3.img", "demo.img"}) {
    DiskInfo intact = test::WalkImage(test::FixturePath(name));
    std::vector<Find> expected;
    for (const VolumeInfo& v : intact.volumes)
      if (IsFat16Type(v.fsType) || IsFat32Type(v.fsType) || IsNtfsType(v.fsType) ||
          v.fsType == kFsExfat)
        expected.emplace_back(v.start, IsNtfsType(v.fsType) ? kFsNtfs : v.fsType, v.sectorCount, 1);
    const std::string wiped = test::ScratchDir(std::string("search_") + name) + "/wiped.img";
    std::filesystem::copy_file(test::FixturePath(name), wiped);
    test::WriteAt(wiped, 0, std::string(512, '\0'));
    for (SearchMode mode : {SearchMode::kQuick, SearchMode::kPrecise}) {
      std::vector<Find> found = Finds(Searched(wiped, mode));
      for (Find& f : found)  // the walk keeps the table's type byte
        for (const Find& e : expected)
          if (std::get<0>(e) == std::get<0>(f) && IsFat32Type(std::get<1>(f)))
            std::get<1>(f) = std::get<1>(e);
      // mkfs rounds a file system down to whole tracks or clusters.
      ASSERT_EQ(found.size(), expected.size()) << name;
      for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(std::get<0>(found[i]), std::get<0>(expected[i])) << name;
        EXPECT_EQ(std::get<1>(found[i]), std::get<1>(expected[i])) << name;
        EXPECT_LE(std::get<2>(found[i]), std::get<2>(expected[i])) << name;
        EXPECT_LT(std::get<2>(expected[i]) - std::get<2>(found[i]), 63u) << name;
      }
    }
  }
}

// A disk under 10 MiB is one partial chunk: the precise scan reads it.
TEST(PartitionSearch, PreciseScanReadsTheLastPartialChunk) {
  const std::string path = test::FixturePath("lost_small.img");
  EXPECT_TRUE(Finds(Searched(path, SearchMode::kQuick)).empty());
  int result = 0;
  DiskInfo disk = Searched(path, SearchMode::kPrecise, &result);
  EXPECT_EQ(result, 1);
  ASSERT_EQ(Finds(disk).size(), 1u);
  EXPECT_EQ(disk.volumes[0].start, 5000u);
  EXPECT_EQ(disk.volumes[0].fsType, kFsFat16);
}

// A disk of NTFS boot sectors each claiming one sector, chained into each
// other, no geometry, and a disk smaller than one window: the search ends,
// finds nothing it cannot check, and a stop ends a precise scan.
TEST(PartitionSearch, HostileDisksEndAndFindNothing) {
  std::vector<uint8_t> boot(512, 0);
  std::copy_n("NTFS    ", 8, boot.begin() + 3);
  boot[0x0B] = 0x00, boot[0x0C] = 0x02, boot[0x0D] = 1, boot[0x28] = 1;
  boot[510] = 0x55, boot[511] = 0xAA;
  std::vector<uint8_t> chained;
  for (int i = 0; i < 16384; ++i) chained.insert(chained.end(), boot.begin(), boot.end());
  MemorySourceOpener memory;
  memory.Add("chained", chained);
  memory.Add("tiny", std::vector<uint8_t>(boot.begin(), boot.end()));
  for (const char* path : {"chained", "tiny"}) {
    for (SearchMode mode : {SearchMode::kQuick, SearchMode::kPrecise}) {
      DiskInfo disk;
      disk.path = path;
      disk.sizeBytes = std::string(path) == "tiny" ? 512 : chained.size();
      disk.heads = 0;  // no geometry: no cylinder to probe
      ASSERT_TRUE(test::RunBounded(
          path,
          [&](ProgressRecord& progress) {
            EXPECT_EQ(SearchLostPartitions(disk, mode, progress, memory), 1);
          },
          std::chrono::seconds(60)));
      EXPECT_TRUE(disk.volumes.empty()) << path;
    }
  }
  DiskInfo disk;
  disk.path = "chained";
  disk.sizeBytes = chained.size();
  ProgressRecord stopped;
  stopped.stop = 1;
  EXPECT_EQ(SearchLostPartitions(disk, SearchMode::kPrecise, stopped, memory), 0);
  disk.path = "absent";
  EXPECT_EQ(SearchLostPartitions(disk, SearchMode::kQuick, stopped, memory), 0);
}

// NTFS and FAT32 of 4096-byte sectors on a disk without a table: every mode
// finds them at their 4 KiB boundaries, counted and recorded in their size.
TEST(PartitionSearch, VolumesOfFourKiBSectors) {
  const std::string path = test::FixturePath("lost_4k.img");
  const std::vector<Find> expected = {{2048, kFsNtfs, 4095 * 8, 1},
                                      {34816, kFsFat32Lba, 69111 * 8, 1}};
  DiskInfo deep = Searched(path, SearchMode::kQuick);
  deep.volumes.clear();
  ProgressRecord progress;
  DeepScan(deep, progress, 0, deep.sizeBytes / 512);
  for (const DiskInfo& disk :
       {Searched(path, SearchMode::kQuick), Searched(path, SearchMode::kPrecise), deep}) {
    EXPECT_EQ(Finds(disk), expected);
    for (const VolumeInfo& v : disk.volumes) EXPECT_EQ(v.sectorSize, 4096u) << v.name;
  }
}

}  // namespace
}  // namespace brevid
