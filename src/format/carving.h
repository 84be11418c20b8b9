// File-signature carving: recognising the start of a file of a known type
// in a raw sector and following its own structure to its end. Pure: the
// bytes beyond the first two sectors come through the reader handed in.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/endian.h"

namespace brevid {

// Reads bytes of the source at `offset` bytes from the candidate file's first byte into `buffer`;
// returns how many bytes it placed (the rest of `buffer` is zero). Never reads before the file
// start.
using CarveReader = std::function<size_t(uint64_t offset, std::span<uint8_t> buffer)>;

struct CarveResult {
  bool recorded = false;  // a file was recognised and its end found
  uint64_t size = 0;  // bytes: the recorded size; also set without a record where the rules say so
  std::string name;   // CP936, e.g. "12345.jpg"; empty without a record
};

// Tests `head` (the candidate sector and the one after it, 1024 bytes, fewer at the source's end)
// as the start of a PDF, MPEG program stream, AVI, MP4, ZIP / Office Open XML, RAR, OLE compound
// document, JPEG or MP3 file, in that order: the first format whose start test passes decides; if
// its walk fails no other format is tried. `sector` is the absolute start sector (names carry it).
CarveResult CarveFile(Bytes head, uint64_t sector, const CarveReader& read);

}  // namespace brevid
