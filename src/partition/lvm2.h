// LVM2 physical volumes: the label, the volume group's metadata, and each
// logical volume listed as a volume of the disk.
#pragma once

#include "common/endian.h"
#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

// Offered sector 1 of a disk without an MBR signature. Returns true when it
// holds an LVM2 label, after recording the physical volume and its logical
// volumes on `disk`; the walk then looks no further. Each logical volume
// with a segment on this physical volume also becomes a VolumeInfo named by
// it: Simple when it is one run of this
// physical volume's extents, else Spanned over its segments, where a
// segment on another physical volume has an empty device path until that
// disk is found (ResolveLvmMemberPaths) and a segment of several stripes
// stays unreadable.
bool ReadLvmLabel(Bytes sector1, DiskInfo& disk, SourceHandle& handle);

// Joins `disk` with the other physical volumes of its volume group in
// `list`: members of either side that lie on the other get its path.
void ResolveLvmMemberPaths(DiskList& list, DiskInfo& disk);

}  // namespace brevid
