// The four FAT directory walkers: FAT16 or FAT32, normal (folders followed
// along the FAT) or recovery (only a folder's first cluster, no FAT). They
// turn directory bytes into tree nodes and descend into the folders found.
#pragma once

#include <cstdint>
#include <set>

#include "common/endian.h"
#include "device/disk_info.h"
#include "device/volume_reader.h"
#include "fs/volume_trees.h"
#include "platform/progress.h"

namespace brevid {

// What the walkers need of the volume's geometry, in sectors of 512 bytes.
struct FatGeometry {
  bool fat32 = false;
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 0;
  uint32_t reservedSectors = 0;
  uint32_t fatCount = 0;
  uint32_t fatLength = 0;      // sectors of one FAT
  uint32_t rootEntries = 0;    // FAT16
  uint64_t rootDirSector = 0;  // FAT16, relative to the volume's start
  uint32_t rootCluster = 0;    // FAT32

  // Entries one FAT holds: FAT16 two bytes each, FAT32 four.
  uint64_t EntryCount() const { return uint64_t{fatLength} * bytesPerSector / (fat32 ? 4 : 2); }
  uint32_t ClusterBytes() const { return sectorsPerCluster * bytesPerSector; }
};

// One walk of one volume: the walkers' shared state. Lives for one driver call.
class FatDirectoryWalk {
 public:
  FatDirectoryWalk(VolumeReader& reader, VolumeInfo& volume, VolumeTrees& trees,
                   ProgressRecord& progress, const FatGeometry& geometry, bool recovery);

  // Walks the entries of `dir` into `parent` and descends into its folders.
  void Walk(Bytes dir, FileEntry& parent) { WalkLevel(dir, parent, 0); }

  // Cluster `cn` as read from the volume (one cluster, zeros where short).
  std::vector<uint8_t> ReadCluster(uint32_t cn);

  // The clusters of the folder starting at `cn`, read along the FAT into the
  // start of `buffer` (grown when short); returns the bytes read. Stops at
  // the end of the chain, at a cluster already read for a folder and at
  // `parentCluster`; on FAT32 a first cluster without "." and ".." gives
  // nothing.
  size_t ReadFolderChain(uint32_t cn, uint32_t parentCluster, std::vector<uint8_t>& buffer);

  // The FAT entry of `cn`, or the end mark when the table does not hold it.
  uint32_t NextCluster(uint32_t cn) const;

  // Clusters read so far, by any walk; a deleted folder's search passes them over.
  const std::set<uint32_t>& visited() const { return visited_; }
  // Records `cn` as read for a live folder (or a recorded one): the loop
  // guard of the folder descents refuses it from now on.
  void MarkRead(uint32_t cn);
  bool Stopped() const { return progress_.StopRequested(); }
  // Sends (FAT32) or posts (FAT16) one progress step; false when a stop was requested.
  bool Notify();

 private:
  void WalkLevel(Bytes dir, FileEntry& parent, int depth);
  uint64_t ClusterPosition(uint32_t cn) const;
  // Returns false when the walk of the buffer must end.
  bool NormalEntry(Bytes dir, size_t& at, FileEntry& parent, int depth);
  bool DeletedEntry(Bytes dir, size_t& at, FileEntry& parent, int depth);
  void DescendNormal(FileEntry& folder, FileEntry& parent, int depth);
  // Recovery descent of a normal folder; false when the buffer's walk ends.
  bool DescendRecovery(FileEntry node, bool hasLongName, FileEntry& parent, int depth);
  void DeletedFolder(Bytes entry, FileEntry node, bool takeDotDotTimes, bool longName,
                     FileEntry& parent, int depth);
  FileEntry* AddNode(FileEntry& parent, FileEntry node);
  void EraseCarvedFile(uint32_t firstCluster);

  VolumeReader& reader_;
  VolumeInfo& volume_;
  VolumeTrees& trees_;
  ProgressRecord& progress_;
  FatGeometry geo_;
  bool recovery_;
  std::set<uint32_t> visited_;
  std::set<uint32_t> liveRead_;                     // the part of visited_ read for live folders
  std::vector<std::vector<uint8_t>> chainBuffers_;  // DescendNormal's, one a level
};

// Node fields of a short directory entry: times, dates, size, first cluster.
FileEntry FatNodeFromEntry(Bytes entry, uint8_t kind);

}  // namespace brevid
