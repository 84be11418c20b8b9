// How much of a deleted file's content is still there: whether the clusters
// a save would read for it are now held by a live file. FAT asks the table
// the walk kept; NTFS (ntfs_recovery_chance.h) asks the volume's cluster
// bitmap. Nothing here reads a cluster's content, so a file the answer calls
// good may still have been overwritten by a file deleted since.
#pragma once

#include <cstdint>

#include "device/volume_info.h"
#include "fs/file_entry.h"

namespace brevid {

enum class RecoveryChance : uint8_t {
  kUnknown = 0,  // not a deleted file, or the allocation could not be read
  kGood,         // no cluster of it is in use
  kPartial,      // some are, but neither the first nor most of them
  kOverwritten,  // its first cluster or most of its clusters are in use
};

// The chance for `clusters` clusters of which `used` are in use, the first
// among them when `firstUsed`. A file without clusters is good.
RecoveryChance ChanceFromCounts(uint64_t clusters, uint64_t used, bool firstUsed);

// A deleted FAT file, read back as its saver reads it: the clusters
// following its first cluster for its size, each in use when its FAT entry
// is not free. kUnknown for anything but a deleted file, or when the
// volume's trees keep no FAT.
RecoveryChance FatRecoveryChance(const VolumeInfo& volume, const FileEntry& entry);

}  // namespace brevid
