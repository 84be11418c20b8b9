#include "fs/recovery_chance.h"

#include <algorithm>

#include "format/fat_layout.h"
#include "fs/volume_trees.h"

namespace brevid {

RecoveryChance ChanceFromCounts(uint64_t clusters, uint64_t used, bool firstUsed) {
  if (clusters == 0 || used == 0) return RecoveryChance::kGood;
  if (firstUsed || used * 2 > clusters) return RecoveryChance::kOverwritten;
  return RecoveryChance::kPartial;
}

RecoveryChance FatRecoveryChance(const VolumeInfo& volume, const FileEntry& entry) {
  if (entry.Kind() != kDeletedFile || !volume.trees) return RecoveryChance::kUnknown;
  const std::vector<uint8_t>& table = volume.trees->fatTable;
  const bool fat32 = IsFat32Type(volume.fsType);
  if (table.empty() || (!fat32 && !IsFat16Type(volume.fsType))) return RecoveryChance::kUnknown;
  const uint64_t clusterBytes =
      uint64_t{volume.sectorsPerCluster} * (volume.sectorSize ? volume.sectorSize : 512);
  if (clusterBytes == 0) return RecoveryChance::kUnknown;
  if (entry.size == 0) return RecoveryChance::kGood;
  if (entry.firstCluster < 2) return RecoveryChance::kOverwritten;
  const uint64_t width = fat32 ? 4 : 2;
  const uint64_t entries = table.size() / width;
  const uint64_t clusters = (uint64_t{entry.size} + clusterBytes - 1) / clusterBytes;
  // Clusters past the table are not this volume's: in use, and counted at
  // once, so that a damaged size cannot make the walk long.
  const uint64_t inTable =
      entry.firstCluster < entries ? std::min(clusters, entries - entry.firstCluster) : 0;
  uint64_t used = clusters - inTable;
  bool firstUsed = inTable == 0;
  for (uint64_t i = 0; i < inTable && !firstUsed; ++i) {
    uint32_t value =
        fat::NextClusterIn(table, static_cast<uint32_t>(entry.firstCluster + i), fat32);
    if (fat32) value &= 0x0FFFFFFF;
    const bool inUse = value != 0;
    used += inUse;
    if (i == 0) firstUsed = inUse;
  }
  return ChanceFromCounts(clusters, used, firstUsed);
}

}  // namespace brevid
