#include "partition/volume_label.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "format/boot_probes.h"
#include "format/exfat_layout.h"
#include "format/fat_boot_sector.h"
#include "format/fat_layout.h"
#include "format/mft_record.h"
#include "platform/codepage.h"

namespace brevid {
namespace {

constexpr size_t kDirNameLength = 11;  // base and extension, as stored

// Sector sizes we accept from a boot sector; anything else is damage.
bool IsSaneSectorSize(uint32_t bytes) {
  return bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096;
}

// The first entry of a FAT directory whose attribute is 0x08 or 0x28 names
// the volume; an entry whose first 16 bytes are zero ends the folder.
std::string FatLabelFromDirectory(Bytes dir) {
  for (size_t at = 0; at + fat::kEntrySize <= dir.size(); at += fat::kEntrySize) {
    Bytes entry = dir.subspan(at, fat::kEntrySize);
    bool empty = true;
    for (size_t i = 0; i < 16; ++i) empty = empty && entry[i] == 0;
    if (empty) break;
    uint8_t attr = entry[fat::kAttributes];
    if (attr == 0x08 || attr == 0x28)
      return std::string(reinterpret_cast<const char*>(entry.data()), kDirNameLength);
  }
  return {};
}

std::string Fat32Label(SourceHandle& h, uint64_t start, Bytes bootSector) {
  FatBootSector b = ParseFatBootSector(bootSector);
  uint32_t bps = b.bytesPerSector;
  if (!IsSaneSectorSize(bps) || b.rootCluster < 2) return {};
  uint64_t rel = AddSat(b.reservedSectors, AddSat(MulSat(b.fatCount, b.fat32Sectors),
                                                  MulSat(b.rootCluster - 2, b.sectorsPerCluster)));
  std::vector<uint8_t> dir = ReadBytes(h, AddSat(SectorToByte(start), MulSat(rel, bps)), bps);
  return FatLabelFromDirectory(dir);
}

std::string Fat16Label(SourceHandle& h, uint64_t start, Bytes bootSector) {
  FatBootSector b = ParseFatBootSector(bootSector);
  uint32_t bps = b.bytesPerSector;
  if (!IsSaneSectorSize(bps)) return {};
  uint64_t rel = uint64_t{b.fatCount} * b.fat16Sectors + b.reservedSectors;
  size_t length = size_t{b.rootEntries} * fat::kEntrySize;
  std::vector<uint8_t> dir = ReadBytes(h, AddSat(SectorToByte(start), rel * bps), length);
  return FatLabelFromDirectory(dir);
}

// The $Volume record (record 3). The volume's start is in 512-byte sectors
// whatever the volume's own sector size.
std::string NtfsLabel(SourceHandle& h, uint64_t start, Bytes bootSector) {
  constexpr uint32_t kVolumeRecord = 3;
  uint32_t bps = LoadLe16(bootSector, boot::kBytesPerSector);
  if (!IsSaneSectorSize(bps)) return {};
  uint32_t recordBytes = NtfsRecordBytes(bootSector);
  if (recordBytes == 0) recordBytes = kMftRecordSize;
  uint64_t mft = MulSat(NtfsMftOffset(bootSector), bps);
  uint64_t at = AddSat(AddSat(SectorToByte(start), mft), uint64_t{kVolumeRecord} * recordBytes);
  std::vector<uint8_t> record = ReadBytes(h, at, std::max<size_t>(recordBytes, kMftRecordSize));
  return ParseVolumeName(record);
}

std::string ExfatLabel(SourceHandle& h, uint64_t start, Bytes bootSector) {
  uint8_t sectorShift = Load8(bootSector, boot::kExfatSectorShift);
  uint8_t clusterShift = Load8(bootSector, boot::kExfatClusterShift);
  uint32_t rootCluster = LoadLe32(bootSector, boot::kExfatRootCluster);
  if (sectorShift < 9 || sectorShift > 12 || clusterShift > 25 || rootCluster < 2) return {};
  uint32_t bps = 1u << sectorShift;
  uint64_t rel = AddSat(LoadLe32(bootSector, boot::kExfatHeapOffset),
                        MulSat(rootCluster - 2, uint64_t{1} << clusterShift));
  std::vector<uint8_t> dir = ReadBytes(h, AddSat(SectorToByte(start), MulSat(rel, bps)), bps);
  Bytes d(dir);
  for (size_t at = 0; at + exfat::kEntrySize <= d.size(); at += exfat::kEntrySize) {
    if (d[at] != exfat::kTypeLabel) continue;
    // Up to the entry's end (15 units), though the format stops at 11.
    size_t count = std::min<size_t>(d[at + exfat::kLabelCount], 15);
    std::u16string wide(count, u'\0');
    for (size_t i = 0; i < count; ++i) wide[i] = LoadLe16(d, at + exfat::kNameUnits + 2 * i);
    return WideToAnsi(wide);
  }
  return {};
}

}  // namespace

std::string ReadVolumeLabel(SourceHandle& handle, uint64_t start, FsType fsType) {
  if (fsType == kFsExt) {
    std::vector<uint8_t> sb = ReadBytes(handle, SectorToByte(AddSat(start, 2)), 1024);
    return ExtVolumeName(sb);
  }
  std::vector<uint8_t> bootSector = ReadBytes(handle, SectorToByte(start), 512);
  if (IsFat32Type(fsType)) return Fat32Label(handle, start, bootSector);
  if (IsFat16Type(fsType)) return Fat16Label(handle, start, bootSector);
  if (IsNtfsType(fsType)) return NtfsLabel(handle, start, bootSector);
  if (fsType == kFsExfat) {
    // A volume found by its backup boot sector has the backup's geometry:
    // the backup region follows the 12 sectors of the main one.
    for (uint64_t backup : {12, 96})
      if (!IsExfatBoot(bootSector))
        bootSector = ReadBytes(handle, SectorToByte(AddSat(start, backup)), 512);
    return ExfatLabel(handle, start, bootSector);
  }
  return {};
}

}  // namespace brevid
