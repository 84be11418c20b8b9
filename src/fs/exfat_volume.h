// Expanding an exFAT volume into its recovered file tree.
#pragma once

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

// Builds the volume's tree (in TreesOf(volume), released beforehand).
void ExpandExfatVolume(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                       const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
