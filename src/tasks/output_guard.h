// The write guard as the commands use it: an output is checked against every
// file or device the disk in hand is read from (its image or device node and
// each member of a group or logical volume) before anything is opened, so
// that both front ends refuse the same outputs with the same text.
#pragma once

#include <string>
#include <vector>

#include "device/disk_info.h"

namespace brevid {

// The paths `disk` is read from; a group pseudo-disk has only its members'.
std::vector<std::string> DiskSourcePaths(const DiskInfo& disk);

// Empty when `ansiOutput` (a file, folder or device) may be written while
// `disks` are read; else the refusal naming both paths (CP936).
std::string OutputRefusalFor(const std::vector<const DiskInfo*>& disks,
                             const std::string& ansiOutput);

}  // namespace brevid
