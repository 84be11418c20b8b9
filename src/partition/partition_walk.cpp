#include "partition/partition_walk.h"

#include <algorithm>
#include <set>
#include <vector>

#include "common/sector_range.h"
#include "common/text.h"
#include "format/boot_probes.h"
#include "format/file_system_kind.h"
#include "format/mbr_layout.h"
#include "partition/apple_hfs.h"
#include "partition/dynamic_disk.h"
#include "partition/gpt.h"
#include "partition/lvm2.h"
#include "partition/volume_label.h"

namespace brevid {
namespace {

// A chain of extended boot records is followed at most this many links; a
// real chain has one link per logical volume.
constexpr int kMaxEbrLinks = 256;

struct MbrEntry {
  uint8_t type = 0;
  uint32_t firstSector = 0;
  uint32_t sectorCount = 0;

  bool Used() const { return type != 0 && sectorCount != 0; }
  bool IsLink() const { return Used() && mbr::IsExtendedType(type); }
};

MbrEntry ParseEntry(Bytes sector, int index) {
  size_t at = mbr::kEntryTable + static_cast<size_t>(index) * mbr::kEntrySize;
  return {Load8(sector, at + mbr::kEntryType), LoadLe32(sector, at + mbr::kEntryFirstSector),
          LoadLe32(sector, at + mbr::kEntrySectorCount)};
}

// Sector 0 is a volume boot sector rather than a partition table when its
// jump instruction says so. EB 48 90 and EB 63 90 are common MBR boot codes.
bool IsBootSectorAtZero(Bytes s) {
  bool shortJump =
      Load8(s, 0) == 0xEB && Load8(s, 2) == 0x90 && Load8(s, 1) != 0x48 && Load8(s, 1) != 0x63;
  bool nearJump = Load8(s, 0) == 0xE9 && Load8(s, 11) == 0x00 && Load8(s, 12) == 0x02;
  return shortJump || nearJump;
}

void AddBootSectorVolume(DiskInfo& disk, SourceHandle& handle, Bytes s) {
  VolumeInfo v;
  v.name = "Partition0";
  v.start = 0;
  if (const FileSystemKind* kind = KindOfBootSector(s)) {
    v.fsType = kind->wholeDiskType;
    v.sectorCount = kind->sectorCount(s);
  }
  v.label = ReadVolumeLabel(handle, v.start, v.fsType);
  disk.volumes.push_back(std::move(v));
}

void AddWholeDiskExt(DiskInfo& disk, Bytes superblock) {
  VolumeInfo v;
  v.name = "Partition0";
  v.fsType = kFsExt;
  v.extText = ExtFlavour(superblock);
  v.sectorCount = ExtVolumeSectors(superblock, disk.sectorSize);
  v.label = ExtVolumeName(superblock);
  disk.volumes.push_back(std::move(v));
}

// Type 0x83 is fdisk's default whatever the partition holds, so a FAT, NTFS
// or exFAT boot sector decides; the EXT flavour is named only when a
// consistent superblock is there.
void IdentifyLinuxTypeVolume(SourceHandle& handle, VolumeInfo& v) {
  std::vector<uint8_t> head = ReadBytes(handle, SectorToByte(v.start), 2048);
  Bytes bytes(head);
  Bytes superblock = SubBytes(bytes, 1024, 1024);
  if (const FileSystemKind* kind = KindOfBootSector(bytes)) {
    v.fsType = kind->foundType;
  } else if (IsExtSuperblockConsistent(superblock)) {
    v.extText = ExtFlavour(superblock);
  }
}

// A volume from an MBR or EBR entry, with the refinements the type byte
// alone cannot give: exFAT behind type 0x07, the content behind 0x83.
void AddEntryVolume(DiskInfo& disk, SourceHandle& handle, const MbrEntry& e, uint64_t start,
                    int number, uint8_t entryKind) {
  VolumeInfo v;
  v.name = Format("Partition%d", number);
  v.start = start;
  v.sectorCount = e.sectorCount;
  v.fsType = e.type;
  v.entryKind = entryKind;
  if (e.type == kFsNtfs) {
    std::vector<uint8_t> bootSector = ReadBytes(handle, SectorToByte(start), 512);
    if (IsExfatBoot(bootSector)) v.fsType = kFsExfat;
  } else if (e.type == kFsExt) {
    IdentifyLinuxTypeVolume(handle, v);
  }
  v.label = ReadVolumeLabel(handle, v.start, v.fsType);
  disk.volumes.push_back(std::move(v));
  if (e.type == mbr::kTypeLvm) ReadLvmPartition(disk, handle, start);
}

// Every logical volume takes the counter's value and advances it. (Holding
// the counter still for the first EBR's volumes and raising it around its
// links gives the same numbers for one volume and one link per EBR, but gives
// two volumes one name when an EBR holds two volumes or its link comes first,
// and a name is how every command finds a volume.)
class EbrWalk {
 public:
  EbrWalk(DiskInfo& disk, SourceHandle& handle, int& counter)
      : disk_(disk), handle_(handle), counter_(counter) {}

  void Walk(uint64_t extendedStart) {
    if (!Visit(extendedStart)) return;
    std::vector<uint8_t> ebr = ReadBytes(handle_, SectorToByte(extendedStart), 512);
    ReadEntries(ebr, extendedStart, extendedStart);
  }

 private:
  void Nested(uint64_t base, uint64_t relative) {
    uint64_t sector = base + relative;
    if (!Visit(sector)) return;
    std::vector<uint8_t> ebr = ReadBytes(handle_, SectorToByte(sector), 512);
    if (LoadLe16(ebr, boot::kSignature) != boot::kSignatureValue) return;
    ReadEntries(ebr, base, sector);
  }

  // Links are relative to the extended partition's start (`base`), volumes to
  // the EBR that lists them.
  void ReadEntries(Bytes ebr, uint64_t base, uint64_t sector) {
    for (int i = 0; i < mbr::kEntryCount; ++i) {
      MbrEntry e = ParseEntry(ebr, i);
      if (e.IsLink()) {
        Nested(base, e.firstSector);
      } else if (e.Used()) {
        AddEntryVolume(disk_, handle_, e, sector + e.firstSector, counter_, 2);
        ++counter_;
      }
    }
  }

  // Refuses a sector already read and ends the chain after the link budget,
  // so a chain that points back into itself cannot loop.
  bool Visit(uint64_t sector) {
    if (links_ >= kMaxEbrLinks) return false;
    ++links_;
    return visited_.insert(sector).second;
  }

  DiskInfo& disk_;
  SourceHandle& handle_;
  int& counter_;
  std::set<uint64_t> visited_;
  int links_ = 0;
};

}  // namespace

void WalkPartitionsInList(DiskList& list, DiskInfo& disk, SourceHandle& handle,
                          const std::string& path) {
  std::vector<uint8_t> head = ReadBytes(handle, 0, 2048);
  Bytes s(head);

  if (LoadLe16(s, boot::kSignature) != boot::kSignatureValue) {
    // LVM2 counts its label sector in 512-byte units whatever the disk's.
    if (ReadLvmLabel(SubBytes(s, 512, 512), disk, handle)) {
      ResolveLvmMemberPaths(list, disk);
      return;
    }
    if (IsExtSuperblockConsistent(SubBytes(s, 1024, 1024))) {
      AddWholeDiskExt(disk, SubBytes(s, 1024, 1024));
      return;
    }
    if (BytesEqual(s, 0, "ER")) {
      ReadApplePartitionMap(SubBytes(s, 0, 512), disk, handle);
      return;
    }
    ProbeBareHfs(SubBytes(s, 1024, 1024), disk);
    return;
  }

  if (IsBootSectorAtZero(s)) {
    AddBootSectorVolume(disk, handle, SubBytes(s, 0, 512));
    return;
  }

  int counter = 0;
  for (int i = 0; i < mbr::kEntryCount; ++i) {
    MbrEntry e = ParseEntry(s, i);
    if (!e.Used() || mbr::IsExtendedType(e.type)) continue;
    // A damaged primary GPT header leaves the backup at the disk's end.
    bool backup = false;
    const uint64_t diskSectors =
        (handle.Size() != 0 ? std::min(disk.sizeBytes, handle.Size()) : disk.sizeBytes) / 512;
    const uint64_t headerLba = e.type == mbr::kTypeGptProtective
                                   ? ChooseGptHeader(handle, e.firstSector, diskSectors, &backup)
                                   : e.firstSector;
    if (e.type == mbr::kTypeGptProtective && (e.sectorCount >= mbr::kProtectiveMinCount || backup ||
                                              HasGptHeader(handle, e.firstSector))) {
      uint64_t ldmHeader = 0;
      if (!WalkGpt(disk, handle, headerLba, counter, &ldmHeader, backup)) {
        ResolveLvmMemberPaths(list, disk);
        return;
      }
      if (ldmHeader != 0) ReadDynamicDisk(list, path, disk, handle, ldmHeader);
    } else if (e.type == mbr::kTypeDynamic) {
      ReadDynamicDisk(list, path, disk, handle);
    } else {
      AddEntryVolume(disk, handle, e, e.firstSector, counter, 1);
      ++counter;
    }
  }
  for (int i = 0; i < mbr::kEntryCount; ++i) {
    MbrEntry e = ParseEntry(s, i);
    if (e.IsLink()) EbrWalk(disk, handle, counter).Walk(e.firstSector);
  }
  ResolveLvmMemberPaths(list, disk);
}

void WalkPartitions(DiskInfo& disk, SourceHandle& handle, const std::string& path) {
  DiskList alone;
  WalkPartitionsInList(alone, disk, handle, path);
}

}  // namespace brevid
