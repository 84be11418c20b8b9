#include "format/exfat_layout.h"

#include "format/boot_probes.h"

namespace brevid {
namespace {

uint16_t Rotate16(uint16_t sum, uint8_t byte) {
  return static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
}

bool Reject(const char** reason, const char* why) {
  if (reason) *reason = why;
  return false;
}

}  // namespace

bool ParseExfatGeometry(Bytes s, ExfatGeometry* g, const char** reason) {
  using namespace exfat;
  if (!IsExfatBoot(s)) return Reject(reason, "not an exFAT boot sector");
  ExfatGeometry r;
  r.sectorShift = Load8(s, kSectorShift);
  r.clusterShift = Load8(s, kClusterShift);
  if (r.sectorShift < 9 || r.sectorShift > 12) return Reject(reason, "sector shift");
  // Clusters go up to 32 MiB.
  if (r.clusterShift > 25 - r.sectorShift) return Reject(reason, "cluster shift");
  r.volumeSectors = LoadLe64(s, kVolumeLength);
  r.fatOffset = LoadLe32(s, kFatOffset);
  r.fatLength = LoadLe32(s, kFatLength);
  r.heapOffset = LoadLe32(s, kHeapOffset);
  r.clusterCount = LoadLe32(s, kClusterCount);
  r.rootCluster = LoadLe32(s, kRootCluster);
  uint8_t fats = Load8(s, kFatCount);
  if (fats != 1 && fats != 2) return Reject(reason, "FAT count");
  if (r.fatOffset < 2 * kBootRegionSectors || r.fatLength == 0) return Reject(reason, "FAT place");
  if (r.heapOffset < r.fatOffset + r.fatLength * fats) return Reject(reason, "heap before FAT end");
  if (r.heapOffset >= r.volumeSectors) return Reject(reason, "heap past the volume");
  // Cluster numbers 2 to count + 1 must fit the FAT and the heap.
  if ((uint64_t{r.clusterCount} + 2) * 4 > r.fatLength << r.sectorShift)
    return Reject(reason, "FAT shorter than the clusters");
  if (r.clusterCount == 0 ||
      uint64_t{r.clusterCount} > (r.volumeSectors - r.heapOffset) >> r.clusterShift)
    return Reject(reason, "cluster count past the volume");
  if (!r.IsDataCluster(r.rootCluster)) return Reject(reason, "root cluster");
  *g = r;
  return true;
}

uint32_t ExfatBootChecksum(Bytes region, uint32_t sectorBytes) {
  uint32_t sum = 0;
  size_t n = std::min<size_t>(region.size(), size_t{exfat::kChecksumSector} * sectorBytes);
  for (size_t i = 0; i < n; ++i) {
    if (i == exfat::kVolumeFlagsLow || i == exfat::kVolumeFlagsLow + 1 || i == exfat::kPercentInUse)
      continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  return sum;
}

bool IsExfatBootRegionWhole(Bytes region, uint32_t sectorBytes) {
  const size_t checksumAt = size_t{exfat::kChecksumSector} * sectorBytes;
  if (!IsExfatBoot(region) || !InBounds(region, checksumAt, sectorBytes)) return false;
  const uint32_t sum = ExfatBootChecksum(region, sectorBytes);
  for (size_t at = checksumAt; at < checksumAt + sectorBytes; at += 4)
    if (LoadLe32(region, at) != sum) return false;
  return true;
}

uint16_t ExfatSetChecksum(Bytes entries, bool asInUse) {
  uint16_t sum = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i == exfat::kSetChecksum || i == exfat::kSetChecksum + 1) continue;
    uint8_t byte = entries[i];
    if (asInUse && i % exfat::kEntrySize == exfat::kType) byte |= exfat::kInUse;
    sum = Rotate16(sum, byte);
  }
  return sum;
}

uint16_t ExfatNameHash(std::u16string_view name) {
  uint16_t hash = 0;
  for (char16_t unit : name) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
    hash = Rotate16(hash, static_cast<uint8_t>(unit & 0xFF));
    hash = Rotate16(hash, static_cast<uint8_t>(unit >> 8));
  }
  return hash;
}

ExfatSetFault ParseExfatFileSet(Bytes dir, size_t at, ExfatFileSet* set) {
  using namespace exfat;
  Bytes file = SubBytes(dir, at, kEntrySize);
  if (file.size() < kEntrySize || (Load8(file, kType) & 0x7F) != (kTypeFile & 0x7F))
    return ExfatSetFault::kNotAFileEntry;
  const bool inUse = (Load8(file, kType) & kInUse) != 0;
  const size_t secondaries = Load8(file, kSecondaryCount);
  // A stream extension and at least one name entry.
  if (secondaries < 2) return ExfatSetFault::kBadShape;
  const size_t setBytes = (secondaries + 1) * kEntrySize;
  if (!InBounds(dir, at, setBytes)) return ExfatSetFault::kTruncated;
  Bytes entries = dir.subspan(at, setBytes);
  for (size_t i = 1; i <= secondaries; ++i) {
    uint8_t type = entries[i * kEntrySize];
    // Secondary entries have bit 6 set; one in use where the file entry is
    // not (or the other way round) belongs to another set.
    if ((type & 0x40) == 0) return ExfatSetFault::kBadShape;
    if (((type & kInUse) != 0) != inUse) return ExfatSetFault::kMixedUse;
  }
  Bytes stream = entries.subspan(kEntrySize, kEntrySize);
  if ((Load8(stream, kType) | kInUse) != kTypeStream) return ExfatSetFault::kBadShape;
  const size_t nameUnits = Load8(stream, kNameLength);
  const size_t nameEntries = (nameUnits + kUnitsPerNameEntry - 1) / kUnitsPerNameEntry;
  if (nameUnits == 0 || nameEntries + 1 > secondaries) return ExfatSetFault::kBadShape;
  if (LoadLe16(file, kSetChecksum) != ExfatSetChecksum(entries, true))
    return ExfatSetFault::kBadChecksum;

  ExfatFileSet r;
  r.name.reserve(nameUnits);
  for (size_t e = 0; e < nameEntries; ++e) {
    Bytes name = entries.subspan((2 + e) * kEntrySize, kEntrySize);
    if ((Load8(name, kType) | kInUse) != kTypeName) return ExfatSetFault::kBadShape;
    for (size_t u = 0; u < kUnitsPerNameEntry && r.name.size() < nameUnits; ++u)
      r.name.push_back(static_cast<char16_t>(LoadLe16(name, kNameUnits + 2 * u)));
  }
  bool ascii = true;
  for (char16_t unit : r.name) ascii = ascii && unit < 0x80;
  if (ascii && LoadLe16(stream, kNameHash) != ExfatNameHash(r.name))
    return ExfatSetFault::kBadNameHash;

  r.inUse = inUse;
  r.attributes = LoadLe16(file, kAttributes);
  r.createStamp = LoadLe32(file, kCreateStamp);
  r.modifyStamp = LoadLe32(file, kModifyStamp);
  r.create10ms = Load8(file, kCreate10ms);
  r.modify10ms = Load8(file, kModify10ms);
  r.createUtcOffset = Load8(file, kCreateUtcOffset);
  r.modifyUtcOffset = Load8(file, kModifyUtcOffset);
  r.streamFlags = Load8(stream, kStreamFlags);
  r.firstCluster = LoadLe32(stream, kStreamFirstCluster);
  r.validDataLength = LoadLe64(stream, kValidDataLength);
  r.dataLength = LoadLe64(stream, kDataLength);
  r.entryCount = secondaries + 1;
  *set = std::move(r);
  return ExfatSetFault::kNone;
}

bool HoldsExfatFileSet(Bytes from, size_t span) {
  using namespace exfat;
  for (size_t at = 0; at < span && at + 2 * kEntrySize <= from.size(); at += kEntrySize) {
    // Cheap first: a file entry followed by a stream extension.
    if ((from[at] & 0x7F) != (kTypeFile & 0x7F) || (from[at + kEntrySize] | kInUse) != kTypeStream)
      continue;
    ExfatFileSet set;
    if (ParseExfatFileSet(from, at, &set) == ExfatSetFault::kNone) return true;
  }
  return false;
}

}  // namespace brevid
