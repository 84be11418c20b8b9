#include "tasks/deep_scan_task.h"

namespace brevid {

int RunDeepScan(DiskInfo& disk, const VolumeInfo* volume, ProgressRecord& progress, BusyFlag& busy,
                const SourceOpener& opener) {
  busy.store(1);
  int result = volume != nullptr
                   ? DeepScan(disk, progress, volume->start, volume->sectorCount, volume, opener)
                   : DeepScan(disk, progress, 0, disk.sizeBytes / 512, nullptr, opener);
  busy.store(0);
  progress.Send(kProgressClose);
  return result;
}

}  // namespace brevid
