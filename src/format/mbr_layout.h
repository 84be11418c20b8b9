// Master and extended boot record layout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brevid::mbr {

constexpr size_t kEntryTable = 446;  // four 16-byte entries at 446, 462, 478, 494
constexpr size_t kEntrySize = 16;
constexpr int kEntryCount = 4;
constexpr size_t kEntryType = 4;          // u8
constexpr size_t kEntryFirstSector = 8;   // u32
constexpr size_t kEntrySectorCount = 12;  // u32

constexpr uint8_t kTypeExtended = 0x05;
constexpr uint8_t kTypeExtendedLba = 0x0F;
constexpr uint8_t kTypeDynamic = 0x42;
constexpr uint8_t kTypeLvm = 0x8E;
constexpr uint8_t kTypeGptProtective = 0xEE;
constexpr uint32_t kProtectiveMinCount = 0xFFFFFFF8;

inline bool IsExtendedType(uint8_t t) { return t == kTypeExtended || t == kTypeExtendedLba; }

}  // namespace brevid::mbr
