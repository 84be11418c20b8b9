// GUID partition tables, reached from a protective MBR entry.
#pragma once

#include <cstdint>

#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

namespace gpt {
constexpr size_t kSignature = 0x00;      // "EFI PART"
constexpr size_t kHeaderSize = 0x0C;     // u32: bytes the CRC covers
constexpr size_t kHeaderCrc = 0x10;      // u32, CRC-32 with this field zeroed
constexpr size_t kMyLba = 0x18;          // u64: the sector holding this header
constexpr size_t kEntryArrayLba = 0x48;  // u64
constexpr size_t kEntryCount = 0x50;     // u32
constexpr size_t kEntrySize = 0x54;      // u32
constexpr uint32_t kMaxEntryCount = 128;
// Real tables use 128-byte entries; anything outside this range is damage.
constexpr uint32_t kMinEntrySize = 128;
constexpr uint32_t kMaxEntrySize = 4096;
// Entry fields.
constexpr size_t kTypeGuid = 0;   // 16 bytes
constexpr size_t kFirstLba = 32;  // u64
constexpr size_t kLastLba = 40;   // u64
constexpr size_t kName = 56;      // 36 UTF-16 characters
constexpr size_t kNameChars = 36;
}  // namespace gpt

// True when sector `headerLba` holds a GPT header signature.
bool HasGptHeader(SourceHandle& handle, uint64_t headerLba);

// The sector of the header to walk for a protective entry pointing at
// `primaryLba`: the primary when it is sound, else the backup at the disk's
// last sector when that one is (*backup set), else the primary as it is.
// Sound: the signature and the header's CRC-32 check out.
uint64_t ChooseGptHeader(SourceHandle& handle, uint64_t primaryLba, uint64_t diskSectors,
                         bool* backup);

// Appends the GPT's partitions, advancing `counter` for each. Returns false
// when the header ends the walk of the whole disk (more than 128 entries).
// *ldmHeaderSector, when given, becomes the last sector of a dynamic disk's
// metadata partition (where its private header lies), or stays as it was.
// `fromBackup` marks the volumes as read from the backup table.
bool WalkGpt(DiskInfo& disk, SourceHandle& handle, uint64_t headerLba, int& counter,
             uint64_t* ldmHeaderSector = nullptr, bool fromBackup = false);

}  // namespace brevid
