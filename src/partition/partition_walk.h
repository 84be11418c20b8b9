// The partition walk: decides how a disk is organised and appends one
// VolumeInfo per volume found, with its file system and label. Only reads.
#pragma once

#include <string>

#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

// Walks `disk` through `handle` (positioned anywhere; every read seeks) and
// appends to disk.volumes. Damaged tables end the walk with what was found.
void WalkPartitions(DiskInfo& disk, SourceHandle& handle, const std::string& path);

// As WalkPartitions, for a disk about to join `list`: a dynamic disk files
// its group's volumes under a pseudo-disk of `list` (added when new), and
// the members that lie on this disk or on the disks already in `list` (LVM2
// physical volumes of one group, dynamic disks of one group) get their paths.
void WalkPartitionsInList(DiskList& list, DiskInfo& disk, SourceHandle& handle,
                          const std::string& path);

}  // namespace brevid
