#include "partition/gpt.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/crc32.h"
#include "common/sector_range.h"
#include "common/text.h"
#include "format/boot_probes.h"
#include "format/file_system_kind.h"
#include "partition/lvm2.h"
#include "partition/volume_label.h"
#include "platform/codepage.h"

namespace brevid {
namespace {

using Guid = std::array<uint8_t, 16>;

// GUIDs as stored on disk: the first three groups little-endian.
constexpr Guid kBasicData = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                             0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
constexpr Guid kAppleHfsPlus = {0x00, 0x53, 0x46, 0x48, 0x00, 0x00, 0xAA, 0x11,
                                0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC};
constexpr Guid kEfiSystem = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                             0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
constexpr Guid kLdmMetadata = {0xAA, 0xC8, 0x08, 0x58, 0x8F, 0x7E, 0xE0, 0x42,
                               0x85, 0xD2, 0xE1, 0xE9, 0x04, 0x34, 0xCF, 0xB3};
constexpr Guid kLvm = {0x79, 0xD3, 0xD6, 0xE6, 0x07, 0xF5, 0xC2, 0x44,
                       0xA2, 0x3C, 0x23, 0x8F, 0x2A, 0x3D, 0xF9, 0x28};

bool IsUnusedEntry(Bytes entry) {
  for (size_t i = 0; i < 16; ++i)
    if (Load8(entry, gpt::kTypeGuid + i) != 0) return false;
  return true;
}

// Item texts find volumes, so a name an earlier volume of the disk already
// carries (parted names every partition "primary") takes the number too.
void MakeNameUnique(const DiskInfo& disk, VolumeInfo& v, int counter) {
  for (const VolumeInfo& earlier : disk.volumes) {
    if (earlier.name == v.name) {
      v.name += Format("Partition%d", counter);
      return;
    }
  }
}

bool GuidIs(Bytes entry, const Guid& guid) {
  if (!InBounds(entry, gpt::kTypeGuid, 16)) return false;
  for (size_t i = 0; i < 16; ++i)
    if (entry[gpt::kTypeGuid + i] != guid[i]) return false;
  return true;
}

std::string EntryName(Bytes entry) {
  std::u16string wide;
  for (size_t i = 0; i < gpt::kNameChars; ++i) {
    char16_t c = LoadLe16(entry, gpt::kName + 2 * i);
    if (c == 0) break;
    wide.push_back(c);
  }
  return WideToAnsi(wide);
}

// Identifies the file system of a probed GPT partition and names it.
void IdentifyGptVolume(DiskInfo& disk, SourceHandle& handle, VolumeInfo& v, int counter) {
  std::vector<uint8_t> head = ReadBytes(handle, SectorToByte(v.start), 2048);
  Bytes bytes(head);
  Bytes at1024 = bytes.subspan(1024);
  auto labelled = [&](FsType type, const char* suffix) {
    v.fsType = type;
    v.name += suffix + Format("%d", counter);
    v.label = ReadVolumeLabel(handle, v.start, type);
  };
  if (const FileSystemKind* kind = KindOfBootSector(bytes)) {
    labelled(kind->foundType, kind->gptSuffix);
  } else if (IsExtSuperblockConsistent(at1024)) {
    v.fsType = kFsExt;
    v.name += Format("Partition%d", counter);
    v.extText = ExtFlavour(at1024);
    v.sectorCount = ExtVolumeSectors(at1024, disk.sectorSize);
    v.label = ExtVolumeName(at1024);
  } else if (uint32_t kind = HfsSignatureKind(at1024); kind != 0) {
    v.fsType = kFsHfs;
    if (kind == 4 || kind == 1) {
      v.hfsKind = kind;
      v.hfsText = kind == 4 ? "HFS+ in HFS" : "HFS";
      v.label = HfsMdbVolumeName(at1024);
      v.diskPath = disk.path;
    } else if (kind == 2) {
      v.hfsKind = 2;
      v.hfsText = "HFS+";
      v.label = "only hfs+";
      v.diskPath = disk.path;
    }
  }
}

bool IsSoundHeader(SourceHandle& handle, uint64_t lba) {
  std::vector<uint8_t> header = ReadBytes(handle, SectorToByte(lba), 512);
  const uint32_t size = LoadLe32(header, gpt::kHeaderSize);
  if (!BytesEqual(header, gpt::kSignature, "EFI PART") || size < gpt::kHeaderCrc + 4 ||
      size > header.size() || LoadLe64(header, gpt::kMyLba) != lba)
    return false;
  const uint32_t stored = LoadLe32(header, gpt::kHeaderCrc);
  std::fill_n(header.begin() + gpt::kHeaderCrc, 4, 0);
  return Crc32(Bytes(header).first(size)) == stored;
}

}  // namespace

uint64_t ChooseGptHeader(SourceHandle& handle, uint64_t primaryLba, uint64_t diskSectors,
                         bool* backup) {
  *backup = false;
  if (IsSoundHeader(handle, primaryLba) || diskSectors < 2) return primaryLba;
  if (!IsSoundHeader(handle, diskSectors - 1)) return primaryLba;
  *backup = true;
  return diskSectors - 1;
}

bool HasGptHeader(SourceHandle& handle, uint64_t headerLba) {
  std::vector<uint8_t> header = ReadBytes(handle, SectorToByte(headerLba), 512);
  return BytesEqual(header, gpt::kSignature, "EFI PART");
}

bool WalkGpt(DiskInfo& disk, SourceHandle& handle, uint64_t headerLba, int& counter,
             uint64_t* ldmHeaderSector, bool fromBackup) {
  std::vector<uint8_t> header = ReadBytes(handle, SectorToByte(headerLba), 512);
  uint64_t arrayLba = LoadLe64(header, gpt::kEntryArrayLba);
  uint32_t count = LoadLe32(header, gpt::kEntryCount);
  uint32_t entrySize = LoadLe32(header, gpt::kEntrySize);
  if (count > gpt::kMaxEntryCount) return false;
  if (entrySize < gpt::kMinEntrySize || entrySize > gpt::kMaxEntrySize) return true;

  std::vector<uint8_t> array = ReadBytes(handle, SectorToByte(arrayLba), size_t{count} * entrySize);
  for (uint32_t i = 0; i < count; ++i) {
    Bytes entry = Bytes(array).subspan(size_t{i} * entrySize, entrySize);
    uint64_t first = LoadLe64(entry, gpt::kFirstLba);
    // A deleted partition leaves an empty slot; later entries still count.
    if (IsUnusedEntry(entry) || first == 0) continue;
    VolumeInfo v;
    v.start = first;
    v.sectorCount = LoadLe64(entry, gpt::kLastLba) - first + 1;
    v.name = EntryName(entry);
    v.entryKind = 1;
    v.fromBackupGpt = fromBackup;
    if (GuidIs(entry, kBasicData) || GuidIs(entry, kAppleHfsPlus) || GuidIs(entry, kEfiSystem))
      IdentifyGptVolume(disk, handle, v, counter);
    else if (GuidIs(entry, kLdmMetadata) && ldmHeaderSector && v.sectorCount > 0)
      *ldmHeaderSector = first + v.sectorCount - 1;
    // Without a name or a known file system the item text would be empty,
    // and an empty text cannot name the volume.
    if (v.name.empty()) v.name = Format("Partition%d", counter);
    MakeNameUnique(disk, v, counter);
    bool lvm = GuidIs(entry, kLvm);
    disk.volumes.push_back(std::move(v));
    if (lvm) ReadLvmPartition(disk, handle, first);
    ++counter;
  }
  return true;
}

}  // namespace brevid
