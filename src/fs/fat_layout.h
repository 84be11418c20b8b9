// FAT directory entries and the values the FAT readers test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brevid::fat {

constexpr size_t kEntrySize = 32;
constexpr size_t kName = 0;           // 8 bytes base, then 3 bytes extension
constexpr size_t kExtension = 8;
constexpr size_t kAttributes = 11;
constexpr size_t kCreateTime = 14;    // u16
constexpr size_t kCreateDate = 16;    // u16
constexpr size_t kClusterHigh = 20;   // u16
constexpr size_t kWriteTime = 22;     // u16
constexpr size_t kWriteDate = 24;     // u16
constexpr size_t kClusterLow = 26;    // u16
constexpr size_t kSize = 28;          // u32

// Long-name entry: ordinal, then characters 1-5, 6-11 and 12-13 as UTF-16.
constexpr size_t kLfnOrdinal = 0;
constexpr size_t kLfnChars1 = 1;   // 10 bytes
constexpr size_t kLfnChars2 = 14;  // 12 bytes
constexpr size_t kLfnChars3 = 28;  // 4 bytes
constexpr uint8_t kLfnFirstOnDisk = 0x40;
constexpr uint8_t kLongNameAttribute = 0x0F;

constexpr uint8_t kDeletedMark = 0xE5;

// The ".." entry of a folder's first cluster, as the second entry.
constexpr size_t kDotDot = 32;

// FAT entries that start a FAT: the media byte followed by ones.
constexpr uint32_t kFat16Start = 0xFFFFFFF8;
constexpr uint32_t kFat16StartClean = 0x7FFFFFF8;
constexpr uint32_t kFat32Start = 0x0FFFFFF8;
constexpr uint32_t kFat32End = 0x0FFFFFFF;
constexpr uint16_t kFat16End = 0xFFFF;

enum class AttributeClass { kFile, kLongName, kFolder, kUnrecognised };

inline AttributeClass ClassOf(uint8_t attr) {
  if (attr <= 0x07 || (attr >= 0x20 && attr <= 0x27)) return AttributeClass::kFile;
  if (attr == kLongNameAttribute) return AttributeClass::kLongName;
  if ((attr >= 0x10 && attr <= 0x17) || attr == 0x30 || attr == 0x32 || attr == 0x34 || attr == 0x36)
    return AttributeClass::kFolder;
  return AttributeClass::kUnrecognised;
}

}  // namespace brevid::fat
