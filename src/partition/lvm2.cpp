#include "partition/lvm2.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "common/text.h"
#include "format/boot_probes.h"
#include "format/lvm_metadata.h"
#include "partition/volume_label.h"

namespace brevid {
namespace {

constexpr size_t kMaxMembers = 256;  // order keys are one byte

std::string ReadMetadataText(const LvmLabel& label, DiskInfo& disk, SourceHandle& handle) {
  std::vector<uint8_t> header = ReadBytes(handle, label.mdaOffset, disk.sectorSize);
  LvmRawLocation raw = ParseLvmMdaHeader(header);
  uint64_t size = std::min<uint64_t>(raw.size, lvm::kMaxTextSize);
  if (label.mdaSize != 0) size = std::min(size, label.mdaSize);
  uint64_t at = AddSat(label.mdaOffset, raw.offset);
  uint64_t end = handle.Size();
  if (at >= end || size == 0) return {};
  size = std::min(size, end - at);
  std::vector<uint8_t> bytes = ReadBytes(handle, at, static_cast<size_t>((size + 511) / 512 * 512));
  std::string text(bytes.begin(), bytes.end());
  return std::string(UpToNul(text));
}

FsType ProbeFileSystem(Bytes head, VolumeInfo& v) {
  Bytes boot = SubBytes(head, 0, 512);
  if (IsNtfsBoot(boot)) return kFsNtfs;
  if (IsFat32Boot(boot)) return kFsFat32;
  if (IsFat16Boot(boot)) return kFsFat16;
  if (IsExfatBoot(boot)) return kFsExfat;
  if (IsExtSuperblockConsistent(SubBytes(head, 1024, 1024))) {
    v.extText = ExtFlavour(SubBytes(head, 1024, 1024));
    return kFsExt;
  }
  return kFsNone;
}

const LvmPhysicalVolume* FindPv(const LvmMetadata& md, const std::string& id) {
  for (const LvmPhysicalVolume& pv : md.physicalVolumes)
    if (!id.empty() && pv.id == id) return &pv;
  return nullptr;
}

VolumeInfo LogicalVolumeToVolume(const LvmLogicalVolume& lv, const LvmMetadata& md,
                                 const DiskInfo& disk) {
  VolumeInfo v;
  v.name = Trim(lv.name);
  v.sectorCount = lv.sizeSectors;
  v.layout = VolumeLayout::Spanned;
  for (size_t k = 0; k < lv.segments.size() && k < kMaxMembers; ++k) {
    const LvmSegment& seg = lv.segments[k];
    VolumeMember m;
    m.orderKey = static_cast<uint8_t>(k);
    m.sectorCount = uint64_t{seg.extentCount} * md.extentSize;
    const LvmPhysicalVolume* pv = FindPv(md, seg.pvId);
    // Several stripes interleave their extents: read as one run they would
    // give wrong bytes, so such a segment stays unreadable.
    if (pv && seg.stripeCount == 1) {
      m.pvId = pv->id;
      m.start = AddSat(pv->peStart, MulSat(seg.stripeStart, md.extentSize));
      if (pv->id == disk.pvUuid) m.devicePath = disk.path;
    }
    v.members.emplace(m.orderKey, std::move(m));
  }
  // One run of this disk's extents reads like any partition.
  bool oneRun = !v.members.empty();
  uint64_t next = v.members.empty() ? 0 : v.members.begin()->second.start;
  for (const auto& [key, m] : v.members) {
    oneRun = oneRun && m.pvId == disk.pvUuid && !m.pvId.empty() && m.start == next;
    next = AddSat(m.start, m.sectorCount);
  }
  if (oneRun) {
    v.start = v.members.begin()->second.start;
    v.layout = VolumeLayout::Simple;
    v.members.clear();
  }
  return v;
}

}  // namespace

bool ReadLvmLabel(Bytes sector1, DiskInfo& disk, SourceHandle& handle) {
  LvmLabel label;
  if (!ParseLvmLabel(sector1, &label)) return false;
  disk.pvUuid = label.pvUuid;
  LvmMetadata md = ParseLvmMetadata(ReadMetadataText(label, disk, handle));
  disk.vgId = md.vgId;
  disk.extentSize = md.extentSize;
  if (const LvmPhysicalVolume* own = FindPv(md, disk.pvUuid)) {
    disk.devSize = own->devSize;
    disk.peStart = own->peStart;
    disk.peCount = own->peCount;
  }
  disk.logicalVolumes = md.logicalVolumes;

  for (const LvmLogicalVolume& lv : md.logicalVolumes) {
    // Every physical volume carries the whole group's metadata; each lists
    // the logical volumes it holds a part of.
    bool here = false;
    for (const LvmSegment& seg : lv.segments) here = here || seg.pvId == disk.pvUuid;
    if (!here) continue;
    VolumeInfo v = LogicalVolumeToVolume(lv, md, disk);
    uint64_t firstSector = v.start;
    bool onThisDisk = v.layout == VolumeLayout::Simple;
    if (!onThisDisk && !v.members.empty() && !v.members.begin()->second.devicePath.empty()) {
      firstSector = v.members.begin()->second.start;
      onThisDisk = true;
    }
    if (onThisDisk) {
      std::vector<uint8_t> head = ReadBytes(handle, SectorToByte(firstSector), 2048);
      v.fsType = ProbeFileSystem(head, v);
      if (v.layout == VolumeLayout::Simple) v.label = ReadVolumeLabel(handle, v.start, v.fsType);
    }
    disk.volumes.push_back(std::move(v));
  }
  return true;
}

void ResolveLvmMemberPaths(DiskList& list, DiskInfo& disk) {
  if (disk.pvUuid.empty() || disk.diskKind != 0) return;
  auto fill = [](DiskInfo& from, const DiskInfo& holder) {
    for (VolumeInfo& v : from.volumes)
      for (auto& [key, m] : v.members)
        if (!m.pvId.empty() && m.pvId == holder.pvUuid) m.devicePath = holder.path;
  };
  for (DiskInfo& other : list) {
    if (&other == &disk || other.diskKind != 0 || other.vgId != disk.vgId || other.pvUuid.empty() ||
        other.pvUuid == disk.pvUuid)
      continue;
    fill(disk, other);
    fill(other, disk);
  }
}

}  // namespace brevid
