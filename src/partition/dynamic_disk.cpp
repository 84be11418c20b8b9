#include "partition/dynamic_disk.h"

#include <algorithm>
#include <vector>

#include "common/sector_range.h"
#include "format/ldm.h"

namespace brevid {
namespace {

// Real configuration areas hold 1 MiB; the record area of a damaged one must
// not size a buffer beyond this.
constexpr uint64_t kMaxRecordArea = 16u << 20;

bool SameLayout(const LdmPrivateHeader& a, const LdmPrivateHeader& b) {
  return a.versionMajor == b.versionMajor && a.versionMinor == b.versionMinor &&
         a.logicalStart == b.logicalStart && a.logicalSize == b.logicalSize &&
         a.configStart == b.configStart && a.configSize == b.configSize && a.diskGuid == b.diskGuid;
}

bool ReadPrivateHeaders(SourceHandle& handle, uint64_t headerSector, LdmPrivateHeader* first) {
  if (!ParseLdmPrivateHeader(ReadBytes(handle, SectorToByte(headerSector), 512), first))
    return false;
  uint64_t configEnd = first->configStart + first->configSize;
  if (configEnd < ldm::kPrivCopyFromEnd2) return false;
  LdmPrivateHeader copy1, copy2;
  return ParseLdmPrivateHeader(
             ReadBytes(handle, SectorToByte(configEnd - ldm::kPrivCopyFromEnd1), 512), &copy1) &&
         ParseLdmPrivateHeader(
             ReadBytes(handle, SectorToByte(configEnd - ldm::kPrivCopyFromEnd2), 512), &copy2) &&
         SameLayout(copy1, copy2);
}

// False when the record area does not fit the configuration area.
bool ReadDatabase(SourceHandle& handle, const LdmPrivateHeader& h, const LdmVmdb& vmdb,
                  LdmDatabase* db) {
  uint64_t areaBytes = uint64_t{vmdb.lastSequence} * vmdb.recordSize;
  if (vmdb.recordSize == 0 || vmdb.recordSize > 512 || areaBytes / 512 >= h.configSize ||
      areaBytes > kMaxRecordArea || areaBytes > handle.Size())
    return false;
  uint64_t at = SectorToByte(h.configStart + ldm::kVmdbSector) + vmdb.firstRecord;
  std::vector<uint8_t> area = ReadBytes(handle, at, static_cast<size_t>(areaBytes));
  if (areaBytes < 1024) return true;
  size_t perSector = 512 / vmdb.recordSize;
  size_t sectors = area.size() / 512 - 1;
  for (size_t s = 0; s < sectors; ++s)
    for (size_t i = 0; i < perSector; ++i)
      ParseLdmRecord(SubBytes(area, s * 512 + i * vmdb.recordSize, vmdb.recordSize), db);
  return true;
}

// One VolumeInfo per component, its members in partition record order.
void Assemble(const LdmDatabase& db, const LdmPrivateHeader& h, DiskInfo& group) {
  for (const LdmComponent& comp : db.components) {
    // Any other layout code would read as a Simple volume of the
    // pseudo-disk, whose path is only the group's name.
    if (comp.layout < 1 || comp.layout > 3) continue;
    VolumeInfo v;
    v.name = comp.name;
    v.layout = static_cast<VolumeLayout>(comp.layout);
    v.stripeSectors = static_cast<uint16_t>(std::min<uint64_t>(comp.stripeSectors, 0xFFFF));
    v.start = 0;
    for (const LdmVolume& vol : db.volumes)
      if (vol.id == comp.parentId) {
        v.fsType = vol.partitionType;
        v.sectorCount = vol.size;
        v.driveLetter = vol.driveHint;
        break;
      }
    uint8_t key = 0;
    for (const LdmPartition& part : db.partitions) {
      if (part.parentId != comp.id) continue;
      VolumeMember m;
      m.orderKey = key;
      for (const LdmDisk& d : db.disks)
        if (d.id == part.diskId) {
          m.diskId = d.guid;
          break;
        }
      m.start = part.start + h.logicalStart;
      m.sectorCount = part.size;
      v.members.emplace(key, std::move(m));
      if (++key == 0) break;  // at most 256 members
    }
    group.volumes.push_back(std::move(v));
  }
}

}  // namespace

void ResolveMemberPaths(const DiskInfo& disk, DiskInfo& group) {
  for (VolumeInfo& v : group.volumes)
    for (auto& [key, m] : v.members) {
      if (!m.devicePath.empty() || GuidIdentityText(m.diskId) != disk.pvUuid) continue;
      m.devicePath = disk.path;
      // Disks with a GPT start their data area elsewhere than those with an
      // MBR, and one group may hold both.
      if (disk.peStart != 0 && group.peStart != 0 && m.start >= group.peStart)
        m.start = m.start - group.peStart + disk.peStart;
    }
}

bool ReadDynamicDisk(DiskList& list, const std::string& path, DiskInfo& disk, SourceHandle& handle,
                     uint64_t headerSector) {
  LdmPrivateHeader h;
  if (!ReadPrivateHeaders(handle, headerSector, &h)) return false;
  std::string groupId = GuidIdentityText(h.groupGuid);
  disk.pvUuid = GuidIdentityText(h.diskGuid);
  disk.peStart = h.logicalStart;
  disk.vgId += groupId;
  disk.path = path;

  LdmVmdb vmdb;
  if (!ParseLdmVmdb(ReadBytes(handle, SectorToByte(h.configStart + ldm::kVmdbSector), 512), &vmdb))
    return false;
  for (DiskInfo& d : list)
    if (d.diskKind == 2 && d.vgId == groupId) {
      ResolveMemberPaths(disk, d);
      return true;
    }

  DiskInfo group;
  group.diskKind = 2;
  group.path = h.groupName;
  group.number = h.groupName;
  group.vgId = groupId;
  group.peStart = h.logicalStart;
  LdmDatabase db;
  if (!ReadDatabase(handle, h, vmdb, &db)) return false;
  Assemble(db, h, group);
  list.push_back(std::move(group));
  DiskInfo& added = list.back();
  for (const DiskInfo& d : list)
    if (d.diskKind != 2 && d.vgId.find(groupId) != std::string::npos) ResolveMemberPaths(d, added);
  ResolveMemberPaths(disk, added);
  return true;
}

}  // namespace brevid
