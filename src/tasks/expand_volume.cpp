#include "tasks/expand_volume.h"

#include "device/volume_reader.h"
#include "fs/file_system_driver.h"
#include "fs/volume_trees.h"
#include "scan/fat_directory_scan.h"

namespace brevid {
namespace {

// A walk that found nothing (no geometry, no $MFT) still shows its empty
// roots; they are indexed as a walk indexes them, so that they are found
// again by their names. True when they had to be made here.
bool KeepEmptyRoots(VolumeInfo& volume, bool fat) {
  VolumeTrees& trees = TreesOf(volume);
  if (fat && trees.fatNormalIndex.empty()) return StartFatTree(trees, 0), true;
  if (!fat && trees.ntfsIndex.empty()) return StartNtfsTree(trees, false), true;
  return false;
}

}  // namespace

bool IsExpandable(FsType type) { return DriverFor(type) != nullptr; }

ExpandOutcome ExpandVolume(DiskInfo& disk, VolumeInfo& volume, ExpandMode mode,
                           ProgressRecord& progress, const SourceOpener& opener) {
  const FileSystemDriver* driver = DriverFor(volume.fsType);
  if (driver == nullptr) return ExpandOutcome::kUnsupportedType;
  const bool fat = driver->nodes == TreeNodes::kFat;
  ReleaseTrees(volume);
  VolumeReader probe(disk, volume, opener);
  if (!probe.Open()) {
    KeepEmptyRoots(volume, fat);
    return ExpandOutcome::kSourceUnreadable;
  }
  if (!fat) {
    // NTFS volumes are always read record by record, for expand and format recovery alike.
    if (!driver->expand(disk, volume, progress, opener) && !progress.StopRequested()) {
      KeepEmptyRoots(volume, fat);
      return ExpandOutcome::kMftUnreadable;
    }
  } else {
    if (mode == ExpandMode::kFormatScan) ScanFatDirectorySectors(disk, volume, progress, opener);
    if (!progress.StopRequested()) driver->expand(disk, volume, progress, opener);
  }
  const bool nothingWalked = KeepEmptyRoots(volume, fat);
  if (progress.StopRequested()) return ExpandOutcome::kStopped;
  return nothingWalked && fat ? ExpandOutcome::kNoFileSystem : ExpandOutcome::kDone;
}

ExpandOutcome RunExpand(DiskInfo& disk, VolumeInfo& volume, ExpandMode mode,
                        ProgressRecord& progress, BusyFlag& busy, const SourceOpener& opener) {
  busy.store(1);
  ExpandOutcome outcome = ExpandVolume(disk, volume, mode, progress, opener);
  busy.store(0);
  progress.Send(kProgressClose);
  return outcome;
}

}  // namespace brevid
