// Dynamic disks (partition type 0x42).
#pragma once

#include <string>

#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

// Reads the dynamic-disk database of the disk at `path` and adds its volumes.
void ReadDynamicDisk(const std::string& path, DiskInfo& disk, SourceHandle& handle);

}  // namespace brevid
