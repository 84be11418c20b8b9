// LVM2 physical volumes.
#pragma once

#include "common/endian.h"
#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

// Offered sector 1 of a disk without an MBR signature. Returns true when it
// holds an LVM2 label, after recording the physical volume and its logical
// volumes on `disk`; the walk then looks no further.
bool ReadLvmLabel(Bytes sector1, DiskInfo& disk, SourceHandle& handle);

}  // namespace brevid
