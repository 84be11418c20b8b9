#include "format/boot_probes.h"

#include "common/saturating.h"
#include "common/text.h"

namespace brevid {

bool IsNtfsBoot(Bytes s) {
  return LoadLe16(s, boot::kSignature) == boot::kSignatureValue &&
         LoadLe16(s, boot::kBytesPerSector) == 512 && Load8(s, boot::kFatCount) == 0 &&
         LoadLe16(s, boot::kRootEntries) == 0 && LoadLe16(s, boot::kFatSectors16) == 0 &&
         BytesEqual(s, boot::kOemName, "NTFS");
}

uint32_t NtfsSectorsPerCluster(Bytes s) {
  uint8_t v = Load8(s, boot::kSectorsPerCluster);
  if (v <= 0x80) return v;
  // Clusters go up to 2 MiB (4096 sectors); a larger shift is damage.
  unsigned shift = 256u - v;
  return shift <= 12 ? 1u << shift : 0;
}

bool IsFat32Boot(Bytes s) {
  return LoadLe16(s, boot::kSignature) == boot::kSignatureValue && Load8(s, boot::kFatCount) == 2 &&
         LoadLe16(s, boot::kBytesPerSector) == 512 && LoadLe16(s, boot::kFat32BackupBoot) <= 6 &&
         LoadLe32(s, boot::kRootEntries) == 0 && LoadLe16(s, boot::kFatSectors16) == 0 &&
         BytesEqual(s, boot::kFat32FsType, "FAT32");
}

uint64_t NtfsSectorCount(Bytes s) { return LoadLe64(s, boot::kNtfsTotalSectors); }

uint64_t Fat32SectorCount(Bytes s) { return LoadLe32(s, boot::kTotalSectors32); }

uint64_t Fat16SectorCount(Bytes s) {
  uint32_t count = LoadLe32(s, boot::kTotalSectors32);
  return count != 0 ? count : LoadLe16(s, boot::kTotalSectors16);
}

uint64_t NtfsMftOffset(Bytes s) {
  return MulSat(NtfsSectorsPerCluster(s), LoadLe64(s, boot::kNtfsMftCluster));
}

uint32_t NtfsRecordBytes(Bytes s) {
  auto value = static_cast<int8_t>(Load8(s, boot::kNtfsRecordClusters));
  uint64_t bytes = 0;
  if (value < 0) {
    if (-value <= 16) bytes = uint64_t{1} << -value;
  } else {
    bytes = static_cast<uint64_t>(value) * NtfsSectorsPerCluster(s) *
            LoadLe16(s, boot::kBytesPerSector);
  }
  return bytes >= 256 && bytes <= 65536 ? static_cast<uint32_t>(bytes) : 0;
}

bool IsFat16Boot(Bytes s) {
  return LoadLe16(s, boot::kSignature) == boot::kSignatureValue &&
         LoadLe16(s, boot::kRootEntries) == 512 && LoadLe16(s, boot::kBytesPerSector) == 512 &&
         BytesEqual(s, boot::kFat16FsType, "FAT16");
}

bool IsExfatBoot(Bytes s) {
  if (LoadLe16(s, boot::kSignature) != boot::kSignatureValue) return false;
  if (!InBounds(s, 0x0B, 0x40 - 0x0B)) return false;
  for (size_t i = 0x0B; i < 0x40; ++i)
    if (s[i] != 0) return false;
  return BytesEqual(s, boot::kOemName, "EXFAT");
}

uint64_t ExfatSectorCount(Bytes s) {
  uint8_t shift = Load8(s, boot::kExfatSectorShift);
  if (shift < 9 || shift > 12) return 0;
  return MulSat(LoadLe64(s, boot::kExfatVolumeLength), uint64_t{1} << (shift - 9));
}

namespace {

uint64_t ExtTotalBlocks(Bytes sb) {
  return (static_cast<uint64_t>(LoadLe32(sb, extsb::kBlocksHi)) << 32) |
         LoadLe32(sb, extsb::kBlocksLo);
}

}  // namespace

bool IsExtSuperblockConsistent(Bytes sb) {
  using namespace extsb;
  if (LoadLe16(sb, kMagic) != kMagicValue) return false;
  if (LoadLe32(sb, kCreatorOs) != 0) return false;
  if (LoadLe16(sb, kInodeSize) < 128) return false;
  uint32_t blockSize = 1024u << (LoadLe32(sb, kLogBlockSize) % 32);
  if (blockSize == 0) return false;
  if (LoadLe32(sb, kBlocksPerGroup) == 0 || LoadLe32(sb, kInodesPerGroup) == 0 ||
      LoadLe32(sb, kWriteTime) == 0)
    return false;
  uint64_t total = ExtTotalBlocks(sb);
  uint64_t freeBlocks =
      (static_cast<uint64_t>(LoadLe32(sb, kFreeBlocksHi)) << 32) | LoadLe32(sb, kFreeBlocksLo);
  return LoadLe32(sb, kFreeInodes) < LoadLe32(sb, kInodes) && freeBlocks < total &&
         LoadLe32(sb, kFirstDataBlock) < total;
}

uint32_t HfsSignatureKind(Bytes h) {
  if (BytesEqual(h, 0, "BD")) {
    if (BytesEqual(h, 0x7C, "H+")) return 4;
    return LoadLe16(h, 0x7C) == 0 ? 1 : 0;
  }
  if (BytesEqual(h, 0, "H+")) return 2;
  if (BytesEqual(h, 0, "HX")) return 3;
  return 0;
}

std::string ExtFlavour(Bytes sb) {
  if ((LoadLe32(sb, extsb::kCompatFeatures) & extsb::kCompatHasJournal) == 0) return "EXT2";
  if ((LoadLe32(sb, extsb::kIncompatFeatures) & extsb::kIncompatExtents) == 0) return "EXT3";
  return "EXT4";
}

uint64_t ExtVolumeSectors(Bytes sb, uint32_t sectorSize) {
  uint32_t blockSize = 1024u << (LoadLe32(sb, extsb::kLogBlockSize) % 32);
  if (sectorSize == 0) return 0;
  return static_cast<uint64_t>(blockSize) * LoadLe32(sb, extsb::kBlocksLo) / sectorSize;
}

std::string ExtVolumeName(Bytes sb) {
  Bytes name = SubBytes(sb, extsb::kVolumeName, 16);
  return std::string(
      UpToNul(std::string_view(reinterpret_cast<const char*>(name.data()), name.size())));
}

std::string HfsMdbVolumeName(Bytes mdb) {
  constexpr size_t kNameLength = 0x24;
  size_t length = std::min<size_t>(Load8(mdb, kNameLength), 27);
  Bytes name = SubBytes(mdb, kNameLength + 1, length);
  return std::string(reinterpret_cast<const char*>(name.data()), name.size());
}

}  // namespace brevid
