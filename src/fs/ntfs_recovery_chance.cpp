#include "fs/ntfs_recovery_chance.h"

#include <algorithm>
#include <utility>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "fs/mft_record_reader.h"
#include "fs/volume_trees.h"

namespace brevid {
namespace {

constexpr uint32_t kBitmapRecord = 6;

// A scan-rebuilt tree locates records by its own maps, not by $MFT's runs.
bool ReadsByMftRuns(const VolumeInfo& volume) {
  return volume.trees && volume.trees->recordFirstSector.empty() && !volume.trees->mftRuns.empty();
}

uint64_t SectorBytes(const VolumeInfo& volume) {
  return volume.sectorSize ? volume.sectorSize : 512;
}

}  // namespace

NtfsClusterBitmap ReadNtfsClusterBitmap(VolumeReader& reader) {
  NtfsClusterBitmap bitmap;
  const VolumeInfo& v = reader.volume();
  if (!ReadsByMftRuns(v) || v.sectorsPerCluster == 0) return bitmap;
  MftRecordInfo info;
  if (!ReadMftRecord(reader, kBitmapRecord, info, v.trees->mftRuns, 0)) return bitmap;
  // One bit per cluster of the volume bounds what a damaged record may ask for.
  const uint64_t clusters = v.sectorCount / v.sectorsPerCluster;
  const uint64_t wanted = std::min<uint64_t>(
      {(clusters + 7) / 8, info.dataSize.value_or(info.size), reader.SourceBytes()});
  if (info.residentContent) {
    const std::vector<uint8_t>& content = *info.residentContent;
    bitmap.bits.assign(content.begin(),
                       content.begin() + std::min<uint64_t>(wanted, content.size()));
    return bitmap;
  }
  bitmap.bits.assign(wanted, 0xFF);  // what cannot be read counts as in use
  const uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * SectorBytes(v);
  uint64_t at = 0;
  for (const auto& [index, run] : info.runs) {
    if (at >= wanted) break;
    const uint64_t n = std::min(MulSat(uint64_t{run.length}, clusterBytes), wanted - at);
    if (run.startCluster != 0) {
      const uint64_t sector = uint64_t{run.startCluster} * v.sectorsPerCluster + v.start;
      reader.ReadInto(SectorToByte(sector, SectorBytes(v)),
                      std::span<uint8_t>(bitmap.bits).subspan(at, n));
    }
    at += n;
  }
  return bitmap;
}

RecoveryChance NtfsRecoveryChance(VolumeReader& reader, const NtfsClusterBitmap& bitmap,
                                  const NtfsEntry& entry) {
  const VolumeInfo& v = reader.volume();
  if (entry.Kind() != kDeletedFile || bitmap.bits.empty() || !ReadsByMftRuns(v))
    return RecoveryChance::kUnknown;
  MftRecordInfo info;
  const uint32_t number = static_cast<uint32_t>(entry.recordNumber);
  if (!ReadMftRecord(reader, number, info, v.trees->mftRuns, 0) || info.name != entry.name ||
      IsFolderKind(info.kind) || !IsDeletedKind(info.kind))
    return RecoveryChance::kOverwritten;
  if (info.residentContent) return RecoveryChance::kGood;
  // The clusters a save reads: the file's length of them, and never more
  // than the volume holds, so a damaged run cannot make the count endless.
  const uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * SectorBytes(v);
  const uint64_t dataSize = info.dataSize.value_or(info.size);
  const uint64_t limit = std::min(clusterBytes ? (dataSize + clusterBytes - 1) / clusterBytes : 0,
                                  uint64_t{bitmap.bits.size()} * 8);
  uint64_t clusters = 0, used = 0;
  bool first = true;
  for (const auto& [index, run] : info.runs) {
    if (run.startCluster == 0) {  // a hole holds nothing to lose
      clusters += run.length;
      continue;
    }
    for (uint64_t i = 0; i < run.length && clusters < limit; ++i, ++clusters) {
      const bool inUse = bitmap.InUse(uint64_t{run.startCluster} + i);
      if (std::exchange(first, false) && inUse) return RecoveryChance::kOverwritten;
      used += inUse;
    }
    if (clusters >= limit) break;
  }
  return ChanceFromCounts(clusters, used, false);
}

}  // namespace brevid
