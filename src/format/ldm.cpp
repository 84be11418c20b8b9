#include "format/ldm.h"

#include <cstdio>

namespace brevid {
namespace {

// Reads the record's fields in order; any field that would run past the
// record marks it damaged and every later read returns zeros.
class Cursor {
 public:
  Cursor(Bytes bytes, size_t at) : bytes_(bytes), at_(at) {}

  bool ok() const { return ok_; }
  size_t at() const { return at_; }

  void Skip(size_t n) {
    if (!InBounds(bytes_, at_, n)) ok_ = false;
    at_ += n;
  }
  uint8_t Byte() {
    uint8_t b = Load8(bytes_, at_);
    Skip(1);
    return b;
  }
  // A length byte and that many bytes of a big-endian number; more than
  // eight bytes cannot be a number we use.
  uint64_t Var() {
    uint8_t n = Byte();
    if (n > 8 || !InBounds(bytes_, at_, n)) {
      ok_ = false;
      return 0;
    }
    uint64_t v = 0;
    for (uint8_t i = 0; i < n; ++i) v = (v << 8) | bytes_[at_ + i];
    at_ += n;
    return v;
  }
  std::string Text(size_t keep = 255) {
    uint8_t n = Byte();
    if (!ok_ || !InBounds(bytes_, at_, n)) {
      ok_ = false;
      return {};
    }
    std::string s(reinterpret_cast<const char*>(bytes_.data() + at_), n < keep ? n : keep);
    at_ += n;
    return s;
  }
  Bytes Raw(size_t n) {
    Bytes r = SubBytes(bytes_, at_, n);
    Skip(n);
    return r;
  }
  uint64_t Be64() {
    uint64_t v = LoadBe64(bytes_, at_);
    Skip(8);
    return v;
  }

 private:
  Bytes bytes_;
  size_t at_;
  bool ok_ = true;
};

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t DecimalAfter(const std::string& text, size_t from) {
  uint64_t v = 0;
  for (size_t i = from; i < text.size() && text[i] >= '0' && text[i] <= '9' && v < 0xFFFFFFFF; ++i)
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
  return v > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(v);
}

// Volume record: after the type text come 22 bytes (state and numbers the
// reader does not use), the child count and 16 bytes of transaction ids.
constexpr size_t kVolumeSkipAfterType = 22;
constexpr size_t kVolumeIdsSize = 16;
constexpr size_t kVolumeTypeGap = 4;  // from the size's end to the partition type
constexpr uint8_t kVolumeFlagText1 = 0x08;
constexpr uint8_t kVolumeFlagText2 = 0x20;
constexpr uint8_t kVolumeFlagVar = 0x80;
constexpr uint8_t kVolumeFlagHint = 0x02;
constexpr size_t kHintKept = 3;
constexpr uint8_t kComponentFlagStripe = 0x10;
constexpr size_t kComponentIdsSize = 16;
constexpr size_t kPartitionStartGap = 12;  // from the name's end

}  // namespace

bool ParseGuidText(Bytes text, LdmGuid* guid) {
  if (text.size() < 36) return false;
  for (size_t dash : {8u, 13u, 18u, 23u})
    if (text[dash] != '-') return false;
  size_t at = 0;
  for (size_t i = 0; i < 16; ++i) {
    if (at == 8 || at == 13 || at == 18 || at == 23) ++at;
    int hi = HexDigit(text[at]), lo = HexDigit(text[at + 1]);
    if (hi < 0 || lo < 0) return false;
    (*guid)[i] = static_cast<uint8_t>(hi * 16 + lo);
    at += 2;
  }
  return true;
}

std::string GuidIdentityText(const LdmGuid& guid) {
  std::string out;
  char digits[8];
  for (uint8_t b : guid) {
    std::snprintf(digits, sizeof digits, "%d", b);
    out += digits;
  }
  return out;
}

bool ParseLdmPrivateHeader(Bytes s, LdmPrivateHeader* h) {
  if (!BytesEqual(s, ldm::kPrivMagic, "PRIVHEAD")) return false;
  h->versionMajor = LoadBe16(s, ldm::kPrivVersionMajor);
  h->versionMinor = LoadBe16(s, ldm::kPrivVersionMinor);
  if (h->versionMajor != 2 || (h->versionMinor != 11 && h->versionMinor != 12)) return false;
  h->logicalStart = LoadBe64(s, ldm::kPrivLogicalStart);
  h->logicalSize = LoadBe64(s, ldm::kPrivLogicalSize);
  h->configStart = LoadBe64(s, ldm::kPrivConfigStart);
  h->configSize = LoadBe64(s, ldm::kPrivConfigSize);
  if (h->logicalSize == 0 || h->logicalStart > UINT64_MAX - h->logicalSize ||
      h->configStart > UINT64_MAX - h->configSize)
    return false;
  // The configuration area follows the logical disk on a disk with an MBR
  // and precedes it (in its own partition) on one with a GPT; never inside.
  if (h->configStart < h->logicalStart + h->logicalSize &&
      h->configStart + h->configSize > h->logicalStart)
    return false;
  if (!ParseGuidText(SubBytes(s, ldm::kPrivDiskGuid, 36), &h->diskGuid) ||
      !ParseGuidText(SubBytes(s, ldm::kPrivGroupGuid, 36), &h->groupGuid))
    return false;
  Bytes name = SubBytes(s, ldm::kPrivGroupName, ldm::kPrivGroupNameSize);
  h->groupName.clear();
  for (uint8_t c : name) {
    if (c == 0) break;
    h->groupName += static_cast<char>(c);
  }
  return true;
}

bool ParseLdmVmdb(Bytes s, LdmVmdb* v) {
  if (!BytesEqual(s, ldm::kVmdbMagic, "VMDB") || LoadBe16(s, ldm::kVmdbVersionMajor) != 4 ||
      LoadBe16(s, ldm::kVmdbVersionMinor) != 10)
    return false;
  v->lastSequence = LoadBe32(s, ldm::kVmdbLastSequence);
  v->recordSize = LoadBe32(s, ldm::kVmdbRecordSize);
  v->firstRecord = LoadBe32(s, ldm::kVmdbFirstRecord);
  return true;
}

void ParseLdmRecord(Bytes r, LdmDatabase* db) {
  if (!BytesEqual(r, 0, "VBLK") && !BytesEqual(r, 0, "KLOG")) return;
  uint8_t flags = Load8(r, ldm::kRecFlags);
  uint8_t type = Load8(r, ldm::kRecType);
  if (type != ldm::kTypeComponent && type != ldm::kTypePartition && type != ldm::kTypeDisk &&
      type != ldm::kTypeGroup && type != ldm::kTypeDisk2 && type != ldm::kTypeGroup2 &&
      type != ldm::kTypeVolume)
    return;
  uint32_t length = LoadBe32(r, ldm::kRecDataLength);
  if (length > ldm::kMaxDataLength || Load8(r, ldm::kRecObjectId) >= 0x80) {
    ++db->skipped;
    return;
  }
  Bytes data = SubBytes(r, 0, ldm::kRecObjectId + length);
  Cursor c(data, ldm::kRecObjectId);
  uint64_t id = c.Var();
  std::string name = c.Text(ldm::kNameKept);

  switch (type) {
    case ldm::kTypeComponent: {
      LdmComponent comp{id, name};
      c.Text();  // state
      comp.layout = c.Byte();
      c.Skip(4);
      c.Var();  // child count
      c.Skip(kComponentIdsSize);
      comp.parentId = c.Var();
      if (flags & kComponentFlagStripe) {
        c.Skip(1);
        comp.stripeSectors = c.Var();
      }
      if (c.ok()) db->components.push_back(std::move(comp));
      break;
    }
    case ldm::kTypePartition: {
      LdmPartition part{id, name};
      c.Skip(kPartitionStartGap);
      part.start = c.Be64();
      part.volumeOffset = c.Be64();
      part.size = c.Var();
      part.parentId = c.Var();
      part.diskId = c.Var();
      if (c.ok()) db->partitions.push_back(std::move(part));
      break;
    }
    case ldm::kTypeDisk: {
      LdmDisk disk{id, name};
      std::string guid = c.Text();
      // The second text runs on into the record's next slot, which is not
      // read; nothing uses it.
      Bytes g(reinterpret_cast<const uint8_t*>(guid.data()), guid.size());
      if (!c.ok() || !ParseGuidText(g, &disk.guid)) break;
      disk.number = DecimalAfter(name, 4);
      db->disks.push_back(std::move(disk));
      return;
    }
    case ldm::kTypeDisk2: {
      LdmDisk disk{id, name};
      Bytes g = c.Raw(16);
      if (!c.ok()) break;
      std::copy(g.begin(), g.end(), disk.guid.begin());
      disk.number = DecimalAfter(name, 4);
      db->disks.push_back(std::move(disk));
      return;
    }
    case ldm::kTypeGroup:
    case ldm::kTypeGroup2:
      if (c.ok()) db->groups.push_back(name);
      break;
    case ldm::kTypeVolume: {
      LdmVolume vol;
      vol.id = id;
      vol.name = name;
      c.Text();  // volume type
      c.Skip(kVolumeSkipAfterType);
      c.Var();  // child count
      c.Skip(kVolumeIdsSize);
      vol.size = c.Var();
      c.Skip(kVolumeTypeGap);
      vol.partitionType = c.Byte();
      c.Skip(16);  // volume GUID
      if (flags & kVolumeFlagText1) c.Text();
      if (flags & kVolumeFlagText2) c.Text();
      if (flags & kVolumeFlagVar) c.Var();
      if (flags & kVolumeFlagHint) vol.driveHint = c.Text(kHintKept);
      if (c.ok()) db->volumes.push_back(std::move(vol));
      break;
    }
    default:
      break;
  }
  if (!c.ok()) ++db->skipped;
}

}  // namespace brevid
