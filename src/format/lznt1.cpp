#include "format/lznt1.h"

#include <algorithm>
#include <cstring>

#include "common/endian.h"

namespace brevid {
namespace {

// Chunk header (little-endian u16).
constexpr size_t kChunkHeaderBytes = 2;
constexpr uint16_t kChunkLengthMask = 0x0FFF;        // bits 0-11: chunk bytes - 3
constexpr uint16_t kChunkCompressed = 0x8000;        // bit 15
constexpr uint16_t kFullUncompressedChunk = 0x3FFF;  // signature 3, 4098 bytes
constexpr size_t kTokenBytes = 2;
constexpr size_t kMinMatch = 3;

enum class ChunkEnd { kDone, kRawUnit, kStop };

// Decodes one compressed chunk's tokens into out[outStart, ...). `*produced`
// is what the chunk placed, also when it stops.
ChunkEnd DecodeChunk(Bytes data, std::span<uint8_t> out, size_t outStart, size_t* produced) {
  const size_t room = std::min(kLznt1ChunkBytes, out.size() - outStart);
  uint8_t* dst = out.data() + outStart;
  size_t pos = 0;
  size_t p = 0;
  auto end = [&](ChunkEnd how) {
    *produced = pos;
    return how;
  };
  while (p < data.size()) {
    uint8_t flags = data[p++];
    for (int bit = 0; bit < 8 && p < data.size(); ++bit) {
      if ((flags & (1u << bit)) == 0) {
        if (pos >= room) return end(ChunkEnd::kStop);
        dst[pos++] = data[p++];
        continue;
      }
      // A chunk cannot start by referring back: this is raw data.
      if (pos == 0) return end(ChunkEnd::kRawUnit);
      if (data.size() - p < kTokenBytes) return end(ChunkEnd::kStop);
      uint16_t token = LoadLe16(data, p);
      p += kTokenBytes;
      // The offset field widens as the chunk grows: 4 bits up to 16 bytes
      // done, one more for each doubling.
      unsigned lengthBits = 12;
      for (size_t done = pos - 1; done >= 0x10; done >>= 1) --lengthBits;
      size_t offset = (static_cast<size_t>(token) >> lengthBits) + 1;
      size_t length = (token & ((1u << lengthBits) - 1)) + kMinMatch;
      if (offset > pos || length > room - pos) return end(ChunkEnd::kStop);
      for (size_t i = 0; i < length; ++i, ++pos) dst[pos] = dst[pos - offset];
    }
  }
  return end(ChunkEnd::kDone);
}

}  // namespace

size_t DecompressLznt1(std::span<const uint8_t> input, std::span<uint8_t> output) {
  size_t ip = 0;
  size_t op = 0;
  // Each pass consumes at least one input byte or ends, so the walk ends.
  while (op < output.size() && input.size() - ip >= kChunkHeaderBytes) {
    uint16_t header = LoadLe16(input, ip);
    const bool unitStart = op % kLznt1UnitBytes == 0;
    const bool wholeUnitLeft = input.size() - ip >= kLznt1UnitBytes;
    // A compressed unit saves at least a cluster and ends its extent, so a
    // whole unit of input at a unit start can only be a unit stored raw.
    bool compressed = (header & kChunkCompressed) != 0 && !(unitStart && wholeUnitLeft);
    bool rawUnit =
        !compressed && unitStart && !(header == kFullUncompressedChunk && !wholeUnitLeft);
    if (!compressed && !rawUnit) {
      if (header == 0) break;
      size_t length = (header & kChunkLengthMask) + 1;
      if (length > input.size() - ip - kChunkHeaderBytes || length > output.size() - op) break;
      std::memcpy(output.data() + op, input.data() + ip + kChunkHeaderBytes, length);
      size_t end = std::min(op + kLznt1ChunkBytes, output.size());
      if (op + length < end) std::memset(output.data() + op + length, 0, end - op - length);
      ip += kChunkHeaderBytes + length;
      op = end;
      continue;
    }
    if (compressed) {
      size_t total = (header & kChunkLengthMask) + kChunkHeaderBytes + 1;
      if (total > input.size() - ip) break;
      size_t produced = 0;
      ChunkEnd how = DecodeChunk(input.subspan(ip + kChunkHeaderBytes, total - kChunkHeaderBytes),
                                 output, op, &produced);
      if (how == ChunkEnd::kStop) {
        op += produced;
        break;
      }
      if (how == ChunkEnd::kDone) {
        size_t end = std::min(op + kLznt1ChunkBytes, output.size());
        std::memset(output.data() + op + produced, 0, end - op - produced);
        ip += total;
        op = end;
        continue;
      }
    }
    // A raw unit: copy what both sides allow; a short copy ends the stream.
    size_t length = std::min({kLznt1UnitBytes, input.size() - ip, output.size() - op});
    std::memcpy(output.data() + op, input.data() + ip, length);
    ip += length;
    op += length;
    if (length < kLznt1UnitBytes) break;
  }
  return op;
}

}  // namespace brevid
