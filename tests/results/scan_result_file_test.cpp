// The scan-result file: layout, read-back, merging, hostile files, failed writes.
#include "results/scan_result_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/codepage.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

DiskInfo KeyedDisk() {
  DiskInfo d;
  d.vendor = Ansi("镜像.img");
  d.product = "P";
  d.revision = "1";
  return d;
}

DiskInfo FullDisk() {
  DiskInfo d = KeyedDisk();
  d.dirClusterSectors = {0, 63, ~uint64_t{0}};
  d.mftRecordRuns = {{2048, 4}, {uint64_t{1} << 40, 0x80000001u}};
  d.extraFound.children[100] = {0, 12345, Ansi("照片,第一张,.jpg"), {}};
  d.extraFound.children[7] = {0, 0xFFFFFFFFu, "", {}};
  d.mapEntryCount = 4, d.diskKind = 2, d.pvUuid = "abcXYZ", d.vgId = "\"vg-id\"";
  d.peStart = 2048, d.devSize = 1 << 30, d.reserved2 = 9, d.peCount = 77, d.reserved1 = 8;
  d.extentSize = 8192, d.reserved3 = 7;
  VolumeInfo v;
  v.diskPath = "/dev/x", v.hfsText = "HFS+", v.hfsKind = 2, v.label = Ansi("数据");
  v.driveLetter = "/mnt/a", v.name = "Partition3", v.extText = "EXT4", v.sectorCount = 1 << 20;
  v.start = 63, v.entryKind = 2, v.sectorsPerCluster = 64, v.clusterBase = 1000, v.fsType = 0x0B;
  v.sectorSize = 4096, v.origin = 2, v.layout = VolumeLayout::Raid5, v.stripeSectors = 65535;
  v.fatSectors = 1234, v.mftStart = uint64_t{1} << 35, v.indexRecordClusters = 1;
  v.members[0] = {0, {255, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 200}, "/dev/y", 34, 99,
                  ""};
  v.members[1] = {1, {}, "", 0, 0, ""};
  d.volumes = {v, VolumeInfo{}};
  LvmLogicalVolume lv{"lvol0", "t1", "t2", "t3", "", 1, 4096, 3, "EXT", {}};
  lv.segments.push_back({0, 10, "r", 1, "pv0", uint64_t{1} << 33, {}, 0});
  lv.segments.push_back({10, 5, "", 2, "pv1", 0, {}, 0});
  d.logicalVolumes = {lv, LvmLogicalVolume{}};
  return d;
}

ScanResultRead ReadText(DiskInfo& disk, const std::string& text) {
  std::unique_ptr<ByteSource> source = MakeMemorySource({text.begin(), text.end()});
  const std::string key = disk.Key();
  return ReadScanResults(*source, disk, &key, nullptr);
}

TEST(ScanResultFile, EveryFieldReadsBackAndWritesTheSameBytes) {
  const std::string path = test::ScratchDir("results_round") + "/" + Ansi("结果.qel_scn");
  const DiskInfo full = FullDisk();
  ASSERT_TRUE(WriteScanResultFile(full, path));
  const std::string bytes = test::ReadFile(AnsiToUtf8(path));
  EXPECT_EQ(bytes, FormatScanResults(full));
  DiskInfo back = KeyedDisk();
  ASSERT_EQ(ReadScanResultFile(back, path), ScanResultRead::kRead);
  EXPECT_EQ(FormatScanResults(back), bytes);
  EXPECT_EQ(back.extraFound.children[100].name, Ansi("照片,第一张,.jpg"));
  EXPECT_EQ(back.volumes[0].members[0].diskId[15], 200);
  EXPECT_EQ(back.logicalVolumes[0].segments[0].stripeStart, uint64_t{1} << 33);
  EXPECT_EQ(back.volumes[0].fatSectors, 1234u);  // what a rebuilt volume is read by

  // A label or carved name holding CR LF cannot end its line early.
  DiskInfo broken = FullDisk();
  broken.volumes[0].label = "A\r\nB";
  broken.extraFound.children[100].name = "x\ny.jpg";
  ASSERT_TRUE(WriteScanResultFile(broken, path));
  DiskInfo read = KeyedDisk();
  ASSERT_EQ(ReadScanResultFile(read, path), ScanResultRead::kRead);
  EXPECT_EQ(read.volumes[0].label, "A??B");
  EXPECT_EQ(read.extraFound.children[100].name, "x?y.jpg");
  EXPECT_EQ(read.logicalVolumes.size(), 2u);
}

TEST(ScanResultFile, EmptyDiskIsTheKeyThreeZerosAndElevenLines) {
  EXPECT_EQ(FormatScanResults(KeyedDisk()),
            Ansi("镜像.img") +
                "P1\r\n0\r\n0\r\n0\r\n0\r\n0\r\n\r\n\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n");
}

TEST(ScanResultFile, ReadingReplacesVolumesMergesFindingsAndRefusesOtherDisks) {
  const std::string path = test::ScratchDir("results_merge") + "/a.qel_scn";
  ASSERT_TRUE(WriteScanResultFile(FullDisk(), path));
  DiskInfo other = FullDisk();
  other.vendor = "other";
  const std::string before = FormatScanResults(other);
  EXPECT_EQ(ReadScanResultFile(other, path), ScanResultRead::kWrongDisk);
  EXPECT_EQ(FormatScanResults(other), before);
  DiskInfo disk = KeyedDisk();
  disk.volumes.resize(5);
  disk.dirClusterSectors = {5};
  disk.extraFound.children[100] = {1, 1, "old", {}};
  std::string afterFirst;
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(ReadScanResultFile(disk, path), ScanResultRead::kRead);
    EXPECT_EQ(disk.volumes.size(), 2u);
    EXPECT_EQ(disk.dirClusterSectors.size(), 4u);
    EXPECT_EQ(disk.extraFound.children[100].name, "old");
    if (pass == 0) afterFirst = FormatScanResults(disk);
  }
  EXPECT_EQ(FormatScanResults(disk), afterFirst);
  EXPECT_EQ(ReadScanResultFile(disk, path + ".missing"), ScanResultRead::kCannotOpen);
}

TEST(ScanResultFile, HostileFilesReadWithoutHarm) {
  const std::string key = KeyedDisk().Key();
  std::string full = FormatScanResults(FullDisk());
  for (size_t cut = 0; cut <= full.size(); ++cut) {  // every missing line and half line
    DiskInfo d = KeyedDisk();
    ReadText(d, full.substr(0, cut));
  }
  std::string lf = full;
  std::erase(lf, '\r');
  DiskInfo d = KeyedDisk();
  ASSERT_EQ(ReadText(d, lf), ScanResultRead::kRead);
  EXPECT_EQ(FormatScanResults(d), full);

  d = KeyedDisk();
  ReadText(d, key + "\r\n1000000000000\r\n1\r\n2\r\n");
  EXPECT_EQ(d.dirClusterSectors, (std::set<uint64_t>{1, 2}));

  d = KeyedDisk();
  std::string longName(3 << 20, 'x');
  ReadText(d, key + "\n0\nx\n2\n5,1," + longName.substr(0, 1000000) + "\n6,2," + longName + "\n");
  EXPECT_EQ(d.extraFound.children[5].name.size(), 1000000u);
  EXPECT_EQ(d.extraFound.children[6].name.size(), kMaxScanResultLine - 4);

  d = KeyedDisk();
  std::string members = "7\n1,2,\n/a\n1\n1\n3\nx,,-1,999\n/b\n2\n2\n3\n\n/c\n3\n3\n";
  ReadText(d, key + "\n0\n0\n0\n" + std::string(11, '\n') + kPartitionMarker + "\n" +
                  std::string(17, '\n') + members + kLogicalVolumesMarker + "\nlv\n");
  ASSERT_EQ(d.volumes.size(), 1u);
  const auto& m = d.volumes[0].members;
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m.at(3).devicePath, "/b");
  EXPECT_EQ(m.at(3).diskId[2], 255);
  EXPECT_EQ(m.at(7).diskId[1], 2);
  EXPECT_EQ(d.logicalVolumes.at(0).name, "lv");
}

TEST(ScanResultFile, AFailedWriteKeepsTheEarlierFile) {
  const std::string dir = test::ScratchDir("results_fail");
  EXPECT_FALSE(WriteScanResultFile(FullDisk(), dir + "/missing/a.qel_scn"));
  const std::string earlier = dir + "/a.qel_scn";
  ASSERT_TRUE(WriteScanResultFile(FullDisk(), earlier));
  std::filesystem::create_directories(dir + "/taken/inside");
  EXPECT_FALSE(WriteScanResultFile(KeyedDisk(), dir + "/taken"));  // a folder is not replaced
  if (::geteuid() != 0) {  // root writes into read-only folders
    std::filesystem::permissions(dir, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(WriteScanResultFile(KeyedDisk(), earlier));
    std::filesystem::permissions(dir, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  }
  EXPECT_EQ(test::FilesUnder(dir).size(), 1u);
  EXPECT_EQ(test::ReadFile(earlier), FormatScanResults(FullDisk()));
}

}  // namespace
}  // namespace brevid
