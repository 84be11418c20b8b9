// The deep scan on disks made by real tools: volumes formatted again over
// their files, boot sectors wiped, partition tables gone. What it rebuilds
// must expand into the old files.
#include "scan/deep_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "platform/byte_source.h"
#include "platform/codepage.h"
#include "results/scan_result_file.h"
#include "scan/partition_search.h"
#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "tasks/disk_list.h"
#include "tasks/expand_volume.h"
#include "view/file_rows.h"
#include "view/node_handle.h"

namespace brevid {
namespace {

DiskInfo Scanned(const std::string& path) {
  test::UnchangedImage unchanged(path);
  DiskList list;
  EXPECT_TRUE(AddImageFile(list, path));
  DiskInfo disk = list.back();
  ProgressRecord progress;
  EXPECT_EQ(DeepScan(disk, progress, 0, disk.sizeBytes / 512), 1);
  return disk;
}

// Names of every entry of every volume of `disk` that `pick` accepts.
std::set<std::string> NamesIn(DiskInfo& disk, bool (*pick)(const VolumeInfo&)) {
  std::set<std::string> names;
  for (VolumeInfo& v : disk.volumes) {
    if (!pick(v)) continue;
    ProgressRecord progress;
    ExpandVolume(disk, v, ExpandMode::kExpand, progress);
    NodeTable table(v);
    for (const ListingRow& row : TreeListing(table)) names.insert(row.row.name);
  }
  return names;
}

std::string Copy(const std::string& fixture, const std::string& name) {
  std::string path = test::ScratchDir("deep_scan_" + name) + "/" + fixture;
  std::filesystem::copy_file(test::FixturePath(fixture), path);
  return path;
}

TEST(DeepScan, ReformattedFat32ComesBackFromItsFolders) {
  DiskInfo disk = Scanned(test::FixturePath("reformat32.img"));
  EXPECT_FALSE(disk.dirClusterSectors.empty());
  std::set<std::string> old =
      NamesIn(disk, [](const VolumeInfo& v) { return v.origin == kOriginRebuilt; });
  EXPECT_TRUE(old.count("INDEX.TXT")) << old.size();
  EXPECT_TRUE(old.count("deep file.txt"));

  // A second scan finds the same and adds nothing.
  const size_t volumes = disk.volumes.size(), sectors = disk.dirClusterSectors.size();
  ProgressRecord progress;
  DeepScan(disk, progress, 0, disk.sizeBytes / 512);
  EXPECT_EQ(disk.volumes.size(), volumes);
  EXPECT_EQ(disk.dirClusterSectors.size(), sectors);
}

TEST(DeepScan, ReformattedNtfsWithoutBootSectorsIsRebuiltFromItsMft) {
  const std::string path = Copy("reformat_ntfs.img", "ntfs");
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, path));
  const VolumeInfo intact = list.back().volumes.at(0);
  test::WriteAt(path, 0, std::string(512, '\0'));  // the partition table
  test::WriteAt(path, intact.start * 512, std::string(512, '\0'));
  test::WriteAt(path, (intact.start + intact.sectorCount - 1) * 512, std::string(512, '\0'));
  DiskInfo disk = Scanned(path);
  ASSERT_FALSE(disk.mftRecordRuns.empty());
  const VolumeInfo* rebuilt = nullptr;
  for (const VolumeInfo& v : disk.volumes)
    if (v.origin == kOriginRebuilt && IsNtfsType(v.fsType)) rebuilt = &v;
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_EQ(rebuilt->start, intact.start);
  EXPECT_EQ(rebuilt->sectorsPerCluster, 8u);
  std::set<std::string> names =
      NamesIn(disk, [](const VolumeInfo& v) { return IsNtfsType(v.fsType); });
  EXPECT_TRUE(names.count("small.txt"));
  EXPECT_TRUE(names.count(Utf8ToAnsi("中文名称.txt")));
}

// A partition whose table entry is gone is rebuilt from its FATs and folders
// (besides being found by its boot sector) and expands; a range under 10 MiB
// is scanned whole.
TEST(DeepScan, DeletedPartitionsAndSmallRanges) {
  const std::string path = Copy("demo.img", "demo");
  test::WriteAt(path, 0, std::string(512, '\0'));
  DiskInfo disk = Scanned(path);
  std::set<std::string> names = NamesIn(disk, [](const VolumeInfo& v) {
    return v.origin == kOriginRebuilt && IsFat32Type(v.fsType);
  });
  EXPECT_GT(names.size(), 5u);

  DiskInfo small = Scanned(test::FixturePath("lost_small.img"));
  ASSERT_EQ(small.volumes.size(), 1u);
  EXPECT_EQ(small.volumes[0].start, 5000u);
}

// Files planted in noise, across the scan's 10 MiB blocks: each is carved
// once, at its own size. Nothing starts inside an MP3 that crosses blocks,
// and a document sized by its allocation table hides no file behind it.
TEST(DeepScan, CarvedFilesAreFoundOnceAndWhole) {
  BREVID_REQUIRE_CORPUS();
  const std::string dir = test::ScratchDir("deep_scan_carved");
  ASSERT_EQ(test::RunCommand("ffmpeg -nostdin -loglevel error -f lavfi -i sine=d=300 -b:a 320k "
                             "-c:a libmp3lame " +
                             dir + "/long.mp3")
                .status,
            0);
  const std::string samples = test::CorpusDir() + "/samples/";
  const std::pair<uint64_t, std::string> planted[] = {
      {2048, test::ReadFile(dir + "/long.mp3")},
      {40000, test::ReadFile(samples + "ole/msoff_plain.doc")},
      {40048, test::ReadFile(samples + "jpeg/fs_IMG_1054.JPG")},
  };
  std::string noise(48 << 20, '\0');
  uint32_t x = 7;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  for (const auto& [sector, bytes] : planted) noise.replace(sector * 512, bytes.size(), bytes);
  test::WriteFile(dir + "/disk.img", noise);
  DiskInfo disk = Scanned(dir + "/disk.img");
  std::map<uint64_t, uint32_t> sizes, want;
  for (const auto& [sector, file] : disk.extraFound.children) sizes[sector] = file.size;
  for (const auto& [sector, bytes] : planted) want[sector] = static_cast<uint32_t>(bytes.size());
  EXPECT_EQ(sizes, want);
}

// A card formatted again over its folders: carved files take the names their
// folder's entries (a deleted one too) still give, below the folders whose
// own entries survive; the root, written over, names nothing.
TEST(DeepScan, CarvedFilesOnAReformattedCardGetTheirOldNames) {
  BREVID_REQUIRE_CORPUS();
  const std::string dir = test::ScratchDir("deep_scan_names"), image = dir + "/card.img";
  const std::string jpeg = test::CorpusDir() + "/samples/jpeg/fs_IMG_1054.JPG";
  const std::string pdf = test::CorpusDir() + "/samples/pdf/fs_a-text.pdf";
  const std::string m = "MTOOLS_SKIP_CHECK=1 ", i = " -i '" + image + "' ";
  ASSERT_EQ(test::RunCommand(
                "head -c 300M /dev/urandom > '" + image + "' && mkfs.fat -F 32 -s 8 '" + image +
                "' && " + m + "mmd" + i + "::/DCIM && " + m + "mmd" + i + "::/DCIM/100CANON && " +
                m + "mcopy" + i + "'" + jpeg + "' ::/DCIM/100CANON/IMG_0412.JPG && " + m + "mcopy" +
                i + "'" + pdf + "' '::/DCIM/100CANON/a long name.pdf' && " + m + "mdel" + i +
                "'::/DCIM/100CANON/a long name.pdf' && mkfs.fat -F 32 -s 8 '" + image + "'")
                .status,
            0);
  DiskInfo disk = Scanned(image);
  std::set<std::string> names, carved;
  for (const auto& [sector, file] : disk.extraFound.children)
    names.insert(file.name), carved.insert(file.carvedName);
  EXPECT_EQ(names, (std::set<std::string>{"100CANON/IMG_0412.JPG", "100CANON/a long name.pdf"}));
  EXPECT_EQ(carved.size(), 2u);
}

// The same on NTFS formatted again with mkntfs -Q: the old MFT records name
// the files, a deleted one too, and their folders.
TEST(DeepScan, CarvedFilesOnAReformattedNtfsGetTheirOldPaths) {
  BREVID_REQUIRE_CORPUS();
  const std::string dir = test::ScratchDir("deep_scan_ntfs_names"), image = dir + "/disk.img";
  const std::string samples = test::CorpusDir() + "/samples/", mnt = dir + "/mnt";
  const std::string format = "mkntfs -F -Q -q '" + image + "' >/dev/null 2>&1";
  if (test::RunCommand("head -c 200M /dev/urandom > '" + image + "' && " + format + " && mkdir '" +
                       mnt + "' && ntfs-3g '" + image + "' '" + mnt + "'")
          .status != 0)
    GTEST_SKIP() << "no ntfs-3g mount";
  ASSERT_EQ(
      test::RunCommand("mkdir -p '" + mnt + "/DCIM/100CANON' && cp '" + samples +
                       "jpeg/fs_IMG_1054.JPG' '" + mnt + "/DCIM/100CANON/IMG_0412.JPG' && cp '" +
                       samples + "pdf/fs_a-text.pdf' '" + mnt + "/gone.pdf' && rm '" + mnt +
                       "/gone.pdf'; umount '" + mnt + "' && " + format)
          .status,
      0);
  DiskInfo disk = Scanned(image);
  std::set<std::string> names;
  for (const auto& [sector, file] : disk.extraFound.children) names.insert(file.name);
  EXPECT_EQ(names, (std::set<std::string>{"DCIM/100CANON/IMG_0412.JPG", "gone.pdf"}));
}

// Stops a scan when it reaches unit `stopAt` of its progress range, and notes
// the unit it started at.
class StopAtUnit final : public ProgressTarget {
 public:
  StopAtUnit(ProgressRecord& progress, uint64_t stopAt) : progress_(progress), stopAt_(stopAt) {
    progress.window = this;
  }
  void Send(uint32_t message, uint64_t unit, uint64_t) override {
    if (message != kProgressSetPos) return;
    if (firstUnit == UINT64_MAX) firstUnit = unit;
    if (unit == stopAt_) progress_.stop = 1;
  }
  void Post(uint32_t, uint64_t, uint64_t) override {}
  uint64_t firstUnit = UINT64_MAX;

 private:
  ProgressRecord& progress_;
  uint64_t stopAt_;
};

// A precise search and a deep scan stopped at their fifth 10 MiB unit keep
// the position in the result file (ahead of the volumes, where older readers
// skip it); run again on the disk read back from it, they go on there.
TEST(ScanResume, StoppedScansGoOnFromTheResultFile) {
  const std::string path = test::FixturePath("lost_gpt.img");
  test::UnchangedImage unchanged(path);
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, path));
  auto run = [](DiskInfo& disk, bool deep, ProgressRecord& progress) {
    if (deep) return DeepScan(disk, progress, 0, disk.sizeBytes / 512);
    return SearchLostPartitions(disk, SearchMode::kPrecise, progress);
  };
  for (bool deep : {false, true}) {
    DiskInfo stopped = list.back();
    ProgressRecord progress;
    StopAtUnit stop(progress, 4);
    run(stopped, deep, progress);
    const ScanResume kept{deep ? kResumeDeepScan : kResumePreciseSearch, 0, 196608, 4 * 20480};
    EXPECT_EQ(stopped.resume, kept);
    const std::string text = FormatScanResults(stopped);
    EXPECT_LT(text.find(kResumeMarker), text.find(kPartitionMarker));

    DiskInfo again = list.back();
    std::unique_ptr<ByteSource> file = MakeMemorySource({text.begin(), text.end()});
    const std::string key = again.Key();
    ASSERT_EQ(ReadScanResults(*file, again, &key, nullptr), ScanResultRead::kRead);
    EXPECT_EQ(again.resume, kept);
    ProgressRecord second;
    StopAtUnit watch(second, UINT64_MAX);
    EXPECT_EQ(run(again, deep, second), 1);
    EXPECT_EQ(watch.firstUnit, 4u);
    std::vector<uint64_t> starts;
    for (const VolumeInfo& v : again.volumes) starts.push_back(v.start);
    EXPECT_EQ(starts, (std::vector<uint64_t>{2048, 51200, 83968, 153600})) << deep;
    EXPECT_EQ(again.resume.kind, kResumeNone);
  }
}

}  // namespace
}  // namespace brevid
