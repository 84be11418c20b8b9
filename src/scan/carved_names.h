// Original names for carved files. After a deep scan, the FAT directory
// sectors it found are read again: a carved file whose first sector is the
// first cluster of a directory entry (deleted or not) of exactly the carved
// size takes that entry's name, with the names of the folders above it as
// far as their own sectors are known ("DCIM/100CANON/IMG_0412.JPG"). The
// MFT records it found name carved files on NTFS volumes the same way, by
// the first run of their data. The carved name stays in
// CarvedFile::carvedName.
//
// Runs on the deep scan's thread, after the scan; reads only.
#pragma once

#include "device/disk_info.h"
#include "device/volume_reader.h"

namespace brevid {

void NameCarvedFiles(DiskInfo& disk, VolumeReader& reader);

}  // namespace brevid
