// One volume of a disk: where it lies, what file system it holds, how it is
// read, and (filled later by the file-system readers) its geometry.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "common/detached_ptr.h"
#include "common/sector_range.h"

namespace brevid {

// File-system code: an MBR partition type byte, replaced where the walk
// identifies the file system itself. Codes with a meaning are named below.
using FsType = uint8_t;
constexpr FsType kFsNone = 0x00;
constexpr FsType kFsFat16 = 0x06;  // also 0x04, 0x0E
constexpr FsType kFsExfat = 0x05;
constexpr FsType kFsNtfs = 0x07;   // also 0x0D
constexpr FsType kFsFat32 = 0x0C;  // also 0x0B
constexpr FsType kFsFat32Lba = 0x0B;
constexpr FsType kFsHfs = 0x19;
constexpr FsType kFsExt = 0x83;

inline bool IsFat16Type(FsType t) { return t == 0x04 || t == 0x06 || t == 0x0E; }
inline bool IsFat32Type(FsType t) { return t == 0x0B || t == 0x0C; }
inline bool IsNtfsType(FsType t) { return t == 0x07 || t == 0x0D; }

// Where a volume's record came from (VolumeInfo::origin).
constexpr uint32_t kOriginPartitionMap = 0;
constexpr uint32_t kOriginRebuilt = 1;     // rebuilt from file-system traces by a scan
constexpr uint32_t kOriginBootSearch = 2;  // found by a boot-sector search

enum class VolumeLayout : uint8_t { Simple = 0, Striped = 1, Spanned = 2, Raid5 = 3 };

// One extent of a multi-member volume.
struct VolumeMember {
  uint8_t orderKey = 0;
  std::array<uint8_t, 16> diskId{};  // identity of the disk holding it; not used to read
  std::string devicePath;            // empty when that disk is not present
  uint64_t start = 0;                // first sector on that device
  uint64_t sectorCount = 0;
  std::string pvId;  // LVM2: the physical volume holding it; empty otherwise
};

// The recovered file tree, its indexes and the file-system readers' maps
// (defined with the readers, which create it on first use).
struct VolumeTrees;

struct VolumeInfo {
  std::string diskPath;  // set for HFS-family volumes
  std::string hfsText;   // "HFS", "HFS+", "HFS+ in HFS" or the Apple map type
  uint32_t hfsKind = 0;  // 1 HFS, 2 HFS+, 3 HFSX, 4 HFS+ wrapped in HFS
  std::string label;
  std::string driveLetter;  // here: the mount point of the volume, when mounted
  std::string name;         // "Partition%d", a GPT name, an LVM or dynamic volume name
  std::string extText;      // "EXT2", "EXT3", "EXT4"
  uint64_t sectorCount = 0;
  uint64_t start = 0;     // first sector on the disk; 0 for multi-member volumes
  uint8_t entryKind = 1;  // 1 primary, GPT or whole disk; 2 logical in an extended partition
  uint32_t sectorsPerCluster = 8;
  uint64_t clusterBase = 0;  // cluster c starts at sector c * sectorsPerCluster + clusterBase
  FsType fsType = kFsNone;
  uint32_t sectorSize = 512;
  uint32_t origin = kOriginPartitionMap;
  bool fromBackupGpt = false;  // listed from the backup GPT: the primary header was damaged
  uint32_t fatSectors = 0;     // one FAT's length in sectors
  uint64_t mftStart = 0;       // sector of the MFT
  uint32_t indexRecordClusters = 0;
  VolumeLayout layout = VolumeLayout::Simple;
  uint16_t stripeSectors = 128;
  std::map<uint8_t, VolumeMember> members;  // iterated in key order
  // Built by an expand or a scan and released before the next one. A copy of
  // the record starts without it; moving the record keeps it in place.
  DetachedPtr<VolumeTrees> trees;

  // The sectors the volume covers on its disk.
  SectorRange Extent() const { return {start, sectorCount}; }
};

}  // namespace brevid
