#include "scan/fat_directory_scan.h"

#include <algorithm>
#include <vector>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "device/volume_reader.h"
#include "format/exfat_layout.h"
#include "format/fat_directory_sector.h"
#include "platform/codepage.h"

namespace brevid {
namespace {

constexpr size_t kSector = 512;
constexpr size_t kBlockSectors = 20480;  // 10 MiB

}  // namespace

int ScanFatDirectorySectors(DiskInfo& disk, const VolumeInfo& volume, ProgressRecord& progress,
                            const SourceOpener& opener) {
  VolumeReader reader(disk, volume, opener);
  if (!reader.Open()) return 0;
  disk.extraFound.name = "Extra Found Files";
  disk.extraFound.tickState = 0;

  // A volume claims what its table or boot sector says; only what the
  // source holds is scanned.
  uint64_t end = std::min(AddSat(volume.start, volume.sectorCount), reader.SourceEndSector());
  uint64_t sectors = end > volume.start ? end - volume.start : 0;
  // Whole blocks, and the part of a block the volume ends in: a volume's last
  // few MiB (all of a small volume) hold directories too.
  uint64_t blocks = (sectors + kBlockSectors - 1) / kBlockSectors;
  progress.Send(kProgressSetRange, blocks, 1);
  // Each 10 MiB block is read in pieces small enough to stay in the CPU's
  // cache while their sectors are tested: as fast as a plain sequential read.
  constexpr size_t kPieceSectors = 256;  // 128 KiB
  std::vector<uint8_t> piece(kPieceSectors * kSector);
  uint64_t base = volume.layout == VolumeLayout::Simple ? volume.start : 0;
  const bool exfat = volume.fsType == kFsExfat;
  for (uint64_t b = 0; b < blocks; ++b) {
    if (progress.StopRequested()) return 1;
    progress.Send(kProgressSetPos, b, 0);
    for (uint64_t p = 0; p < kBlockSectors; p += kPieceSectors) {
      uint64_t firstSector = b * kBlockSectors + p;
      if (volume.start + firstSector >= end) break;
      if (reader.ReadInto(SectorToByte(base + firstSector), piece) == 0) return 1;
      for (size_t i = 0; i < kPieceSectors; ++i) {
        uint64_t s = volume.start + firstSector + i;
        if (s >= end || progress.StopRequested()) break;
        Bytes sector = Bytes(piece).subspan(i * kSector, kSector);
        if (exfat ? HoldsExfatFileSet(Bytes(piece).subspan(i * kSector), kSector)
                  : IsSubdirectoryStart(sector) || IsDirectorySector(sector))
          disk.dirClusterSectors.insert(s);
      }
    }
  }
  return 1;
}

}  // namespace brevid
