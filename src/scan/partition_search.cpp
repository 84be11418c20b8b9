#include "scan/partition_search.h"

#include <algorithm>
#include <set>
#include <vector>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "common/text.h"
#include "format/boot_probes.h"
#include "format/fat_boot_sector.h"
#include "format/fat_layout.h"
#include "format/file_system_kind.h"
#include "format/mft_record.h"
#include "scan/found_volume.h"
#include "scan/sector_piece_read.h"

namespace brevid {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kWindowSectors = 4096;          // the pre-passes' 2 MiB windows
constexpr uint64_t kChunkSectors = 20480;          // the precise scan's 10 MiB chunks
constexpr uint64_t kQuickProbeSectors = 8;         // one probe and the sectors around it
constexpr uint64_t kMftProbeOffset = 0x600000;     // sectors: $MFT 3 GiB into a volume
constexpr uint64_t kMftProbeBases[] = {63, 2048};  // the usual first sectors of a disk
constexpr uint64_t kSecondAlignedStart = 2048;     // the 1 MiB-aligned first partition
constexpr uint64_t kBackupBootOffset = 6;          // FAT32 backup boot sector
constexpr uint32_t kBitmapRecord = 6;
constexpr uint32_t kDataAttribute = 0x80;
// Chains come from sector contents: a damaged or hostile disk could make
// them as long as it has sectors. Real disks have a few dozen volumes.
constexpr int kMaxChainWindows = 256;
constexpr int kMaxChainDepth = 32;

enum class DuplicateRule { kSameClass, kSameType };

class Search {
 public:
  Search(DiskInfo& disk, SourceHandle& handle) : disk_(disk), handle_(handle) {
    // A size recorded for the disk may be larger than what the source holds.
    uint64_t bytes = handle.Size() != 0 ? std::min(disk.sizeBytes, handle.Size()) : disk.sizeBytes;
    diskSectors_ = bytes / kSector;
  }

  std::vector<uint8_t> Read(uint64_t sector, uint64_t sectors) {
    return ReadBytes(handle_, SectorToByte(sector), static_cast<size_t>(sectors * kSector));
  }

  // The MFT-record test on the record at `sector`.
  bool MftRecordAt(uint64_t sector) {
    std::vector<uint8_t> record = Read(sector, 2);
    return CheckMftRecord(record);
  }

  // NTFS boot sector `boot` at `start`: its $MFT's first record checks out.
  bool NtfsVolumeAt(uint64_t start, Bytes boot) {
    return MftRecordAt(AddSat(start, NtfsMftOffset(boot)));
  }

  // Appends the find unless the list holds the same volume; true when added.
  bool Record(uint64_t start, uint64_t sectorCount, FsType type, uint8_t entryKind, uint32_t origin,
              DuplicateRule rule, uint32_t sectorSize = kSector) {
    for (const VolumeInfo& v : disk_.volumes) {
      bool sameType =
          rule == DuplicateRule::kSameType ? v.fsType == type : SameFileSystem(v.fsType, type);
      if (v.start == start && sameType) return false;
    }
    AppendFoundVolume(disk_, start, sectorCount, type, origin, &handle_, entryKind).sectorSize =
        sectorSize;
    return true;
  }

  void ForwardChain(uint64_t windowStart, int depth);
  void BackwardChain(uint64_t windowEnd, int depth);
  void MftLocationProbe();
  int Quick(ProgressRecord& progress);
  int Precise(ProgressRecord& progress);

 private:
  bool TakeWindow() { return windows_++ < kMaxChainWindows; }

  // The precise scan's tests of one sector.
  void TestSector(uint64_t sector, Bytes s);
  bool TestLargeSector(uint64_t sector, Bytes s);
  void TestProbe(uint64_t probe, Bytes buffer, size_t index, uint8_t kind, bool afterCylinderZero);

  DiskInfo& disk_;
  SourceHandle& handle_;
  uint64_t diskSectors_ = 0;
  int windows_ = 0;
};

void Search::ForwardChain(uint64_t windowStart, int depth) {
  // A disk under 2 MiB has no window to read.
  if (diskSectors_ < kWindowSectors || windowStart >= diskSectors_ - kWindowSectors) return;
  if (depth > kMaxChainDepth || !TakeWindow()) return;
  std::vector<uint8_t> window = Read(windowStart, kWindowSectors);
  for (uint64_t i = 0; i < kWindowSectors; ++i) {
    Bytes s = Bytes(window).subspan(i * kSector, kSector);
    const uint64_t start = windowStart + i;
    if (IsNtfsBoot(s) && NtfsSectorCount(s) != 0) {
      uint64_t count = NtfsSectorCount(s);
      if (NtfsVolumeAt(start, s))
        Record(start, count, kFsNtfs, 1, kOriginBootSearch, DuplicateRule::kSameClass);
      // The backup boot sector follows the last sector the count covers.
      ForwardChain(AddSat(AddSat(start, count), 1), depth + 1);
    } else if (IsFat32Boot(s) && Fat32SectorCount(s) != 0) {
      uint64_t count = Fat32SectorCount(s);
      std::vector<uint8_t> fat = Read(start + ParseFatBootSector(s).reservedSectors, 1);
      if (fat::IsFat32TableStart(fat))
        Record(start, count, kFsFat32Lba, 1, kOriginBootSearch, DuplicateRule::kSameClass);
      ForwardChain(AddSat(start, count), depth + 1);
    } else if (IsFat16Boot(s) && Fat16SectorCount(s) != 0) {
      uint64_t count = Fat16SectorCount(s);
      std::vector<uint8_t> fat = Read(start + ParseFatBootSector(s).reservedSectors, 1);
      if (fat::IsFat16TableStart(fat))
        Record(start, count, kFsFat16, 1, kOriginBootSearch, DuplicateRule::kSameClass);
      ForwardChain(AddSat(start, count), depth + 1);
    } else if (IsExfatBoot(s) && ExfatSectorCount(s) != 0) {
      // The main boot sector or, when that is gone, its backup 12 sectors on.
      uint64_t count = ExfatSectorCount(s);
      auto read = [&](uint64_t at) { return Read(at, 1); };
      std::optional<uint64_t> volumeStart = ExfatVolumeStart(start, s, read);
      // A backup whose main boot sector stands was dealt with at the main one.
      if (volumeStart && *volumeStart != start && IsExfatBoot(Read(*volumeStart, 1))) continue;
      if (volumeStart)
        Record(*volumeStart, count, kFsExfat, 1, kOriginBootSearch, DuplicateRule::kSameClass);
      ForwardChain(AddSat(volumeStart.value_or(start), count), depth + 1);
    }
  }
}

void Search::BackwardChain(uint64_t windowEnd, int depth) {
  constexpr uint64_t kFirstTrack = 63;
  if (windowEnd <= kFirstTrack || depth > kMaxChainDepth || !TakeWindow()) return;
  const uint64_t windowStart = windowEnd > kWindowSectors ? windowEnd - kWindowSectors : 0;
  std::vector<uint8_t> window = Read(windowStart, windowEnd - windowStart);
  for (uint64_t sector = windowStart; sector < windowEnd; ++sector) {
    Bytes s = Bytes(window).subspan((sector - windowStart) * kSector, kSector);
    if (!IsNtfsBoot(s)) continue;
    // A count beyond the sector itself would put the start before the disk.
    uint64_t count = NtfsSectorCount(s);
    if (count > sector) continue;
    const uint64_t start = sector - count;
    std::vector<uint8_t> boot = Read(start, 1);
    if (!IsNtfsBoot(boot) || !NtfsVolumeAt(start, boot)) continue;
    Record(start, NtfsSectorCount(boot), kFsNtfs, 1, kOriginBootSearch, DuplicateRule::kSameClass);
    if (start < windowEnd) BackwardChain(start, depth + 1);
  }
}

void Search::MftLocationProbe() {
  uint64_t position = 0;
  for (int round = 0; round < kMaxChainWindows; ++round) {
    bool found = false;
    for (uint64_t base : kMftProbeBases) {
      uint64_t sector = AddSat(AddSat(position, kMftProbeOffset), base);
      std::vector<uint8_t> record = Read(sector, 2);
      if (!CheckMftRecord(record)) continue;
      // Step back from whichever record this is to record 0.
      uint64_t back = uint64_t{StoredRecordNumber(record)} * RecordAllocatedSize(record);
      uint64_t recordByte = SectorToByte(sector);
      if (back != 0) {
        if (back > recordByte) continue;
        recordByte -= back;
        record = ReadBytes(handle_, recordByte, kMftRecordSize);
        if (!CheckMftRecord(record)) continue;
      }
      std::vector<uint8_t> bitmap = ReadBytes(
          handle_,
          AddSat(recordByte, AddSat(kMftRecordSize, MulSat(5, RecordAllocatedSize(record)))),
          kMftRecordSize);
      if (!CheckMftRecord(bitmap) || StoredRecordNumber(bitmap) != kBitmapRecord) continue;
      MftRecordInfo mft, bits;
      std::vector<AttributeRef> attributes;
      ListAttributes(record, attributes);
      auto data = std::find_if(attributes.begin(), attributes.end(),
                               [](const AttributeRef& a) { return a.type == kDataAttribute; });
      if (data == attributes.end()) continue;
      DecodeDataAttribute(Bytes(record).subspan(data->offset), mft);
      if (mft.runs.empty() || mft.runs.begin()->second.startCluster == 0) continue;
      ListAttributes(bitmap, attributes);
      data = std::find_if(attributes.begin(), attributes.end(),
                          [](const AttributeRef& a) { return a.type == kDataAttribute; });
      if (data == attributes.end()) continue;
      DecodeDataAttribute(Bytes(bitmap).subspan(data->offset), bits);
      // A cluster is 1 to 255 sectors here; anything else is not a volume.
      uint64_t sectorsPerCluster = kMftProbeOffset / mft.runs.begin()->second.startCluster;
      if (sectorsPerCluster == 0 || sectorsPerCluster > 255) continue;
      uint64_t recordSector = recordByte / kSector;
      if (recordSector < kMftProbeOffset) continue;
      uint64_t start = recordSector - kMftProbeOffset;
      uint64_t count = MulSat(sectorsPerCluster * 8, bits.size);
      Record(start, count, kFsNtfs, 1, kOriginRebuilt, DuplicateRule::kSameClass);
      uint64_t next = AddSat(start, count);
      if (next <= position) return;
      position = next;
      found = true;
      break;
    }
    if (!found) return;
  }
}

// Tests the probe sector at `index` of `buffer` (which holds the sector
// before it, unless the probe is on cylinder 0, and the six after it).
void Search::TestProbe(uint64_t probe, Bytes buffer, size_t index, uint8_t kind,
                       bool afterCylinderZero) {
  Bytes s = SubBytes(buffer, index * kSector, kSector);
  if (TestLargeSector(probe, s)) return;
  Bytes backup = SubBytes(buffer, (index + kBackupBootOffset) * kSector, kSector);
  FsType type = kFsNone;
  uint64_t count = 0;
  if (IsNtfsBoot(s) && NtfsVolumeAt(probe, s)) {
    type = kFsNtfs, count = NtfsSectorCount(s);
  } else if (IsFat32Boot(s)) {
    type = kFsFat32Lba, count = Fat32SectorCount(s);
  } else if (IsFat32Boot(backup)) {
    // The primary boot sector is damaged: its count may be too, so the
    // backup's is taken.
    type = kFsFat32Lba, count = Fat32SectorCount(backup);
  } else if (IsFat16Boot(s)) {
    type = kFsFat16, count = Fat16SectorCount(s);
  } else {
    return;
  }
  if (afterCylinderZero && index == 1) {
    // The sector before the probe may be the backup boot sector of an NTFS
    // volume that ends there.
    Bytes before = SubBytes(buffer, 0, kSector);
    uint64_t previousCount = NtfsSectorCount(before);
    if (IsNtfsBoot(before) && probe > AddSat(previousCount, 1)) {
      uint64_t previousStart = probe - 1 - previousCount;
      if (NtfsVolumeAt(previousStart, before) && !disk_.volumes.empty() &&
          disk_.volumes.back().start != previousStart) {
        AppendFoundVolume(disk_, previousStart, previousCount, kFsNtfs, kOriginBootSearch,
                          &handle_);
      }
    }
  }
  Record(probe, count, type, kind, kOriginBootSearch, DuplicateRule::kSameType);
}

int Search::Quick(ProgressRecord& progress) {
  const uint64_t heads = disk_.heads & 0xFF;
  const uint64_t perTrack = disk_.sectorsPerTrack;
  // A geometry of 0 heads or sectors describes no cylinder to probe.
  const uint64_t cylinders = heads == 0 || perTrack == 0 ? 0 : diskSectors_ / heads / perTrack;
  disk_.cylinders = static_cast<uint32_t>(std::min<uint64_t>(cylinders, UINT32_MAX));
  progress.Send(kProgressSetRange, cylinders, 1);
  if (cylinders == 0) return 1;
  // Cylinder 0: its first sector and the first after one track, then, in a
  // round of its own, the 1 MiB-aligned start. Every find there is primary.
  for (uint64_t probe : {uint64_t{0}, uint64_t{63}, kSecondAlignedStart}) {
    if (probe != 63) {
      progress.Send(kProgressStep);
      if (progress.StopRequested()) return 1;
    }
    if (probe >= diskSectors_) continue;
    std::vector<uint8_t> buffer = Read(probe, kQuickProbeSectors);
    TestProbe(probe, buffer, 0, 1, false);
  }
  // Volumes of 1 MiB-aligned layouts are probed at every 1 MiB boundary, in
  // sector order with the cylinder starts around them.
  uint64_t aligned = 2 * kSecondAlignedStart;
  auto probeAlignedBefore = [&](uint64_t end) {
    for (; aligned < end && aligned < diskSectors_; aligned += kSecondAlignedStart) {
      std::vector<uint8_t> buffer = Read(aligned - 1, kQuickProbeSectors);
      TestProbe(aligned, buffer, 1, 1, true);
    }
  };
  for (uint64_t c = 1; c < cylinders; ++c) {
    progress.Send(kProgressStep);
    if (progress.StopRequested()) return 1;
    for (uint64_t h = 0; h < 2; ++h) {
      uint64_t probe = c * heads * perTrack + h * 63;
      if (probe >= diskSectors_) break;
      probeAlignedBefore(probe);
      if (aligned == probe) aligned += kSecondAlignedStart;
      std::vector<uint8_t> buffer = Read(probe - 1, kQuickProbeSectors);
      TestProbe(probe, buffer, 1, static_cast<uint8_t>(h + 1), true);
    }
  }
  probeAlignedBefore(diskSectors_);
  return 1;
}

int Search::Precise(ProgressRecord& progress) {
  // The last, partial chunk is read too: a volume may start in it, and a
  // disk under 10 MiB has nothing else.
  const uint64_t chunks = (diskSectors_ + kChunkSectors - 1) / kChunkSectors;
  progress.Send(kProgressSetRange, chunks, 1);
  disk_.unreadableSectors = 0;
  // A search of this disk stopped before goes on at its chunk.
  const ScanResume& resume = disk_.resume;
  uint64_t firstChunk = 0;
  if (resume.kind == kResumePreciseSearch && resume.rangeStart == 0 &&
      resume.rangeCount == diskSectors_)
    firstChunk = std::min(chunks, resume.nextSector / kChunkSectors);
  // Each chunk is read in pieces small enough to stay in the CPU's cache
  // while their sectors are tested: as fast as a plain sequential read.
  constexpr uint64_t kPieceSectors = 256;  // 128 KiB
  std::vector<uint8_t> piece(kPieceSectors * kSector);
  for (uint64_t k = firstChunk; k < chunks; ++k) {
    progress.Send(kProgressSetPos, k);
    if (progress.StopRequested()) {
      disk_.resume = {kResumePreciseSearch, 0, diskSectors_, k * kChunkSectors};
      return 0;
    }
    const uint64_t chunkEnd = std::min(diskSectors_, (k + 1) * kChunkSectors);
    for (uint64_t first = k * kChunkSectors; first < chunkEnd; first += kPieceSectors) {
      const uint64_t sectors = std::min(kPieceSectors, chunkEnd - first);
      disk_.unreadableSectors += ReadPieceAroundErrors(
          [&](uint64_t at, std::span<uint8_t> buffer) {
            size_t got = 0;
            handle_.ReadAt(SectorToByte(at), buffer, &got);
            return got;
          },
          first, std::span<uint8_t>(piece.data(), sectors * kSector), sectors);
      for (uint64_t i = 0; i < sectors; ++i)
        TestSector(first + i, Bytes(piece).subspan(i * kSector, kSector));
    }
  }
  progress.Send(kProgressSetPos, chunks);
  if (disk_.resume.kind == kResumePreciseSearch) disk_.resume = {};
  return 1;
}

void Search::TestSector(uint64_t sector, Bytes s) {
  // Every boot sector ends in 0xAA55: most sectors fail here.
  if (LoadLe16(s, boot::kSignature) != boot::kSignatureValue || TestLargeSector(sector, s)) return;
  if (IsNtfsBoot(s)) {
    uint64_t count = NtfsSectorCount(s);
    if (NtfsVolumeAt(sector, s)) {
      Record(sector, count, kFsNtfs, 1, kOriginBootSearch, DuplicateRule::kSameClass);
    } else if (sector >= count && NtfsVolumeAt(sector - count, s)) {
      Record(sector - count, count, kFsNtfs, 1, kOriginBootSearch, DuplicateRule::kSameClass);
    }
  } else if (IsFat32Boot(s)) {
    uint64_t hidden = LoadLe32(s, boot::kHiddenSectors);
    uint64_t start = sector == hidden || sector == hidden + kBackupBootOffset ? hidden : sector;
    // Hidden sectors of 0 (a volume made without a table) name no start: a
    // backup boot sector is known by the FAT lying its reserved sectors
    // after the primary, not after itself.
    if (start == sector && sector >= kBackupBootOffset) {
      const uint64_t reserved = ParseFatBootSector(s).reservedSectors;
      if (!fat::IsFat32TableStart(Read(sector + reserved, 1)) &&
          fat::IsFat32TableStart(Read(sector - kBackupBootOffset + reserved, 1)))
        start = sector - kBackupBootOffset;
    }
    Record(start, Fat32SectorCount(s), kFsFat32Lba, 1, kOriginBootSearch,
           DuplicateRule::kSameClass);
  } else if (IsFat16Boot(s)) {
    Record(sector, Fat16SectorCount(s), kFsFat16, 1, kOriginBootSearch, DuplicateRule::kSameClass);
  } else if (IsExfatBoot(s)) {
    auto read = [&](uint64_t at) { return Read(at, 1); };
    if (std::optional<uint64_t> start = ExfatVolumeStart(sector, s, read))
      Record(*start, ExfatSectorCount(s), kFsExfat, 1, kOriginBootSearch,
             DuplicateRule::kSameClass);
  }
}

// A volume of 4096-byte sectors starts on a 4 KiB boundary; its counts and
// positions are scaled to 512-byte sectors. True when `s` is its boot sector.
bool Search::TestLargeSector(uint64_t sector, Bytes s) {
  std::array<uint8_t, 512> boot;
  if (sector % kLargeSectorScale != 0 || !LargeSectorBoot(s, boot)) return false;
  constexpr uint64_t k = kLargeSectorScale;
  constexpr uint32_t kLargeSector = kSector * k;
  if (IsNtfsBoot(boot)) {
    const uint64_t count = MulSat(NtfsSectorCount(boot), k);
    const uint64_t mft = MulSat(NtfsMftOffset(boot), k);
    if (MftRecordAt(AddSat(sector, mft))) {
      Record(sector, count, kFsNtfs, 1, kOriginBootSearch, DuplicateRule::kSameClass, kLargeSector);
    } else if (sector >= count && MftRecordAt(AddSat(sector - count, mft))) {
      Record(sector - count, count, kFsNtfs, 1, kOriginBootSearch, DuplicateRule::kSameClass,
             kLargeSector);
    }
  } else {
    const uint64_t hidden = MulSat(LoadLe32(boot, boot::kHiddenSectors), k);
    const uint64_t start =
        sector == hidden || sector == AddSat(hidden, kBackupBootOffset * k) ? hidden : sector;
    Record(start, MulSat(Fat32SectorCount(boot), k), kFsFat32Lba, 1, kOriginBootSearch,
           DuplicateRule::kSameClass, kLargeSector);
  }
  return true;
}

}  // namespace

int SearchLostPartitions(DiskInfo& disk, SearchMode mode, ProgressRecord& progress,
                         const SourceOpener& opener) {
  {
    SourceHandle handle = opener.Open(disk.path);
    if (handle.IsOpen()) {
      Search prepass(disk, handle);
      prepass.ForwardChain(0, 0);
      Search backward(disk, handle);
      backward.BackwardChain(disk.sizeBytes / kSector, 0);
      Search probe(disk, handle);
      probe.MftLocationProbe();
    }
  }
  SourceHandle handle = opener.Open(disk.path);
  if (!handle.IsOpen()) return 0;
  Search search(disk, handle);
  return mode == SearchMode::kQuick ? search.Quick(progress) : search.Precise(progress);
}

int CountFoundVolumes(const DiskInfo& disk) {
  return static_cast<int>(
      std::count_if(disk.volumes.begin(), disk.volumes.end(),
                    [](const VolumeInfo& v) { return v.origin != kOriginPartitionMap; }));
}

bool OverlapsListedVolume(const DiskInfo& disk, const VolumeInfo& v) {
  if (v.origin == kOriginPartitionMap || v.members.size() > 0) return false;
  const SectorRange extent = v.Extent();
  return std::any_of(disk.volumes.begin(), disk.volumes.end(), [&](const VolumeInfo& listed) {
    // A protective GPT entry listed as a partition covers the whole disk.
    return listed.origin == kOriginPartitionMap && listed.members.empty() &&
           listed.fsType != 0xEE && listed.sectorCount != 0 &&
           !extent.ClampTo(listed.Extent()).Empty();
  });
}

}  // namespace brevid
