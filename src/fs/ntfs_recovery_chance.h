// Recovery chance of deleted NTFS files (see recovery_chance.h): the runs of
// the file's own MFT record against the volume's cluster bitmap ($Bitmap,
// record 6), in which every live record's runs are marked.
#pragma once

#include <cstdint>
#include <vector>

#include "device/volume_reader.h"
#include "fs/file_entry.h"
#include "fs/recovery_chance.h"

namespace brevid {

// The cluster bitmap of an NTFS volume, read once; a bit set means the
// cluster is in use. Empty when record 6 cannot be read through the trees'
// $MFT runs (a tree rebuilt from scattered records has none).
struct NtfsClusterBitmap {
  std::vector<uint8_t> bits;
  bool InUse(uint64_t cluster) const {
    return cluster / 8 >= bits.size() || (bits[cluster / 8] >> (cluster % 8)) & 1;
  }
};

// Reads the bitmap through `reader` (open, on the calling thread), at most
// one bit for each cluster the volume holds.
NtfsClusterBitmap ReadNtfsClusterBitmap(VolumeReader& reader);

// A deleted NTFS file: its record is read again and each cluster of its
// data runs looked up in `bitmap`. Content kept inside the record is good; a
// record that now names another file is overwritten. kUnknown for anything
// but a deleted file, with an empty bitmap, or when the record has no known
// place.
RecoveryChance NtfsRecoveryChance(VolumeReader& reader, const NtfsClusterBitmap& bitmap,
                                  const NtfsEntry& entry);

}  // namespace brevid
