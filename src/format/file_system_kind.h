// The file systems Brevid reads, one entry each: how a boot sector shows it,
// what a volume found by that boot sector is called and typed, and how many
// sectors the boot sector claims. The partition walk, the searches and the
// disk pane look file systems up here; fs/ adds the expand and the savers'
// tree to the same entries (fs/file_system_driver.h).
#pragma once

#include <cstdint>

#include "common/endian.h"

namespace brevid {

struct FileSystemKind {
  const char* typeText;           // the "文件类型" column
  bool (*hasType)(uint8_t type);  // the type codes that mean this file system
  // Type code given to a volume identified from its boot sector: on a whole
  // disk or in an LVM volume (`wholeDiskType`), in a GPT or 0x83 partition and
  // by the searches (`foundType`).
  uint8_t wholeDiskType;
  uint8_t foundType;
  const char* gptSuffix;  // appended to a GPT partition's name
  bool (*isBootSector)(Bytes sector);
  uint64_t (*sectorCount)(Bytes bootSector);  // sectors of 512 bytes
};

// The file system whose boot sector `sector` is, or nullptr. The tests
// exclude each other, so the order of the table does not matter.
const FileSystemKind* KindOfBootSector(Bytes sector);

// The file system that type code `type` means, or nullptr (HFS, EXT and
// unknown codes: those volumes are listed, not read).
const FileSystemKind* KindOfType(uint8_t type);

// The same file system for both codes (0x0B and 0x0C are both FAT32).
bool SameFileSystem(uint8_t a, uint8_t b);

}  // namespace brevid
