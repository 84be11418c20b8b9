// Tests that tell a sector of a FAT directory from other data, for the
// scans that look for folders without a file system to lead them.
#pragma once

#include "common/endian.h"

namespace brevid {

// A folder's first sector: "." then "..", both with size 0.
bool IsSubdirectoryStart(Bytes sector);

// Every one of the sector's 16 entries passes the directory-entry test.
bool IsDirectorySector(Bytes sector);

}  // namespace brevid
