#include "export/compressed_copy.h"

#include <algorithm>

#include "format/lznt1.h"

namespace brevid {
namespace {

constexpr uint64_t kUnitClusters = 16;

}  // namespace

uint64_t CopyCompressedUnits(VolumeReader& reader, TargetHandle& output,
                             const std::vector<SectorExtent>& extents, uint64_t dataSize) {
  const VolumeInfo& volume = reader.volume();
  const uint64_t sectorsPerCluster = uint64_t{volume.sectorsPerCluster};
  if (sectorsPerCluster == 0) return 0;
  const uint64_t volumeEnd =
      volume.sectorCount != 0 && volume.start + volume.sectorCount > volume.start
          ? volume.start + volume.sectorCount
          : UINT64_MAX;
  const uint64_t clusterBytes = sectorsPerCluster * kSectorBytes;
  // Volumes compress only with clusters of at most 4 KiB; a larger cluster
  // size would make a compression unit too big to hold.
  if (clusterBytes > 4096) return 0;
  const uint64_t unitBytes = kUnitClusters * clusterBytes;

  // The clusters of the file in order, as (sector, clusters) pieces, a hole
  // being sector 0; taken a compression unit (16 clusters) at a time.
  size_t extent = 0;
  uint64_t usedInExtent = 0;  // clusters of the current extent already taken
  uint64_t written = 0;
  std::vector<uint8_t> stored, unpacked(unitBytes);
  while (written < dataSize && extent < extents.size()) {
    // Whole units of a hole are skipped in one step: the output was sized by
    // the caller, so what is skipped reads as zeros.
    if (extents[extent].first == 0) {
      uint64_t clusters = extents[extent].second / sectorsPerCluster;
      uint64_t units = (clusters - usedInExtent) / kUnitClusters;
      if (units > 0) {
        uint64_t skip = std::min(units * unitBytes, dataSize - written);
        output.Seek(output.Position() + skip);
        written += skip;
        usedInExtent += units * kUnitClusters;
        if (usedInExtent >= clusters) {
          ++extent;
          usedInExtent = 0;
        }
        continue;
      }
    }
    stored.clear();
    bool beyondVolume = false;
    uint64_t holes = 0, taken = 0;
    while (taken < kUnitClusters && extent < extents.size()) {
      const auto& [firstSector, sectorCount] = extents[extent];
      uint64_t clusters = sectorCount / sectorsPerCluster;
      uint64_t n = std::min(kUnitClusters - taken, clusters - usedInExtent);
      if (firstSector == 0) {
        holes += n;
      } else {
        uint64_t sector = firstSector + usedInExtent * sectorsPerCluster;
        size_t at = stored.size();
        stored.resize(at + n * clusterBytes, 0);
        beyondVolume = beyondVolume || sector >= volumeEnd;
        if (sector < volumeEnd) {
          uint64_t readable = std::min(n * sectorsPerCluster, volumeEnd - sector) * kSectorBytes;
          reader.ReadSectors(sector, std::span<uint8_t>(stored.data() + at, readable));
        }
      }
      taken += n;
      usedInExtent += n;
      if (usedInExtent >= clusters) {
        ++extent;
        usedInExtent = 0;
      }
    }
    // Data cannot lie past the volume's end: the copy ends there.
    if (taken == 0 || beyondVolume) break;
    // A unit with no hole is stored as it is; one that is all hole is zeros;
    // one with both is compressed into its stored clusters.
    std::span<const uint8_t> unit;
    if (holes == 0) {
      unit = stored;
    } else if (stored.empty()) {
      uint64_t skip = std::min(taken * clusterBytes, dataSize - written);
      output.Seek(output.Position() + skip);
      written += skip;
      continue;
    } else {
      std::fill(unpacked.begin(), unpacked.end(), 0);
      size_t produced = DecompressLznt1(stored, unpacked);
      unit = produced != 0 ? std::span<const uint8_t>(unpacked).first(taken * clusterBytes)
                           : std::span<const uint8_t>(stored);
    }
    size_t length = static_cast<size_t>(std::min<uint64_t>(unit.size(), dataSize - written));
    size_t put = 0;
    output.Write(unit.first(length), &put);
    written += put;
    if (put < length) break;
  }
  return written;
}

}  // namespace brevid
