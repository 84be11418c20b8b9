// File-signature carving: recognises the start of a file of a listed format
// (format/carvers/, one file each) in a sector and walks the file's own
// structure to its exact end.
//
// No I/O of its own: further bytes come through the caller's CarveReader.
// Nothing here throws, and damaged or hostile input only makes a walk find
// nothing: every walk is bounded by the source and by its format's bound,
// never reads past what the reader returns and allocates at most one search
// window per call. Calls share no state but the optional CarveMemory, which
// belongs to one scan; any thread may call at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/endian.h"

namespace brevid {

// Reads bytes of the source at `offset` bytes from the candidate file's
// first byte into `buffer`; returns how many bytes it placed (the rest of
// `buffer` is zero). Never reads before the file start.
using CarveReader = std::function<size_t(uint64_t offset, std::span<uint8_t> buffer)>;

struct CarveResult {
  bool recorded = false;  // a file was recognised and its end found
  // Bytes: the recorded size; also set without a record where the rules say
  // so (MPEG position overflow); 0 otherwise.
  uint64_t size = 0;
  std::string name;  // CP936, e.g. "12345.jpg"; empty without a record
};

// Searches and header walks whose failures a scan remembers.
enum class SearchSlot : uint8_t {
  kPdfEnd,
  kJpegMarker,
  kZipEnd,
  kZip,
  kRar,
  kMpeg,
  kIsoMedia,
  kPng,
  kGif,
  kCount
};

// Absolute byte positions [from, to) a search looked through without a find.
struct SearchMemo {
  uint64_t from = 0, to = 0;
};
// The absolute positions a failed header walk stepped on, ascending.
struct ChainMemo {
  std::vector<uint64_t> steps;
};

// What failed searches and walks of one scan already looked at, so that a
// disk where every sector starts a file that never ends is still carved in
// time linear in its size. Starts must be offered in ascending order.
struct CarveMemory {
  SearchMemo searches[static_cast<size_t>(SearchSlot::kCount)];
  ChainMemo chains[static_cast<size_t>(SearchSlot::kCount)];
};

// Tests `head` (the candidate sector and the one after it, 1024 bytes, fewer
// at the source's end) as the start of each listed format in table order:
// the first format whose start test passes decides; if its walk fails no
// other format is tried. `sector` is the absolute start sector (names carry
// it). `read` is called only during the call. `limit` is the number of bytes
// the source holds from the sector on: no recorded size passes it.
CarveResult CarveFile(Bytes head, uint64_t sector, const CarveReader& read,
                      uint64_t limit = UINT64_MAX, CarveMemory* memory = nullptr);

// True when a listed format's start test passes on `head` and `extension`
// (lower case, no dot) is one a file of that format may carry.
bool StartsFileOfExtension(Bytes head, const std::string& extension);

}  // namespace brevid
