// LVM2 physical-volume label, metadata-area header and the volume group's
// text metadata, parsed from bytes with no I/O. The text parser leans on the
// layout LVM2 writes to disk (no indentation, a blank line before each named
// block, " = " between key and value).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/endian.h"

namespace brevid {

// One stripe of a segment: a run of extents on one physical volume.
struct LvmStripe {
  std::string pvId;  // empty when the PV is not in the table
  uint64_t startExtent = 0;
};

struct LvmSegment {
  uint32_t startExtent = 0;
  uint32_t extentCount = 0;
  std::string reserved;
  uint32_t stripeCount = 0;
  std::string pvId;          // empty when the stripe's PV is not in the table
  uint64_t stripeStart = 0;  // extent number given with the first stripe
  // Every stripe in order (at most lvm::kMaxStripes) and the stripe unit in
  // sectors; not kept by the scan-result file.
  std::vector<LvmStripe> stripes;
  uint32_t stripeSectors = 0;
};

struct LvmLogicalVolume {
  std::string name;                        // as found: the blank line before it included
  std::string text1, text2, text3, text4;  // kept by the scan-result file, not set by the parser
  uint8_t flag = 0;
  uint64_t sizeSectors = 0;
  uint32_t reserved = 0;
  std::string typeText;
  std::vector<LvmSegment> segments;
};

namespace lvm {
constexpr size_t kLabelMagic = 0x00;   // "LABELONE"
constexpr size_t kLabelSector = 0x08;  // u64, the sector the label is in
constexpr size_t kLabelScanSectors = 4;
constexpr size_t kPvUuid = 0x20;  // 32 characters
constexpr size_t kPvUuidSize = 32;
// From 0x48: the data areas, then the metadata areas, each a list of
// (u64 offset from the PV's start, u64 size) ended by a zero offset. With the
// usual single data area the first metadata area is at 0x68.
constexpr size_t kDiskAreas = 0x48;
constexpr size_t kDiskAreaSize = 16;
constexpr size_t kMdaHeaderAreaSize = 0x20;  // u64, metadata-area header: size of the whole area
constexpr size_t kRawLocationOffset = 0x28;  // u64, metadata-area header: text offset in the area
constexpr size_t kRawLocationSize = 0x30;    // u64, low 32 bits used
// The text is kept in a ring behind the area's 512-byte header: a text that
// reaches the area's end goes on right behind the header.
constexpr uint64_t kMdaHeaderSize = 512;
// A segment names at most this many stripes (LVM2's own limit is 128).
constexpr size_t kMaxStripes = 128;
// Real metadata is a few KiB; a larger size is damage.
constexpr uint64_t kMaxTextSize = 16u << 20;
}  // namespace lvm

struct LvmLabel {
  std::string pvUuid;
  uint64_t mdaOffset = 0;  // 0: the PV holds no copy of the metadata
  uint64_t mdaSize = 0;
};

// False when `sector1` does not begin with "LABELONE".
bool ParseLvmLabel(Bytes sector1, LvmLabel* label);

// The first raw location of a metadata-area header: the text's offset inside
// the area and its size (the low 32 bits of the field).
struct LvmRawLocation {
  uint64_t offset = 0;
  uint32_t size = 0;
  uint64_t areaSize = 0;  // the header's own record of the area's size
};
LvmRawLocation ParseLvmMdaHeader(Bytes header);

// The value of `key` at its first occurrence in `text`: for "stripes" what
// lies between the next "[" and "]", else the rest of the key's line behind
// "= ". Empty when any of these is missing or nothing is left.
std::string GetValue(std::string_view text, std::string_view key);

// The prefix of `text` up to and including the "}" that closes its first
// "{"; empty when there is none.
std::string_view BlockAt(std::string_view text);

// Leading white space skipped, digits up to the first non-digit, 0 without
// any; saturates at the type's maximum.
uint64_t DecimalValue(std::string_view text);

struct LvmPhysicalVolume {
  std::string id;  // dashes removed
  std::string name;
  uint64_t devSize = 0;
  uint64_t peStart = 0;
  uint32_t peCount = 0;
};

struct LvmMetadata {
  std::string vgId;
  uint32_t extentSize = 0;
  std::vector<LvmPhysicalVolume> physicalVolumes;  // in metadata order
  std::vector<LvmLogicalVolume> logicalVolumes;    // in metadata order
};

// Parses the volume group's text metadata. Never fails: missing keys give 0
// or empty text, missing blocks end their list.
LvmMetadata ParseLvmMetadata(std::string_view text);

}  // namespace brevid
