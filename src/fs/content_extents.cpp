#include "fs/content_extents.h"

#include <algorithm>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "format/fat_layout.h"
#include "fs/mft_record_reader.h"
#include "fs/volume_trees.h"

namespace brevid {
namespace {

uint32_t SectorSizeOf(const VolumeInfo& v) { return v.sectorSize ? v.sectorSize : 512; }

// Appends [begin, begin + length), joined to the last range when they touch.
void Add(ByteExtents& extents, uint64_t begin, uint64_t length) {
  if (length == 0) return;
  if (!extents.empty() && extents.back().second == begin)
    extents.back().second = AddSat(begin, length);
  else
    extents.emplace_back(begin, AddSat(begin, length));
}

}  // namespace

ByteExtents FatContentExtents(const VolumeInfo& v, uint8_t kind, uint32_t firstCluster,
                              uint64_t size) {
  ByteExtents extents;
  const uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * SectorSizeOf(v);
  if (size == 0 || firstCluster < 2 || clusterBytes == 0) return extents;
  auto clusterByte = [&](uint64_t c) {
    return SectorToByte(c * v.sectorsPerCluster + v.clusterBase, SectorSizeOf(v));
  };
  const bool fat32 = IsFat32Type(v.fsType);
  const std::vector<uint8_t>* table = v.trees ? &v.trees->fatTable : nullptr;
  const uint64_t entries =
      table ? std::min<uint64_t>(uint64_t{v.fatSectors} * SectorSizeOf(v), table->size()) /
                  (fat32 ? 4 : 2)
            : 0;
  uint64_t remaining = size;
  if (kind != kNormalFile || entries == 0 || !(fat32 || IsFat16Type(v.fsType))) {
    Add(extents, clusterByte(firstCluster), remaining);
    return extents;
  }
  // The chain ends at an end mark, a free entry, a number past the table, or
  // after as many clusters as the table has (a loop).
  uint32_t c = firstCluster;
  for (uint64_t steps = 0; remaining > 0 && steps <= entries; ++steps) {
    if (c > entries) break;
    const uint64_t n = std::min(remaining, clusterBytes);
    Add(extents, clusterByte(c), n);
    remaining -= n;
    const uint32_t next = fat::NextClusterIn(*table, c, fat32);
    if (fat::SaveChainEnds(next, fat32, entries)) break;
    c = next;
  }
  return extents;
}

ByteExtents NtfsContentExtents(VolumeReader& reader, uint32_t recordNumber) {
  ByteExtents extents;
  const VolumeInfo& v = reader.volume();
  if (!v.trees || v.trees->mftRuns.empty()) return extents;
  MftRecordInfo info;
  if (!ReadMftRecord(reader, recordNumber, info, v.trees->mftRuns, 0)) return extents;
  const uint32_t sectorSize = SectorSizeOf(v);
  if (info.residentContent) {
    uint64_t sector = 0;
    if (LocateMftRecord(recordNumber, v, v.trees->mftRuns, &sector))
      Add(extents, SectorToByte(sector, sectorSize), kMftRecordSize);
    return extents;
  }
  const uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * sectorSize;
  uint64_t remaining = info.dataSize.value_or(info.size);
  for (const auto& [index, run] : info.runs) {
    if (remaining == 0 || clusterBytes == 0) break;
    const uint64_t n = std::min(MulSat(uint64_t{run.length}, clusterBytes), remaining);
    if (run.startCluster != 0)  // a hole holds nothing to lose
      Add(extents,
          SectorToByte(uint64_t{run.startCluster} * v.sectorsPerCluster + v.start, sectorSize), n);
    remaining -= n;
  }
  return extents;
}

bool ExtentsMeet(const ByteExtents& extents,
                 const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  for (const auto& [lo, hi] : extents) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), std::pair{lo, UINT64_MAX});
    if (it != ranges.begin() && std::prev(it)->second > lo) return true;
    if (it != ranges.end() && it->first < hi) return true;
  }
  return false;
}

}  // namespace brevid
