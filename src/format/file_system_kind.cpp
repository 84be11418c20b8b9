#include "format/file_system_kind.h"

#include <array>

#include "format/boot_probes.h"

namespace brevid {
namespace {

bool Fat16Type(uint8_t t) { return t == 0x04 || t == 0x06 || t == 0x0E; }
bool Fat32Type(uint8_t t) { return t == 0x0B || t == 0x0C; }
bool NtfsType(uint8_t t) { return t == 0x07 || t == 0x0D; }
bool ExfatType(uint8_t t) { return t == 0x05; }

const std::array<FileSystemKind, 4> kKinds = {{
    {"FAT16", Fat16Type, 0x06, 0x06, "(fat)", IsFat16Boot, Fat16SectorCount},
    {"exFAT", ExfatType, 0x05, 0x05, "(exFat)", IsExfatBoot, ExfatSectorCount},
    {"NTFS", NtfsType, 0x07, 0x07, "(NTFS)", IsNtfsBoot, NtfsSectorCount},
    {"FAT32", Fat32Type, 0x0C, 0x0B, "(fat)", IsFat32Boot, Fat32SectorCount},
}};

}  // namespace

const FileSystemKind* KindOfBootSector(Bytes sector) {
  for (const FileSystemKind& kind : kKinds)
    if (kind.isBootSector(sector)) return &kind;
  return nullptr;
}

const FileSystemKind* KindOfType(uint8_t type) {
  for (const FileSystemKind& kind : kKinds)
    if (kind.hasType(type)) return &kind;
  return nullptr;
}

bool SameFileSystem(uint8_t a, uint8_t b) {
  const FileSystemKind* kind = KindOfType(a);
  return kind ? kind == KindOfType(b) : a == b;
}

}  // namespace brevid
