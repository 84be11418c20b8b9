#include "fs/fat_volume.h"

#include <algorithm>

#include "common/sector_range.h"
#include "common/text.h"
#include "format/boot_probes.h"
#include "format/fat_boot_sector.h"
#include "format/fat_layout.h"

namespace brevid {
namespace {

constexpr uint32_t kSector = 512;
// The FAT16 root directory always holds 512 entries here.
constexpr uint32_t kFat16RootEntries = 512;
// The longest FAT we load: 4 bytes for each of 2^28 clusters.
constexpr uint64_t kMaxFatBytes = uint64_t{1} << 30;

uint64_t VolumeByte(const VolumeInfo& volume, uint64_t relativeSector) {
  return SectorToByte(volume.start + relativeSector);
}

// Sectors per cluster from the first folder cluster after the first data
// sector: sector n (counted from 1 after `firstDataSector`) holding the "."
// entry of cluster c > 2 lies (c - 2) clusters in. 0 when nothing is found.
uint32_t SearchSectorsPerCluster(VolumeReader& reader, const VolumeInfo& volume,
                                 uint64_t firstScanSector) {
  constexpr size_t kBlock = 2 << 20;
  constexpr int kMaxBlocks = 1024;
  std::vector<uint8_t> block(kBlock);
  uint64_t n = 1;
  for (int b = 0; b < kMaxBlocks; ++b) {
    size_t got = reader.ReadInto(
        VolumeByte(volume, firstScanSector + static_cast<uint64_t>(b) * (kBlock / kSector)), block);
    for (size_t at = 0; at + kSector <= kBlock; at += kSector, ++n) {
      Bytes s = Bytes(block).subspan(at, kSector);
      if (!fat::StartsWithDotAndDotDot(s)) continue;
      uint32_t cluster = fat::FirstCluster(s);
      if (cluster > 2) return static_cast<uint32_t>(n / (cluster - 2));
    }
    if (got < kBlock) break;  // the source ended
  }
  return 0;
}

// Sector `index` (0-based) of `block` begins with a FAT16 FAT start.
bool Fat16StartAt(Bytes block, size_t index) {
  return fat::IsFat16TableStart(SubBytes(block, index * kSector, kSector));
}

bool Fat32StartAt(Bytes block, size_t index) {
  return fat::IsFat32TableStart(SubBytes(block, index * kSector, kSector));
}

}  // namespace

bool FindFat16Geometry(VolumeReader& reader, VolumeInfo& volume, FatGeometry* geo) {
  *geo = FatGeometry{};
  std::vector<uint8_t> boot = reader.Read(VolumeByte(volume, 0), kSector);
  Bytes b(boot);
  if (IsFat16Boot(b)) {
    FatBootSector f = ParseFatBootSector(b);
    geo->sectorsPerCluster = f.sectorsPerCluster;
    geo->reservedSectors = f.reservedSectors;
    geo->fatCount = f.fatCount;
    geo->fatLength = f.fat16Sectors;
    geo->rootEntries = kFat16RootEntries;
  } else if (volume.fatSectors == 0) {
    // The FATs are found by their first entries, the cluster size by the
    // first folder cluster behind the root directory.
    geo->rootEntries = kFat16RootEntries;
    std::vector<uint8_t> head = reader.Read(VolumeByte(volume, 1), 0x4800);
    uint32_t r = 0;
    for (uint32_t i = 1; i <= 35 && r == 0; ++i)
      if (Fat16StartAt(head, i - 1)) r = i;
    if (r == 0) return false;
    std::vector<uint8_t> fats = reader.Read(VolumeByte(volume, r + 1), 0x100000);
    uint32_t f = 0;
    for (uint32_t j = 1; j <= 2048 && f == 0; ++j)
      if (Fat16StartAt(fats, j - 1)) f = j;
    if (f == 0) return false;
    geo->reservedSectors = r;
    geo->fatLength = f;
    geo->fatCount = 2;
    geo->sectorsPerCluster = SearchSectorsPerCluster(reader, volume, uint64_t{r} + 2 * f + 33);
    if (geo->sectorsPerCluster == 0) return false;
  }
  // Otherwise the FAT length was set by an earlier walk: the geometry stays
  // zero, so a normal walk reads nothing.
  geo->rootDirSector = geo->reservedSectors + uint64_t{geo->fatCount} * geo->fatLength;
  if (geo->sectorsPerCluster != 0) volume.sectorsPerCluster = geo->sectorsPerCluster;
  if (geo->fatLength != 0) volume.fatSectors = geo->fatLength;
  volume.sectorSize = geo->bytesPerSector;
  return true;
}

bool FindFat32Geometry(VolumeReader& reader, VolumeInfo& volume, FatGeometry* geo) {
  *geo = FatGeometry{};
  geo->fat32 = true;
  std::vector<uint8_t> boot = reader.Read(VolumeByte(volume, 0), kSector);
  Bytes b(boot);
  if (IsFat32Boot(b)) {
    FatBootSector f = ParseFatBootSector(b);
    geo->bytesPerSector = f.bytesPerSector;
    geo->sectorsPerCluster = f.sectorsPerCluster;
    geo->reservedSectors = f.reservedSectors;
    geo->fatCount = f.fatCount;
    geo->fatLength = f.fat32Sectors;
    geo->rootCluster = f.rootCluster;
  } else if (volume.fatSectors == 0) {
    geo->fatCount = 2;
    geo->rootCluster = 2;
    // Each search ends where the source does: nothing lies beyond.
    uint32_t reserved = 0;
    std::vector<uint8_t> block(0x4C00);
    for (uint32_t blk = 0; blk < 100 && reserved == 0; ++blk) {
      if (reader.ReadInto(VolumeByte(volume, 1 + uint64_t{blk} * 38), block) == 0) break;
      for (uint32_t k = 1; k <= 37 && reserved == 0; ++k)
        if (Fat32StartAt(block, k - 1)) reserved = static_cast<uint16_t>(38 * blk + k);
    }
    if (reserved == 0) return false;
    uint32_t length = 0;
    block.resize(0x100400);
    for (uint32_t blk = 0; blk < 5 && length == 0; ++blk) {
      if (reader.ReadInto(VolumeByte(volume, reserved + 1 + uint64_t{blk} * 2050), block) == 0)
        break;
      for (uint32_t k = 1; k <= 2049 && length == 0; ++k)
        if (Fat32StartAt(block, k - 1)) length = 2050 * blk + k;
    }
    if (length == 0) return false;
    geo->reservedSectors = reserved;
    geo->fatLength = length;
    geo->sectorsPerCluster = static_cast<uint8_t>(
        SearchSectorsPerCluster(reader, volume, uint64_t{reserved} + 2 * length + 1));
    if (geo->sectorsPerCluster == 0) return false;
  }
  if (geo->sectorsPerCluster != 0) volume.sectorsPerCluster = geo->sectorsPerCluster;
  if (geo->fatLength != 0) volume.fatSectors = geo->fatLength;
  volume.sectorSize = geo->bytesPerSector;
  return true;
}

namespace {

void SetClusterBase(VolumeInfo& volume, const FatGeometry& geo) {
  if (volume.clusterBase != 0) return;
  int64_t base = static_cast<int64_t>(volume.start) + geo.reservedSectors +
                 static_cast<int64_t>(geo.fatCount) * geo.fatLength -
                 2 * int64_t{geo.sectorsPerCluster};
  if (!geo.fat32) base += geo.rootEntries / 16;
  volume.clusterBase = base > 0 ? static_cast<uint64_t>(base) : 0;
}

// Recorded directory sectors that lie inside the volume.
std::vector<uint64_t> RecordedSectorsInside(const DiskInfo& disk, const VolumeInfo& volume) {
  std::vector<uint64_t> inside;
  uint64_t end = volume.start + volume.sectorCount;
  for (auto it = disk.dirClusterSectors.upper_bound(volume.start);
       it != disk.dirClusterSectors.end() && *it < end; ++it)
    inside.push_back(*it);
  return inside;
}

void NormalWalk(FatDirectoryWalk& walk, VolumeReader& reader, VolumeInfo& volume,
                VolumeTrees& trees, const FatGeometry& geo, ProgressRecord& progress) {
  uint64_t range = geo.fat32 ? uint64_t{geo.fatLength} * 512 / 4 : geo.fatLength / 2;
  progress.Send(kProgressSetRange, range, 1);
  uint64_t fatBytes = uint64_t{geo.fatLength} * geo.bytesPerSector;
  // The table cannot be longer than the source holds; a larger length is damage.
  fatBytes = std::min({fatBytes, reader.SourceBytes(), kMaxFatBytes});
  trees.fatTable = reader.Read(SectorToByte(volume.start + geo.reservedSectors, geo.bytesPerSector),
                               static_cast<size_t>(fatBytes));
  if (!geo.fat32) {
    std::vector<uint8_t> root =
        reader.Read(SectorToByte(volume.start + geo.rootDirSector, geo.bytesPerSector),
                    size_t{geo.rootEntries} * 32);
    walk.Walk(root, trees.fatRoot);
    return;
  }
  // The root has no "." entry to check, and no parent to stop at.
  std::vector<uint8_t> root;
  for (uint32_t cn = geo.rootCluster;
       cn >= 2 && !walk.visited().count(cn) && root.size() < (64u << 20);) {
    walk.MarkRead(cn);
    std::vector<uint8_t> cluster = walk.ReadCluster(cn);
    root.insert(root.end(), cluster.begin(), cluster.end());
    uint32_t next = walk.NextCluster(cn);
    if (fat::WalkChainEnds(next, true, geo.EntryCount())) break;
    cn = next;
  }
  walk.Walk(root, trees.fatRoot);
}

// A folder rebuilt from a directory cluster a scan recorded, named by its
// cluster number and appended under `parent`.
FileEntry* NumberedFolder(VolumeTrees& trees, FileEntry& parent, uint32_t cn,
                          FatPlacement placement) {
  FileEntry node;
  node.SetKind(kNormalFolder);
  node.firstCluster = cn;
  node.name = Format("%u", cn);
  return InsertFatChild(trees, parent, std::move(node), placement);
}

// The FAT16 root directory's sectors lie before cluster 2; every recorded
// run of them is walked into the root.
void RecordedRootArea(FatDirectoryWalk& walk, VolumeReader& reader,
                      const std::vector<uint64_t>& sectors, uint64_t rootStart, uint64_t rootEnd,
                      VolumeTrees& trees) {
  auto it = std::lower_bound(sectors.begin(), sectors.end(), rootStart);
  while (it != sectors.end() && *it < rootEnd && !walk.Stopped()) {
    auto runEnd = it + 1;
    while (runEnd != sectors.end() && *runEnd < rootEnd && *runEnd == *(runEnd - 1) + 1) ++runEnd;
    size_t count = static_cast<size_t>(runEnd - it);
    walk.Walk(reader.Read(SectorToByte(*it), count * kSector), trees.fatRoot);
    it = runEnd;
  }
}

void RecordedFolderWalk(FatDirectoryWalk& walk, VolumeReader& reader, const DiskInfo& disk,
                        VolumeInfo& volume, VolumeTrees& trees, const FatGeometry& geo,
                        ProgressRecord& progress) {
  std::vector<uint64_t> sectors = RecordedSectorsInside(disk, volume);
  uint64_t dataStart = volume.clusterBase + 2 * uint64_t{geo.sectorsPerCluster};
  uint64_t rootSectors = uint64_t{kFat16RootEntries} * 32 / kSector;
  uint64_t rootStart = geo.fat32 || dataStart < rootSectors ? dataStart : dataStart - rootSectors;
  auto onBoundary = [&](uint64_t s) {
    return s >= volume.clusterBase && (s - volume.clusterBase) % geo.sectorsPerCluster == 0 &&
           (geo.fat32 || s >= dataStart);
  };
  progress.Send(kProgressSetRange, std::count_if(sectors.begin(), sectors.end(), onBoundary), 0);
  if (!geo.fat32) RecordedRootArea(walk, reader, sectors, rootStart, dataStart, trees);
  for (uint64_t sector : sectors) {
    if (walk.Stopped()) return;
    if (!onBoundary(sector)) continue;
    uint64_t cn64 = (sector - volume.clusterBase) / geo.sectorsPerCluster;
    if (cn64 > 0xFFFFFFFF) break;
    uint32_t cn = static_cast<uint32_t>(cn64);
    if (walk.visited().count(cn)) continue;
    walk.MarkRead(cn);
    if (!walk.Notify()) return;
    std::vector<uint8_t> cluster = walk.ReadCluster(cn);
    if (cn == trees.fatRoot.firstCluster) {
      walk.Walk(cluster, trees.fatRoot);
    } else if (Load8(cluster, 0) == '.') {
      walk.Walk(cluster, *NumberedFolder(trees, trees.fatRoot, cn, FatPlacement::kAppendNormal));
    } else {
      walk.Walk(cluster,
                *NumberedFolder(trees, trees.fatScattered, cn, FatPlacement::kAppendDeleted));
    }
    if (walk.Stopped()) return;
  }
}

void ScanVolumeWalk(FatDirectoryWalk& walk, const DiskInfo& disk, VolumeInfo& volume,
                    VolumeTrees& trees, const FatGeometry& geo, ProgressRecord& progress) {
  progress.Send(kProgressSetRange, disk.dirClusterSectors.size(), 1);
  for (uint64_t sector : disk.dirClusterSectors) {
    if (sector < volume.clusterBase || (sector - volume.clusterBase) % geo.sectorsPerCluster != 0)
      continue;
    uint64_t cn64 = (sector - volume.clusterBase) / geo.sectorsPerCluster;
    if (cn64 >= geo.EntryCount()) continue;
    uint32_t cn = static_cast<uint32_t>(cn64);
    if (walk.visited().count(cn)) continue;
    walk.MarkRead(cn);
    std::vector<uint8_t> cluster = walk.ReadCluster(cn);
    if (!walk.Notify()) return;
    Bytes c(cluster);
    bool folder =
        fat::StartsWithDotAndDotDot(c) &&
        (geo.fat32 ? LoadLe32(c, fat::kSize) == 0 && LoadLe32(c, fat::kDotDot + fat::kSize) == 0
                   : LoadLe16(c, fat::kDotDot + fat::kClusterHigh) == 0 &&
                         LoadLe16(c, fat::kDotDot + fat::kSize) == 0);
    if (!folder) continue;
    walk.Walk(cluster, *NumberedFolder(trees, trees.fatRoot, cn, FatPlacement::kAppendNormal));
    if (walk.Stopped()) return;
  }
}

void ExpandFat(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress, bool fat32,
               const SourceOpener& opener) {
  VolumeReader reader(disk, volume, opener);
  if (!reader.Open()) return;
  FatGeometry geo;
  bool found =
      fat32 ? FindFat32Geometry(reader, volume, &geo) : FindFat16Geometry(reader, volume, &geo);
  if (!found) return;
  bool recorded = !RecordedSectorsInside(disk, volume).empty();
  bool recovery = recorded || volume.origin == kOriginRebuilt;
  // A volume a scan rebuilt has no boot sector; its record holds the cluster
  // size and FAT length that the recovery walks need.
  // (A FAT cluster is at most 255 sectors; a larger value is not taken.)
  if (recovery && geo.sectorsPerCluster == 0 && volume.fatSectors != 0 &&
      volume.sectorsPerCluster <= 255) {
    geo.sectorsPerCluster = volume.sectorsPerCluster;
    geo.fatLength = volume.fatSectors;
  }
  SetClusterBase(volume, geo);
  VolumeTrees& trees = TreesOf(volume);
  // A cluster size of 0 cannot address any folder: only the root can be read.
  if (geo.sectorsPerCluster == 0) recorded = recovery = false;
  uint32_t rootCluster = fat32 ? geo.rootCluster : (recorded ? 1 : 0);
  StartFatTree(trees, rootCluster);
  FatDirectoryWalk walk(reader, volume, trees, progress, geo, recovery);
  if (recorded) {
    RecordedFolderWalk(walk, reader, disk, volume, trees, geo, progress);
  } else if (recovery) {
    ScanVolumeWalk(walk, disk, volume, trees, geo, progress);
  } else {
    NormalWalk(walk, reader, volume, trees, geo, progress);
  }
}

}  // namespace

void ExpandFat16(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                 const SourceOpener& opener) {
  ExpandFat(disk, volume, progress, false, opener);
}

void ExpandFat32(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                 const SourceOpener& opener) {
  ExpandFat(disk, volume, progress, true, opener);
}

void ExpandFatVolume(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                     const SourceOpener& opener) {
  if (IsFat32Type(volume.fsType))
    ExpandFat32(disk, volume, progress, opener);
  else if (IsFat16Type(volume.fsType))
    ExpandFat16(disk, volume, progress, opener);
}

}  // namespace brevid
