#include "scan/deep_scan.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "common/text.h"
#include "device/volume_reader.h"
#include "format/boot_probes.h"
#include "format/carving.h"
#include "format/exfat_layout.h"
#include "format/fat_boot_sector.h"
#include "format/fat_directory_sector.h"
#include "format/fat_layout.h"
#include "format/file_system_kind.h"
#include "format/mft_record.h"
#include "scan/carved_names.h"
#include "scan/found_volume.h"
#include "scan/partition_search.h"
#include "scan/sector_piece_read.h"

namespace brevid {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kBlockSectors = 20480;  // 10 MiB: the unit of progress and of carving skips
// Sectors are read in pieces small enough to stay in the CPU's cache while
// they are tested, each with the sector after it.
constexpr uint64_t kPieceSectors = 256;
constexpr uint64_t kMftRunGap = 30;            // sectors between records that start a new run
constexpr uint64_t kFat32TableLimit = 0x2800;  // sectors between two FAT32 tables, at most
constexpr uint64_t kFat16TableLimit = 0x190;
constexpr uint64_t kFat16RootSectors = 32;
constexpr uint64_t kBackupBootOffset = 6;
constexpr size_t kMaxPairs = 50;
constexpr uint64_t kMirrorLookAhead = 2;   // record 1 after record 0
constexpr uint64_t kRecordFiveAhead = 10;  // record 5 after record 0

// A volume the table lists, or one a boot sector gave: a boot sector found
// again at its start is the same volume, whatever its type byte says.
bool Listed(const VolumeInfo& v) {
  return v.origin == kOriginPartitionMap || v.origin == kOriginBootSearch;
}

bool IsClusterSize(uint64_t sectors) {
  return sectors != 0 && sectors <= 128 && (sectors & (sectors - 1)) == 0;
}

struct TableEvidence {
  uint64_t first = 0, second = 0, size = 0;
  bool haveFirst = false;
  void Clear() { *this = TableEvidence{}; }
};

// A record 0 named "$MFT" followed by a record named "$MFTMirr".
struct MftFinding {
  uint64_t sector = 0;
  uint32_t mftCluster = 0;
  uint32_t mirrorCluster = 0;
  uint64_t mftClusters = 0;
  bool operator==(const MftFinding& o) const {
    return mftCluster == o.mftCluster && mirrorCluster == o.mirrorCluster &&
           mftClusters == o.mftClusters;
  }
};

class DeepScanner {
 public:
  DeepScanner(DiskInfo& disk, VolumeReader& reader, SourceHandle* labels, uint64_t start,
              uint64_t count)
      : disk_(disk), reader_(reader), labels_(labels), start_(start), count_(count) {}

  void Run(ProgressRecord& progress);
  void RebuildFromSubdirectoryPairs();
  void RebuildNtfs();

 private:
  std::vector<uint8_t> ReadAt(uint64_t sector, uint64_t sectors) {
    std::vector<uint8_t> bytes(sectors * kSector, 0);
    reader_.ReadSectors(sector, bytes);
    return bytes;
  }

  bool Exists(const std::function<bool(const VolumeInfo&)>& same) const {
    return std::any_of(disk_.volumes.begin(), disk_.volumes.end(), same);
  }

  VolumeInfo& Append(uint64_t start, uint64_t count, FsType type, uint32_t origin, bool label) {
    return AppendFoundVolume(disk_, start, count, type, origin, label ? labels_ : nullptr);
  }

  bool NtfsVolumeAt(uint64_t start, Bytes boot) {
    std::vector<uint8_t> record = ReadAt(AddSat(start, NtfsMftOffset(boot)), 2);
    return CheckMftRecord(record);
  }

  // The sector under test is `s`, the one after it `next`; returns how many
  // further sectors to skip.
  uint64_t TestSector(uint64_t sector, Bytes two, uint64_t blockEnd);
  bool BootSectorTests(uint64_t sector, Bytes s);
  bool LargeSectorTests(uint64_t sector, Bytes s);
  void MftRecordTest(uint64_t sector, Bytes s);
  void FatTests(uint64_t sector, Bytes s);
  void RebuildFat32(uint64_t sector, Bytes s);
  void RebuildFat16(uint64_t sector, Bytes s);

  DiskInfo& disk_;
  VolumeReader& reader_;
  SourceHandle* labels_;
  uint64_t start_, count_;
  TableEvidence fat32_, fat16_;
  std::vector<MftFinding> withRecordFive_, withoutRecordFive_;
  std::map<uint64_t, uint32_t> subdirectoryStarts_;
  CarveMemory carveMemory_;
  uint64_t carvedUntil_ = 0;
};

void DeepScanner::Run(ProgressRecord& progress) {
  // A range claimed by a table or boot sector is scanned only as far as the
  // source holds it.
  const uint64_t end = std::min(AddSat(start_, count_), reader_.SourceEndSector());
  const uint64_t held = end > start_ ? end - start_ : 0;
  // The last, partial block is scanned too: a range under 10 MiB has nothing else.
  const uint64_t blocks = (held + kBlockSectors - 1) / kBlockSectors;
  progress.Send(kProgressSetRange, blocks, 1);
  disk_.unreadableSectors = 0;
  // A scan of this range stopped before goes on at the first sector it had
  // not tested (its evidence of FAT and $MFT positions is not kept).
  uint64_t resumeAt = start_;
  const ScanResume& resume = disk_.resume;
  if (resume.kind == kResumeDeepScan && resume.rangeStart == start_ &&
      resume.rangeCount == count_ && resume.nextSector > start_ && end > start_)
    resumeAt = std::min(resume.nextSector, end);
  std::vector<uint8_t> piece((kPieceSectors + 1) * kSector);
  uint64_t skip = 0;
  for (uint64_t k = (resumeAt - start_) / kBlockSectors; k < blocks; ++k) {
    progress.Send(kProgressSetPos, k);
    const uint64_t blockStart = start_ + k * kBlockSectors;
    const uint64_t blockEnd = std::min(end, blockStart + kBlockSectors);
    skip = 0;  // a carved file is not skipped into the next block
    for (uint64_t first = std::max(blockStart, resumeAt); first < blockEnd;
         first += kPieceSectors) {
      if (progress.StopRequested()) {
        disk_.resume = {kResumeDeepScan, start_, count_, first};
        return;
      }
      const uint64_t sectors = std::min(kPieceSectors, blockEnd - first);
      // Each piece with the sector after it, so a test may look one ahead.
      const uint64_t withNext = std::min(sectors + 1, end - first);
      // What is not read reads as zeros (the reader clears it, the rest here).
      disk_.unreadableSectors += ReadPieceAroundErrors(
          [&](uint64_t at, std::span<uint8_t> buffer) {
            return reader_.ReadSectorsOnce(at, buffer);
          },
          first, std::span<uint8_t>(piece.data(), withNext * kSector), sectors);
      std::fill(piece.begin() + static_cast<long>(withNext * kSector), piece.end(), 0);
      for (uint64_t i = 0; i < sectors; ++i) {
        if (skip > 0) {
          --skip;
          continue;
        }
        skip = TestSector(first + i, Bytes(piece).subspan(i * kSector, 2 * kSector), blockEnd);
      }
    }
  }
  progress.Send(kProgressSetPos, blocks);
  if (disk_.resume.kind == kResumeDeepScan) disk_.resume = {};
}

uint64_t DeepScanner::TestSector(uint64_t sector, Bytes two, uint64_t blockEnd) {
  Bytes s = two.first(kSector);
  if (LoadLe16(s, boot::kSignature) == boot::kSignatureValue && BootSectorTests(sector, s))
    return 0;
  // The record test fixes up a copy; only records are copied.
  std::array<uint8_t, 2 * kSector> record;
  bool isRecord = s[0] == 'F' && (BytesEqual(s, 0, "FILE") || BytesEqual(s, 0, "FHLD")) &&
                  (std::copy(two.begin(), two.end(), record.begin()), CheckMftRecord(record));
  if (isRecord) {
    MftRecordTest(sector, record);
  } else if (fat::IsFat32TableStart(s)) {
    if (!fat32_.haveFirst) {
      fat32_.first = sector, fat32_.haveFirst = true;
    } else {
      fat32_.second = sector, fat32_.size = sector - fat32_.first;
      // Two FATs lie close together; a table start far away is another volume's.
      if (fat32_.size > kFat32TableLimit) fat32_.second = 0, fat32_.size = 0;
      fat16_.Clear();
    }
  } else if (sector >= carvedUntil_) {
    const uint64_t sourceEnd = std::min(start_ + count_, reader_.SourceEndSector());
    const uint64_t limit = sourceEnd > sector ? (sourceEnd - sector) * kSector : 0;
    CarveResult carved = CarveFile(
        two, sector,
        [&](uint64_t offset, std::span<uint8_t> buffer) {
          std::fill(buffer.begin(), buffer.end(), 0);
          // The source ends where the scanned range ends.
          uint64_t at = sector + offset / kSector;
          if (at >= start_ + count_) return size_t{0};
          uint64_t room = (start_ + count_ - sector) * kSector - offset;
          size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), room));
          size_t got = reader_.ReadInto(SectorToByte(sector) + offset, buffer.first(want));
          return std::min(got, want);
        },
        limit, &carveMemory_);
    if (carved.recorded)
      disk_.extraFound.children.emplace(
          sector, CarvedFile{0, static_cast<uint32_t>(carved.size), carved.name, {}});
    if (carved.size > 0) {
      // No file starts again inside one already recorded, in this block or a later one.
      carvedUntil_ = sector + (carved.size + kSector - 1) / kSector;
      uint64_t covered = (carved.size + kSector - 1) / kSector;
      return std::min(covered - 1, blockEnd - sector - 1);
    }
  }
  if (HoldsExfatFileSet(two, kSector)) disk_.dirClusterSectors.insert(sector);
  FatTests(sector, s);
  return 0;
}

// Boot sectors: true when `s` passed a boot-sector test (found or not).
bool DeepScanner::BootSectorTests(uint64_t sector, Bytes s) {
  if (LargeSectorTests(sector, s)) return true;
  if (IsNtfsBoot(s)) {
    uint64_t count = NtfsSectorCount(s);
    std::optional<uint64_t> start;
    if (NtfsVolumeAt(sector, s)) {
      start = sector;
    } else if (sector >= count && NtfsVolumeAt(sector - count, s)) {
      start = sector - count;
    }
    if (start && !Exists([&](const VolumeInfo& v) {
          return Listed(v) && v.start == *start && IsNtfsType(v.fsType);
        }))
      Append(*start, count, kFsNtfs, kOriginBootSearch, true);
    return true;
  }
  if (IsFat32Boot(s)) {
    uint64_t hidden = LoadLe32(s, boot::kHiddenSectors);
    uint64_t start = sector == hidden || sector == hidden + kBackupBootOffset ? hidden : sector;
    std::vector<uint8_t> fat = ReadAt(start + ParseFatBootSector(s).reservedSectors, 1);
    if (fat::IsFat32TableStart(fat) && !Exists([&](const VolumeInfo& v) {
          return Listed(v) &&
                 (v.start == start || v.start + kBackupBootOffset == start ||
                  start + kBackupBootOffset == v.start) &&
                 IsFat32Type(v.fsType);
        }))
      Append(start, Fat32SectorCount(s), kFsFat32Lba, kOriginBootSearch, true);
    return true;
  }
  if (IsFat16Boot(s)) {
    if (!Exists([&](const VolumeInfo& v) {
          return Listed(v) && v.start == sector && IsFat16Type(v.fsType);
        }))
      Append(sector, Fat16SectorCount(s), kFsFat16, kOriginBootSearch, true);
    return true;
  }
  if (IsExfatBoot(s)) {
    auto read = [&](uint64_t at) { return ReadAt(at, 1); };
    std::optional<uint64_t> start = ExfatVolumeStart(sector, s, read);
    if (start && !Exists([&](const VolumeInfo& v) {
          return Listed(v) && v.start == *start && v.fsType == kFsExfat;
        }))
      Append(*start, ExfatSectorCount(s), kFsExfat, kOriginBootSearch, true);
    return true;
  }
  return false;
}

// A volume of 4096-byte sectors starts on a 4 KiB boundary; its counts and
// positions are scaled to 512-byte sectors. True when `s` is its boot sector.
bool DeepScanner::LargeSectorTests(uint64_t sector, Bytes s) {
  std::array<uint8_t, 512> boot;
  if (sector % kLargeSectorScale != 0 || !LargeSectorBoot(s, boot)) return false;
  constexpr uint64_t k = kLargeSectorScale;
  std::optional<uint64_t> start;
  uint64_t count = 0;
  FsType type = kFsNtfs;
  if (IsNtfsBoot(boot)) {
    count = MulSat(NtfsSectorCount(boot), k);
    const uint64_t mft = MulSat(NtfsMftOffset(boot), k);
    auto recordAt = [&](uint64_t at) {
      std::vector<uint8_t> record = ReadAt(at, 2);
      return CheckMftRecord(record);
    };
    if (recordAt(AddSat(sector, mft))) {
      start = sector;
    } else if (sector >= count && recordAt(AddSat(sector - count, mft))) {
      start = sector - count;
    }
  } else {
    type = kFsFat32Lba;
    count = MulSat(Fat32SectorCount(boot), k);
    const uint64_t hidden = MulSat(LoadLe32(boot, boot::kHiddenSectors), k);
    const uint64_t at =
        sector == hidden || sector == AddSat(hidden, kBackupBootOffset * k) ? hidden : sector;
    const uint64_t table = AddSat(at, ParseFatBootSector(boot).reservedSectors * k);
    if (fat::IsFat32TableStart(ReadAt(table, 1))) start = at;
  }
  if (start && !Exists([&](const VolumeInfo& v) {
        return Listed(v) && v.start == *start && SameFileSystem(v.fsType, type);
      }))
    Append(*start, count, type, kOriginBootSearch, true).sectorSize = kSector * k;
  return true;
}

void DeepScanner::MftRecordTest(uint64_t sector, Bytes record) {
  auto& runs = disk_.mftRecordRuns;
  // A run covers its last record too: its length reaches past it.
  if (runs.empty() || sector - (runs.rbegin()->first + runs.rbegin()->second) >= kMftRunGap ||
      sector < runs.rbegin()->first) {
    runs.emplace(sector, 2);
  } else {
    runs.rbegin()->second = static_cast<uint32_t>(sector + 2 - runs.rbegin()->first);
  }
  if (StoredRecordNumber(record) != 0) return;
  MftSummary mft;
  if (!SummarizeMftRecord(record, mft) || mft.name != "$MFT") return;
  std::vector<uint8_t> mirror = ReadAt(sector + kMirrorLookAhead, 2);
  MftSummary mirrorSummary;
  if (!CheckMftRecord(mirror) || !SummarizeMftRecord(mirror, mirrorSummary) ||
      mirrorSummary.name != "$MFTMirr")
    return;
  std::vector<uint8_t> recordFive = ReadAt(sector + kRecordFiveAhead, 2);
  MftFinding finding{sector, mft.firstCluster, mirrorSummary.firstCluster, mft.totalClusters};
  (CheckMftRecord(recordFive) ? withRecordFive_ : withoutRecordFive_).push_back(finding);
}

void DeepScanner::FatTests(uint64_t sector, Bytes s) {
  if (fat::IsFat16TableStart(s)) {
    if (!fat16_.haveFirst) {
      fat16_.first = sector, fat16_.haveFirst = true;
    } else {
      fat16_.second = sector, fat16_.size = sector - fat16_.first;
      if (fat16_.size > kFat16TableLimit) {
        fat16_.Clear();
      } else {
        fat32_.Clear();
      }
    }
    return;
  }
  if (IsDirectorySector(s)) disk_.dirClusterSectors.insert(sector);
  if (IsSubdirectoryStart(s)) subdirectoryStarts_.emplace(sector, fat::FirstCluster(s));
  RebuildFat32(sector, s);
  RebuildFat16(sector, s);
}

bool IsDotEntries(Bytes s) {
  return s[0] == '.' && BytesEqual(s, 0, ".   ") && BytesEqual(s, fat::kDotDot, "..  ") &&
         LoadLe32(s, fat::kSize) == 0 && LoadLe32(s, fat::kDotDot + fat::kSize) == 0;
}

void DeepScanner::RebuildFat32(uint64_t sector, Bytes s) {
  if (!IsDotEntries(s) || fat32_.size == 0 || sector <= fat32_.second + fat32_.size + 1) return;
  if (fat32_.first < 2) return;
  const uint64_t start = fat32_.first - 2;
  const uint32_t cluster = fat::FirstCluster(s);
  uint64_t perCluster = 8, base = 0;
  if (cluster >= 3) {
    perCluster = (sector - fat32_.first - 2 * fat32_.size) / (cluster - 2);
    base = sector - std::min(sector, perCluster * cluster);
  }
  if (!IsClusterSize(perCluster)) return;
  if (!Exists([&](const VolumeInfo& v) { return v.start == start && IsFat32Type(v.fsType); })) {
    VolumeInfo& v =
        Append(start, count_ > start ? count_ - start : 0, kFsFat32Lba, kOriginRebuilt, false);
    v.sectorsPerCluster = static_cast<uint32_t>(perCluster);
    v.clusterBase = base;
    v.fatSectors = static_cast<uint32_t>(fat32_.size);
  }
  fat32_.Clear();
}

void DeepScanner::RebuildFat16(uint64_t sector, Bytes s) {
  if (!IsDotEntries(s) || fat16_.size == 0 ||
      sector <= fat16_.second + fat16_.size + kFat16RootSectors + 1)
    return;
  if (fat16_.first < kBackupBootOffset) return;
  const uint64_t start = fat16_.first - kBackupBootOffset;
  const uint32_t cluster = fat::FirstCluster(s);
  uint64_t perCluster = 8, base = 0;
  if (cluster >= 3) {
    perCluster = (sector - fat16_.first - 2 * fat16_.size - kFat16RootSectors) / (cluster - 2);
    base = sector - std::min(sector, perCluster * cluster);
  }
  if (!IsClusterSize(perCluster)) return;
  const uint64_t tableSize = fat16_.size;
  fat16_.Clear();
  if (Exists([&](const VolumeInfo& v) { return v.start == start && IsFat16Type(v.fsType); }))
    return;
  VolumeInfo& v =
      Append(start, count_ > start ? count_ - start : 0, kFsFat16, kOriginRebuilt, false);
  v.sectorsPerCluster = static_cast<uint32_t>(perCluster);
  v.clusterBase = base;
  v.fatSectors = static_cast<uint32_t>(tableSize);
}

void DeepScanner::RebuildFromSubdirectoryPairs() {
  const uint64_t diskSectors = disk_.sizeBytes / kSector;
  for (auto t = subdirectoryStarts_.begin(); t != subdirectoryStarts_.end(); ++t) {
    auto u = std::next(t);
    for (size_t n = 0; n < kMaxPairs && u != subdirectoryStarts_.end(); ++n, ++u) {
      // Two folders naming the same cluster say nothing of the cluster size.
      if (u->second <= t->second) continue;
      const uint64_t perCluster = (u->first - t->first) / (u->second - t->second);
      if (!IsClusterSize(perCluster)) continue;
      if (perCluster * u->second > u->first || perCluster * t->second > t->first) continue;
      const uint64_t origin = u->first - perCluster * u->second;
      if (t->first - perCluster * t->second != origin) continue;
      if (origin > diskSectors || origin > count_) continue;
      const uint64_t count = count_ - origin;
      auto propose = [&](FsType type, uint64_t entryBytes) {
        if (Exists([&](const VolumeInfo& v) {
              return v.start == origin &&
                     (type == kFsFat16 ? IsFat16Type(v.fsType) : IsFat32Type(v.fsType));
            }))
          return;
        VolumeInfo& v = Append(origin, count, type, kOriginRebuilt, false);
        v.sectorsPerCluster = static_cast<uint32_t>(perCluster);
        v.clusterBase = origin;
        v.fatSectors = static_cast<uint32_t>(
            std::min<uint64_t>(count / perCluster * entryBytes / kSector, UINT32_MAX));
      };
      if (t->second < 0x10000 && u->second < 0x10000) propose(kFsFat16, 2);
      propose(kFsFat32Lba, 4);
    }
  }
}

// The $MFT lies at start + spc x its first cluster and its mirror at start +
// spc x the mirror's: two equations give the cluster size and the start.
void DeepScanner::RebuildNtfs() {
  for (const MftFinding& mft : withRecordFive_) {
    for (const MftFinding& mirror : withoutRecordFive_) {
      if (!(mft == mirror) || mft.mftCluster == mft.mirrorCluster || mft.mftCluster == 0) continue;
      const int64_t sectors =
          static_cast<int64_t>(mirror.sector) - static_cast<int64_t>(mft.sector);
      const int64_t clusters =
          static_cast<int64_t>(mft.mirrorCluster) - static_cast<int64_t>(mft.mftCluster);
      if (sectors % clusters != 0) continue;
      const int64_t perCluster = sectors / clusters;
      if (perCluster <= 0 || perCluster > 4096 || (perCluster & (perCluster - 1)) != 0) continue;
      const uint64_t offset = static_cast<uint64_t>(perCluster) * mft.mftCluster;
      if (offset > mft.sector) continue;
      const uint64_t start = mft.sector - offset;
      if (start > count_) continue;
      if (Exists([&](const VolumeInfo& v) { return v.start == start && IsNtfsType(v.fsType); }))
        continue;
      VolumeInfo& v = Append(start, count_ - start, kFsNtfs, kOriginRebuilt, false);
      v.sectorsPerCluster = static_cast<uint32_t>(perCluster);
      v.mftStart = mft.sector;
    }
  }
}

}  // namespace

int DeepScan(DiskInfo& disk, ProgressRecord& progress, uint64_t start, uint64_t count,
             const VolumeInfo* volume, const SourceOpener& opener) {
  VolumeInfo whole;
  whole.sectorCount = disk.sizeBytes / kSector;
  const VolumeInfo& range = volume != nullptr ? *volume : whole;
  VolumeReader reader(disk, range, opener);
  if (!reader.Open()) return 0;
  // Labels are read from the disk itself, which a multi-member range has not.
  SourceHandle labels = opener.Open(disk.path);
  disk.extraFound.name = "Extra Found Files";
  disk.extraFound.tickState = 0;
  DeepScanner scanner(disk, reader, labels.IsOpen() ? &labels : nullptr, start, count);
  scanner.Run(progress);
  scanner.RebuildFromSubdirectoryPairs();
  scanner.RebuildNtfs();
  NameCarvedFiles(disk, reader);
  return 1;
}

DeepScanCounts CountFindings(const DiskInfo& disk) {
  DeepScanCounts counts;
  counts.volumes = static_cast<size_t>(CountFoundVolumes(disk));
  counts.mftRuns = disk.mftRecordRuns.size();
  counts.directorySectors = disk.dirClusterSectors.size();
  counts.carvedFiles = disk.extraFound.children.size();
  return counts;
}

}  // namespace brevid
