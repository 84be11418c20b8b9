// Dynamic disks (partition type 0x42): the disk group's database read into
// one pseudo-disk of the DiskList per group, whose volumes are read through
// their members on the group's disks.
#pragma once

#include <string>

#include "device/disk_info.h"
#include "format/ldm.h"
#include "platform/source_handle.h"

namespace brevid {

// Reads the private header (at `headerSector`: sector 6 on a disk with an
// MBR, the metadata partition's last sector on one with a GPT) and the
// database of the disk at `path` (not yet in `list`). The first disk of a
// group adds the group's pseudo-disk (diskKind 2) to `list` with its
// volumes; every disk of the group fills in the device path of the members
// that lie on it. False when the private header (any copy) or the database
// is not valid; nothing is added then. Pointers into `list` stay valid: it
// only grows at its end.
bool ReadDynamicDisk(DiskList& list, const std::string& path, DiskInfo& disk, SourceHandle& handle,
                     uint64_t headerSector = ldm::kPrivateHeaderSector);

// Gives every member of `group`'s volumes that lies on `disk` (matched by the
// disk's identity text) and has no path yet the disk's path, and moves its
// start to the disk's own data area.
void ResolveMemberPaths(const DiskInfo& disk, DiskInfo& group);

}  // namespace brevid
