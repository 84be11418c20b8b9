#include "tasks/expand_volume.h"

#include "device/volume_reader.h"
#include "fs/fat_volume.h"
#include "fs/ntfs_volume.h"
#include "fs/volume_trees.h"
#include "scan/fat_directory_scan.h"

namespace brevid {

ExpandOutcome ExpandVolume(DiskInfo& disk, VolumeInfo& volume, ExpandMode mode,
                           ProgressRecord& progress, const SourceOpener& opener) {
  const bool fat = IsFat16Type(volume.fsType) || IsFat32Type(volume.fsType);
  if (!fat && !IsNtfsType(volume.fsType)) return ExpandOutcome::kUnsupportedType;
  ReleaseTrees(volume);
  VolumeReader probe(disk, volume, opener);
  if (!probe.Open()) {
    TreesOf(volume);
    return ExpandOutcome::kSourceUnreadable;
  }
  if (!fat) {
    // NTFS volumes are always read record by record, for expand and format recovery alike.
    if (ScanMft(disk, volume, progress, opener) == 0 && !progress.StopRequested()) {
      TreesOf(volume);
      return ExpandOutcome::kMftUnreadable;
    }
  } else {
    if (mode == ExpandMode::kFormatScan) ScanFatDirectorySectors(disk, volume, progress, opener);
    if (!progress.StopRequested()) ExpandFatVolume(disk, volume, progress, opener);
  }
  TreesOf(volume);  // a walk that found nothing still shows its empty roots
  return progress.StopRequested() ? ExpandOutcome::kStopped : ExpandOutcome::kDone;
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
