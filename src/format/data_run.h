// NTFS data runs: the mapping pairs of a non-resident attribute, and the
// run map the readers keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "common/endian.h"

namespace brevid {

struct DataRun {
  uint32_t runIndex = 0;
  uint32_t startCluster = 0;  // absolute; 0 for a run without a location (sparse)
  uint32_t length = 0;        // clusters
};

// Runs keyed by their index, in order.
using DataRunMap = std::map<uint32_t, DataRun>;

// A little-endian field of 1 to 4 bytes (wider fields: their low 4 bytes).
uint32_t LoadRunField(Bytes pairs, size_t at, size_t size);

// The same field sign-extended from its top byte (a start-cluster delta).
uint32_t LoadRunDelta(Bytes pairs, size_t at, size_t size);

// Calls take(start, length) for each run of `pairs` until the end marker
// (a 0 header), the end of `pairs`, or take returning false. `start` is the
// running sum of the deltas (32 bits, wrapping as stored), or 0 for a run
// without a location. Field sizes above 4 give a length of 0 or keep the
// running start, but their bytes are stepped over; a field passing the end
// of `pairs` ends the walk.
template <class Take>
void WalkMappingPairs(Bytes pairs, Take take) {
  size_t p = 0;
  uint32_t running = 0;
  while (p < pairs.size()) {
    uint8_t header = pairs[p];
    if (header == 0) return;
    size_t lengthSize = header & 0x0F;
    size_t offsetSize = header >> 4;
    if (lengthSize + offsetSize > pairs.size() - p - 1) return;
    uint32_t length = lengthSize <= 4 ? LoadRunField(pairs, p + 1, lengthSize) : 0;
    uint32_t start = 0;
    if (offsetSize != 0) {
      if (offsetSize <= 4) running += LoadRunDelta(pairs, p + 1 + lengthSize, offsetSize);
      start = running;
    }
    p += 1 + lengthSize + offsetSize;
    if (!take(start, length)) return;
  }
}

}  // namespace brevid
