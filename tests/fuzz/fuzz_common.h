// What the fuzz targets share: a disk record over the input held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/disk_info.h"
#include "platform/source_opener.h"

namespace brevid::fuzz {

inline constexpr const char* kPath = "fuzz-input";

// The input as a disk image at kPath: `opener` serves its bytes.
inline DiskInfo MemoryDisk(const uint8_t* data, size_t size, MemorySourceOpener& opener) {
  opener.Add(kPath, std::vector<uint8_t>(data, data + size));
  DiskInfo disk;
  disk.path = kPath;
  disk.vendor = kPath;
  disk.sizeBytes = size;
  disk.heads = 255;
  disk.sectorsPerTrack = 63;
  return disk;
}

}  // namespace brevid::fuzz
