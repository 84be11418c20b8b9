// The texts that name what the imaging tool copies from and to: a disk key
// ("vendor product number revision"), or a disk key, a comma and a volume's
// item text (its mount point, else its partition name).
#pragma once

#include <cstdint>
#include <string>

#include "device/disk_info.h"

namespace brevid {

struct ImagingEndpoint {
  std::string devicePath;    // the disk's path; empty when the text matched nothing
  uint64_t byteOffset = 0;   // the volume's start on the disk; 0 for a disk
  uint64_t volumeBytes = 0;  // the volume's length; 0 for a disk
  uint64_t diskBytes = 0;    // the disk's length; 0 for a volume
  bool isVolume = false;
  const VolumeInfo* volume = nullptr;  // the volume named; null for a disk

  // A volume of a group pseudo-disk or a logical volume over several
  // extents: read through its members, not through devicePath.
  bool ReadsThroughMembers() const {
    return volume != nullptr && volume->layout != VolumeLayout::Simple;
  }

  bool Found() const { return !devicePath.empty(); }
  // The bytes the endpoint names, from byteOffset on.
  uint64_t Length() const { return isVolume ? volumeBytes : diskBytes; }
};

// Looks `text` (CP936) up in `list`. Without a comma, or with the comma
// first, the whole text is a disk key; else the part before the first comma
// is, and the part after it names the first volume of that disk whose mount
// point or partition name equals it. All zero and empty when nothing matches.
ImagingEndpoint ResolveImagingEndpoint(const DiskList& list, const std::string& text);

// The endpoint's length in 512-byte sectors; 0 when nothing matches.
uint64_t CountEndpointSectors(const DiskList& list, const std::string& text);

}  // namespace brevid
