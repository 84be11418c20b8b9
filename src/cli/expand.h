// Running an expand worker from the command line: progress on the terminal,
// Ctrl-C as the stop button.
#pragma once

#include "device/disk_info.h"

namespace brevid::cli {

// Expands `volume` into its tree on a worker thread and waits for it. False
// (with *error) when the volume's type has no reader.
bool ExpandVolume(DiskInfo& disk, VolumeInfo& volume, std::string* error);

}  // namespace brevid::cli
