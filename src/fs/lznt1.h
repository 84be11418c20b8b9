// Reading of NTFS-compressed file data (LZNT1). DecompressLznt1 is pure;
// CopyCompressedUnits reads the source through the sector reader and writes
// the output file. Neither throws nor writes to the source. Both may be
// called from any thread as long as each call has its own handles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "device/volume_info.h"
#include "platform/source_handle.h"
#include "platform/target_handle.h"

namespace brevid {

// Output bytes of one LZNT1 chunk and of one compression unit (16 clusters
// of 4096 bytes), the size a unit stored raw is copied in.
constexpr size_t kLznt1ChunkBytes = 0x1000;
constexpr size_t kLznt1UnitBytes = 0x10000;

// Decompresses `input` into `output` and returns the number of output bytes
// produced (never more than output.size()). Output beyond that count is left
// as it was. The stream is a sequence of chunks, each with a 16-bit header
// (bits 0-11 chunk length - 3, bit 15 compressed):
// - at a unit start (output position a multiple of kLznt1UnitBytes) with a
//   whole unit of input left, the unit is stored raw: a compressed unit
//   saves at least a cluster and is the last thing in its extent;
// - at a unit start with less input left, a header without bit 15 also
//   means a unit stored raw (the last, short unit of a file), except the
//   header of a full uncompressed chunk (0x3FFF), which starts a compressed
//   unit. A raw unit is copied from the chunk's start, kLznt1UnitBytes bytes
//   or fewer when input or output ends first (which then ends the stream);
// - elsewhere a header without bit 15 is an uncompressed chunk, and a header
//   of 0 ends the stream;
// - a back-reference at a chunk's first output position also marks a raw
//   unit and is copied as above;
// - every chunk occupies kLznt1ChunkBytes of output, short ones padded with
//   zeros;
// - a back-reference before the chunk's start, or a chunk or copy that would
//   pass the end of the input, the output or its chunk, ends the stream.
size_t DecompressLznt1(std::span<const uint8_t> input, std::span<uint8_t> output);

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
// over 4 KiB (which no volume compresses), writes nothing. `handle` is the
// source for a Simple volume (its position moves); other layouts read their
// members themselves and may pass null.
uint64_t CopyCompressedUnits(SourceHandle* handle, TargetHandle& output,
                             const std::vector<SectorExtent>& extents, uint64_t dataSize,
                             const VolumeInfo& volume);

}  // namespace brevid
