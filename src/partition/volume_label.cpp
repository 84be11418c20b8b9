#include "partition/volume_label.h"

#include <limits>
#include <vector>

#include "common/sector_range.h"
#include "partition/boot_probes.h"
#include "platform/codepage.h"

namespace brevid {
namespace {

constexpr size_t kDirEntrySize = 32;
constexpr size_t kDirAttributes = 11;
constexpr size_t kDirNameLength = 11;

// Sector sizes we accept from a boot sector; anything else is damage.
bool IsSaneSectorSize(uint32_t bytes) {
  return bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096;
}

uint64_t MulSat(uint64_t a, uint64_t b) {
  if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return std::numeric_limits<uint64_t>::max();
  return a * b;
}

uint64_t AddSat(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// The first entry of a FAT directory whose attribute is 0x08 or 0x28 names
// the volume; an entry whose first 16 bytes are zero ends the folder.
std::string FatLabelFromDirectory(Bytes dir) {
  for (size_t at = 0; at + kDirEntrySize <= dir.size(); at += kDirEntrySize) {
    Bytes entry = dir.subspan(at, kDirEntrySize);
    bool empty = true;
    for (size_t i = 0; i < 16; ++i) empty = empty && entry[i] == 0;
    if (empty) break;
    uint8_t attr = entry[kDirAttributes];
    if (attr == 0x08 || attr == 0x28)
      return std::string(reinterpret_cast<const char*>(entry.data()), kDirNameLength);
  }
  return {};
}

std::string Fat32Label(SourceHandle& h, uint64_t start, Bytes bootSector) {
  uint32_t bps = LoadLe16(bootSector, boot::kBytesPerSector);
  uint32_t rootCluster = LoadLe32(bootSector, boot::kFat32RootCluster);
  if (!IsSaneSectorSize(bps) || rootCluster < 2) return {};
  uint64_t rel = AddSat(LoadLe16(bootSector, boot::kReservedSectors),
                        AddSat(MulSat(Load8(bootSector, boot::kFatCount),
                                      LoadLe32(bootSector, boot::kFat32Sectors)),
                               MulSat(rootCluster - 2, Load8(bootSector, boot::kSectorsPerCluster))));
  std::vector<uint8_t> dir = ReadBytes(h, AddSat(SectorToByte(start), MulSat(rel, bps)), bps);
  return FatLabelFromDirectory(dir);
}

std::string Fat16Label(SourceHandle& h, uint64_t start, Bytes bootSector) {
  uint32_t bps = LoadLe16(bootSector, boot::kBytesPerSector);
  if (!IsSaneSectorSize(bps)) return {};
  uint64_t rel = static_cast<uint64_t>(Load8(bootSector, boot::kFatCount)) *
                     LoadLe16(bootSector, boot::kFatSectors16) +
                 LoadLe16(bootSector, boot::kReservedSectors);
  size_t length = static_cast<size_t>(LoadLe16(bootSector, boot::kRootEntries)) * kDirEntrySize;
  std::vector<uint8_t> dir = ReadBytes(h, AddSat(SectorToByte(start), rel * bps), length);
  return FatLabelFromDirectory(dir);
}

// The $Volume record (record 3) of an NTFS volume, assumed to be two sectors
// per record as the design's readers do.
std::string NtfsLabel(SourceHandle& h, uint64_t start, Bytes bootSector) {
  uint32_t bps = LoadLe16(bootSector, boot::kBytesPerSector);
  if (!IsSaneSectorSize(bps)) return {};
  uint64_t sector = AddSat(AddSat(start, MulSat(NtfsSectorsPerCluster(bootSector),
                                                LoadLe64(bootSector, boot::kNtfsMftCluster))),
                           6);
  std::vector<uint8_t> record = ReadBytes(h, MulSat(sector, bps), 2 * bps);
  Bytes r(record);
  if (!BytesEqual(r, 0, "FILE") && !BytesEqual(r, 0, "FHLD")) return {};
  size_t usa = Load8(r, 4);
  if (usa != 0x30 && usa != 0x2A) return {};
  uint16_t usn = LoadLe16(r, usa);
  if (LoadLe16(r, 510) != usn || LoadLe16(r, 1022) != usn) return {};
  record[510] = record[usa + 2];
  record[511] = record[usa + 3];
  record[1022] = record[usa + 4];
  record[1023] = record[usa + 5];

  size_t at = LoadLe16(r, 0x14);
  while (InBounds(r, at, 8)) {
    uint32_t type = LoadLe32(r, at);
    uint32_t length = LoadLe32(r, at + 4);
    if (type == 0xFFFFFFFF || length == 0 || !InBounds(r, at, length)) break;
    uint32_t valueLength = LoadLe32(r, at + 16);
    if (type == 0x60 && valueLength != 0) {
      size_t valueAt = at + LoadLe16(r, at + 20);
      Bytes value = SubBytes(r, valueAt, valueLength);
      std::u16string wide(value.size() / 2, u'\0');
      for (size_t i = 0; i < wide.size(); ++i) wide[i] = LoadLe16(value, 2 * i);
      return WideToAnsi(wide);
    }
    at += length;
  }
  return {};
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
  constexpr uint8_t kLabelEntry = 0x83;
  for (size_t at = 0; at + kDirEntrySize <= d.size(); at += kDirEntrySize) {
    if (d[at] != kLabelEntry) continue;
    size_t count = std::min<size_t>(d[at + 1], 15);
    std::u16string wide(count, u'\0');
    for (size_t i = 0; i < count; ++i) wide[i] = LoadLe16(d, at + 2 + 2 * i);
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
  if (fsType == kFsExfat) return ExfatLabel(handle, start, bootSector);
  return {};
}

}  // namespace brevid
