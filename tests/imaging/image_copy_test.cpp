// The imaging copy on fixture images and on memory sources with unreadable
// sectors: what lands in the target, the bad-sector list, the progress
// counter, the stop, and the targets refused before anything is written.
#include "imaging/image_copy.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
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

// Keeps the sectors-done counter at each step; requests a stop at step `stopAt`.
struct StepRecorder final : ProgressTarget {
  StepRecorder(ProgressRecord& p, const ImagingCounters& c, size_t stopAt = 0)
      : progress(p), counters(c), stopAt(stopAt) {
    p.window = this;
  }
  void Send(uint32_t message, uint64_t, uint64_t) override {
    messages.push_back(message);
    if (message == kProgressStep) steps.push_back(counters.sectorsDone);
    if (message == kProgressStep && steps.size() == stopAt) progress.stop = 1;
  }
  void Post(uint32_t m, uint64_t w, uint64_t l) override { Send(m, w, l); }
  ProgressRecord& progress;
  const ImagingCounters& counters;
  size_t stopAt;
  std::vector<uint32_t> messages;
  std::vector<uint64_t> steps;
};

std::string RandomBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7919 >> 5);
  return bytes;
}

// Into `target` as a file, or onto it as a disk when `at` is given.
ImagingRequest Request(const std::string& source, const std::string& target, uint64_t start = 0,
                       std::optional<uint64_t> at = {}) {
  ImagingRequest r;
  r.sourceText = source;
  r.sourceStartSector = start;
  r.toDisk = at.has_value();
  (r.toDisk ? r.targetText : r.targetFile) = target;
  r.targetStartSector = at.value_or(0);
  return r;
}

// Through the task, which must clear the busy flag and close last.
ImagingOutcome Copy(const DiskList& list, const ImagingRequest& request,
                    const SourceOpener& opener = FileSourceOpener(),
                    std::vector<uint64_t>* steps = nullptr) {
  ProgressRecord progress;
  ImagingCounters counters;
  StepRecorder recorder(progress, counters);
  BusyFlag busy{0};
  ImagingOutcome outcome = RunImaging(list, request, progress, busy, &counters, opener);
  EXPECT_EQ(busy, 0);
  EXPECT_EQ(recorder.messages.back(), kProgressClose);
  EXPECT_EQ(counters.badSectors, outcome.badSectors.size());
  if (steps) *steps = recorder.steps;
  return outcome;
}

TEST(ImageCopy, DisksAndVolumesRoundTripToFilesAndDisks) {
  const std::string demo = test::FixturePath("demo.img"), dir = test::ScratchDir("image_trip");
  test::UnchangedImage unchanged(demo);
  const std::string bytes = test::ReadFile(demo);
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, demo));
  const VolumeInfo& fat = list[0].volumes.at(0);
  const std::string key = list[0].Key(), volume = key + "," + fat.name;
  EXPECT_EQ(CountEndpointSectors(list, key), bytes.size() / 512);
  EXPECT_EQ(CountEndpointSectors(list, volume), fat.sectorCount);

  ImagingOutcome whole = Copy(list, Request(key, dir + "/disk.img"));
  EXPECT_EQ(whole.text, Ansi("镜像完毕"));
  EXPECT_TRUE(test::ReadFile(dir + "/disk.img") == bytes);
  // A start sector shifts the copy, which still ends at the volume's end.
  for (uint64_t start : {0, 10}) {
    EXPECT_EQ(Copy(list, Request(volume, dir + "/v.img", start)).result, ImagingResult::kDone);
    EXPECT_TRUE(test::ReadFile(dir + "/v.img") ==
                bytes.substr((fat.start + start) * 512, (fat.sectorCount - start) * 512));
  }
  // An image file as the target disk is written in place at the target sector.
  const std::string zeros(bytes.size(), '\0');
  test::WriteFile(dir + "/target.img", zeros);
  ASSERT_TRUE(AddImageFile(list, dir + "/target.img"));
  EXPECT_EQ(Copy(list, Request(volume, list.back().Key(), 0, 7)).result, ImagingResult::kDone);
  EXPECT_TRUE(test::ReadFile(dir + "/target.img") ==
              zeros.substr(0, 7 * 512) + bytes.substr(fat.start * 512, fat.sectorCount * 512) +
                  zeros.substr((7 + fat.sectorCount) * 512));

  // 2,049 sectors: a piece and a 512-byte remainder; 1,000 bytes: the
  // remainder alone, its partial last sector kept.
  for (size_t size : {2049 * 512, 1000}) {
    const std::string odd = RandomBytes(size);
    MemorySourceOpener memory;
    memory.Add("odd.img", std::vector<uint8_t>(odd.begin(), odd.end()));
    DiskList held;
    ASSERT_TRUE(AddImageFile(held, "odd.img", memory));
    std::vector<uint64_t> steps;
    EXPECT_EQ(Copy(held, Request("odd.img", dir + "/odd.img"), memory, &steps).bytesDone, size);
    EXPECT_TRUE(test::ReadFile(dir + "/odd.img") == odd);
    EXPECT_EQ(steps.size(), size / kImagingPieceBytes);
  }
}

TEST(ImageCopy, UnreadableSectorsAreFilledListedAndNotCounted) {
  // 8 pieces and a 1,000-byte remainder: one bad sector in piece 3, then
  // scattered ones, two in the remainder (the last one partial).
  const size_t size = 8 * kImagingPieceBytes + 1000;
  const std::string bytes = RandomBytes(size), file = test::ScratchDir("image_bad") + "/out.img";
  const std::vector<std::pair<std::set<uint64_t>, std::vector<uint64_t>>> cases = {
      {{3 * 2048 + 5}, {2048, 4096, 6144, 10240, 12288, 14336, 16384}},
      {{0, 2047, 3 * 2048 + 5, 7 * 2048 + 2047, 16384, 16385}, {4096, 6144, 10240, 12288, 14336}},
  };
  for (const auto& [bad, expectedSteps] : cases) {
    MemorySourceOpener faulty;
    faulty.Add("bad.img", std::vector<uint8_t>(bytes.begin(), bytes.end()), bad);
    DiskList list;
    ASSERT_TRUE(AddImageFile(list, "bad.img", faulty));
    std::vector<uint64_t> steps;
    ImagingOutcome outcome = Copy(list, Request("bad.img", file), faulty, &steps);
    EXPECT_EQ(outcome.result, ImagingResult::kDone);
    EXPECT_EQ(steps, expectedSteps);
    std::vector<BadSector> rows;
    std::string image = bytes;
    for (uint64_t sector : bad) {
      rows.push_back({static_cast<uint32_t>(rows.size() + 1), sector});
      const size_t n = std::min<size_t>(512, size - sector * 512);
      image.replace(sector * 512, n, n, ' ');
    }
    EXPECT_EQ(outcome.badSectors, rows);
    EXPECT_TRUE(test::ReadFile(file) == image);
  }
  EXPECT_EQ(AnsiToUtf8(BadSectorRowText(1)), "第1个坏扇区");

  // Stopped after the second piece: no "镜像完毕", the bar back at 0.
  MemorySourceOpener memory;
  memory.Add("stop.img", std::vector<uint8_t>(bytes.begin(), bytes.end()));
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, "stop.img", memory));
  ImagingCounters counters;
  ProgressRecord progress;
  StepRecorder recorder(progress, counters, 2);
  ImagingOutcome stopped = CopyImage(list, Request("stop.img", file), progress, &counters, memory);
  EXPECT_EQ(stopped.result, ImagingResult::kStopped);
  EXPECT_EQ(stopped.bytesDone, 2 * kImagingPieceBytes);
  EXPECT_EQ(recorder.messages.back(), kProgressSetPos);
}

TEST(ImageCopy, RefusesTargetsThatShareTheSourceAndReportsFailedWrites) {
  const std::string demo = test::FixturePath("demo.img"), dir = test::ScratchDir("image_refuse");
  test::UnchangedImage unchanged(demo);
  ASSERT_EQ(::symlink(demo.c_str(), (dir + "/link.img").c_str()), 0);
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, demo));
  ASSERT_TRUE(AddImageFile(list, dir + "/link.img"));
  const std::string key = list[0].Key(), fat = key + "," + list[0].volumes.at(0).name;
  const std::string ntfs = key + "," + list[0].volumes.at(1).name;
  const uint64_t fatSectors = list[0].volumes[0].sectorCount;
  // Onto itself, through a link, onto its own disk, into the (smaller) NTFS
  // volume that follows, with no target, or from past the source's end.
  for (const ImagingRequest& r :
       {Request(key, demo), Request(fat, dir + "/link.img"), Request(key, list[1].Key(), 0, 0),
        Request(fat, key, 0, 0), Request(fat, ntfs, 0, 0), Request(key, "", 0, 0),
        Request(fat, dir + "/x.img", fatSectors)})
    EXPECT_EQ(Copy(list, r).result, ImagingResult::kRefused) << r.targetText << r.targetFile;
  EXPECT_FALSE(PathExists(dir + "/x.img"));

  // A target that cannot be opened or fills up is a failure, not "镜像完毕".
  EXPECT_EQ(Copy(list, Request(fat, dir + "/no/x.img")).result, ImagingResult::kFailed);
  EXPECT_EQ(Copy(list, Request(fat, "/dev/full")).text, Ansi("目标空间不足，请重新选择目标文件"));

  // The device the root file system is mounted from, when it is one.
  EXPECT_FALSE(HoldsMountedFileSystem(demo));
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string skip, point, word, device;
    fields >> skip >> skip >> skip >> skip >> point;
    while (fields >> word && word != "-") {
    }
    if (point == "/" && fields >> skip >> device && LocateStorage(device).blockDevice) {
      EXPECT_TRUE(HoldsMountedFileSystem(device)) << device;
    }
  }
}

// Over a map: either direction finds exactly the bad areas, leaves them
// unwritten, and a finished map given again reads nothing more.
TEST(ImageCopy, RescueOverAMapFindsExactlyTheBadAreasInEitherDirection) {
  const std::string bytes = RandomBytes(5 * 1048576 + 1000), dir = test::ScratchDir("rescue");
  std::set<uint64_t> bad = {0, 1, 2047, 2048, 6000, 10239};
  for (uint64_t s = 4000; s < 4300; ++s) bad.insert(s);
  MemorySourceOpener faulty;
  faulty.Add("bad.img", std::vector<uint8_t>(bytes.begin(), bytes.end()), bad);
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, "bad.img", faulty));
  std::string image = bytes;
  std::vector<BadSector> rows;
  for (uint64_t s : bad) {
    image.replace(s * 512, 512, 512, '\0');
    rows.push_back({static_cast<uint32_t>(rows.size() + 1), s});
  }
  std::string firstMap;
  for (bool reverse : {false, true}) {
    ImagingRequest request = Request("bad.img", dir + "/out.img");
    request.mapFile = dir + (reverse ? "/reverse.map" : "/forward.map");
    request.reverse = reverse;
    request.retries = 1;
    ImagingOutcome outcome = Copy(list, request, faulty);
    EXPECT_EQ(outcome.result, ImagingResult::kDone);
    EXPECT_EQ(outcome.badSectors, rows);
    EXPECT_EQ(outcome.bytesDone, bytes.size() - bad.size() * 512);
    EXPECT_TRUE(test::ReadFile(dir + "/out.img") == image);
    const std::string map = test::ReadFile(request.mapFile);
    if (firstMap.empty()) firstMap = map;
    // The same areas; only the final position tells the directions apart.
    EXPECT_EQ(map.substr(map.find("#      pos")), firstMap.substr(firstMap.find("#      pos")));
    EXPECT_TRUE(Copy(list, request, faulty).resumed);
    EXPECT_TRUE(test::ReadFile(dir + "/out.img") == image);
  }
}

}  // namespace
}  // namespace brevid
