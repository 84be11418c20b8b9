#include "format/fat_boot_sector.h"

#include "format/boot_probes.h"

namespace brevid {

FatBootSector ParseFatBootSector(Bytes s) {
  FatBootSector b;
  b.bytesPerSector = LoadLe16(s, boot::kBytesPerSector);
  b.sectorsPerCluster = Load8(s, boot::kSectorsPerCluster);
  b.reservedSectors = LoadLe16(s, boot::kReservedSectors);
  b.fatCount = Load8(s, boot::kFatCount);
  b.rootEntries = LoadLe16(s, boot::kRootEntries);
  b.fat16Sectors = LoadLe16(s, boot::kFatSectors16);
  b.fat32Sectors = LoadLe32(s, boot::kFat32Sectors);
  b.rootCluster = LoadLe32(s, boot::kFat32RootCluster);
  return b;
}

}  // namespace brevid
