// The imaging copy on fixture images and on memory sources with unreadable
// sectors: what lands in the target, the bad-sector list, the progress
// counter, the stop, and the targets it refuses before writing anything.
#include "imaging/image_copy.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>

#include "device/disk_enumeration.h"
#include "imaging/imaging_endpoint.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/test_paths.h"
#include "tasks/disk_list.h"
#include "tasks/imaging_task.h"

namespace brevid {
namespace {

// Keeps the sectors-done counter at each step, and may stop at one.
class StepRecorder final : public ProgressTarget {
 public:
  StepRecorder(ProgressRecord& progress, const ImagingCounters& counters, size_t stopAt = 0)
      : progress_(progress), counters_(counters), stopAt_(stopAt) {
    progress.window = this;
  }
  void Send(uint32_t message, uint64_t wParam, uint64_t) override {
    messages.push_back(message);
    if (message == kProgressSetRange) range = wParam;
    if (message != kProgressStep) return;
    steps.push_back(counters_.sectorsDone);
    if (steps.size() == stopAt_) progress_.stop = 1;
  }
  void Post(uint32_t message, uint64_t wParam, uint64_t lParam) override {
    Send(message, wParam, lParam);
  }
  std::vector<uint32_t> messages;
  std::vector<uint64_t> steps;
  uint64_t range = 0;

 private:
  ProgressRecord& progress_;
  const ImagingCounters& counters_;
  size_t stopAt_;
};

std::vector<uint8_t> RandomBytes(size_t size) {
  std::mt19937 random(13);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

ImagingOutcome Copy(const DiskList& list, const ImagingRequest& request,
                    const SourceOpener& opener = FileSourceOpener()) {
  ProgressRecord progress;
  return CopyImage(list, request, progress, nullptr, opener);
}

ImagingRequest ToFile(const std::string& source, const std::string& file, uint64_t start = 0) {
  ImagingRequest request;
  request.sourceText = source;
  request.sourceStartSector = start;
  request.targetFile = file;
  return request;
}

ImagingRequest ToDisk(const std::string& source, const std::string& target, uint64_t at = 0) {
  ImagingRequest request;
  request.sourceText = source;
  request.toDisk = true;
  request.targetText = target;
  request.targetStartSector = at;
  return request;
}

TEST(ImageCopy, DisksAndVolumesRoundTripToFilesAndDisks) {
  const std::string demo = test::FixturePath("demo.img");
  test::UnchangedImage unchanged(demo);
  const std::string bytes = test::ReadFile(demo);
  const std::string dir = test::ScratchDir("image_round_trip");
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, demo));
  const DiskInfo& disk = list.back();
  const VolumeInfo& fat = disk.volumes.at(0);
  const std::string volumeText = disk.Key() + "," + fat.name;
  EXPECT_EQ(CountEndpointSectors(list, disk.Key()), bytes.size() / 512);
  EXPECT_EQ(CountEndpointSectors(list, volumeText), fat.sectorCount);
  EXPECT_FALSE(ResolveImagingEndpoint(list, disk.Key() + ",nothing").Found());
  EXPECT_FALSE(ResolveImagingEndpoint(list, "," + disk.Key()).Found());

  ImagingOutcome whole = Copy(list, ToFile(disk.Key(), dir + "/disk.img"));
  EXPECT_EQ(whole.result, ImagingResult::kDone);
  EXPECT_EQ(whole.text, Ansi("镜像完毕"));
  EXPECT_TRUE(test::ReadFile(dir + "/disk.img") == bytes);

  // A start sector shifts the copy, which still ends at the volume's end.
  for (uint64_t start : {0, 10}) {
    ImagingOutcome part = Copy(list, ToFile(volumeText, dir + "/volume.img", start));
    EXPECT_EQ(part.result, ImagingResult::kDone);
    EXPECT_TRUE(test::ReadFile(dir + "/volume.img") ==
                bytes.substr((fat.start + start) * 512, (fat.sectorCount - start) * 512));
  }

  // An image file as the target disk: written in place at the target sector.
  test::WriteFile(dir + "/target.img", std::string(bytes.size(), '\0'));
  ASSERT_TRUE(AddImageFile(list, dir + "/target.img"));
  EXPECT_EQ(Copy(list, ToDisk(volumeText, list.back().Key(), 7)).result, ImagingResult::kDone);
  const std::string target = test::ReadFile(dir + "/target.img");
  ASSERT_EQ(target.size(), bytes.size());
  EXPECT_TRUE(target.substr(7 * 512, fat.sectorCount * 512) ==
              bytes.substr(fat.start * 512, fat.sectorCount * 512));
  EXPECT_EQ(target.find_first_not_of('\0'),
            target.substr(7 * 512).find_first_not_of('\0') + 7 * 512);

  // 2,049 sectors: one piece and a 512-byte remainder; 1,000 bytes: the
  // remainder alone, its partial last sector kept.
  for (size_t size : {2049 * 512, 1000}) {
    MemorySourceOpener memory;
    std::vector<uint8_t> odd = RandomBytes(size);
    memory.Add("odd.img", odd);
    DiskList held;
    ASSERT_TRUE(AddImageFile(held, "odd.img", memory));
    ImagingCounters counters;
    ProgressRecord progress;
    StepRecorder recorder(progress, counters);
    ImagingOutcome outcome =
        CopyImage(held, ToFile(held.back().Key(), dir + "/odd.img"), progress, &counters, memory);
    EXPECT_EQ(outcome.result, ImagingResult::kDone) << size;
    EXPECT_EQ(test::ReadFile(dir + "/odd.img"), std::string(odd.begin(), odd.end())) << size;
    EXPECT_EQ(recorder.range, size / kImagingPieceBytes);
    EXPECT_EQ(outcome.bytesDone, size);
  }
}

TEST(ImageCopy, UnreadableSectorsAreFilledListedAndNotCounted) {
  // 8 pieces and a 1,000-byte remainder; piece 3 has one bad sector, and
  // more lie scattered, two of them in the remainder (the last one partial).
  const size_t size = 8 * kImagingPieceBytes + 1000;
  const std::vector<uint8_t> bytes = RandomBytes(size);
  const std::string file = test::ScratchDir("image_bad") + "/out.img";
  struct Case {
    std::set<uint64_t> bad;
    std::vector<uint64_t> steps;
  };
  const std::vector<Case> cases = {
      {{3 * 2048 + 5}, {2048, 4096, 6144, 10240, 12288, 14336, 16384}},
      {{0, 2047, 3 * 2048 + 5, 7 * 2048 + 2047, 16384, 16385}, {4096, 6144, 10240, 12288, 14336}},
  };
  for (const Case& c : cases) {
    MemorySourceOpener faulty;
    faulty.Add("bad.img", bytes, c.bad);
    DiskList list;
    ASSERT_TRUE(AddImageFile(list, "bad.img", faulty));
    ImagingCounters counters;
    ProgressRecord progress;
    StepRecorder recorder(progress, counters);
    BusyFlag busy{0};
    ImagingOutcome outcome =
        RunImaging(list, ToFile(list.back().Key(), file), progress, busy, &counters, faulty);
    EXPECT_EQ(outcome.result, ImagingResult::kDone);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(recorder.messages.back(), kProgressClose);
    EXPECT_EQ(recorder.steps, c.steps);
    std::vector<BadSector> expected;
    std::string image(bytes.begin(), bytes.end());
    for (uint64_t sector : c.bad) {
      expected.push_back({static_cast<uint32_t>(expected.size() + 1), sector});
      const size_t at = sector * 512;
      image.replace(at, std::min<size_t>(512, size - at), std::min<size_t>(512, size - at), ' ');
    }
    EXPECT_EQ(outcome.badSectors, expected);
    EXPECT_EQ(counters.badSectors, c.bad.size());
    EXPECT_TRUE(test::ReadFile(file) == image);
  }
  EXPECT_EQ(AnsiToUtf8(BadSectorRowText(1)), "第1个坏扇区");

  // Stopped after the second piece: no "镜像完毕", the bar back at 0.
  MemorySourceOpener memory;
  memory.Add("stop.img", bytes);
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, "stop.img", memory));
  ImagingCounters counters;
  ProgressRecord progress;
  StepRecorder recorder(progress, counters, 2);
  ImagingOutcome stopped =
      CopyImage(list, ToFile(list.back().Key(), file), progress, &counters, memory);
  EXPECT_EQ(stopped.result, ImagingResult::kStopped);
  EXPECT_NE(stopped.text, Ansi("镜像完毕"));
  EXPECT_EQ(stopped.bytesDone, 2 * kImagingPieceBytes);
  EXPECT_EQ(recorder.messages.back(), kProgressSetPos);
}

TEST(ImageCopy, RefusesTargetsThatShareTheSourceAndReportsFailedWrites) {
  const std::string demo = test::FixturePath("demo.img");
  test::UnchangedImage unchanged(demo);
  const std::string dir = test::ScratchDir("image_refusals");
  ASSERT_EQ(::symlink(demo.c_str(), (dir + "/link.img").c_str()), 0);
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, demo));
  ASSERT_TRUE(AddImageFile(list, dir + "/link.img"));
  const std::string key = list[0].Key(), linkKey = list[1].Key();
  const std::string fat = key + "," + list[0].volumes.at(0).name;
  const std::string ntfs = key + "," + list[0].volumes.at(1).name;

  auto refused = [&](const ImagingRequest& r) { return Copy(list, r).result; };
  EXPECT_EQ(refused(ToFile(key, demo)), ImagingResult::kRefused);
  EXPECT_EQ(refused(ToFile(fat, dir + "/link.img")), ImagingResult::kRefused);
  EXPECT_EQ(refused(ToDisk(key, linkKey)), ImagingResult::kRefused);
  EXPECT_EQ(refused(ToDisk(fat, key)), ImagingResult::kRefused);
  // The FAT32 volume does not fit into the NTFS one after it.
  EXPECT_EQ(refused(ToDisk(fat, ntfs)), ImagingResult::kRefused);
  EXPECT_EQ(refused(ToDisk(key, "")), ImagingResult::kRefused);
  EXPECT_EQ(refused(ToFile(fat, dir + "/x.img", list[0].volumes[0].sectorCount)),
            ImagingResult::kRefused);
  EXPECT_FALSE(test::ReadFile(dir + "/x.img").size());

  // A target that cannot be opened or fills up is a failure, not "镜像完毕".
  ImagingOutcome missing = Copy(list, ToFile(fat, dir + "/no/such/folder/x.img"));
  EXPECT_EQ(missing.result, ImagingResult::kFailed);
  ImagingOutcome full = Copy(list, ToFile(fat, "/dev/full"));
  EXPECT_EQ(full.result, ImagingResult::kFailed);
  EXPECT_EQ(full.text, Ansi("目标空间不足，请重新选择目标文件"));

  // The device the root file system is mounted from, when it is one.
  EXPECT_FALSE(HoldsMountedFileSystem(demo));
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, point, word;
    fields >> id >> parent >> majorMinor >> root >> point;
    while (fields >> word && word != "-") {
    }
    std::string type, device;
    if (point != "/" || !(fields >> type >> device) || !LocateStorage(device).blockDevice) continue;
    EXPECT_TRUE(HoldsMountedFileSystem(device)) << device;
  }
}

}  // namespace
}  // namespace brevid
