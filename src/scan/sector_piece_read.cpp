#include "scan/sector_piece_read.h"

#include <algorithm>

#include "common/sector_range.h"

namespace brevid {

uint64_t ReadPieceAroundErrors(const SectorReadFn& read, uint64_t first, std::span<uint8_t> buffer,
                               uint64_t counted) {
  const uint64_t sectors = buffer.size() / kSectorBytes;
  size_t got = std::min(read(first, buffer), buffer.size());
  if (got == buffer.size()) return 0;
  uint64_t unreadable = 0;
  for (uint64_t i = got / kSectorBytes; i < sectors; ++i) {
    std::span<uint8_t> one = buffer.subspan(i * kSectorBytes, kSectorBytes);
    size_t part = std::min(read(first + i, one), one.size());
    if (part == one.size()) continue;
    std::fill(one.begin() + static_cast<long>(part), one.end(), 0);
    if (i < counted) ++unreadable;
  }
  return unreadable;
}

}  // namespace brevid
