// Expanding an exFAT volume into its recovered file tree: the boot region
// (main, or the backup when the main one fails its checksum), the FAT, and
// the directory entry sets from the root folder down, deleted sets included.
#pragma once

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

class VolumeReader;
struct ExfatGeometry;

// The geometry of the exFAT volume at `start`: from the main boot region
// when its checksum holds, else from the backup region, else from the main
// boot sector alone. False when none gives a usable geometry.
bool ReadExfatBootRegion(VolumeReader& reader, uint64_t start, ExfatGeometry* geometry);

// Builds the volume's tree (in TreesOf(volume), released beforehand) under
// the FAT roots: live and deleted files and folders, each FileEntry with its
// first cluster, size and exFAT flags. Runs on one worker; polls the stop
// flag. A damaged volume gives fewer nodes or none, never more reading than
// the volume holds.
void ExpandExfatVolume(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                       const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
