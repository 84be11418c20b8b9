// The fields of a FAT16 or FAT32 boot sector that the readers use. The
// parse takes the bytes as they stand and judges nothing: the readers and
// the label reader apply their own acceptance tests (boot_probes.h) first.
#pragma once

#include <cstdint>

#include "common/endian.h"

namespace brevid {

struct FatBootSector {
  uint32_t bytesPerSector = 0;     // 0x0B
  uint32_t sectorsPerCluster = 0;  // 0x0D
  uint32_t reservedSectors = 0;    // 0x0E
  uint32_t fatCount = 0;           // 0x10
  uint32_t rootEntries = 0;        // 0x11, FAT16
  uint32_t fat16Sectors = 0;       // 0x16, one FAT's length on FAT16
  uint32_t fat32Sectors = 0;       // 0x24, one FAT's length on FAT32
  uint32_t rootCluster = 0;        // 0x2C, FAT32
};

// Fields outside `sector` read as 0.
FatBootSector ParseFatBootSector(Bytes sector);

}  // namespace brevid
