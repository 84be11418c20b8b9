// A run of sectors with overflow-safe arithmetic: volume extents, carved
// ranges, bad-sector lists.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace brevid {

constexpr uint32_t kSectorBytes = 512;

struct SectorRange {
  uint64_t start = 0;
  uint64_t count = 0;

  // One past the last sector, saturated at the largest sector number.
  uint64_t End() const {
    return count > std::numeric_limits<uint64_t>::max() - start
               ? std::numeric_limits<uint64_t>::max()
               : start + count;
  }
  bool Empty() const { return count == 0; }
  bool Contains(uint64_t sector) const { return sector >= start && sector < End(); }
  // Every sector of `inner` lies in this range (an empty `inner` inside or at its end).
  bool Covers(const SectorRange& inner) const {
    return inner.start >= start && inner.End() <= End();
  }
  // The part of this range that lies inside `outer`; empty when disjoint.
  SectorRange ClampTo(const SectorRange& outer) const {
    uint64_t lo = std::max(start, outer.start);
    uint64_t hi = std::min(End(), outer.End());
    return hi > lo ? SectorRange{lo, hi - lo} : SectorRange{lo, 0};
  }
  bool operator==(const SectorRange&) const = default;
};

// Byte offset of a sector, saturated instead of wrapping.
inline uint64_t SectorToByte(uint64_t sector, uint32_t sectorSize = kSectorBytes) {
  if (sector > std::numeric_limits<uint64_t>::max() / sectorSize)
    return std::numeric_limits<uint64_t>::max();
  return sector * sectorSize;
}

}  // namespace brevid
