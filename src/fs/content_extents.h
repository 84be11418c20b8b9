// Where on its disk a file's content lies, as a save reads it: the bytes to
// hold against a rescue map's unrescued areas without reading the content.
// Simple volumes only (the disk's own byte offsets).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "device/volume_reader.h"
#include "format/entry_kind.h"

namespace brevid {

// Byte ranges [first, second) on the disk.
using ByteExtents = std::vector<std::pair<uint64_t, uint64_t>>;

// A FAT file: a live one along its chain in the FAT the walk kept, a deleted
// one (or any without that FAT) as the clusters that follow its first.
// Bounded by the file's size and the table's length.
ByteExtents FatContentExtents(const VolumeInfo& volume, uint8_t kind, uint32_t firstCluster,
                              uint64_t size);

// An NTFS file through its record, read again through `reader` (open, on the
// calling thread): its runs for the data's length, or the record itself when
// the content is kept there. Empty when the record cannot be located.
ByteExtents NtfsContentExtents(VolumeReader& reader, uint32_t recordNumber);

// Whether any of `extents` meets one of `ranges` (sorted, as DiskInfo keeps
// its unrescued areas).
bool ExtentsMeet(const ByteExtents& extents,
                 const std::vector<std::pair<uint64_t, uint64_t>>& ranges);

}  // namespace brevid
