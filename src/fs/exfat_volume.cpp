#include "fs/exfat_volume.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <vector>

#include "common/saturating.h"
#include "device/volume_reader.h"
#include "format/exfat_layout.h"
#include "fs/volume_trees.h"
#include "platform/codepage.h"

namespace brevid {
namespace {

constexpr int kMaxDepth = 128;  // a 255-character path holds fewer folders
// Folder bytes held at once down one descent: each level keeps its folder.
constexpr uint64_t kMaxHeldFolderBytes = uint64_t{512} << 20;
// FAT loaded at most (64 Mi clusters, 8 TiB of 128 KiB clusters); chains
// reaching past it end there.
constexpr uint64_t kMaxFatBytes = uint64_t{256} << 20;
// Bitmap bits looked at for one deleted file's run.
constexpr uint64_t kMaxRunBitsChecked = uint64_t{1} << 20;

int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400) + (*m <= 2);
}

// A stamp as the file pane shows it: FAT date and time, the odd second from
// the 10 ms field, and, when the stamp's UTC offset is known, moved into
// UTC+8, the zone NTFS times are shown in. Stamps out of range stay as stored.
void ShownStamp(uint32_t stamp, uint8_t tenMs, uint8_t utc, uint16_t* date, uint16_t* time,
                bool* odd) {
  *date = static_cast<uint16_t>(stamp >> 16);
  *time = static_cast<uint16_t>(stamp & 0xFFFF);
  *odd = tenMs >= 100 && tenMs < 200;
  const unsigned month = (*date >> 5) & 15, day = *date & 31;
  if ((utc & 0x80) == 0 || month < 1 || month > 12 || day < 1) return;
  const int offsetMinutes = (static_cast<int8_t>(static_cast<uint8_t>(utc << 1)) / 2) * 15;
  int64_t minutes = DaysFromCivil(1980 + (*date >> 9), month, day) * 1440 + (*time >> 11) * 60 +
                    ((*time >> 5) & 63) + 8 * 60 - offsetMinutes;
  int year = 0;
  unsigned m = 0, d = 0;
  int64_t days = minutes >= 0 ? minutes / 1440 : (minutes - 1439) / 1440;
  CivilFromDays(days, &year, &m, &d);
  if (year < 1980 || year > 2107) return;
  const int64_t ofDay = minutes - days * 1440;
  *date = static_cast<uint16_t>(((year - 1980) << 9) | (m << 5) | d);
  *time = static_cast<uint16_t>(((ofDay / 60) << 11) | ((ofDay % 60) << 5) | (*time & 31));
}

class ExfatWalk {
 public:
  ExfatWalk(VolumeReader& reader, VolumeInfo& volume, VolumeTrees& trees, ProgressRecord& progress,
            const ExfatGeometry& geo)
      : reader_(reader),
        trees_(trees),
        progress_(progress),
        geo_(geo),
        base_(SectorToByte(volume.start)) {}

  void LoadFat() {
    uint64_t bytes = std::min<uint64_t>((uint64_t{geo_.clusterCount} + 2) * 4,
                                        geo_.fatLength << geo_.sectorShift);
    bytes = std::min({bytes, reader_.SourceBytes(), kMaxFatBytes});
    trees_.fatTable.assign(static_cast<size_t>(bytes), 0);
    reader_.ReadInto(base_ + (geo_.fatOffset << geo_.sectorShift), trees_.fatTable);
  }

  // The bitmap and the label sit in the root folder; the bitmap tells which
  // clusters a deleted file's run now shares with live data.
  void ReadRootExtras(Bytes root) {
    for (size_t at = 0; at + exfat::kEntrySize <= root.size(); at += exfat::kEntrySize) {
      uint8_t type = root[at];
      if (type == exfat::kTypeEndOfDirectory) break;
      if (type != exfat::kTypeBitmap || !bitmap_.empty()) continue;
      Bytes entry = root.subspan(at, exfat::kEntrySize);
      uint32_t first = LoadLe32(entry, exfat::kStreamFirstCluster);
      uint64_t bytes = std::min<uint64_t>(LoadLe64(entry, exfat::kDataLength),
                                          (uint64_t{geo_.clusterCount} + 7) / 8);
      bitmap_ = ReadRun(first, bytes, false);
    }
  }

  // `bytes` of the run from cluster `first`: one run of clusters, or along
  // the FAT. Stops at the end of the chain, a cluster it passed already, the
  // heap's or the source's end and kMaxFolderBytes.
  std::vector<uint8_t> ReadRun(uint32_t first, uint64_t bytes, bool contiguous,
                               bool folder = false) {
    std::vector<uint8_t> out;
    const uint64_t clusterBytes = geo_.ClusterBytes();
    bytes = std::min(bytes, exfat::kMaxFolderBytes);
    if (!geo_.IsDataCluster(first) || bytes == 0) return out;
    // Nothing is read, or held, from past the source's end.
    const uint64_t sourceBytes = reader_.SourceBytes();
    auto inSource = [&](uint32_t c) { return base_ + geo_.ClusterOffset(c) < sourceBytes; };
    if (!inSource(first)) return out;
    if (contiguous) {
      bytes = std::min(bytes, sourceBytes - (base_ + geo_.ClusterOffset(first)));
      uint64_t clusters = std::min<uint64_t>((bytes + clusterBytes - 1) / clusterBytes,
                                             uint64_t{geo_.clusterCount} + 2 - first);
      out.resize(static_cast<size_t>(std::min(bytes, clusters * clusterBytes)));
      reader_.ReadInto(base_ + geo_.ClusterOffset(first), out);
      for (uint64_t c = first; folder && c < first + clusters; ++c)
        folderClusters_.insert(static_cast<uint32_t>(c));
      return out;
    }
    std::unordered_set<uint32_t> passed;
    for (uint32_t c = first;
         geo_.IsDataCluster(c) && inSource(c) && out.size() < bytes && passed.insert(c).second;
         c = Next(c)) {
      if (folder) folderClusters_.insert(c);
      size_t at = out.size();
      out.resize(at + static_cast<size_t>(std::min<uint64_t>(clusterBytes, bytes - at)));
      reader_.ReadInto(base_ + geo_.ClusterOffset(c), std::span<uint8_t>(out).subspan(at));
    }
    return out;
  }

  void WalkFolder(Bytes dir, FileEntry& parent, bool deletedParent, int depth) {
    for (size_t at = 0; at + exfat::kEntrySize <= dir.size() && !progress_.StopRequested();) {
      uint8_t type = dir[at];
      if (type == exfat::kTypeEndOfDirectory) break;
      ExfatFileSet set;
      if ((type & 0x7F) != (exfat::kTypeFile & 0x7F) ||
          ParseExfatFileSet(dir, at, &set) != ExfatSetFault::kNone) {
        at += exfat::kEntrySize;
        continue;
      }
      at += set.entryCount * exfat::kEntrySize;
      AddSet(set, parent, deletedParent, depth);
    }
  }

  void AddSet(const ExfatFileSet& set, FileEntry& parent, bool deletedParent, int depth) {
    const bool deleted = !set.inUse || deletedParent;
    const bool folder = set.IsFolder();
    FileEntry node;
    node.SetKind(folder ? (deleted ? kDeletedFolder : kNormalFolder)
                        : (deleted ? kDeletedFile : kNormalFile));
    node.exfat = kExfatNode;
    bool odd = false;
    ShownStamp(set.createStamp, set.create10ms, set.createUtcOffset, &node.createDate,
               &node.createTime, &odd);
    if (odd) node.exfat |= kExfatCreateOddSecond;
    ShownStamp(set.modifyStamp, set.modify10ms, set.modifyUtcOffset, &node.writeDate,
               &node.writeTime, &odd);
    if (odd) node.exfat |= kExfatWriteOddSecond;
    if (set.Contiguous()) node.exfat |= kExfatContiguous;
    node.firstCluster = set.firstCluster;
    if (!folder) {
      node.size = static_cast<uint32_t>(set.dataLength);
      node.sizeHigh = static_cast<uint32_t>(set.dataLength >> 32);
      if (deleted && !WholeWhenDeleted(set)) node.exfat |= kExfatNotSureWhole;
    }
    node.name = WideToAnsi(set.name);
    FileEntry* placed = InsertFatChild(trees_, parent, std::move(node));
    if (!folder) {
      if (set.validDataLength < set.dataLength)
        trees_.exfatValidLength[placed] = set.validDataLength;
      return;
    }
    if (progress_.StopRequested() || depth >= kMaxDepth || !geo_.IsDataCluster(set.firstCluster) ||
        !walked_.insert(set.firstCluster).second)
      return;
    // A deleted folder's chain may be gone: its clusters are read as one
    // run, and whatever is not a set with a valid checksum is passed over.
    uint64_t bytes = std::max<uint64_t>(set.dataLength, geo_.ClusterBytes());
    if (AddSat(held_, bytes) > kMaxHeldFolderBytes) return;
    std::vector<uint8_t> dir = ReadRun(set.firstCluster, bytes, set.Contiguous() || deleted, true);
    held_ += dir.size();
    progress_.Post(kProgressStep, 0, 0);
    WalkFolder(dir, *placed, deleted, depth + 1);
    held_ -= dir.size();
  }

  std::vector<uint8_t> ReadRoot() {
    walked_.insert(geo_.rootCluster);
    return ReadRun(geo_.rootCluster, exfat::kMaxFolderBytes, false, true);
  }

  // Sets in the directory sectors a scan recorded that no folder walk read:
  // what an earlier file system on the same clusters left (a quick format
  // keeps all but its root). They go under "零散目录" as deleted, in sector
  // order, so that a folder found first takes the folders it holds.
  void WalkRecorded(const std::set<uint64_t>& sectors, uint64_t start, uint64_t end,
                    FileEntry& scattered) {
    const uint64_t heapByte = geo_.heapOffset << geo_.sectorShift;
    for (auto it = sectors.lower_bound(start); it != sectors.end() && *it < end; ++it) {
      if (progress_.StopRequested()) return;
      const uint64_t offset = SectorToByte(*it - start);
      if (offset < heapByte) continue;
      const uint64_t cluster = exfat::kFirstCluster + (offset - heapByte) / geo_.ClusterBytes();
      if (!geo_.IsDataCluster(cluster) || folderClusters_.count(static_cast<uint32_t>(cluster)))
        continue;
      // The sector and room for the longest set starting in it.
      constexpr size_t kLongestSet = 19 * exfat::kEntrySize;
      std::vector<uint8_t> bytes = reader_.Read(base_ + offset, 512 + kLongestSet);
      for (size_t at = 0; at < 512; at += exfat::kEntrySize) {
        ExfatFileSet set;
        if ((bytes[at] & 0x7F) != (exfat::kTypeFile & 0x7F) ||
            ParseExfatFileSet(bytes, at, &set) != ExfatSetFault::kNone)
          continue;
        AddSet(set, scattered, true, 0);
        at += (set.entryCount - 1) * exfat::kEntrySize;
      }
    }
  }

 private:
  uint32_t Next(uint32_t c) const {
    uint64_t at = uint64_t{c} * 4;
    return at + 4 <= trees_.fatTable.size() ? LoadLe32(trees_.fatTable, static_cast<size_t>(at))
                                            : exfat::kFatEnd;
  }

  // A deleted file is read as one run from its first cluster. That is its
  // content for sure only when it had no chain (or fits one cluster) and no
  // cluster of the run is in use again.
  bool WholeWhenDeleted(const ExfatFileSet& set) const {
    const uint64_t clusterBytes = geo_.ClusterBytes();
    const uint64_t clusters = (set.dataLength + clusterBytes - 1) / clusterBytes;
    if (!set.Contiguous() && clusters > 1) return false;
    if (bitmap_.empty() || clusters == 0 || !geo_.IsDataCluster(set.firstCluster)) return true;
    const uint64_t last = std::min<uint64_t>(
        set.firstCluster + std::min(clusters, kMaxRunBitsChecked), uint64_t{geo_.clusterCount} + 2);
    for (uint64_t c = set.firstCluster; c < last; ++c) {
      uint64_t bit = c - exfat::kFirstCluster;
      if (bit / 8 < bitmap_.size() && (bitmap_[bit / 8] >> (bit % 8)) & 1) return false;
    }
    return true;
  }

  VolumeReader& reader_;
  VolumeTrees& trees_;
  ProgressRecord& progress_;
  ExfatGeometry geo_;
  uint64_t base_;
  std::vector<uint8_t> bitmap_;
  std::set<uint32_t> walked_;          // first clusters of folders walked: the loop guard
  std::set<uint32_t> folderClusters_;  // every cluster read as a folder
  uint64_t held_ = 0;
};

}  // namespace

bool ReadExfatBootRegion(VolumeReader& reader, uint64_t start, ExfatGeometry* geo) {
  // The main region, then the backup; a main boot sector that fails only
  // its checksum is still used when the backup is no better.
  constexpr uint32_t kLargest = 4096;
  std::vector<uint8_t> regions =
      reader.Read(SectorToByte(start), 2 * exfat::kBootRegionSectors * kLargest);
  for (uint32_t shift = 9; shift <= 12; ++shift) {
    const uint32_t sectorBytes = 1u << shift;
    for (uint32_t which = 0; which < 2; ++which) {
      Bytes region = Bytes(regions).subspan(which * exfat::kBootRegionSectors * sectorBytes,
                                            exfat::kBootRegionSectors * sectorBytes);
      if (Load8(region, exfat::kSectorShift) == shift &&
          IsExfatBootRegionWhole(region, sectorBytes) && ParseExfatGeometry(region, geo))
        return true;
    }
  }
  return ParseExfatGeometry(Bytes(regions).first(512), geo);
}

void ExpandExfatVolume(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                       const SourceOpener& opener) {
  VolumeTrees& trees = TreesOf(volume);
  VolumeReader reader(disk, volume, opener);
  ExfatGeometry geo;
  if (!reader.Open() || !ReadExfatBootRegion(reader, volume.start, &geo)) return;
  // The savers find clusters through these, in sectors of 512 bytes.
  const uint64_t perSector = uint64_t{1} << (geo.sectorShift - 9);
  volume.sectorsPerCluster = static_cast<uint32_t>(perSector << geo.clusterShift);
  volume.clusterBase =
      volume.start + geo.heapOffset * perSector - 2 * uint64_t{volume.sectorsPerCluster};
  volume.fatSectors =
      static_cast<uint32_t>(std::min<uint64_t>(geo.fatLength * perSector, UINT32_MAX));

  StartFatTree(trees, geo.rootCluster);
  ExfatWalk walk(reader, volume, trees, progress, geo);
  progress.Send(kProgressSetRange, 100, 1);
  walk.LoadFat();
  std::vector<uint8_t> root = walk.ReadRoot();
  walk.ReadRootExtras(root);
  walk.WalkFolder(root, trees.fatRoot, false, 0);
  walk.WalkRecorded(disk.dirClusterSectors, volume.start, AddSat(volume.start, volume.sectorCount),
                    trees.fatScattered);
}

}  // namespace brevid
