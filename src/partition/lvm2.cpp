#include "partition/lvm2.h"

#include <algorithm>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "common/text.h"
#include "device/volume_reader.h"
#include "format/boot_probes.h"
#include "format/file_system_kind.h"
#include "format/lvm_metadata.h"
#include "partition/volume_label.h"
#include "platform/source_opener.h"

namespace brevid {
namespace {

constexpr size_t kMaxMembers = 256;  // order keys are one byte
constexpr size_t kHeadBytes = 2048;  // boot sector and an EXT superblock

std::string ReadPiece(SourceHandle& handle, uint64_t at, uint64_t size) {
  uint64_t end = handle.Size();
  if (at >= end || size == 0) return {};
  std::vector<uint8_t> bytes = ReadBytes(handle, at, static_cast<size_t>(std::min(size, end - at)));
  return std::string(bytes.begin(), bytes.end());
}

// The text lies in a ring behind the area's header: one that runs past the
// area's end goes on right behind the header, and is read in two pieces.
std::string ReadMetadataText(const LvmLabel& label, uint64_t pvStart, DiskInfo& disk,
                             SourceHandle& handle) {
  if (label.mdaOffset == 0) return {};
  const uint64_t area = AddSat(SectorToByte(pvStart), label.mdaOffset);
  std::vector<uint8_t> header = ReadBytes(handle, area, std::max<uint32_t>(disk.sectorSize, 512));
  LvmRawLocation raw = ParseLvmMdaHeader(header);
  const uint64_t areaSize = label.mdaSize != 0 ? label.mdaSize : raw.areaSize;
  uint64_t first = std::min<uint64_t>(raw.size, lvm::kMaxTextSize);
  uint64_t second = 0;
  if (areaSize > lvm::kMdaHeaderSize && raw.offset < areaSize) {
    uint64_t room = areaSize - raw.offset;
    if (first > room) {
      second = std::min(first - room, areaSize - lvm::kMdaHeaderSize);
      first = room;
    }
  } else if (areaSize != 0) {
    first = std::min(first, areaSize);
  }
  std::string text = ReadPiece(handle, AddSat(area, raw.offset), first);
  if (second != 0 && text.size() == first)
    text += ReadPiece(handle, AddSat(area, lvm::kMdaHeaderSize), second);
  return std::string(UpToNul(text));
}

FsType ProbeFileSystem(Bytes head, VolumeInfo& v) {
  Bytes boot = SubBytes(head, 0, 512);
  if (const FileSystemKind* kind = KindOfBootSector(boot)) return kind->wholeDiskType;
  if (IsExtSuperblockConsistent(SubBytes(head, 1024, 1024))) {
    v.extText = ExtFlavour(SubBytes(head, 1024, 1024));
    return kFsExt;
  }
  return kFsNone;
}

const LvmPhysicalVolume* FindPv(const std::vector<LvmPhysicalVolume>& table,
                                const std::string& id) {
  for (const LvmPhysicalVolume& pv : table)
    if (!id.empty() && pv.id == id) return &pv;
  return nullptr;
}

bool HasPartOn(const LvmLogicalVolume& lv, const std::string& pvUuid) {
  for (const LvmSegment& seg : lv.segments) {
    if (seg.pvId == pvUuid) return true;
    for (const LvmStripe& stripe : seg.stripes)
      if (stripe.pvId == pvUuid) return true;
  }
  return false;
}

// A run of extents on a physical volume. Its start counts from the PV's own
// first sector until the disk holding the PV is known (FillMembersOn).
VolumeMember RunOn(const LvmPhysicalVolume* pv, uint64_t extent, uint64_t sectors,
                   uint32_t extentSize) {
  VolumeMember m;
  m.sectorCount = sectors;
  if (pv) {
    m.pvId = pv->id;
    m.start = AddSat(pv->peStart, MulSat(extent, extentSize));
  }
  return m;
}

// One segment of several stripes whose count and unit the reader can use.
bool IsReadableStriped(const LvmSegment& seg) {
  return seg.stripeCount > 1 && seg.stripes.size() == seg.stripeCount && seg.stripeSectors > 0 &&
         seg.stripeSectors <= std::numeric_limits<uint16_t>::max() &&
         seg.extentCount % seg.stripeCount == 0;
}

VolumeInfo LogicalVolumeToVolume(const LvmLogicalVolume& lv, const LvmMetadata& md) {
  VolumeInfo v;
  v.name = Trim(lv.name);
  v.sectorCount = lv.sizeSectors;
  if (lv.segments.size() == 1 && IsReadableStriped(lv.segments[0])) {
    const LvmSegment& seg = lv.segments[0];
    v.layout = VolumeLayout::Striped;
    v.stripeSectors = static_cast<uint16_t>(seg.stripeSectors);
    uint64_t perStripe = uint64_t{seg.extentCount / seg.stripeCount} * md.extentSize;
    for (size_t k = 0; k < seg.stripes.size() && k < kMaxMembers; ++k) {
      const LvmStripe& stripe = seg.stripes[k];
      VolumeMember m = RunOn(FindPv(md.physicalVolumes, stripe.pvId), stripe.startExtent, perStripe,
                             md.extentSize);
      m.orderKey = static_cast<uint8_t>(k);
      v.members.emplace(m.orderKey, std::move(m));
    }
    return v;
  }
  v.layout = VolumeLayout::Spanned;
  for (size_t k = 0; k < lv.segments.size() && k < kMaxMembers; ++k) {
    const LvmSegment& seg = lv.segments[k];
    // Several stripes inside a longer volume are not read: as one run they
    // would give wrong bytes, so such a segment stays unreadable.
    const LvmPhysicalVolume* pv =
        seg.stripeCount == 1 ? FindPv(md.physicalVolumes, seg.pvId) : nullptr;
    VolumeMember m =
        RunOn(pv, seg.stripeStart, uint64_t{seg.extentCount} * md.extentSize, md.extentSize);
    m.orderKey = static_cast<uint8_t>(k);
    v.members.emplace(m.orderKey, std::move(m));
  }
  return v;
}

// Gives the members that lie on `holder`'s physical volumes its path and
// their place on it. True when any member changed.
bool FillMembersOn(const DiskInfo& holder, VolumeInfo& v) {
  bool changed = false;
  for (auto& [key, m] : v.members) {
    if (!m.devicePath.empty() || m.pvId.empty()) continue;
    auto place = holder.lvmPvs.find(m.pvId);
    if (place == holder.lvmPvs.end()) continue;
    m.devicePath = holder.path;
    m.start = AddSat(m.start, place->second.start);
    changed = true;
  }
  return changed;
}

// One run of the disk's own sectors reads like any partition.
void CollapseToSimple(const DiskInfo& disk, VolumeInfo& v) {
  if (v.layout != VolumeLayout::Spanned || v.members.empty()) return;
  uint64_t next = v.members.begin()->second.start;
  for (const auto& [key, m] : v.members) {
    if (m.devicePath.empty() || m.devicePath != disk.path || m.start != next) return;
    next = AddSat(m.start, m.sectorCount);
  }
  v.start = v.members.begin()->second.start;
  v.layout = VolumeLayout::Simple;
  v.members.clear();
}

bool MembersPresent(const VolumeInfo& v) {
  if (v.members.empty()) return false;
  if (v.layout == VolumeLayout::Spanned) return !v.members.begin()->second.devicePath.empty();
  for (const auto& [key, m] : v.members)
    if (m.devicePath.empty()) return false;
  return true;
}

// Names the file system of a logical volume, once: through `handle` (the
// disk being walked) where the volume's head lies on it, else through the
// files its members name.
void Identify(const DiskInfo& disk, VolumeInfo& v, SourceHandle* handle) {
  if (v.fsType != kFsNone) return;
  if (v.layout == VolumeLayout::Simple) {
    SourceHandle own;
    if (!handle) {
      own = FileSourceOpener().Open(disk.path);
      handle = &own;
    }
    std::vector<uint8_t> head = ReadBytes(*handle, SectorToByte(v.start), kHeadBytes);
    v.fsType = ProbeFileSystem(head, v);
    v.label = ReadVolumeLabel(*handle, v.start, v.fsType);
    return;
  }
  if (!MembersPresent(v)) return;
  const VolumeMember& first = v.members.begin()->second;
  std::vector<uint8_t> head;
  if (handle && v.layout == VolumeLayout::Spanned && first.devicePath == disk.path &&
      SectorToByte(first.sectorCount) >= kHeadBytes) {
    head = ReadBytes(*handle, SectorToByte(first.start), kHeadBytes);
  } else {
    VolumeReader reader(disk, v);
    if (!reader.Open()) return;
    head = reader.Read(0, kHeadBytes);
  }
  v.fsType = ProbeFileSystem(head, v);
}

// Lists each logical volume of `md` with a part on physical volume `pvUuid`
// of `disk` (every PV carries the whole group's metadata; each disk lists
// the volumes it holds a part of).
void ListVolumesOf(DiskInfo& disk, const LvmMetadata& md, const std::string& pvUuid,
                   SourceHandle* handle) {
  disk.lvmPvs[pvUuid].listed = true;
  std::set<std::string> names;  // a volume with parts on two PVs of the disk is listed once
  for (const VolumeInfo& v : disk.volumes) names.insert(v.name);
  for (const LvmLogicalVolume& lv : md.logicalVolumes) {
    if (!HasPartOn(lv, pvUuid)) continue;
    VolumeInfo v = LogicalVolumeToVolume(lv, md);
    if (!names.insert(v.name).second) continue;
    FillMembersOn(disk, v);
    CollapseToSimple(disk, v);
    Identify(disk, v, handle);
    disk.volumes.push_back(std::move(v));
  }
}

LvmMetadata MetadataOf(const DiskInfo& disk) {
  LvmMetadata md;
  md.vgId = disk.vgId;
  md.extentSize = disk.extentSize;
  md.physicalVolumes = disk.lvmPvTable;
  md.logicalVolumes = disk.logicalVolumes;
  return md;
}

// The first metadata a disk meets describes it: the group and its own PV.
void TakeMetadata(DiskInfo& disk, const LvmMetadata& md) {
  if (!disk.lvmPvTable.empty()) return;
  disk.vgId = md.vgId;
  disk.extentSize = md.extentSize;
  disk.lvmPvTable = md.physicalVolumes;
  disk.logicalVolumes = md.logicalVolumes;
  if (const LvmPhysicalVolume* own = FindPv(md.physicalVolumes, disk.pvUuid)) {
    disk.devSize = own->devSize;
    disk.peStart = own->peStart;
    disk.peCount = own->peCount;
  }
}

bool Waiting(const DiskInfo& disk) {
  for (const auto& [uuid, place] : disk.lvmPvs)
    if (!place.listed) return true;
  return false;
}

// Physical volumes of `disk` without a metadata copy of their own, named
// by the metadata of `from`, list their volumes from it.
void ListWaitingFrom(DiskInfo& disk, const LvmMetadata& md, SourceHandle* handle) {
  for (auto& [uuid, place] : disk.lvmPvs) {
    if (place.listed || !FindPv(md.physicalVolumes, uuid)) continue;
    TakeMetadata(disk, md);
    ListVolumesOf(disk, md, uuid, handle);
  }
}

void JoinMembers(DiskInfo& from, const DiskInfo& holder, SourceHandle* handle = nullptr) {
  for (VolumeInfo& v : from.volumes)
    if (FillMembersOn(holder, v)) Identify(from, v, handle);
}

}  // namespace

bool ReadLvmLabel(Bytes sector1, DiskInfo& disk, SourceHandle& handle, uint64_t pvStart) {
  LvmLabel label;
  if (!ParseLvmLabel(sector1, &label)) return false;
  // The same PV met again (a table listing one partition twice) is not
  // read again.
  if (disk.lvmPvs.contains(label.pvUuid)) return true;
  if (disk.pvUuid.empty()) disk.pvUuid = label.pvUuid;
  disk.lvmPvs[label.pvUuid].start = pvStart;
  // Volumes listed from another PV of this disk may have parts on this one.
  JoinMembers(disk, disk, &handle);
  std::string text = ReadMetadataText(label, pvStart, disk, handle);
  if (text.empty()) {
    // No copy here (made with no metadata copies): another PV's copy, on
    // this disk or on a member found later, describes this one.
    ListWaitingFrom(disk, MetadataOf(disk), &handle);
    return true;
  }
  LvmMetadata md = ParseLvmMetadata(text);
  TakeMetadata(disk, md);
  ListVolumesOf(disk, md, label.pvUuid, &handle);
  ListWaitingFrom(disk, md, &handle);
  return true;
}

bool ReadLvmPartition(DiskInfo& disk, SourceHandle& handle, uint64_t start) {
  // pvcreate writes the label to sector 1; LVM2 looks in the first four
  // (512-byte units whatever the disk's), each label naming its own sector.
  std::vector<uint8_t> head = ReadBytes(handle, SectorToByte(start), lvm::kLabelScanSectors * 512);
  for (uint64_t k : {1u, 0u, 2u, 3u}) {
    Bytes sector = SubBytes(head, k * 512, 512);
    if (LoadLe64(sector, lvm::kLabelSector) == k && ReadLvmLabel(sector, disk, handle, start))
      return true;
  }
  return false;
}

void ResolveLvmMemberPaths(DiskList& list, DiskInfo& disk) {
  if (disk.lvmPvs.empty() || disk.diskKind != 0) return;
  for (DiskInfo& other : list) {
    if (&other == &disk || other.diskKind != 0 || other.lvmPvs.empty()) continue;
    if (Waiting(disk) && !other.lvmPvTable.empty())
      ListWaitingFrom(disk, MetadataOf(other), nullptr);
    if (Waiting(other) && !disk.lvmPvTable.empty())
      ListWaitingFrom(other, MetadataOf(disk), nullptr);
    JoinMembers(disk, other);
    JoinMembers(other, disk);
  }
}

}  // namespace brevid
