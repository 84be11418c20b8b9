// Expanding and format recovery of any image taken as a FAT32, FAT16 and
// NTFS volume: the boot-sector readers, the directory walkers, the
// directory-sector scan, the MFT scan and its record reader.
#include "fuzz_common.h"
#include "tasks/expand_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brevid;
  for (FsType type : {kFsFat32, kFsFat16, kFsNtfs}) {
    MemorySourceOpener opener;
    DiskInfo disk = fuzz::MemoryDisk(data, size, opener);
    VolumeInfo volume;
    volume.name = "Partition0";
    volume.fsType = type;
    volume.sectorCount = size / 512;
    disk.volumes.push_back(std::move(volume));
    ProgressRecord progress;
    ExpandVolume(disk, disk.volumes[0], ExpandMode::kFormatScan, progress, opener);
  }
  return 0;
}
