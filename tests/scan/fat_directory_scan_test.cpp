// The directory-sector scan of format recovery: the entry test on sectors
// written byte by byte, and a FAT32 volume reformatted over its old files.
#include "scan/fat_directory_scan.h"

#include <gtest/gtest.h>

#include "format/fat_directory_sector.h"
#include "fs/fat_volume.h"
#include "fs/volume_trees.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

class Sector {
 public:
  Sector() : bytes_(512, 0) {}
  // A short entry at slot `i` with valid 2020 dates and a cluster.
  Sector& Short(int i, const char* name11, uint8_t attr = 0x20, uint16_t cluster = 5) {
    uint8_t* e = &bytes_[i * 32];
    std::copy(name11, name11 + 11, e);
    e[11] = attr;
    Put16(e + 14, 0x6000);
    Put16(e + 16, 0x5021);  // 2020-01-01
    Put16(e + 18, 0x5021);
    Put16(e + 22, 0x6000);
    Put16(e + 24, 0x5021);
    Put16(e + 26, cluster);
    return *this;
  }
  // A long-name entry at slot `i` with ordinal and checksum.
  Sector& Long(int i, uint8_t ordinal, uint8_t checksum) {
    uint8_t* e = &bytes_[i * 32];
    e[0] = ordinal;
    e[1] = 'a';
    e[11] = 0x0F;
    e[13] = checksum;
    return *this;
  }
  Sector& Label(int i, const char* name11) {
    uint8_t* e = &bytes_[i * 32];
    std::copy(name11, name11 + 11, e);
    e[11] = 0x08;
    return *this;
  }
  uint8_t* at(int i) { return &bytes_[i * 32]; }
  std::vector<uint8_t>& bytes() { return bytes_; }

  static void Put16(uint8_t* p, uint16_t v) { p[0] = v & 0xFF, p[1] = v >> 8; }

 private:
  std::vector<uint8_t> bytes_;
};

uint8_t Checksum(const char* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  return sum;
}

TEST(DirectorySectorTest, EntriesWithLongNamesAndDates) {
  const char* name = "LONGFI~1TXT";
  Sector ok;
  ok.Long(0, 0x42, Checksum(name)).Long(1, 0x01, Checksum(name)).Short(2, name);
  EXPECT_TRUE(IsDirectorySector(ok.bytes()));

  Sector badSum = ok;
  badSum.at(1)[13] ^= 1;  // the checksum byte right before the short entry
  EXPECT_FALSE(IsDirectorySector(badSum.bytes()));

  Sector brokenSequence;
  brokenSequence.Long(0, 0x43, Checksum(name)).Long(1, 0x01, Checksum(name)).Short(2, name);
  EXPECT_FALSE(IsDirectorySector(brokenSequence.bytes()));

  Sector unfinished;  // a run that still expects part 1 when its short entry comes
  unfinished.Long(0, 0x42, Checksum(name)).Short(1, name);
  EXPECT_FALSE(IsDirectorySector(unfinished.bytes()));

  Sector old;
  old.Short(0, "OLDFILE TXT");
  Sector::Put16(old.at(0) + 16, 0x279F);  // 1999-12-31
  EXPECT_FALSE(IsDirectorySector(old.bytes()));

  Sector lateAccess;
  lateAccess.Short(0, "FILE    TXT");
  Sector::Put16(lateAccess.at(0) + 18, 0x5020);  // accessed before it was made
  EXPECT_FALSE(IsDirectorySector(lateAccess.bytes()));
}

TEST(DirectorySectorTest, VolumeLabelsAndEmptySectors) {
  Sector label;
  label.Label(0, "MY LABEL   ");
  EXPECT_TRUE(IsDirectorySector(label.bytes()));
  label.Label(1, "SECOND     ");
  EXPECT_FALSE(IsDirectorySector(label.bytes()));

  EXPECT_FALSE(IsDirectorySector(Sector().bytes()));  // first byte 0
  Sector deleted;
  deleted.Short(0, "\xE5OST    TXT");
  EXPECT_TRUE(IsDirectorySector(deleted.bytes()));

  Sector sub;
  sub.Short(0, ".          ", 0x10).Short(1, "..         ", 0x10);
  EXPECT_TRUE(IsSubdirectoryStart(sub.bytes()));
  sub.at(1)[28] = 1;
  EXPECT_FALSE(IsSubdirectoryStart(sub.bytes()));
}

// Linux keeps a deleted entry's high cluster word, and some writers leave
// the creation date 0: real directory sectors either way.
TEST(DirectorySectorTest, DeletedHighWordAndNoCreationDatePass) {
  Sector s;
  s.Short(0, "\xE5OST    TXT").Short(1, "NODATE  TXT");
  s.at(0)[20] = 1;
  Sector::Put16(s.at(1) + 16, 0);
  EXPECT_TRUE(IsDirectorySector(s.bytes()));
}

// mkfs.fat over a volume that held folders: the old folders come back from
// the directory sectors the scan collects, as numbered folders.
TEST(FormatRecovery, ReformattedFat32GivesItsOldFolders) {
  for (const char* tool : {"mkfs.fat", "mmd", "mcopy"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " missing";
  std::string dir = test::ScratchDir("reformatted_fat32");
  std::string image = dir + "/reformatted.img";
  std::string text = dir + "/notes.txt";
  ASSERT_EQ(test::RunCommand("printf 'old notes\\n' > '" + text + "' && truncate -s 40M '" + image +
                             "' && mkfs.fat -F 32 -s 1 -n OLD '" + image +
                             "' >/dev/null && "
                             "mmd -i '" +
                             image +
                             "' ::/Documents ::/Documents/Letters && "
                             "mcopy -i '" +
                             image + "' '" + text +
                             "' ::/Documents/Letters/notes.txt && "
                             "mkfs.fat -F 32 -s 1 -n NEW '" +
                             image + "' >/dev/null")
                .status,
            0);
  std::string before = test::Sha256OfFile(image);

  DiskInfo disk = test::WalkImage(image);
  ASSERT_EQ(disk.volumes.size(), 1u);
  VolumeInfo& volume = disk.volumes[0];
  ProgressRecord progress;
  // The small volume lies wholly inside one 10 MiB block's remainder.
  EXPECT_EQ(ScanFatDirectorySectors(disk, volume, progress), 1);
  ASSERT_FALSE(disk.dirClusterSectors.empty());
  EXPECT_EQ(disk.extraFound.name, "Extra Found Files");

  ExpandFatVolume(disk, volume, progress);
  VolumeTrees& trees = TreesOf(volume);
  // Documents and Letters were clusters 3 and 4 of the old volume.
  const FileEntry* documents = nullptr;
  for (const FileEntry& top : trees.fatRoot.children)
    if (top.name == "3") documents = &top;
  ASSERT_NE(documents, nullptr);
  ASSERT_FALSE(documents->children.empty());
  const FileEntry& letters = documents->children.front();
  EXPECT_EQ(letters.name, "Letters");
  ASSERT_EQ(letters.children.size(), 1u);
  EXPECT_EQ(letters.children.front().name,
            "NOTES.TXT");  // 8.3 lower case is a case flag, not a long name
  EXPECT_EQ(letters.children.front().size, 10u);
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

TEST(FormatRecovery, UnopenableDiskChangesNothing) {
  DiskInfo disk;
  disk.path = "/nonexistent/disk.img";
  VolumeInfo volume;
  volume.sectorCount = 100;
  ProgressRecord progress;
  EXPECT_EQ(ScanFatDirectorySectors(disk, volume, progress), 0);
  EXPECT_TRUE(disk.dirClusterSectors.empty());
}

}  // namespace
}  // namespace brevid
