// Dynamic-disk (logical disk manager) structures, parsed from bytes with no
// I/O: the private header, the database header and the database records.
// Every number is big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/endian.h"

namespace brevid {

using LdmGuid = std::array<uint8_t, 16>;

namespace ldm {
constexpr uint64_t kPrivateHeaderSector = 6;
constexpr size_t kPrivMagic = 0x00;         // "PRIVHEAD"
constexpr size_t kPrivVersionMajor = 0x0C;  // u16, 2
constexpr size_t kPrivVersionMinor = 0x0E;  // u16, 11 or 12
constexpr size_t kPrivDiskGuid = 0x30;      // 36-character text
constexpr size_t kPrivGroupGuid = 0xB0;     // 36-character text
constexpr size_t kPrivGroupName = 0xF0;     // zero-terminated, up to 0x11B
constexpr size_t kPrivGroupNameSize = 0x20;
constexpr size_t kPrivLogicalStart = 0x11B;  // u64, sectors
constexpr size_t kPrivLogicalSize = 0x123;   // u64
constexpr size_t kPrivConfigStart = 0x12B;   // u64
constexpr size_t kPrivConfigSize = 0x133;    // u64
constexpr uint64_t kPrivCopyFromEnd1 = 1;    // sectors before the configuration end
constexpr uint64_t kPrivCopyFromEnd2 = 192;

constexpr uint64_t kVmdbSector = 17;        // from the configuration start
constexpr size_t kVmdbMagic = 0x00;         // "VMDB"
constexpr size_t kVmdbLastSequence = 0x04;  // u32
constexpr size_t kVmdbRecordSize = 0x08;    // u32
constexpr size_t kVmdbFirstRecord = 0x0C;   // u32, from the header
constexpr size_t kVmdbVersionMajor = 0x12;  // u16, 4
constexpr size_t kVmdbVersionMinor = 0x14;  // u16, 10

constexpr size_t kRecFlags = 0x12;
constexpr size_t kRecType = 0x13;
constexpr size_t kRecDataLength = 0x14;  // u32
constexpr size_t kRecObjectId = 0x18;    // var
constexpr uint32_t kMaxDataLength = 128;
constexpr size_t kNameKept = 63;

constexpr uint8_t kTypeComponent = 0x32;
constexpr uint8_t kTypePartition = 0x33;
constexpr uint8_t kTypeDisk = 0x34;
constexpr uint8_t kTypeGroup = 0x35;
constexpr uint8_t kTypeDisk2 = 0x44;
constexpr uint8_t kTypeGroup2 = 0x45;
constexpr uint8_t kTypeVolume = 0x51;
}  // namespace ldm

struct LdmPrivateHeader {
  uint16_t versionMajor = 0;
  uint16_t versionMinor = 0;
  LdmGuid diskGuid{};
  LdmGuid groupGuid{};
  std::string groupName;
  uint64_t logicalStart = 0;
  uint64_t logicalSize = 0;
  uint64_t configStart = 0;
  uint64_t configSize = 0;
};

// False unless the sector holds "PRIVHEAD" of version 2.11 or 2.12 with a
// logical disk of non-zero size, a configuration area behind it and two
// well-formed GUID texts.
bool ParseLdmPrivateHeader(Bytes sector, LdmPrivateHeader* header);

// 36 characters, dashes at 8, 13, 18 and 23, hexadecimal pairs between, read
// in text order. False when malformed.
bool ParseGuidText(Bytes text, LdmGuid* guid);

// The 16 bytes written "%d" each, concatenated: the identity texts kept in
// DiskInfo::pvUuid and vgId.
std::string GuidIdentityText(const LdmGuid& guid);

struct LdmVmdb {
  uint32_t lastSequence = 0;
  uint32_t recordSize = 0;
  uint32_t firstRecord = 0;
};
// False unless "VMDB" version 4.10.
bool ParseLdmVmdb(Bytes header, LdmVmdb* vmdb);

struct LdmComponent {
  uint64_t id = 0;
  std::string name;
  uint8_t layout = 0;  // 1 striped, 2 spanned, 3 RAID-5
  uint64_t parentId = 0;
  uint64_t stripeSectors = 0;
};
struct LdmPartition {
  uint64_t id = 0;
  std::string name;
  uint64_t start = 0;  // sectors from the logical disk start
  uint64_t volumeOffset = 0;
  uint64_t size = 0;
  uint64_t parentId = 0;
  uint64_t diskId = 0;
};
struct LdmDisk {
  uint64_t id = 0;
  std::string name;
  LdmGuid guid{};
  uint32_t number = 0;
};
struct LdmVolume {
  uint64_t id = 0;
  std::string name;
  uint64_t size = 0;
  uint8_t partitionType = 0;
  std::string driveHint;
};

// The decoded records of a database.
struct LdmDatabase {
  std::vector<LdmComponent> components;
  std::vector<LdmPartition> partitions;
  std::vector<LdmDisk> disks;  // in record order; numbered by their names
  std::vector<std::string> groups;
  std::vector<LdmVolume> volumes;
  uint32_t skipped = 0;  // records that failed their checks
};

// Decodes one record slot into `db`. Damaged records are counted and skipped.
void ParseLdmRecord(Bytes record, LdmDatabase* db);

}  // namespace brevid
