// File-signature carving: recognises the start of a PDF, MPEG program
// stream, AVI, MP4, ZIP / Office Open XML, RAR, OLE compound document, JPEG
// or MP3 file in a sector and walks the file's own structure to its end.
//
// No I/O of its own: further bytes come through the caller's CarveReader.
// Nothing here throws, and damaged or hostile input only makes a walk find
// nothing: every walk is bounded (10 MiB windows, 20 MiB JPEG headers,
// 1 GiB ZIP / RAR, 2 GiB MPEG / MP4, OLE property-set limits), never reads
// past what the reader returns and allocates at most one 10 MiB window per
// call. Calls share no state; any thread may call at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

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

// Tests `head` (the candidate sector and the one after it, 1024 bytes, fewer
// at the source's end) as the start of a PDF, MPEG program stream, AVI, MP4,
// ZIP / Office Open XML, RAR, OLE compound document, JPEG or MP3 file, in
// that order: the first format whose start test passes decides; if its walk
// fails no other format is tried. `sector` is the absolute start sector
// (names carry it). `read` is called only during the call.
CarveResult CarveFile(Bytes head, uint64_t sector, const CarveReader& read);

}  // namespace brevid
