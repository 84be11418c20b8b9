// exFAT on-disk structures: the boot sector's geometry, the boot region's
// checksum, FAT entries and the directory entry sets of files and folders.
// Parsing only; the reader of a volume is fs/exfat_volume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/endian.h"

namespace brevid {
namespace exfat {

// Boot sector (shares 0x00-0x47 with boot::, see format/boot_probes.h).
constexpr size_t kVolumeLength = 0x48;  // u64, in sectors of the volume
constexpr size_t kFatOffset = 0x50;     // u32, sectors
constexpr size_t kFatLength = 0x54;     // u32, sectors
constexpr size_t kHeapOffset = 0x58;    // u32, sectors
constexpr size_t kClusterCount = 0x5C;  // u32
constexpr size_t kRootCluster = 0x60;   // u32
constexpr size_t kSectorShift = 0x6C;   // u8, 9 to 12
constexpr size_t kClusterShift = 0x6D;  // u8, sectors per cluster = 2^this
constexpr size_t kFatCount = 0x6E;      // u8, 1 or 2

// The boot region: boot sector, 8 extended boot sectors, OEM parameters,
// a reserved sector, then the checksum sector; the backup region follows.
constexpr uint32_t kBootRegionSectors = 12;
constexpr uint32_t kChecksumSector = 11;
constexpr size_t kVolumeFlagsLow = 0x6A;  // u16, left out of the checksum
constexpr size_t kPercentInUse = 0x70;    // u8, left out of the checksum

// FAT entries (u32); every value above the cluster count ends a chain.
constexpr uint32_t kFatBad = 0xFFFFFFF7;
constexpr uint32_t kFatEnd = 0xFFFFFFFF;
constexpr uint32_t kFirstCluster = 2;

// Directory entries, 32 bytes each; bit 7 of the type byte is "in use".
constexpr size_t kEntrySize = 32;
constexpr size_t kType = 0x00;
constexpr uint8_t kInUse = 0x80;
constexpr uint8_t kTypeEndOfDirectory = 0x00;
constexpr uint8_t kTypeBitmap = 0x81;
constexpr uint8_t kTypeLabel = 0x83;
constexpr uint8_t kTypeFile = 0x85;
constexpr uint8_t kTypeStream = 0xC0;
constexpr uint8_t kTypeName = 0xC1;

// File entry (0x85).
constexpr size_t kSecondaryCount = 0x01;   // u8
constexpr size_t kSetChecksum = 0x02;      // u16 over the whole set but itself
constexpr size_t kAttributes = 0x04;       // u16, FAT's attribute bits
constexpr size_t kCreateStamp = 0x08;      // u32: FAT time low, FAT date high
constexpr size_t kModifyStamp = 0x0C;      // u32
constexpr size_t kCreate10ms = 0x14;       // u8, 0 to 199
constexpr size_t kModify10ms = 0x15;       // u8
constexpr size_t kCreateUtcOffset = 0x16;  // u8: bit 7 valid, 7-bit signed quarter hours
constexpr size_t kModifyUtcOffset = 0x17;  // u8
constexpr uint16_t kAttributeDirectory = 0x10;

// Stream extension (0xC0).
constexpr size_t kStreamFlags = 0x01;         // u8
constexpr size_t kNameLength = 0x03;          // u8, UTF-16 units
constexpr size_t kNameHash = 0x04;            // u16
constexpr size_t kValidDataLength = 0x08;     // u64
constexpr size_t kStreamFirstCluster = 0x14;  // u32; also the bitmap entry's
constexpr size_t kDataLength = 0x18;          // u64; also the bitmap entry's
constexpr uint8_t kNoFatChain = 0x02;

// File name (0xC1): 15 UTF-16 units from 0x02. Volume label (0x83): the
// count at 0x01, the units from 0x02.
constexpr size_t kNameUnits = 0x02;
constexpr size_t kUnitsPerNameEntry = 15;
constexpr size_t kLabelCount = 0x01;

// Longest folder the walk reads: the format allows 256 MiB.
constexpr uint64_t kMaxFolderBytes = uint64_t{256} << 20;

}  // namespace exfat

// A volume's geometry from its boot sector, sizes in bytes or clusters.
struct ExfatGeometry {
  uint32_t sectorShift = 9;
  uint32_t clusterShift = 0;  // sectors per cluster = 2^clusterShift
  uint64_t volumeSectors = 0;
  uint64_t fatOffset = 0;  // sectors from the volume's start
  uint64_t fatLength = 0;
  uint64_t heapOffset = 0;
  uint32_t clusterCount = 0;
  uint32_t rootCluster = 0;

  uint32_t SectorBytes() const { return 1u << sectorShift; }
  uint64_t ClusterBytes() const { return uint64_t{1} << (sectorShift + clusterShift); }
  bool IsDataCluster(uint64_t c) const {
    return c >= exfat::kFirstCluster && c < uint64_t{clusterCount} + exfat::kFirstCluster;
  }
  // Byte offset of cluster `c` from the volume's start.
  uint64_t ClusterOffset(uint32_t c) const {
    return (heapOffset << sectorShift) +
           (uint64_t{c - exfat::kFirstCluster} << (sectorShift + clusterShift));
  }
};

// Reads the geometry of an exFAT boot sector. False, with a reason, when
// any field is out of its range or the areas do not fit the volume: shifts,
// FAT and heap placement, cluster count against the heap, root cluster.
bool ParseExfatGeometry(Bytes bootSector, ExfatGeometry* geometry, const char** reason = nullptr);

// The boot region's checksum over its first 11 sectors (`region`, sectors of
// `sectorBytes`), without the volume flags and the percent in use.
uint32_t ExfatBootChecksum(Bytes region, uint32_t sectorBytes);

// True when `region` (12 sectors) holds an exFAT boot sector and its checksum
// sector repeats the checksum of the first 11.
bool IsExfatBootRegionWhole(Bytes region, uint32_t sectorBytes);

// One file or folder: the file entry, its stream extension and its name.
struct ExfatFileSet {
  bool inUse = false;  // false: deleted (0x05 / 0x40 / 0x41)
  uint16_t attributes = 0;
  uint32_t createStamp = 0;
  uint32_t modifyStamp = 0;
  uint8_t create10ms = 0;
  uint8_t modify10ms = 0;
  uint8_t createUtcOffset = 0;
  uint8_t modifyUtcOffset = 0;
  uint8_t streamFlags = 0;
  uint32_t firstCluster = 0;
  uint64_t validDataLength = 0;
  uint64_t dataLength = 0;
  std::u16string name;
  size_t entryCount = 0;  // 1 + secondary count: how far the set reaches

  bool IsFolder() const { return (attributes & exfat::kAttributeDirectory) != 0; }
  bool Contiguous() const { return (streamFlags & exfat::kNoFatChain) != 0; }
};

enum class ExfatSetFault {
  kNone,
  kNotAFileEntry,
  kTruncated,  // the set runs past the buffer
  kBadShape,   // secondary count, stream or name entries out of place
  kMixedUse,   // live and deleted entries in one set
  kBadChecksum,
  kBadNameHash,
};

// Parses the set whose file entry is the 32 bytes at `at` in `dir`. The
// checksum is taken with the in-use bits set, so a deleted set checks as it
// did while live. Only kNone fills `set` whole.
ExfatSetFault ParseExfatFileSet(Bytes dir, size_t at, ExfatFileSet* set);

// True when a file entry set that passes ParseExfatFileSet starts in the
// first `span` bytes of `from` (a set reaching past `from` is not seen): a
// piece of an exFAT folder, live or left by an earlier file system.
bool HoldsExfatFileSet(Bytes from, size_t span);

// The set checksum of `entries` (the set's entries one after another).
uint16_t ExfatSetChecksum(Bytes entries, bool asInUse);

// The name hash over the up-cased name; up-casing here is exact for ASCII,
// and the set parser checks the hash only for such names.
uint16_t ExfatNameHash(std::u16string_view name);

}  // namespace brevid
