// Names of FAT directory entries: short names as stored, long names from
// their UTF-16 parts.
#pragma once

#include <string>

#include "common/endian.h"

namespace brevid {

// A file's short name: the base (trailing spaces cut when byte 7 is a
// space), then "." and the three extension bytes as stored when any of them
// is not a space. Bytes are copied as they are, but byte 0: a deleted
// entry's mark (0xE5) becomes "_", and 0x05 the 0xE5 it stands for.
std::string FatShortFileName(Bytes entry);

// A folder's short name: the 11 bytes as one string with trailing spaces cut;
// "?" replaces byte 0 of a deleted folder (0xE5) when bytes 1-10 are all
// spaces, "_" otherwise; 0x05 becomes 0xE5 as in file names.
std::string FatShortFolderName(Bytes entry);

// The text of one long-name entry, converted piece by piece to CP936: the
// characters 1-5, then 6-11 unless their first two units are 0xFFFF, then
// 12-13 unless all four bytes are 0xFF. Sets *defaulted when a character had
// no CP936 form. Stops at a NUL unit.
std::string FatLongNamePart(Bytes entry, bool* defaulted);

}  // namespace brevid
