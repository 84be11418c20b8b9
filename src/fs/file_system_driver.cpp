#include "fs/file_system_driver.h"

#include <array>

#include "fs/exfat_volume.h"
#include "fs/fat_volume.h"
#include "fs/ntfs_volume.h"

namespace brevid {
namespace {

bool ExpandFat(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
               const SourceOpener& opener) {
  ExpandFatVolume(disk, volume, progress, opener);
  return true;
}

bool ExpandNtfs(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                const SourceOpener& opener) {
  return ScanMft(disk, volume, progress, opener) != 0;
}

bool ExpandExfat(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                 const SourceOpener& opener) {
  ExpandExfatVolume(disk, volume, progress, opener);
  return true;
}

}  // namespace

const FileSystemDriver* DriverFor(FsType type) {
  static const std::array<FileSystemDriver, 4> drivers = {{
      {KindOfType(kFsFat16), TreeNodes::kFat, ExpandFat},
      {KindOfType(kFsFat32), TreeNodes::kFat, ExpandFat},
      {KindOfType(kFsNtfs), TreeNodes::kNtfs, ExpandNtfs},
      {KindOfType(kFsExfat), TreeNodes::kFat, ExpandExfat},
  }};
  const FileSystemKind* kind = KindOfType(type);
  for (const FileSystemDriver& driver : drivers)
    if (kind != nullptr && driver.kind == kind) return &driver;
  return nullptr;
}

}  // namespace brevid
