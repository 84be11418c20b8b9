// NTFS compression (LZNT1): decoding one compressed extent. Pure: no I/O,
// no state; callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

}  // namespace brevid
