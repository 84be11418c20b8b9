// FAT directory entries, FAT entries and the values the FAT readers test.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/endian.h"

namespace brevid::fat {

constexpr size_t kEntrySize = 32;
constexpr size_t kName = 0;  // 8 bytes base, then 3 bytes extension
constexpr size_t kExtension = 8;
constexpr size_t kAttributes = 11;
constexpr size_t kCreateTime = 14;   // u16
constexpr size_t kCreateDate = 16;   // u16
constexpr size_t kClusterHigh = 20;  // u16
constexpr size_t kWriteTime = 22;    // u16
constexpr size_t kWriteDate = 24;    // u16
constexpr size_t kClusterLow = 26;   // u16
constexpr size_t kSize = 28;         // u32

// Long-name entry: ordinal, then characters 1-5, 6-11 and 12-13 as UTF-16.
constexpr size_t kLfnOrdinal = 0;
constexpr size_t kLfnChars1 = 1;   // 10 bytes
constexpr size_t kLfnChars2 = 14;  // 12 bytes
constexpr size_t kLfnChars3 = 28;  // 4 bytes
constexpr uint8_t kLfnFirstOnDisk = 0x40;
constexpr uint8_t kLongNameAttribute = 0x0F;

constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kLeadE5Stored = 0x05;  // byte 0 of a live name whose first byte is 0xE5

// The ".." entry of a folder's first cluster, as the second entry.
constexpr size_t kDotDot = 32;

// FAT entries that start a FAT: the media byte followed by ones.
constexpr uint32_t kFat16Start = 0xFFFFFFF8;
constexpr uint32_t kFat16StartClean = 0x7FFFFFF8;
constexpr uint32_t kFat32Start = 0x0FFFFFF8;
constexpr uint32_t kFat32End = 0x0FFFFFFF;
constexpr uint16_t kFat16End = 0xFFFF;

// Two readings of a FAT16 chain's end, kept apart on purpose: the directory
// walks end a chain at 0xFFF7 and above (a bad cluster or any end mark); the
// savers only at the end mark 0xFFFF and at a free entry.
constexpr uint16_t kFat16WalkEnd = 0xFFF7;
constexpr uint16_t kFat16SaveEnd = kFat16End;

enum class AttributeClass { kFile, kLongName, kFolder, kUnrecognised };

inline AttributeClass ClassOf(uint8_t attr) {
  if (attr <= 0x07 || (attr >= 0x20 && attr <= 0x27)) return AttributeClass::kFile;
  if (attr == kLongNameAttribute) return AttributeClass::kLongName;
  if ((attr >= 0x10 && attr <= 0x17) || attr == 0x30 || attr == 0x32 || attr == 0x34 ||
      attr == 0x36)
    return AttributeClass::kFolder;
  return AttributeClass::kUnrecognised;
}

// The first cluster an entry names: high half at 20, low half at 26.
inline uint32_t FirstCluster(Bytes entry) {
  return (uint32_t{LoadLe16(entry, kClusterHigh)} << 16) | LoadLe16(entry, kClusterLow);
}

// A folder's first cluster starts with its "." and ".." entries.
inline bool StartsWithDotAndDotDot(Bytes cluster) {
  return Load8(cluster, 0) == '.' && Load8(cluster, kDotDot) == '.' &&
         Load8(cluster, kDotDot + 1) == '.';
}

// A FAT32 table's first sector: the media entry 0x0FFFFFF8, then an end
// mark (0xFFFFFFFF or 0x0FFFFFFF).
inline bool IsFat32TableStart(Bytes sector) {
  uint32_t second = LoadLe32(sector, 4);
  return InBounds(sector, 0, 8) && LoadLe32(sector, 0) == kFat32Start &&
         (second == 0xFFFFFFFF || second == kFat32End);
}

// A FAT16 table's first sector: its first two entries read as one 32-bit
// value, 0xFFFFFFF8 or, with the clean-shutdown bit cleared, 0x7FFFFFF8.
inline bool IsFat16TableStart(Bytes sector) {
  uint32_t v = LoadLe32(sector, 0);
  return InBounds(sector, 0, 4) && (v == kFat16Start || v == kFat16StartClean);
}

// The entry of cluster `cn` in the FAT `table` (4 bytes each on FAT32, 2 on
// FAT16); the end mark when the table does not hold it.
inline uint32_t NextClusterIn(Bytes table, uint32_t cn, bool fat32) {
  if (fat32)
    return InBounds(table, size_t{cn} * 4, 4) ? LoadLe32(table, size_t{cn} * 4) : kFat32End;
  return InBounds(table, size_t{cn} * 2, 2) ? LoadLe16(table, size_t{cn} * 2) : kFat16End;
}

// Whether `next`, read from a FAT of `entryCount` entries, ends a folder's
// chain in the directory walks.
inline bool WalkChainEnds(uint32_t next, bool fat32, uint64_t entryCount) {
  if (fat32) return next == kFat32End || next > entryCount || next < 2;
  return next >= kFat16WalkEnd || next < 2 || next > entryCount;
}

// Whether `next` ends a file's chain in the savers.
inline bool SaveChainEnds(uint32_t next, bool fat32, uint64_t entryCount) {
  if (fat32) return next == kFat32End || next < 2 || next > entryCount;
  return next == kFat16SaveEnd || next == 0 || next > entryCount;
}

}  // namespace brevid::fat
