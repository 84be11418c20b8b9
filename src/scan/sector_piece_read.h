// Reading a scan's next piece of sectors on a disk that may fail some of
// them: one unreadable sector must cost only itself, never the rest of the
// disk.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace brevid {

// Reads whole 512-byte sectors at `sector` into `buffer`; returns the bytes
// read (fewer when a read error or the end of the source stops it).
using SectorReadFn = std::function<size_t(uint64_t sector, std::span<uint8_t> buffer)>;

// Fills `buffer` with the sectors from `first`, one read when the disk allows
// it; where that read stops short, the rest is read one sector at a time and
// each sector that still cannot be read is left as zeros. Returns how many
// of the first `counted` sectors could not be read.
uint64_t ReadPieceAroundErrors(const SectorReadFn& read, uint64_t first, std::span<uint8_t> buffer,
                               uint64_t counted);

}  // namespace brevid
