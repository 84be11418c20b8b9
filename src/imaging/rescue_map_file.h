// The map file on disk: read whole, written to a temporary file beside it
// and renamed over it, so that a crash or a full disk leaves the last good
// map. Both go through the write guard like every output.
#pragma once

#include <string>

#include "format/rescue_map.h"

namespace brevid {

enum class MapLoad { kMissing, kLoaded, kDamaged };

// kDamaged, with *error (UTF-8) saying why, when the file exists but is not
// a mapfile or cannot be read.
MapLoad LoadRescueMapFile(const std::string& ansiPath, RescueMap* map, std::string* error);

// False when the temporary file could not be written in full or renamed;
// the previous map is then left as it was.
bool SaveRescueMapFile(const std::string& ansiPath, const RescueMap& map);

}  // namespace brevid
