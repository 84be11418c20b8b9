// The walk on disks made by other people and other systems. Skipped when the
// corpus is not beside the checkout.
#include <gtest/gtest.h>

#include "common/text.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/image_under_test.h"
#include "support/mmls.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

DiskInfo WalkFile(const std::string& path) { return test::WalkImage(path); }

// Our volumes have the starts and lengths mmls lists, in its order.
void ExpectSameAsMmls(const std::string& image) {
  if (!test::HaveTool("mmls")) GTEST_SKIP() << "mmls missing";
  std::vector<test::MmlsPartition> expected = test::MmlsPartitions(image);
  ASSERT_FALSE(expected.empty()) << image;
  DiskInfo disk = WalkFile(image);
  ASSERT_EQ(disk.volumes.size(), expected.size()) << image;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(disk.volumes[i].start, expected[i].start) << image << " #" << i;
    EXPECT_EQ(disk.volumes[i].sectorCount, expected[i].length) << image << " #" << i;
  }
}

TEST(CorpusWalk, DfttExtendedPartitionsMatchMmls) {
  BREVID_REQUIRE_CORPUS();
  std::string image =
      test::UnpackCorpus("images/dftt/1-extend-part.zip", "1-extend-part/ext-part-test-2.dd");
  ASSERT_FALSE(image.empty());
  std::string before = test::Sha256OfFile(image);
  ExpectSameAsMmls(image);
  DiskInfo disk = WalkFile(image);
  // Its first EBR holds two logical volumes: each still gets a name of its own.
  ASSERT_EQ(disk.volumes.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(disk.volumes[i].name, Format("Partition%zu", i));
    EXPECT_EQ(disk.volumes[i].fsType, i < 5 ? 0x04 : 0x06);
    EXPECT_EQ(disk.volumes[i].entryKind, i < 3 ? 1 : 2);
  }
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

TEST(CorpusWalk, WindowsMadeExtendedChainMatchesMmls) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfir_ntfs/mbr-win-512.raw.tgz", "mbr-win-512.raw");
  ASSERT_FALSE(image.empty());
  ExpectSameAsMmls(image);
}

TEST(CorpusWalk, LinuxMbrWithExtendedMatchesMmls) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfvfs/mbr.raw");
  ExpectSameAsMmls(image);
  DiskInfo disk = WalkFile(image);
  ASSERT_EQ(disk.volumes.size(), 2u);
  EXPECT_EQ(disk.volumes[1].extText, "EXT2");
}

TEST(CorpusWalk, GptWithSmallProtectiveEntryMatchesMmls) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfir_ntfs/gpt-512-3p.raw.gz");
  ExpectSameAsMmls(image);
  DiskInfo disk = WalkFile(image);
  ASSERT_EQ(disk.volumes.size(), 3u);
  EXPECT_EQ(disk.volumes[2].name, "EFI System");
  EXPECT_EQ(disk.volumes[0].fsType, 0);  // Linux filesystem type: not probed
}

TEST(CorpusWalk, FourFileSystemDiskMatchesMmlsAndIsIdentified) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/forensics-samples/fs.multiple.xz");
  ExpectSameAsMmls(image);
  DiskInfo disk = WalkFile(image);
  ASSERT_EQ(disk.volumes.size(), 4u);
  EXPECT_EQ(disk.volumes[1].extText, "EXT4");
  EXPECT_EQ(disk.volumes[2].fsType, 0x05);  // exFAT behind type 0x07
  EXPECT_EQ(disk.volumes[3].fsType, 0x07);
}

struct Identification {
  const char* image;
  size_t volumes;
  FsType fsType;
  const char* label;  // UTF-8
  const char* typeText;
};

TEST(CorpusWalk, UtilLinuxProbeImagesAreIdentified) {
  BREVID_REQUIRE_CORPUS();
  const Identification cases[] = {
      {"exfat.img", 1, 0x05, "", "exFAT"},
      {"fat16_noheads.img", 1, 0x06, "VTech 1070 ", ""},
      {"fat32_mkdosfs_label1.img", 1, 0x0C, "label1     ", ""},
      {"fat32_xp_label1.img", 1, 0x0C, "LABEL1     ", ""},
      {"hfs.img", 1, 0x19, "BBB", "HFS"},
      {"hfsplus.img", 1, 0x19, "only hfs+", "HFS+"},
      {"ntfs.img", 1, 0x07, "Новый том", ""},
      // Never mounted, and ext2 a single block group.
      {"ext2.img", 1, 0x83, "test-ext2", "EXT2"},
      {"ext3.img", 1, 0x83, "test-ext3", "EXT3"},
      {"ext4.img", 1, 0x83, "test-ext4", "EXT4"},
      // An LVM2 physical volume whose group has no logical volumes.
      {"lvm2.img", 0, 0, "", ""},
  };
  for (const Identification& c : cases) {
    std::string image = test::UnpackCorpus(std::string("images/util-linux/") + c.image + ".xz");
    ASSERT_FALSE(image.empty()) << c.image;
    DiskInfo disk = WalkFile(image);
    ASSERT_EQ(disk.volumes.size(), c.volumes) << c.image;
    if (c.volumes == 0) continue;
    const VolumeInfo& v = disk.volumes[0];
    EXPECT_EQ(v.name, "Partition0") << c.image;
    EXPECT_EQ(v.start, 0u) << c.image;
    EXPECT_EQ(v.fsType, c.fsType) << c.image;
    EXPECT_EQ(AnsiToUtf8(v.label), c.label) << c.image;
    if (v.fsType == 0x19) {
      EXPECT_EQ(v.hfsText, c.typeText) << c.image;
    }
    if (v.fsType == 0x83) {
      EXPECT_EQ(v.extText, c.typeText) << c.image;
    }
  }
}

TEST(CorpusWalk, BareHfsPlusVolume) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfvfs/hfsplus.raw");
  DiskInfo disk = WalkFile(image);
  ASSERT_EQ(disk.volumes.size(), 1u);
  EXPECT_EQ(disk.volumes[0].hfsKind, 2u);
  EXPECT_EQ(disk.volumes[0].hfsText, "HFS+");
  EXPECT_EQ(disk.volumes[0].label, "only hfs+");
  EXPECT_EQ(disk.volumes[0].sectorCount, disk.sizeBytes / 512);
  EXPECT_EQ(disk.volumes[0].diskPath, image);
}

}  // namespace
}  // namespace brevid
