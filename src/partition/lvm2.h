// LVM2 physical volumes: the label, the volume group's metadata, and each
// logical volume listed as a volume of the disk.
#pragma once

#include "common/endian.h"
#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

// Offered sector 1 of a physical volume that starts at sector `pvStart` of
// the disk (0: a disk without an MBR signature). Returns true when it holds
// an LVM2 label, after recording the physical volume and its logical volumes
// on `disk`. Each logical volume with a part on this physical volume also
// becomes a VolumeInfo named by it: Simple when it is one run of this disk's
// sectors, Striped when it is one segment of several stripes, else Spanned
// over its segments. A part on a physical volume not yet found has an empty
// device path until ResolveLvmMemberPaths finds its disk; a segment of
// several stripes inside a longer volume stays unreadable. A physical volume
// without a metadata copy lists its volumes once a copy that names it is
// read, on this disk or on another member.
bool ReadLvmLabel(Bytes sector1, DiskInfo& disk, SourceHandle& handle, uint64_t pvStart = 0);

// A partition of the LVM type starting at sector `start`: ReadLvmLabel on
// its sector 1. False when it holds no label.
bool ReadLvmPartition(DiskInfo& disk, SourceHandle& handle, uint64_t start);

// Joins `disk` with the other physical volumes in `list`, matched by their
// UUIDs: members of either side that lie on the other get its path, volumes
// whose head has just become readable get their file system, and physical
// volumes without a metadata copy list their volumes from the other's copy.
void ResolveLvmMemberPaths(DiskList& list, DiskInfo& disk);

}  // namespace brevid
