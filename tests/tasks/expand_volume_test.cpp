// Expanding through the task layer with sources handed in: a disk image held
// in memory expands exactly as the same image read from its file, a missing
// or unsupported volume says so, and unreadable sectors cost only what they
// hold.
#include "tasks/expand_volume.h"

#include <gtest/gtest.h>

#include <set>

#include "scan/deep_scan.h"
#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/test_paths.h"
#include "tasks/disk_list.h"
#include "view/file_rows.h"
#include "view/node_handle.h"

namespace brevid {
namespace {

class Recorder final : public ProgressTarget {
 public:
  void Send(uint32_t message, uint64_t, uint64_t) override { last = message; }
  void Post(uint32_t message, uint64_t, uint64_t) override { last = message; }
  uint32_t last = 0;
};

std::vector<std::string> Listing(VolumeInfo& volume) {
  NodeTable table(volume);
  std::vector<std::string> lines;
  for (const ListingRow& row : TreeListing(table))
    lines.push_back(row.path + "|" + std::to_string(row.row.size) + "|" + row.row.numberText);
  return lines;
}

std::vector<std::string> Expanded(DiskInfo& disk, size_t index, const SourceOpener& opener,
                                  ExpandOutcome* outcome) {
  ProgressRecord progress;
  *outcome = ExpandVolume(disk, disk.volumes[index], ExpandMode::kExpand, progress, opener);
  return Listing(disk.volumes[index]);
}

TEST(ExpandVolumeTask, MemorySourcesExpandLikeTheFileAndDamageOnlyCostsWhatItHolds) {
  const std::string path = test::FixturePath("demo.img");
  const std::string bytes = test::ReadFile(path);
  ASSERT_FALSE(bytes.empty());
  MemorySourceOpener memory;
  memory.Add("mem:demo", std::vector<uint8_t>(bytes.begin(), bytes.end()));
  DiskList files, held;
  ASSERT_TRUE(AddImageFile(files, path));
  ASSERT_TRUE(AddImageFile(held, "mem:demo", memory));
  ASSERT_EQ(held.back().volumes.size(), 2u);  // FAT32, then NTFS

  for (size_t v = 0; v < 2; ++v) {
    ExpandOutcome fromFile, fromMemory;
    std::vector<std::string> expected = Expanded(files.back(), v, FileSourceOpener(), &fromFile);
    EXPECT_EQ(Expanded(held.back(), v, memory, &fromMemory), expected) << v;
    EXPECT_EQ(fromFile, ExpandOutcome::kDone);
    EXPECT_EQ(fromMemory, ExpandOutcome::kDone);
    EXPECT_GT(expected.size(), 4u);
  }

  // Every sector of the FAT32 volume's first FAT unreadable: the walk goes
  // on with what the rest of the volume gives and still ends.
  DiskInfo& disk = held.back();
  const uint64_t fatStart = disk.volumes[0].start + 32;
  std::set<uint64_t> bad;
  for (uint64_t s = fatStart; s < fatStart + disk.volumes[0].fatSectors; ++s) bad.insert(s);
  MemorySourceOpener faulty;
  faulty.Add("mem:demo", std::vector<uint8_t>(bytes.begin(), bytes.end()), bad);
  ExpandOutcome outcome;
  Expanded(disk, 0, faulty, &outcome);
  EXPECT_EQ(outcome, ExpandOutcome::kDone);
  EXPECT_TRUE(disk.volumes[0].trees);

  MemorySourceOpener empty;
  EXPECT_EQ(Expanded(disk, 1, empty, &outcome),
            (std::vector<std::string>{"根目录|0|5", "零散目录|0|2"}));
  EXPECT_EQ(outcome, ExpandOutcome::kSourceUnreadable);

  disk.volumes[0].fsType = kFsExt;
  ProgressRecord progress;
  Recorder window;
  progress.window = &window;
  BusyFlag busy{0};
  EXPECT_EQ(RunExpand(disk, disk.volumes[0], ExpandMode::kFormatScan, progress, busy, memory),
            ExpandOutcome::kUnsupportedType);
  EXPECT_EQ(busy.load(), 0);
  EXPECT_EQ(window.last, kProgressClose);
}

// A volume that claims 2^63 sectors (as a GPT entry can) of a 1 MiB source:
// format recovery and the deep scan end where the source does.
TEST(ExpandVolumeTask, ClaimedSizeBeyondTheSourceIsNotScanned) {
  MemorySourceOpener memory;
  memory.Add("mem:small", std::vector<uint8_t>(1 << 20, 0));
  DiskInfo disk;
  disk.path = "mem:small";
  disk.sizeBytes = 1 << 20;
  VolumeInfo claimed;
  claimed.name = "Partition0";
  claimed.fsType = kFsFat16;
  claimed.start = 64;
  claimed.sectorCount = uint64_t{1} << 63;
  disk.volumes.push_back(claimed);
  EXPECT_TRUE(test::RunBounded(
      "format scan and deep scan",
      [&](ProgressRecord& progress) {
        ExpandVolume(disk, disk.volumes[0], ExpandMode::kFormatScan, progress, memory);
        DeepScan(disk, progress, claimed.start, claimed.sectorCount, &disk.volumes[0], memory);
      },
      std::chrono::seconds(20)));
}

}  // namespace
}  // namespace brevid
