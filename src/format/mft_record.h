// NTFS MFT records: the record test with its update-sequence fix-up, the
// attribute lister, the data attribute's decoder, the parse of one record
// into an MftRecordInfo, the volume name, and a light record summary for the
// scans.
//
// Records are taken as 1024 bytes (two 512-byte sectors). Everything here
// works on byte spans and does no I/O of its own: attribute lists reach
// other records through the fetcher the caller hands in (fs/'s record reader
// serves it from a volume). Nothing here throws. All functions may be called
// from any thread; each call works only on what it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/endian.h"
#include "format/data_run.h"
#include "format/entry_kind.h"

namespace brevid {

constexpr size_t kMftRecordSize = 1024;

// The nested flag's value for a record read on behalf of another record: the
// record's own number and base reference are then not taken or checked.
constexpr uint32_t kNestedRead = 32;

// Bounds on what one parse may gather, so that damaged records cannot make
// it grow without end.
constexpr size_t kMaxRuns = 1u << 18;                  // runs in one MftRecordInfo
constexpr size_t kMaxListedRecords = 4096;             // records read through attribute lists
constexpr size_t kMaxAttributeListBytes = 256 * 1024;  // non-resident attribute list read

// One entry of an index root.
struct IndexEntryInfo {
  uint32_t fileReferenceLow = 0;
  uint32_t fileReferenceHigh = 0;
  uint16_t entryLength = 0;
  uint16_t keyLength = 0;
  uint16_t entryFlags = 0;
  uint64_t parentReference = 0;
  uint64_t createTime = 0;  // NTFS times: 100 ns units since 1601-01-01 UTC
  uint64_t modifyTime = 0;
  uint64_t mftChangeTime = 0;
  uint64_t accessTime = 0;
  uint64_t allocatedSize = 0;
  uint64_t realSize = 0;
  uint32_t fileAttributes = 0;
  uint32_t extendedValue = 0;
  uint8_t nameLength = 0;  // UTF-16 units
  uint8_t nameSpace = 0;   // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
  std::string name;        // CP936, at most 519 bytes
};

// One parsed record. Start from a value-initialised record; the parse fills
// it, and may be run again into the same record (attribute lists do).
struct MftRecordInfo {
  uint32_t recordNumber = 0;
  uint16_t sequenceNumber = 0;  // header 0x10; 0 when not taken (nested reads)
  uint64_t baseReference = 0;
  uint8_t kind = kKindNone;  // EntryKind
  DataRunMap runs;           // unnamed data attribute, by run index
  uint64_t createTime = 0;   // from the standard information
  uint64_t modifyTime = 0;
  uint64_t mftChangeTime = 0;
  uint64_t accessTime = 0;
  // The first 48 bytes of the chosen file-name value: parent reference (0x00),
  // creation (0x08), modification, MFT-change and access times, allocated size (0x28).
  std::array<uint8_t, 48> fileNameBlock{};
  uint64_t size = 0;
  // The unnamed data attribute's own size (resident value length, or the
  // real size of its first piece), when the record has one: the file's
  // length, where `size` may carry a larger file-name size.
  std::optional<uint64_t> dataSize;
  uint32_t fileAttributes = 0;
  uint32_t extendedValue = 0;
  uint8_t nameLength = 0;  // UTF-16 units of the chosen file name
  uint8_t nameSpace = 0;
  std::string name;        // CP936, at most 519 bytes
  uint8_t indexFlags = 0;  // 1 = the index root has sub-nodes
  uint16_t dataFlags = 0;  // attribute flags of the unnamed data attribute
  std::vector<IndexEntryInfo> indexEntries;
  uint64_t lastSubnodeVcn = 0;
  uint8_t nonResident = 0;
  std::optional<std::vector<uint8_t>> residentContent;
};

// Fields of the chosen file-name block.
inline uint64_t ParentReference(const MftRecordInfo& info) {
  return LoadLe64(info.fileNameBlock, 0x00);
}
inline uint64_t FileNameCreateTime(const MftRecordInfo& info) {
  return LoadLe64(info.fileNameBlock, 0x08);
}

// The EntryKind for the record flags at 0x16: 0 deleted file, 1 file,
// 2 deleted folder, 3 or 7 folder; kKindNone for any other value.
uint8_t KindFromRecordFlags(uint16_t flags);

// Clears the runs, the resident content, the file-name block and every field
// after it, and the index entries: what a retry of another copy refills.
void ClearFromFileName(MftRecordInfo& info);

// The record test: signature "FILE" or "FHLD", update-sequence offset with
// low byte 0x30 or 0x2A (and its array inside the record), and the
// update-sequence number at the end of both sectors. On success the two
// sector ends are replaced in place by the array's elements 1 and 2; on
// failure `record` is unchanged. False when `record` is shorter than
// kMftRecordSize; bytes beyond it are not looked at.
bool CheckMftRecord(std::span<uint8_t> record);

struct AttributeRef {
  uint32_t type = 0;
  uint32_t offset = 0;  // from the record's start
};

// Lists the attributes of a fixed-up record in order. True when the list
// ended with the end marker 0xFFFFFFFF; false when it ended at a length of 0,
// at an attribute that would run past the record (not listed), or at the
// record's end. `attributes` is replaced.
bool ListAttributes(Bytes record, std::vector<AttributeRef>& attributes);

// Decodes one data attribute into `info` (runs, size, flags, resident
// content). `attribute` runs from the attribute's start to the record's end.
// Named attributes are ignored. Runs are appended after the highest index
// already in `info.runs`; no more than kMaxRuns are kept. Run locations are
// not checked against any volume: readers check them where they use them.
void DecodeDataAttribute(Bytes attribute, MftRecordInfo& info);

// What a parse asks for when a record has an attribute list. Either function
// may be empty; the entries that need it are then skipped.
struct MftRecordFetcher {
  // Fills `record` (kMftRecordSize bytes, zeroed) with record `number` as
  // stored; false when it has no known location.
  std::function<bool(uint32_t number, std::span<uint8_t> record)> readRecord;
  // Fills `buffer` (`count` clusters of clusterBytes, zeroed) from cluster
  // `cluster` of the volume; false when they do not lie inside it.
  std::function<bool(uint32_t cluster, uint32_t count, std::span<uint8_t> buffer)> readClusters;
  uint32_t clusterBytes = 0;
};

// Parses record `number` held in `record` (fixed up in place by the record
// test) into `info`. False when the record fails the test or, unless
// `nested` is kNestedRead, carries another number than `number`.
// Attribute lists are followed through `fetcher` (none: not followed) one
// level deep: each listed record is read at most once, only when it carries
// the listed number, and its flags do not change the kind. When records were
// read that way, the runs are ordered by the first VCN of the attribute
// piece they came from.
bool ParseMftRecord(std::span<uint8_t> record, uint32_t number, MftRecordInfo& info,
                    uint32_t nested = 0, const MftRecordFetcher* fetcher = nullptr);

// The unnamed data attribute's runs of a record whose header may be
// damaged (signature, number or update-sequence word): decoded without the
// record test, the sector ends restored from the update-sequence array when
// that array lies inside the record. For $MFT's record 0, whose runs are
// needed before any other record can be found. Empty when the record gives
// none.
DataRunMap DecodeDataRunsUnchecked(Bytes record);

struct MftSummary {
  std::string name;            // CP936, the last file name with a name
  uint64_t totalClusters = 0;  // of the data attributes' runs, named or not
  uint32_t firstCluster = 0;   // first non-zero start cluster
};

// The record-number field at 0x2C (in records of the older layout, with the
// update-sequence array at 0x2A, those bytes belong to the array).
uint32_t StoredRecordNumber(Bytes record);

// The record's allocated size (u32 at 0x1C): how far apart records lie.
uint32_t RecordAllocatedSize(Bytes record);

// True for a record of the older layout: update-sequence offset 0x2A (low
// byte), so no record number is stored.
bool IsOldLayoutRecord(Bytes record);

// The volume name (attribute 0x60) of a $Volume record, converted to CP936;
// empty when the record fails the record test (fixed up in place) or has
// none.
std::string ParseVolumeName(std::span<uint8_t> record);

// A light look at a fixed-up record for the deep scan. False when the
// attribute list does not end with its marker; `summary` is then untouched.
bool SummarizeMftRecord(Bytes record, MftSummary& summary);

}  // namespace brevid
