#include "partition/apple_hfs.h"

#include <algorithm>
#include <vector>

#include "common/sector_range.h"
#include "common/text.h"
#include "format/boot_probes.h"
#include "partition/volume_label.h"

namespace brevid {
namespace {

namespace apm {
constexpr size_t kBlockSize = 2;       // u16, driver descriptor
constexpr size_t kEntrySignature = 0;  // "PM"
constexpr size_t kMapEntries = 4;      // u32
constexpr size_t kFirstBlock = 8;      // u32
constexpr size_t kBlockCount = 12;     // u32
constexpr size_t kName = 16;           // 32 bytes
constexpr size_t kType = 48;           // 32 bytes
// A real map holds a few dozen entries; these bound what a damaged one asks for.
constexpr uint32_t kMaxEntries = 256;
constexpr uint32_t kMaxBlockSize = 4096;
}  // namespace apm

std::string FixedText(Bytes b, size_t at, size_t size) {
  Bytes t = SubBytes(b, at, size);
  return std::string(UpToNul(std::string_view(reinterpret_cast<const char*>(t.data()), t.size())));
}

}  // namespace

HfsHeaderKind ProbeHfsHeader(SourceHandle& handle, uint64_t start) {
  std::vector<uint8_t> h = ReadBytes(handle, SectorToByte(start + 2), 512);
  HfsHeaderKind result;
  if (BytesEqual(h, 0, "BD")) {
    result.hfsKind = BytesEqual(h, 0x7C, "H+") ? 4 : 1;
    result.label = HfsMdbVolumeName(h);
  } else if (BytesEqual(h, 0, "H+")) {
    result = {2, "only hfs+"};
  } else if (BytesEqual(h, 0, "HX")) {
    result = {3, "HFSX"};
  }
  return result;
}

void ReadApplePartitionMap(Bytes sector0, DiskInfo& disk, SourceHandle& handle) {
  uint32_t blockSize = LoadBe16(sector0, apm::kBlockSize);
  if (blockSize < 512 || blockSize > apm::kMaxBlockSize || blockSize % 512 != 0) return;
  std::vector<uint8_t> first = ReadBytes(handle, blockSize, blockSize);
  if (!BytesEqual(first, apm::kEntrySignature, "PM")) return;
  disk.sectorSize = blockSize;
  uint32_t entries = std::min(LoadBe32(first, apm::kMapEntries), apm::kMaxEntries);
  disk.mapEntryCount = entries;
  uint64_t mapStart = uint64_t{LoadBe32(first, apm::kFirstBlock)} * blockSize;
  std::vector<uint8_t> map = ReadBytes(handle, mapStart, size_t{entries} * blockSize);
  // Volumes keep 512-byte sectors like every other volume; the map counts
  // in its own blocks.
  uint64_t sectorsPerBlock = blockSize / 512;

  int count = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    Bytes entry = Bytes(map).subspan(size_t{i} * blockSize, blockSize);
    std::string name = FixedText(entry, apm::kName, 32);
    std::string type = FixedText(entry, apm::kType, 32);
    if (type != "Apple_HFS" && type != "Apple_HFSX" && type != "Apple_HFS+") continue;
    VolumeInfo v;
    v.start = uint64_t{LoadBe32(entry, apm::kFirstBlock)} * sectorsPerBlock;
    v.sectorCount = uint64_t{LoadBe32(entry, apm::kBlockCount)} * sectorsPerBlock;
    HfsHeaderKind header = ProbeHfsHeader(handle, v.start);
    v.hfsKind = header.hfsKind;
    v.label = header.label;
    v.hfsText = (v.hfsKind == 2 || v.hfsKind == 4) ? "Apple_HFS+" : type;
    // Disk utilities often leave the name empty; such a volume is listed
    // under its number rather than dropped.
    v.name = (v.hfsKind != 0 || name.empty()) ? Format("Partition%d", count) : name;
    v.diskPath = disk.path;
    v.fsType = kFsHfs;
    disk.volumes.push_back(std::move(v));
    ++count;
  }
}

void ProbeBareHfs(Bytes header, DiskInfo& disk) {
  VolumeInfo v;
  if (BytesEqual(header, 0, "BD")) {
    bool wrapped = BytesEqual(header, 0x7C, "H+");
    v.hfsKind = wrapped ? 4 : 1;
    v.hfsText = wrapped ? "HFS+ in HFS" : "HFS";
    v.label = HfsMdbVolumeName(header);
  } else if (BytesEqual(header, 0, "H+")) {
    v.hfsKind = 2;
    v.hfsText = "HFS+";
    v.label = "only hfs+";
  } else {
    return;
  }
  v.name = "Partition0";
  v.start = 0;
  v.sectorCount = disk.sectorSize ? disk.sizeBytes / disk.sectorSize : 0;
  v.diskPath = disk.path;
  v.fsType = kFsHfs;
  disk.volumes.push_back(std::move(v));
}

}  // namespace brevid
