// Copying the content of an NTFS-compressed file out of a volume, one
// compression unit at a time. Reads through the volume's reader (open, owned
// by the calling thread) and writes only the output file.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "device/volume_reader.h"
#include "platform/target_handle.h"

namespace brevid {

// One extent of compressed data: absolute start sector and sector count
// (512-byte sectors).
using SectorExtent = std::pair<uint64_t, uint64_t>;

// Writes the content of a compressed file to `output` at its current
// position, never more than `dataSize` bytes. `extents` are the file's runs
// in order, a run without a location given as sector 0 (a hole). They are
// taken a compression unit (16 clusters) at a time: a unit with no hole is
// stored as it is, a unit that is all hole is skipped over (the caller sized
// the output, so it reads as zeros), and a unit with both is decompressed
// from its stored clusters (its raw bytes are written when nothing decodes).
// Returns the bytes of output covered; stops early when a write falls short,
// the extents end, or a unit reaches past the volume's end (when its
// sectorCount is known). A volume with 0 sectors per cluster, or clusters
// over 4 KiB (which no volume compresses), writes nothing.
uint64_t CopyCompressedUnits(VolumeReader& reader, TargetHandle& output,
                             const std::vector<SectorExtent>& extents, uint64_t dataSize);

}  // namespace brevid
