// The walk on disks made by sfdisk, sgdisk, mkfs.fat, mkntfs, mkfs.exfat,
// mke2fs and hformat (tools/make_fixtures.sh).
#include <gtest/gtest.h>

#include "common/text.h"
#include "device/volume_names.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/image_under_test.h"
#include "support/mmls.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

DiskInfo WalkFixture(const std::string& name) { return test::WalkImage(test::FixturePath(name)); }

struct Expected {
  const char* name;
  uint64_t start;
  uint64_t count;
  FsType fsType;
  const char* label;  // UTF-8, as the tool wrote it (FAT labels padded to 11)
  const char* typeText;
};

void ExpectVolumes(const DiskInfo& disk, const std::vector<Expected>& expected) {
  ASSERT_EQ(disk.volumes.size(), expected.size()) << disk.path;
  for (size_t i = 0; i < expected.size(); ++i) {
    const VolumeInfo& v = disk.volumes[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(disk.path + " volume " + std::to_string(i));
    EXPECT_EQ(AnsiToUtf8(v.name), e.name);
    EXPECT_EQ(v.start, e.start);
    EXPECT_EQ(v.sectorCount, e.count);
    EXPECT_EQ(v.fsType, e.fsType);
    EXPECT_EQ(AnsiToUtf8(v.label), e.label);
    EXPECT_EQ(FsTypeText(v), e.typeText);
  }
}

TEST(FixtureWalk, MbrWithPrimariesAndLogicalsOfEveryKind) {
  DiskInfo disk = WalkFixture("mbr_ext.img");
  ExpectVolumes(disk, {
                          {"Partition0", 2048, 16384, 0x06, "BRV_FAT16  ", "FAT16"},
                          {"Partition1", 18432, 69632, 0x0C, "BRV_FAT32  ", "FAT32"},
                          {"Partition2", 88064, 16384, 0x07, "BrvNtfs", "NTFS"},
                          {"Partition3", 106496, 8192, 0x05, "BRVEXFAT", "exFAT"},
                          {"Partition4", 116736, 16384, 0x83, "brv_ext2", "EXT2"},
                          {"Partition5", 135168, 16384, 0x83, "brv_ext3", "EXT3"},
                          {"Partition6", 153600, 16384, 0x83, "brv_ext4", "EXT4"},
                      });
  EXPECT_EQ(disk.volumes[2].entryKind, 1);
  EXPECT_EQ(disk.volumes[3].entryKind, 2);
}

TEST(FixtureWalk, OnePrimaryAndThreeLogicalsArePartition0To3) {
  DiskInfo disk = WalkFixture("mbr_logical3.img");
  ExpectVolumes(disk, {
                          {"Partition0", 2048, 6144, 0x06, "BRV_PRI    ", "FAT16"},
                          {"Partition1", 10240, 6144, 0x06, "BRV_LOG1   ", "FAT16"},
                          {"Partition2", 18432, 8192, 0x07, "BrvLog2", "NTFS"},
                          {"Partition3", 28672, 6144, 0x06, "BRV_LOG3   ", "FAT16"},
                      });
}

TEST(FixtureWalk, GptPartitionsAreProbedNamedAndSized) {
  DiskInfo disk = WalkFixture("gpt.img");
  ExpectVolumes(disk, {
                          {"Data FAT(fat)0", 2048, 69632, 0x0B, "GPT_FAT32  ", "FAT32"},
                          {"EFI System(fat)1", 71680, 16384, 0x06, "GPT_EFI    ", "FAT16"},
                          {"Data NTFS(NTFS)2", 88064, 16384, 0x07, "GptNtfs", "NTFS"},
                          {"Data exFAT(exFat)3", 104448, 8192, 0x05, "GPTEXFAT", "exFAT"},
                          // EXT: the size comes from the superblock, not the entry.
                          {"Linux dataPartition4", 112640, 8192, 0x83, "gpt_ext4", "EXT4"},
                          {"Linux other 数据", 129024, 2048, 0x00, "", ""},
                          {"Mac", 131072, 8192, 0x19, "BrvHfs", "HFS"},
                      });
  EXPECT_EQ(disk.volumes[6].hfsKind, 1u);
  EXPECT_EQ(disk.volumes[6].diskPath, disk.path);
}

TEST(FixtureWalk, GptHeadersWithBadCountsOrSizes) {
  EXPECT_EQ(WalkFixture("gpt_small.img").volumes.size(), 1u);
  // sgdisk's protective entry counts the disk's sectors, far below 0xFFFFFFF8:
  // the GPT header behind it still makes it a GPT.
  DiskInfo plain = WalkFixture("gpt_sgdisk.img");
  ASSERT_EQ(plain.volumes.size(), 1u);
  EXPECT_EQ(plain.volumes[0].name, "Small");
  EXPECT_EQ(plain.volumes[0].start, 2048u);
  EXPECT_EQ(plain.volumes[0].sectorCount, 2015u);
  EXPECT_TRUE(WalkFixture("gpt_129.img").volumes.empty());
  EXPECT_TRUE(WalkFixture("gpt_entry0.img").volumes.empty());
  EXPECT_TRUE(WalkFixture("gpt_entryhuge.img").volumes.empty());
  EXPECT_FALSE(plain.volumes[0].fromBackupGpt);

  // The primary header zeroed: the backup at the disk's end lists all five.
  DiskInfo backup = WalkFixture("gpt_backup_only.img");
  ASSERT_EQ(backup.volumes.size(), 5u);
  EXPECT_EQ(backup.volumes[3].start, 83968u);
  EXPECT_TRUE(IsFat32Type(backup.volumes[3].fsType));
  for (const VolumeInfo& v : backup.volumes) EXPECT_TRUE(v.fromBackupGpt) << v.name;
}

// Sizes come from the boot sector or superblock, not from the file.
TEST(FixtureWalk, FileSystemsThatStartAtSectorZero) {
  ExpectVolumes(WalkFixture("boot0_ntfs.img"),
                {{"Partition0", 0, 16383, 0x07, "WholeNtfs", "NTFS"}});
  ExpectVolumes(WalkFixture("boot0_fat32.img"),
                {{"Partition0", 0, 69615, 0x0C, "WHOLE32    ", "FAT32"}});
  ExpectVolumes(WalkFixture("boot0_fat16.img"),
                {{"Partition0", 0, 16380, 0x06, "WHOLE16    ", "FAT16"}});
  ExpectVolumes(WalkFixture("boot0_exfat.img"),
                {{"Partition0", 0, 8192, 0x05, "WHOLEEX", "exFAT"}});
  ExpectVolumes(WalkFixture("ext4_whole.img"),
                {{"Partition0", 0, 16384, 0x83, "whole_ext4", "EXT4"}});
  ExpectVolumes(WalkFixture("hfs_whole.img"), {{"Partition0", 0, 8192, 0x19, "WholeHfs", "HFS"}});
}

TEST(FixtureWalk, OddTablesFromTheEdgeCases) {
  ExpectVolumes(WalkFixture("eb63.img"),
                {{"Partition0", 2048, 6144, 0x06, "BRV_EB63   ", "FAT16"}});
  ExpectVolumes(WalkFixture("exfat_in_07.img"),
                {{"Partition0", 2048, 8192, 0x05, "EXIN07", "exFAT"}});
  ExpectVolumes(WalkFixture("ee_small.img"), {{"Partition0", 1, 2047, 0xEE, "", ""}});
  ExpectVolumes(WalkFixture("type42.img"),
                {{"Partition0", 4096, 6144, 0x06, "BRV_T42    ", "FAT16"}});
  ExpectVolumes(WalkFixture("odd_size.img"),
                {{"Partition0", 2048, 6144, 0x06, "BRV_ODD    ", "FAT16"}});
}

TEST(FixtureWalk, HostileImagesEndTheWalk) {
  // EBR 2 links to itself: the logicals before the loop are kept.
  EXPECT_EQ(WalkFixture("ebr_loop.img").volumes.size(), 2u);
  EXPECT_EQ(WalkFixture("ebr_loop2.img").volumes.size(), 2u);
  WalkFixture("random0.img");
  EXPECT_TRUE(WalkFixture("truncated.img").volumes.empty() ||
              WalkFixture("truncated.img").volumes.size() <= 4);
  EXPECT_TRUE(WalkFixture("empty.img").volumes.empty());
}

// The starts and lengths The Sleuth Kit's mmls sees on the same disks.
TEST(FixtureWalk, SameStartsAndLengthsAsMmls) {
  if (!test::HaveTool("mmls")) GTEST_SKIP() << "mmls missing";
  for (const char* name :
       {"mbr_ext.img", "mbr_logical3.img", "gpt.img", "type42.img", "eb63.img"}) {
    DiskInfo disk = WalkFixture(name);
    std::vector<test::MmlsPartition> parts = test::MmlsPartitions(disk.path);
    std::vector<const VolumeInfo*> ours;
    for (const VolumeInfo& v : disk.volumes) ours.push_back(&v);
    // mmls lists the dynamic-disk entry, which adds no volume here.
    std::erase_if(parts, [](const test::MmlsPartition& p) {
      return p.description.find("0x42") != std::string::npos;
    });
    ASSERT_EQ(parts.size(), ours.size()) << name;
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(ours[i]->start, parts[i].start) << name << " #" << i;
      // An EXT volume in a GPT partition is as long as its file system says.
      if (!(std::string(name) == "gpt.img" && ours[i]->fsType == 0x83)) {
        EXPECT_EQ(ours[i]->sectorCount, parts[i].length) << name << " #" << i;
      }
    }
  }
}

TEST(FixtureWalk, FreshExtFromMke2fsIsIdentified) {
  ExpectVolumes(WalkFixture("ext2_fresh.img"),
                {{"FreshPartition0", 2048, 2048, 0x83, "fresh_ext2", "EXT2"}});
  ExpectVolumes(WalkFixture("ext2_fresh_whole.img"),
                {{"Partition0", 0, 2048, 0x83, "fresh_ext2", "EXT2"}});
}

TEST(FixtureWalk, NtfsLabelWithFourKiBSectors) {
  ExpectVolumes(WalkFixture("ntfs_4k.img"), {{"Partition0", 2048, 16384, 0x07, "Ntfs4K", "NTFS"}});
}

}  // namespace
}  // namespace brevid
