// What every format's carver shares: the candidate under test, a cursor
// over its bytes, a forward search that remembers how far failed searches
// looked, and the table entry a format is listed by.
//
// A carver is two free functions: a start test over the first 1024 bytes of
// a candidate (cheap, no reads) and a walk that follows the format's own
// structure to its exact end. Walks read only through the context, never
// past `limit` (the bytes the source holds from the candidate on), and
// allocate at most one search window.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/endian.h"
#include "format/carving.h"

namespace brevid::carve {

inline constexpr uint64_t kSector = 512;
inline constexpr uint64_t kMiB = 0x100000;
inline constexpr uint64_t kLargestFile = 0xFFFFFFFF;  // a carved record holds a 32-bit size

// Fields at positions from the file start: the head when it holds them,
// else two sectors read at the sector that holds the field.
class Cursor {
 public:
  Cursor(Bytes head, const CarveReader& read) : head_(head), read_(read) {}

  // The `size` (at most 512) bytes at `pos`; empty when the source ends before.
  Bytes At(uint64_t pos, size_t size);

 private:
  static bool Holds(uint64_t base, size_t avail, uint64_t pos, size_t size) {
    return pos >= base && pos - base <= avail && size <= avail - (pos - base);
  }

  Bytes head_;
  const CarveReader& read_;
  std::array<uint8_t, 2 * kSector> buffer_;  // left unset: a cursor is made for every sector tested
  uint64_t base_ = 0;
  size_t avail_ = 0;
};

struct Context {
  Context(Bytes h, uint64_t s, const CarveReader& r, uint64_t l, CarveMemory* m)
      : head(h), sector(s), read(r), limit(l), memory(m), at(h, r) {}
  Bytes head;
  uint64_t sector;  // absolute start sector, in names
  const CarveReader& read;
  uint64_t limit;       // bytes the source holds from the file start
  CarveMemory* memory;  // may be null
  Cursor at;
  uint64_t Origin() const { return sector * kSector; }
};

// The first offset k in [from, to) (cut to `limit`) where `test(bytes, i)`
// holds, bytes being a window of the source that holds k at i with at least
// `ahead` bytes after it where the source has them. Candidates are the
// offsets of `first`. `slot` names the search in the memory: a search of the
// same slot that already looked from before `from` to past it without a find
// starts where that one stopped, so hostile content cannot make searches
// quadratic. A search must be a pure function of the bytes from k on.
template <class Test>
std::optional<uint64_t> Search(Context& c, uint64_t from, uint64_t to, uint8_t first, size_t ahead,
                               SearchSlot slot, Test test) {
  // Pieces grow from a few sectors, so that a find near the start, the
  // usual case, costs one small read.
  constexpr size_t kFirstPiece = 8 * kSector, kLargestPiece = 256 * 1024;
  to = std::min(to, c.limit);
  SearchMemo* memo = c.memory ? &c.memory->searches[static_cast<size_t>(slot)] : nullptr;
  const uint64_t origin = c.Origin();
  if (memo && memo->from <= origin + from && origin + from < memo->to) {
    if (memo->to >= origin + to) return std::nullopt;
    from = memo->to - origin;
  }
  const uint64_t searchStart = from;
  std::vector<uint8_t> buffer;
  for (uint64_t offset = from, piece = kFirstPiece; offset < to;
       offset += piece, piece = std::min<uint64_t>(2 * piece, kLargestPiece)) {
    buffer.resize(piece + ahead);
    const size_t want = static_cast<size_t>(std::min<uint64_t>(piece + ahead, c.limit - offset));
    const size_t got = std::min(c.read(offset, std::span<uint8_t>(buffer.data(), want)), want);
    Bytes bytes(buffer.data(), got);
    const size_t limit = static_cast<size_t>(std::min<uint64_t>({piece, got, to - offset}));
    for (size_t i = 0; i < limit; ++i) {
      const void* hit = std::memchr(bytes.data() + i, first, limit - i);
      if (hit == nullptr) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes.data());
      if (test(bytes, i)) return offset + i;
    }
    if (got < want) {
      to = offset + got;
      break;
    }
  }
  if (memo && to > searchStart) *memo = {origin + searchStart, origin + to};
  return std::nullopt;
}

// A walk along headers that each give the next one's position: a walk of
// the same slot that failed already passed through some positions, and a
// later walk that steps on one of them fails the same way.
class ChainWalk {
 public:
  ChainWalk(Context& c, SearchSlot slot);
  // False when `pos` was a step of a failed walk of the same slot.
  bool Step(uint64_t pos);
  // The walk failed: its steps are remembered.
  void Failed();

 private:
  Context& c_;
  ChainMemo* memo_;
  std::vector<uint64_t> steps_;
};

CarveResult Record(const Context& c, uint64_t size, std::string_view name);
CarveResult RecordNumbered(const Context& c, uint64_t size, std::string_view extension);

// A text from the file (a title, an author) made fit to name a file:
// control characters, separators and characters no file system takes become
// "_", and the text is cut, on a character boundary, to `maxBytes`.
std::string SafeCarvedName(std::string_view text, size_t maxBytes = 200);

// One listed format.
struct Carver {
  const char* format;
  bool (*starts)(Bytes head);
  CarveResult (*carve)(Context& c);
  // The bytes a file may start with: a cheap filter before `starts`.
  std::string_view firstBytes;
  // Extensions, space-separated, a FAT entry may have for a start cluster
  // that passes `starts`.
  const char* typed;
};

// Every format, in the order their start tests are tried.
std::span<const Carver> Carvers();

// The listed formats (each in its own file).
extern const Carver kPdf, kMpeg, kRiff, kIsoMedia, kZip, kRar, kOle, kJpeg, kMp3, kPng, kGif, kBmp,
    kTiff, kSevenZip, kSqlite;

}  // namespace brevid::carve
