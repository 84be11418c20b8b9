#include "scan/found_volume.h"

#include <algorithm>

#include "common/saturating.h"
#include "common/text.h"
#include "format/boot_probes.h"
#include "format/exfat_layout.h"
#include "partition/volume_label.h"

namespace brevid {
namespace {}  // namespace

VolumeInfo& AppendFoundVolume(DiskInfo& disk, uint64_t start, uint64_t sectorCount, FsType type,
                              uint32_t origin, SourceHandle* labels, uint8_t entryKind) {
  VolumeInfo v;
  for (size_t n = disk.volumes.size(); v.name.empty(); ++n) {
    std::string name = Format("Partition%zu", n);
    if (std::none_of(disk.volumes.begin(), disk.volumes.end(),
                     [&](const VolumeInfo& other) { return other.name == name; }))
      v.name = name;
  }
  v.start = start;
  v.sectorCount = sectorCount;
  v.entryKind = entryKind;
  v.fsType = type;
  v.origin = origin;
  if (labels != nullptr) v.label = ReadVolumeLabel(*labels, start, type);
  disk.volumes.push_back(std::move(v));
  return disk.volumes.back();
}

bool LargeSectorBoot(Bytes s, std::array<uint8_t, 512>& as512) {
  constexpr uint16_t kLargeSectorBytes = 4096;
  if (s.size() < as512.size() || LoadLe16(s, boot::kBytesPerSector) != kLargeSectorBytes)
    return false;
  std::copy_n(s.begin(), as512.size(), as512.begin());
  as512[boot::kBytesPerSector] = 0x00;  // 512, little-endian
  as512[boot::kBytesPerSector + 1] = 0x02;
  return IsNtfsBoot(as512) || IsFat32Boot(as512);
}

std::optional<uint64_t> ExfatVolumeStart(
    uint64_t sector, Bytes s, const std::function<std::vector<uint8_t>(uint64_t)>& readSector) {
  ExfatGeometry geo;
  if (!ParseExfatGeometry(s, &geo)) return std::nullopt;
  const uint64_t perSector = uint64_t{1} << (geo.sectorShift - 9);
  const uint64_t backupOffset = exfat::kBootRegionSectors * perSector;
  for (uint64_t start : {sector, sector >= backupOffset ? sector - backupOffset : UINT64_MAX}) {
    if (start == UINT64_MAX) continue;
    std::vector<uint8_t> fat = readSector(AddSat(start, geo.fatOffset * perSector));
    if ((LoadLe32(fat, 0) & 0xFFFFFF00) == 0xFFFFFF00 && LoadLe32(fat, 4) == exfat::kFatEnd)
      return start;
  }
  return std::nullopt;
}

}  // namespace brevid
