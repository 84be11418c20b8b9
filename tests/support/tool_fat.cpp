#include "support/tool_fat.h"

#include "fs/fat_volume.h"
#include "fs/ntfs_volume.h"
#include "fs/volume_trees.h"

namespace brevid::test {

void Expand(DiskInfo& disk, VolumeInfo& volume) {
  ProgressRecord progress;
  ReleaseTrees(volume);
  if (IsNtfsType(volume.fsType))
    ScanMft(disk, volume, progress);
  else
    ExpandFatVolume(disk, volume, progress);
  TreesOf(volume);
}

std::unique_ptr<OpenedVolume> OpenWholeVolume(const std::string& path, FsType type,
                                              uint64_t sectors) {
  auto o = std::make_unique<OpenedVolume>();
  DiskInfo disk;
  disk.path = path;
  disk.vendor = std::filesystem::path(path).filename().string();
  disk.sizeBytes = std::filesystem::file_size(path);
  VolumeInfo v;
  v.name = "Partition0";
  v.start = 0;
  v.sectorCount = sectors;
  v.fsType = type;
  disk.volumes.push_back(std::move(v));
  o->disks.push_back(std::move(disk));
  o->disk = &o->disks.back();
  o->volume = &o->disk->volumes[0];
  Expand(*o->disk, *o->volume);
  return o;
}

}  // namespace brevid::test
