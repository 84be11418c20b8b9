#include "format/mft_record.h"

#include <algorithm>
#include <array>
#include <set>

#include "common/text.h"
#include "platform/codepage.h"

namespace brevid {
namespace {

constexpr size_t kNameBufferBytes = 520;  // names keep at most 519 bytes and their NUL

// Record header.
constexpr size_t kRecSignature = 0x00;
constexpr size_t kRecUsaOffset = 0x04;
constexpr size_t kRecFirstAttribute = 0x14;
constexpr size_t kRecSequence = 0x10;
constexpr size_t kRecFlags = 0x16;
constexpr size_t kRecAllocatedSize = 0x1C;
constexpr size_t kRecBaseReference = 0x20;
constexpr size_t kRecNumber = 0x2C;
constexpr size_t kSector1End = 0x1FE;
constexpr size_t kSector2End = 0x3FE;
constexpr uint16_t kUsaNew = 0x30;
constexpr uint16_t kUsaOld = 0x2A;  // older records: no number field
constexpr size_t kUsaBytes = 6;     // number and two elements

// Attribute header.
constexpr size_t kAttrType = 0x00;
constexpr size_t kAttrLength = 0x04;
constexpr size_t kAttrNonResident = 0x08;
constexpr size_t kAttrNameLength = 0x09;
constexpr size_t kAttrFlags = 0x0C;
constexpr size_t kAttrValueLength = 0x10;   // resident
constexpr size_t kAttrValueOffset = 0x14;   // resident
constexpr size_t kAttrLowestVcn = 0x10;     // non-resident
constexpr size_t kAttrMappingPairs = 0x20;  // non-resident
constexpr size_t kAttrRealSize = 0x30;      // non-resident
constexpr uint32_t kAttrMinNonResident = 24;
constexpr uint16_t kNoMappingPairs = 0xFFFF;
constexpr size_t kVcnBytes = 8;
constexpr uint32_t kEndMarker = 0xFFFFFFFF;

constexpr uint32_t kTypeStandardInfo = 0x10;
constexpr uint32_t kTypeAttributeList = 0x20;
constexpr uint32_t kTypeFileName = 0x30;
constexpr uint32_t kTypeVolumeName = 0x60;
constexpr uint32_t kTypeData = 0x80;
constexpr uint32_t kTypeIndexRoot = 0x90;
constexpr uint32_t kTypeIndexAllocation = 0xA0;

// Standard information value.
constexpr size_t kSiCreate = 0x00;
constexpr size_t kSiModify = 0x08;
constexpr size_t kSiMftChange = 0x10;
constexpr size_t kSiAccess = 0x18;
constexpr size_t kSiMinBytes = 0x20;

// File-name value (also the key of an index entry).
constexpr size_t kFnParent = 0x00;
constexpr size_t kFnCreate = 0x08;
constexpr size_t kFnModify = 0x10;
constexpr size_t kFnMftChange = 0x18;
constexpr size_t kFnAccess = 0x20;
constexpr size_t kFnAllocated = 0x28;
constexpr size_t kFnRealSize = 0x30;
constexpr size_t kFnAttributes = 0x38;
constexpr size_t kFnExtended = 0x3C;
constexpr size_t kFnNameLength = 0x40;
constexpr size_t kFnNameSpace = 0x41;
constexpr size_t kFnName = 0x42;

// Attribute-list entry.
constexpr size_t kAlType = 0x00;
constexpr size_t kAlLength = 0x04;
constexpr size_t kAlRecord = 0x10;
constexpr size_t kAlMinBytes = 0x1A;

// Index root value, its node header (at 0x10) and its entries.
constexpr size_t kIrIndexedType = 0x00;
constexpr size_t kIrNode = 0x10;
constexpr size_t kNodeFirstEntry = 0x00;
constexpr size_t kNodeFlags = 0x0C;
constexpr uint8_t kNodeHasSubnodes = 1;
constexpr size_t kIeFileRefLow = 0x00;
constexpr size_t kIeFileRefHigh = 0x04;
constexpr size_t kIeLength = 0x08;
constexpr size_t kIeKeyLength = 0x0A;
constexpr size_t kIeFlags = 0x0C;
constexpr size_t kIeKey = 0x10;
constexpr size_t kIeMinBytes = 0x10;
constexpr uint16_t kIeLast = 0x02;
constexpr size_t kIeSubnodeEntryBytes = 24;

uint32_t AttrLength(Bytes attr) { return LoadLe32(attr, kAttrLength); }

// The attribute's own bytes: its length, clipped to what the span holds.
Bytes AttrBytes(Bytes fromAttribute) {
  return SubBytes(fromAttribute, 0, AttrLength(fromAttribute));
}

// The value of a resident attribute; none when the header says non-resident
// or the value does not lie inside the attribute.
std::optional<Bytes> ResidentValue(Bytes attr) {
  if (Load8(attr, kAttrNonResident) != 0) return std::nullopt;
  uint16_t offset = LoadLe16(attr, kAttrValueOffset);
  uint32_t length = LoadLe32(attr, kAttrValueLength);
  if (!InBounds(attr, offset, length)) return std::nullopt;
  return attr.subspan(offset, length);
}

// `units` UTF-16 units at `at`, which the caller has checked lie inside.
std::string ConvertName(Bytes bytes, size_t at, size_t units) {
  // A file name has at most 255 units: those stay on the stack.
  std::array<char16_t, 256> held;
  std::u16string longer;
  char16_t* wide = held.data();
  if (units > held.size()) {
    longer.resize(units);
    wide = longer.data();
  }
  for (size_t i = 0; i < units; ++i) wide[i] = static_cast<char16_t>(LoadLe16(bytes, at + 2 * i));
  std::string text(UpToNul(WideToAnsi(std::u16string_view(wide, units))));
  if (text.size() >= kNameBufferBytes) text.resize(kNameBufferBytes - 1);
  return text;
}

uint32_t NextRunIndex(const DataRunMap& runs) {
  return runs.empty() ? 0 : runs.rbegin()->first + 1;
}

// The runs of a non-resident attribute: one empty run without location when
// it has no mapping pairs. False when the pairs were not walked because
// their offset lies past `fromAttribute` (the bytes left in the record).
template <class Take>
bool WalkAttributeRuns(Bytes fromAttribute, Take take) {
  Bytes attr = AttrBytes(fromAttribute);
  uint16_t mappingPairs = LoadLe16(attr, kAttrMappingPairs);
  if (mappingPairs == kNoMappingPairs || mappingPairs == 0 ||
      AttrLength(attr) <= kAttrMinNonResident) {
    take(0, 0);
    return false;
  }
  if (mappingPairs >= fromAttribute.size()) return false;
  WalkMappingPairs(SubBytes(attr, mappingPairs, attr.size()), take);
  return true;
}

bool AppendRun(MftRecordInfo& info, uint32_t start, uint32_t length) {
  if (info.runs.size() >= kMaxRuns) return false;
  uint32_t index = NextRunIndex(info.runs);
  info.runs[index] = DataRun{index, start, length};
  return true;
}

// One piece of a data attribute, for ordering pieces met through lists.
struct Piece {
  uint64_t lowestVcn = 0;
  uint32_t firstIndex = 0;
  uint32_t endIndex = 0;
};

// Attributes of a typical record (standard information, names, data,
// index): room for them is made once per parse.
constexpr size_t kUsualAttributes = 8;

struct ParseState {
  const MftRecordFetcher* fetcher = nullptr;
  uint32_t topNumber = 0;
  std::set<uint32_t> followed;
  size_t listBytes = 0;
  bool readThroughList = false;
  std::vector<Piece> pieces;
};

bool ParseInto(std::span<uint8_t> record, uint32_t number, uint32_t nested, MftRecordInfo& info,
               ParseState& state, int depth);

void TakeStandardInfo(Bytes attr, MftRecordInfo& info) {
  std::optional<Bytes> value = ResidentValue(attr);
  if (!value || value->size() < kSiMinBytes) return;
  info.createTime = LoadLe64(*value, kSiCreate);
  info.modifyTime = LoadLe64(*value, kSiModify);
  info.mftChangeTime = LoadLe64(*value, kSiMftChange);
  info.accessTime = LoadLe64(*value, kSiAccess);
}

void TakeFileName(Bytes attr, MftRecordInfo& info, const ParseState& state) {
  std::optional<Bytes> value = ResidentValue(attr);
  if (!value || value->size() < kFnName) return;
  uint8_t units = Load8(*value, kFnNameLength);
  if (value->size() - kFnName < 2u * units) return;
  uint8_t nameSpace = Load8(*value, kFnNameSpace);
  if (nameSpace != 1 && nameSpace != 3 && FileNameCreateTime(info) != 0) return;
  std::copy_n(value->begin(), info.fileNameBlock.size(), info.fileNameBlock.begin());
  info.size = std::max(info.size, LoadLe64(*value, kFnRealSize));
  info.fileAttributes = LoadLe32(*value, kFnAttributes);
  info.extendedValue = LoadLe32(*value, kFnExtended);
  info.nameLength = units;
  info.nameSpace = nameSpace;
  if (state.topNumber == 5) {
    info.name = Ansi("根目录");
  } else if (units != 0) {
    info.name = ConvertName(*value, kFnName, units);
  }
}

// One index entry whose key (a file-name value) lies inside it.
std::optional<IndexEntryInfo> ReadIndexEntry(Bytes entry) {
  uint16_t length = LoadLe16(entry, kIeLength);
  if (length > entry.size() || length < kIeKey + kFnName) return std::nullopt;
  size_t units = Load8(entry, kIeKey + kFnNameLength);
  if (length - kIeKey - kFnName < 2 * units) return std::nullopt;
  IndexEntryInfo e;
  e.fileReferenceLow = LoadLe32(entry, kIeFileRefLow);
  e.fileReferenceHigh = LoadLe32(entry, kIeFileRefHigh);
  e.entryLength = length;
  e.keyLength = LoadLe16(entry, kIeKeyLength);
  e.entryFlags = LoadLe16(entry, kIeFlags);
  e.parentReference = LoadLe64(entry, kIeKey + kFnParent);
  e.createTime = LoadLe64(entry, kIeKey + kFnCreate);
  e.modifyTime = LoadLe64(entry, kIeKey + kFnModify);
  e.mftChangeTime = LoadLe64(entry, kIeKey + kFnMftChange);
  e.accessTime = LoadLe64(entry, kIeKey + kFnAccess);
  e.allocatedSize = LoadLe64(entry, kIeKey + kFnAllocated);
  e.realSize = LoadLe64(entry, kIeKey + kFnRealSize);
  e.fileAttributes = LoadLe32(entry, kIeKey + kFnAttributes);
  e.extendedValue = LoadLe32(entry, kIeKey + kFnExtended);
  e.nameLength = static_cast<uint8_t>(units);
  e.nameSpace = Load8(entry, kIeKey + kFnNameSpace);
  e.name = ConvertName(entry, kIeKey + kFnName, units);
  return e;
}

void TakeIndexRoot(Bytes attr, MftRecordInfo& info) {
  std::optional<Bytes> value = ResidentValue(attr);
  // Only file-name indexes hold file-name keys.
  if (!value || LoadLe32(*value, kIrIndexedType) != kTypeFileName) return;
  Bytes node = SubBytes(*value, kIrNode, value->size());
  info.indexFlags = Load8(node, kNodeFlags);
  uint32_t firstOffset = LoadLe32(node, kNodeFirstEntry);
  size_t valueOffset = LoadLe16(attr, kAttrValueOffset);
  size_t first = valueOffset + kIrNode + firstOffset;
  if (firstOffset >= attr.size() || first >= attr.size()) return;
  const bool subnodes = info.indexFlags == kNodeHasSubnodes;
  if (subnodes && attr.size() >= kVcnBytes) {
    info.lastSubnodeVcn = LoadLe64(attr, attr.size() - kVcnBytes);
  }
  // The walk ends before the last entry, which holds no key; with sub-nodes
  // it is also found by its fixed size at the end of the entries.
  const size_t entriesBytes = attr.size() - first;
  size_t walked = 0;
  while (first + walked < attr.size()) {
    Bytes entry = attr.subspan(first + walked);
    if ((LoadLe16(entry, kIeFlags) & kIeLast) != 0) break;
    uint8_t nameSpace = Load8(entry, kIeKey + kFnNameSpace);
    bool wanted = subnodes ? nameSpace >= 1 && nameSpace <= 3 : nameSpace == 1 || nameSpace == 3;
    if (wanted) {
      if (std::optional<IndexEntryInfo> e = ReadIndexEntry(entry)) info.indexEntries.push_back(*e);
    }
    uint16_t length = LoadLe16(entry, kIeLength);
    if (length < kIeMinBytes) break;
    walked += length;
    if (subnodes && walked + kIeSubnodeEntryBytes >= entriesBytes) break;
  }
}

void FollowListedRecord(uint32_t listed, MftRecordInfo& info, ParseState& state) {
  const MftRecordFetcher& fetcher = *state.fetcher;
  // The record the parse started from counts as followed; it is kept apart
  // so that a record without a list costs no set node.
  if (!fetcher.readRecord || state.followed.size() + 1 > kMaxListedRecords) return;
  if (listed == state.topNumber || !state.followed.insert(listed).second) return;
  std::vector<uint8_t> record(kMftRecordSize, 0);
  if (!fetcher.readRecord(listed, record)) return;
  state.readThroughList = true;
  ParseInto(record, listed, kNestedRead, info, state, 1);
  if (info.nonResident == 0) info.residentContent.reset();
}

void WalkListEntries(Bytes entries, uint32_t number, MftRecordInfo& info, ParseState& state) {
  size_t p = 0;
  while (p < entries.size()) {
    Bytes entry = entries.subspan(p);
    uint16_t length = LoadLe16(entry, kAlLength);
    if (length < kAlMinBytes || entry.size() < kAlMinBytes) return;
    uint32_t type = LoadLe32(entry, kAlType);
    uint32_t listed = LoadLe32(entry, kAlRecord);
    // A file name can live only in an extension record (ntfs-3g moves it
    // there for heavily fragmented files).
    bool wanted = type == kTypeData || type == kTypeIndexRoot || type == kTypeIndexAllocation ||
                  type == kTypeFileName;
    if (wanted && listed != info.recordNumber && listed != number) {
      FollowListedRecord(listed, info, state);
    }
    p += length;
  }
}

void FollowAttributeList(Bytes attr, uint32_t number, MftRecordInfo& info, ParseState& state) {
  if (Load8(attr, kAttrNonResident) == 0) {
    if (std::optional<Bytes> value = ResidentValue(attr))
      WalkListEntries(*value, number, info, state);
    return;
  }
  const MftRecordFetcher& fetcher = *state.fetcher;
  if (!fetcher.readClusters || fetcher.clusterBytes == 0) return;
  MftRecordInfo scratch;
  DecodeDataAttribute(attr, scratch);
  for (const auto& [index, run] : scratch.runs) {
    if (run.startCluster == 0) continue;
    size_t room = kMaxAttributeListBytes - state.listBytes;
    if (room < fetcher.clusterBytes) return;
    uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(run.length, room / fetcher.clusterBytes));
    if (count == 0) continue;
    std::vector<uint8_t> buffer(static_cast<size_t>(count) * fetcher.clusterBytes, 0);
    state.listBytes += buffer.size();
    if (!fetcher.readClusters(run.startCluster, count, buffer)) continue;
    WalkListEntries(buffer, number, info, state);
  }
}

void DecodeDataPiece(Bytes fromAttribute, MftRecordInfo& info, ParseState& state) {
  Bytes attr = AttrBytes(fromAttribute);
  uint32_t before = NextRunIndex(info.runs);
  DecodeDataAttribute(fromAttribute, info);
  if (Load8(attr, kAttrNameLength) == 0 && Load8(attr, kAttrNonResident) != 0) {
    state.pieces.push_back({LoadLe64(attr, kAttrLowestVcn), before, NextRunIndex(info.runs)});
  }
}

// Pieces of one attribute are listed by VCN, but the base record's own piece
// is met after those of the listed records: put the runs back in VCN order.
void OrderPiecesByVcn(MftRecordInfo& info, std::vector<Piece>& pieces) {
  auto byVcn = [](const Piece& a, const Piece& b) { return a.lowestVcn < b.lowestVcn; };
  if (pieces.size() < 2 || std::is_sorted(pieces.begin(), pieces.end(), byVcn)) return;
  uint32_t start = pieces.front().firstIndex;
  for (const Piece& p : pieces) start = std::min(start, p.firstIndex);
  std::stable_sort(pieces.begin(), pieces.end(), byVcn);
  DataRunMap ordered;
  uint32_t next = start;
  for (const Piece& p : pieces) {
    for (auto it = info.runs.lower_bound(p.firstIndex);
         it != info.runs.end() && it->first < p.endIndex; ++it) {
      ordered[next] = DataRun{next, it->second.startCluster, it->second.length};
      ++next;
    }
  }
  info.runs.erase(info.runs.lower_bound(start), info.runs.end());
  info.runs.merge(ordered);
}

bool ParseInto(std::span<uint8_t> record, uint32_t number, uint32_t nested, MftRecordInfo& info,
               ParseState& state, int depth) {
  if (!CheckMftRecord(record)) return false;
  Bytes rec = Bytes(record).first(kMftRecordSize);
  const uint16_t usaOffset = LoadLe16(rec, kRecUsaOffset);
  const bool hasNumber = usaOffset != kUsaOld;
  // A record named by an attribute list must be the one named.
  if (depth > 0 && hasNumber && LoadLe32(rec, kRecNumber) != number) return false;
  if (nested != kNestedRead) {
    if (hasNumber && LoadLe32(rec, kRecNumber) != number) return false;
    info.baseReference = LoadLe64(rec, kRecBaseReference);
    info.recordNumber = number;
    info.sequenceNumber = LoadLe16(rec, kRecSequence);
  }
  // The flags of a listed record say nothing of the file's kind.
  if (uint8_t kind = KindFromRecordFlags(LoadLe16(rec, kRecFlags));
      depth == 0 && kind != kKindNone) {
    info.kind = kind;
  }
  std::vector<AttributeRef> attributes;
  attributes.reserve(kUsualAttributes);
  ListAttributes(rec, attributes);
  for (const AttributeRef& a : attributes) {
    Bytes fromAttribute = rec.subspan(a.offset);
    Bytes attr = AttrBytes(fromAttribute);
    switch (a.type) {
      case kTypeStandardInfo:
        TakeStandardInfo(attr, info);
        break;
      case kTypeFileName:
        TakeFileName(attr, info, state);
        break;
      case kTypeData:
      case kTypeIndexAllocation:
        DecodeDataPiece(fromAttribute, info, state);
        break;
      case kTypeIndexRoot:
        TakeIndexRoot(attr, info);
        break;
      case kTypeAttributeList:
        if (depth == 0 && state.fetcher != nullptr) FollowAttributeList(attr, number, info, state);
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

uint8_t KindFromRecordFlags(uint16_t flags) {
  switch (flags) {
    case 0:
      return kDeletedFile;
    case 1:
      return kNormalFile;
    case 2:
      return kDeletedFolder;
    case 3:
    case 7:
      return kNormalFolder;
    default:
      return kKindNone;
  }
}

void ClearFromFileName(MftRecordInfo& info) {
  info.runs.clear();
  info.fileNameBlock.fill(0);
  info.size = 0;
  info.dataSize.reset();
  info.fileAttributes = 0;
  info.extendedValue = 0;
  info.nameLength = 0;
  info.nameSpace = 0;
  info.name.clear();
  info.indexFlags = 0;
  info.dataFlags = 0;
  info.indexEntries.clear();
  info.lastSubnodeVcn = 0;
  info.nonResident = 0;
  info.residentContent.reset();
}

bool CheckMftRecord(std::span<uint8_t> record) {
  if (record.size() < kMftRecordSize) return false;
  Bytes rec(record.data(), kMftRecordSize);
  if (!BytesEqual(rec, kRecSignature, "FILE") && !BytesEqual(rec, kRecSignature, "FHLD")) {
    return false;
  }
  uint16_t usaOffset = LoadLe16(rec, kRecUsaOffset);
  uint8_t low = usaOffset & 0xFF;
  if (low != kUsaNew && low != kUsaOld) return false;
  if (!InBounds(rec, usaOffset, kUsaBytes)) return false;
  uint16_t usn = LoadLe16(rec, usaOffset);
  if (LoadLe16(rec, kSector1End) != usn || LoadLe16(rec, kSector2End) != usn) return false;
  std::copy_n(record.begin() + usaOffset + 2, 2, record.begin() + kSector1End);
  std::copy_n(record.begin() + usaOffset + 4, 2, record.begin() + kSector2End);
  return true;
}

bool ListAttributes(Bytes record, std::vector<AttributeRef>& attributes) {
  attributes.clear();
  Bytes rec = SubBytes(record, 0, kMftRecordSize);
  size_t offset = LoadLe16(rec, kRecFirstAttribute);
  while (offset < kMftRecordSize) {
    uint32_t type = LoadLe32(rec, offset + kAttrType);
    if (type == kEndMarker) return true;
    uint32_t length = LoadLe32(rec, offset + kAttrLength);
    if (length == 0 || !InBounds(rec, offset, length)) return false;
    attributes.push_back({type, static_cast<uint32_t>(offset)});
    offset += length;
  }
  return false;
}

void DecodeDataAttribute(Bytes attribute, MftRecordInfo& info) {
  const uint32_t declared = AttrLength(attribute);
  Bytes attr = AttrBytes(attribute);
  if (Load8(attr, kAttrNameLength) != 0) return;
  info.nonResident = Load8(attr, kAttrNonResident) != 0 ? 1 : 0;
  info.dataFlags = LoadLe16(attr, kAttrFlags);
  if (info.nonResident == 0) {
    uint16_t valueOffset = LoadLe16(attr, kAttrValueOffset);
    uint32_t valueLength = LoadLe32(attr, kAttrValueLength);
    if (valueOffset == declared || !InBounds(attr, valueOffset, valueLength)) return;
    info.residentContent.emplace(attr.begin() + valueOffset, attr.end());
    info.dataSize = valueLength;
    if ((info.size >> 32) == 0 && static_cast<uint32_t>(info.size) < valueLength) {
      info.size = valueLength;
    }
    return;
  }
  if (LoadLe64(attr, kAttrLowestVcn) == 0 && InBounds(attr, kAttrRealSize, 8))
    info.dataSize = LoadLe64(attr, kAttrRealSize);
  auto append = [&](uint32_t start, uint32_t length) { return AppendRun(info, start, length); };
  if (WalkAttributeRuns(attribute, append)) {
    info.size = std::max(info.size, LoadLe64(attr, kAttrRealSize));
  }
}

bool ParseMftRecord(std::span<uint8_t> record, uint32_t number, MftRecordInfo& info,
                    uint32_t nested, const MftRecordFetcher* fetcher) {
  ParseState state;
  state.fetcher = fetcher;
  state.topNumber = number;
  if (!ParseInto(record, number, nested, info, state, 0)) return false;
  if (state.readThroughList) OrderPiecesByVcn(info, state.pieces);
  return true;
}

DataRunMap DecodeDataRunsUnchecked(Bytes record) {
  if (record.size() < kMftRecordSize) return {};
  std::vector<uint8_t> copy(record.begin(), record.begin() + kMftRecordSize);
  uint16_t usaOffset = LoadLe16(copy, kRecUsaOffset);
  if (InBounds(copy, usaOffset, kUsaBytes)) {
    std::copy_n(copy.begin() + usaOffset + 2, 2, copy.begin() + kSector1End);
    std::copy_n(copy.begin() + usaOffset + 4, 2, copy.begin() + kSector2End);
  }
  std::vector<AttributeRef> attributes;
  ListAttributes(copy, attributes);
  MftRecordInfo info;
  for (const AttributeRef& a : attributes)
    if (a.type == kTypeData) DecodeDataAttribute(Bytes(copy).subspan(a.offset), info);
  return std::move(info.runs);
}

uint32_t StoredRecordNumber(Bytes record) { return LoadLe32(record, kRecNumber); }

uint32_t RecordAllocatedSize(Bytes record) { return LoadLe32(record, kRecAllocatedSize); }

bool IsOldLayoutRecord(Bytes record) { return Load8(record, kRecUsaOffset) == kUsaOld; }

std::string ParseVolumeName(std::span<uint8_t> record) {
  if (!CheckMftRecord(record)) return {};
  Bytes rec = Bytes(record).first(kMftRecordSize);
  std::vector<AttributeRef> attributes;
  ListAttributes(rec, attributes);
  for (const AttributeRef& a : attributes) {
    if (a.type != kTypeVolumeName) continue;
    std::optional<Bytes> value = ResidentValue(AttrBytes(rec.subspan(a.offset)));
    if (!value || value->empty()) continue;
    return ConvertName(*value, 0, value->size() / 2);
  }
  return {};
}

bool SummarizeMftRecord(Bytes record, MftSummary& summary) {
  std::vector<AttributeRef> attributes;
  if (!ListAttributes(record, attributes)) return false;
  Bytes rec = SubBytes(record, 0, kMftRecordSize);
  for (const AttributeRef& a : attributes) {
    Bytes fromAttribute = rec.subspan(a.offset);
    Bytes attr = AttrBytes(fromAttribute);
    if (a.type == kTypeFileName) {
      std::optional<Bytes> value = ResidentValue(attr);
      if (!value || value->size() < kFnName) continue;
      uint8_t units = Load8(*value, kFnNameLength);
      if (units != 0 && value->size() - kFnName >= 2u * units) {
        summary.name = ConvertName(*value, kFnName, units);
      }
    } else if (a.type == kTypeData && Load8(attr, kAttrNonResident) != 0) {
      WalkAttributeRuns(fromAttribute, [&](uint32_t start, uint32_t length) {
        summary.totalClusters += length;
        if (summary.firstCluster == 0) summary.firstCluster = start;
        return true;
      });
    }
  }
  return true;
}

}  // namespace brevid
