// Volume labels, read the way each file system stores them.
#pragma once

#include <cstdint>
#include <string>

#include "device/volume_info.h"
#include "platform/source_handle.h"

namespace brevid {

// The label of the volume of type `fsType` that starts at sector `start`
// (512-byte units) of `handle`, in the ANSI code page. Empty when the type
// has no label reader or any structure on the way fails its check.
std::string ReadVolumeLabel(SourceHandle& handle, uint64_t start, FsType fsType);

}  // namespace brevid
