// Expanding and format recovery of any image taken as an exFAT volume: the
// boot region and its backup, the FAT, the entry-set parser and the folder
// walk, the entry-set sector scan and the recorded-sector walk.
#include "fuzz_common.h"
#include "tasks/expand_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brevid;
  for (ExpandMode mode : {ExpandMode::kExpand, ExpandMode::kFormatScan}) {
    MemorySourceOpener opener;
    DiskInfo disk = fuzz::MemoryDisk(data, size, opener);
    VolumeInfo volume;
    volume.name = "Partition0";
    volume.fsType = kFsExfat;
    volume.sectorCount = size / 512;
    disk.volumes.push_back(std::move(volume));
    ProgressRecord progress;
    ExpandVolume(disk, disk.volumes[0], mode, progress, opener);
  }
  return 0;
}
