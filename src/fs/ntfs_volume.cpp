#include "fs/ntfs_volume.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <set>
#include <span>
#include <thread>
#include <vector>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "device/volume_reader.h"
#include "format/boot_probes.h"
#include "format/mft_record.h"
#include "fs/mft_record_reader.h"
#include "fs/ntfs_tree.h"

namespace brevid {
namespace {

// Runs are read sequentially in pieces small enough to stay in the CPU's
// cache while their records are parsed.
constexpr uint64_t kBlockSectors = 512;  // 256 KiB

// Takes the MFT's place and the cluster size from a boot sector; false when
// `sector` is not one. `mirror` gets the sector of $MFTMirr.
bool TakeBootSector(Bytes sector, VolumeInfo& volume, uint32_t sectorSize, uint64_t* mirror) {
  if (!IsNtfsBoot(sector)) return false;
  volume.sectorSize = sectorSize;
  volume.sectorsPerCluster = NtfsSectorsPerCluster(sector);
  volume.mftStart =
      volume.start + uint64_t{volume.sectorsPerCluster} * LoadLe64(sector, boot::kNtfsMftCluster);
  *mirror = AddSat(volume.start,
                   MulSat(volume.sectorsPerCluster, LoadLe64(sector, boot::kNtfsMirrorCluster)));
  volume.indexRecordClusters = LoadLe32(sector, boot::kNtfsIndexClusters);
  return true;
}

// Returns the sector of $MFTMirr, 0 when no boot sector was found.
uint64_t LocateMft(VolumeReader& reader, VolumeInfo& volume) {
  uint64_t mirror = 0;
  std::vector<uint8_t> first = reader.Read(SectorToByte(volume.start), 512);
  if (TakeBootSector(first, volume, 512, &mirror)) return mirror;
  // The backup ends a partition, one sector after what the boot sector
  // counts: a table's count puts it last, a count a scan took from a boot
  // sector puts it one further.
  for (uint64_t back : {uint64_t{1}, uint64_t{0}}) {
    if (volume.sectorCount < back) continue;
    std::vector<uint8_t> last =
        reader.Read(SectorToByte(volume.start + volume.sectorCount - back), 512);
    if (TakeBootSector(last, volume, LoadLe16(last, boot::kBytesPerSector), &mirror)) return mirror;
  }
  volume.sectorSize = 512;
  return 0;
}

// $MFT's runs from the record 0 stored at `sector`: parsed when it passes the
// record test, else decoded from its attributes as long as its first run
// starts where the boot sector puts the MFT (so a damaged header still
// gives them, and garbage does not).
DataRunMap MftRunsFrom(VolumeReader& reader, const VolumeInfo& volume, uint64_t sector) {
  std::vector<uint8_t> record0 = reader.Read(SectorToByte(sector), kMftRecordSize);
  std::vector<uint8_t> raw = record0;
  MftRecordInfo mft;
  if (ParseMftRecord(record0, 0, mft, 0, nullptr) && !mft.runs.empty()) return mft.runs;
  DataRunMap runs = DecodeDataRunsUnchecked(raw);
  uint64_t spc = volume.sectorsPerCluster;
  if (runs.empty() || volume.start + spc * runs.begin()->second.startCluster != volume.mftStart)
    return {};
  return runs;
}

bool HasRecordRunsInside(const DiskInfo& disk, const VolumeInfo& volume) {
  auto it = disk.mftRecordRuns.lower_bound(volume.start);
  return it != disk.mftRecordRuns.end() && it->first < volume.start + volume.sectorCount;
}

// $MFT stopped short of its records: the clusters right behind its only run
// that still hold records are taken as a second run.
void ExtendSingleRun(VolumeReader& reader, VolumeInfo& volume, DataRunMap& runs,
                     ProgressRecord& progress) {
  if (runs.size() != 1) return;
  progress.Send(kProgressStep);
  const DataRun& only = runs.begin()->second;
  uint64_t spc = std::max<uint32_t>(volume.sectorsPerCluster, 1);
  uint64_t next = uint64_t{only.startCluster} + only.length;
  uint64_t end = volume.start + volume.sectorCount;
  uint32_t count = 0;
  for (;; ++count) {
    uint64_t sector = volume.start + spc * (next + count);
    if (sector + 2 > end || next + count > 0xFFFFFFFF) break;
    std::vector<uint8_t> record = reader.Read(SectorToByte(sector), kMftRecordSize);
    if (!CheckMftRecord(record)) break;
  }
  if (count > 0) runs[1] = DataRun{1, static_cast<uint32_t>(next), count};
}

// Where one of $MFT's runs lies and how many of its sectors are read.
struct MftPiece {
  uint64_t start = 0;
  uint64_t sectors = 0;
};

// The blocks of $MFT's runs in order, read by a second thread a few blocks
// ahead of the parse: on a volume of a million records, copying them out of
// the page cache takes about as long as parsing them. The thread has its own
// reader; without one (or without a thread) Next reads the block itself.
class MftReadAhead {
 public:
  MftReadAhead(const DiskInfo& disk, const VolumeInfo& volume, const SourceOpener& opener,
               std::vector<MftPiece> pieces)
      : pieces_(std::move(pieces)), own_(disk, volume, opener), here_(kBlockSectors * 512) {
    for (Slot& slot : slots_) slot.bytes.resize(kBlockSectors * 512);
    if (!own_.Open()) return;
    try {
      thread_ = std::thread([this] { Produce(); });
      threaded_ = true;
    } catch (...) {
    }
  }
  ~MftReadAhead() { Cancel(); }
  MftReadAhead(const MftReadAhead&) = delete;
  MftReadAhead& operator=(const MftReadAhead&) = delete;

  // The block of kBlockSectors sectors at `sector`, valid until the next
  // call; empty when nothing of it could be read. Blocks are asked for in
  // the order of the pieces, each piece up to its first empty block.
  std::span<uint8_t> Next(VolumeReader& reader, uint64_t sector) {
    if (threaded_) {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return produced_ > consumed_ || finished_; });
      if (produced_ > consumed_) {
        Slot& slot = slots_[consumed_ % kAhead];
        ++consumed_;
        free_.notify_one();
        if (slot.sector == sector)
          return slot.got == 0 ? std::span<uint8_t>() : std::span<uint8_t>(slot.bytes);
      }
      // Out of step with the thread: the rest is read here.
      lock.unlock();
      Cancel();
    }
    if (reader.ReadInto(SectorToByte(sector), here_) == 0) return {};
    return here_;
  }

 private:
  static constexpr size_t kAhead = 4;
  struct Slot {
    std::vector<uint8_t> bytes;
    uint64_t sector = 0;
    size_t got = 0;
  };

  void Produce() {
    for (const MftPiece& piece : pieces_) {
      for (uint64_t o = 0; o + 2 <= piece.sectors; o += kBlockSectors) {
        Slot* slot;
        {
          std::unique_lock lock(mutex_);
          // The slot the parse holds stays untouched until it asks again.
          free_.wait(lock, [this] { return cancel_ || produced_ + 1 - consumed_ < kAhead; });
          if (cancel_) return;
          slot = &slots_[produced_ % kAhead];
        }
        slot->sector = piece.start + o;
        slot->got = own_.ReadInto(SectorToByte(slot->sector), slot->bytes);
        std::lock_guard lock(mutex_);
        ++produced_;
        ready_.notify_one();
        if (slot->got == 0) break;
      }
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    ready_.notify_one();
  }

  void Cancel() {
    if (!threaded_) return;
    {
      std::lock_guard lock(mutex_);
      cancel_ = true;
      free_.notify_one();
    }
    thread_.join();
    threaded_ = false;
  }

  const std::vector<MftPiece> pieces_;
  VolumeReader own_;
  std::vector<uint8_t> here_;
  std::array<Slot, kAhead> slots_;
  std::mutex mutex_;
  std::condition_variable ready_, free_;
  uint64_t produced_ = 0, consumed_ = 0;
  bool finished_ = false, cancel_ = false;
  bool threaded_ = false;
  std::thread thread_;
};

}  // namespace

int ScanMft(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
            const SourceOpener& opener) {
  VolumeReader reader(disk, volume, opener);
  if (!reader.Open()) return 0;
  uint64_t mirror = LocateMft(reader, volume);
  if (HasRecordRunsInside(disk, volume)) {
    BuildTreeFromMftHits(progress, disk, volume, opener);
    return 1;
  }

  VolumeTrees& trees = TreesOf(volume);
  trees.mftRuns = MftRunsFrom(reader, volume, volume.mftStart);
  if (trees.mftRuns.empty() && mirror != 0) trees.mftRuns = MftRunsFrom(reader, volume, mirror);
  if (trees.mftRuns.empty()) return 0;
  ExtendSingleRun(reader, volume, trees.mftRuns, progress);

  StartNtfsTree(trees, /*withExtended=*/false);
  uint64_t spc = std::max<uint32_t>(volume.sectorsPerCluster, 1);
  uint64_t totalClusters = 0;
  for (const auto& [index, run] : trees.mftRuns) totalClusters += run.length;
  progress.Send(kProgressSetRange, spc * totalClusters / 2, 1);

  // Only what the source holds is read, whatever the volume claims.
  uint64_t volumeEnd = std::min(AddSat(volume.start, volume.sectorCount), reader.SourceEndSector());
  MftRecordFetcher fetcher = MakeMftRunsFetcher(reader, trees.mftRuns);
  std::set<uint32_t> visited;
  std::vector<MftPiece> pieces;
  for (const auto& [index, run] : trees.mftRuns) {
    uint64_t runStart = volume.start + spc * run.startCluster;
    uint64_t runSectors = spc * run.length;
    // Runs are read only where they lie inside the volume: a damaged run list
    // cannot send the scan across the rest of the disk.
    uint64_t readable = run.startCluster == 0 || runStart >= volumeEnd
                            ? 0
                            : std::min(runSectors, volumeEnd - runStart);
    pieces.push_back({runStart, readable});
  }
  MftReadAhead blocks(disk, volume, opener, pieces);
  uint64_t slotsBefore = 0;
  auto piece = pieces.begin();
  for (const auto& [index, run] : trees.mftRuns) {
    const uint64_t runStart = piece->start, readable = piece->sectors;
    ++piece;
    for (uint64_t o = 0; o + 2 <= readable; o += kBlockSectors) {
      std::span<uint8_t> block = blocks.Next(reader, runStart + o);
      if (block.empty()) break;
      for (uint64_t s = 0; s < kBlockSectors && o + s + 2 <= readable; s += 2) {
        progress.Post(kProgressStep);
        if (progress.StopRequested()) return 0;
        // The parse tests the record and fixes it up in the block; the
        // number and layout fields lie outside what a fix-up changes.
        std::span<uint8_t> stored(block.data() + s * 512, kMftRecordSize);
        uint32_t number = IsOldLayoutRecord(stored)
                              ? static_cast<uint32_t>((o + s) / 2 + slotsBefore)
                              : StoredRecordNumber(stored);
        MftRecordInfo info;
        if (!ParseMftRecord(stored, number, info, 0, &fetcher)) continue;
        info.recordNumber = number;
        // Extension records are parts of their base record, not files.
        if (info.kind == kKindNone || info.baseReference != 0) continue;
        NtfsEntry node = NtfsEntryFromRecord(info);
        if (node.parentNumber == 0 || (node.parentNumber == 5 && number < 12)) continue;
        // A parent read ahead of its turn by a parent chain is in the tree already.
        if (visited.count(number) &&
            FindNtfsEntry(trees, number, node.name, NtfsTimeText(node.createTime)))
          continue;
        PlaceNtfsEntry(trees, std::move(node), &reader, visited);
      }
    }
    slotsBefore += spc * run.length / 2;
  }
  return 1;
}

}  // namespace brevid
