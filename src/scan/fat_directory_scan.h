// The directory-sector scan of format recovery: every sector of a FAT volume
// that looks like a piece of a FAT directory is recorded on the disk, for the
// FAT walk's recorded-folder walk to turn into folders.
#pragma once

#include <cstdint>

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

// Reads the whole of `volume` in 10 MiB blocks and inserts the absolute
// number of every directory-like sector into disk.dirClusterSectors. Returns
// 1 (also when stopped; what was found stays), 0 when the disk cannot be
// opened. Runs on one worker thread.
int ScanFatDirectorySectors(DiskInfo& disk, const VolumeInfo& volume, ProgressRecord& progress,
                            const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
