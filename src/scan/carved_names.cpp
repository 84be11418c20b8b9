#include "scan/carved_names.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "format/boot_probes.h"
#include "format/fat_boot_sector.h"
#include "format/fat_directory_sector.h"
#include "format/fat_layout.h"
#include "format/fat_names.h"
#include "format/mft_record.h"

namespace brevid {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint8_t kDirectory = 0x10, kVolumeLabel = 0x08;
constexpr size_t kMaxDepth = 32;
constexpr char kSeparator = '/';
constexpr size_t kCaseFlags = 0x0C;  // u8 of a short entry
constexpr uint8_t kLowerBase = 0x08, kLowerExtension = 0x10;

// Where a FAT volume's clusters lie: cluster c at base + c x perCluster.
struct Geometry {
  uint64_t base = 0, perCluster = 0, first = 0, end = 0;
  uint32_t rootCluster = 0;  // FAT32; 0 for FAT16's fixed root
};

std::optional<Geometry> GeometryOf(const VolumeInfo& v, VolumeReader& reader) {
  Geometry g{0, 0, v.start, v.start + v.sectorCount, 0};
  std::vector<uint8_t> boot(kSector);
  reader.ReadSectors(v.start, boot);
  const bool fat32 = IsFat32Boot(boot), fat16 = IsFat16Boot(boot);
  if (fat32 || fat16) {
    FatBootSector b = ParseFatBootSector(boot);
    if (b.sectorsPerCluster == 0) return std::nullopt;
    const uint64_t rootSectors =
        (uint64_t{b.rootEntries} * fat::kEntrySize + kSector - 1) / kSector;
    const uint64_t data = v.start + b.reservedSectors +
                          uint64_t{b.fatCount} * (fat32 ? b.fat32Sectors : b.fat16Sectors) +
                          (fat32 ? 0 : rootSectors);
    g.perCluster = b.sectorsPerCluster;
    if (data < 2 * g.perCluster) return std::nullopt;
    g.base = data - 2 * g.perCluster;
    g.rootCluster = fat32 ? b.rootCluster : 0;
    return g;
  }
  if (v.origin != kOriginRebuilt || v.sectorsPerCluster == 0) return std::nullopt;
  g.base = v.clusterBase, g.perCluster = v.sectorsPerCluster;
  return g;
}

uint32_t FirstCluster(Bytes entry, bool high) {
  return (high ? uint32_t{LoadLe16(entry, fat::kClusterHigh)} << 16 : 0) |
         LoadLe16(entry, fat::kClusterLow);
}

// An entry's name: its long name when long-name entries lead to it, else the
// short name with a deleted entry's mark replaced.
std::string EntryName(Bytes entry, const std::vector<std::string>& longParts, bool folder) {
  std::string name;
  for (auto part = longParts.rbegin(); part != longParts.rend(); ++part) name += *part;
  if (name.empty()) {
    name = folder ? FatShortFolderName(entry) : FatShortFileName(entry);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    // Lower-case flags that systems set instead of writing a long name.
    // (Only on names of ASCII alone, where no trail byte can be hit.)
    const bool ascii = std::ranges::none_of(name, [](char c) { return c & 0x80; });
    const uint8_t flags = ascii ? Load8(entry, kCaseFlags) : 0;
    const size_t dot = folder ? std::string::npos : name.rfind('.');
    for (size_t i = 0; i < name.size(); ++i)
      if ((flags & (i < dot ? kLowerBase : kLowerExtension)) && name[i] >= 'A' && name[i] <= 'Z')
        name[i] = static_cast<char>(name[i] - 'A' + 'a');
  }
  if (!name.empty() && static_cast<uint8_t>(name[0]) == fat::kDeletedMark) name[0] = '_';
  for (char& c : name)
    if (c == kSeparator || c == '*' || static_cast<uint8_t>(c) < 0x20) c = '_';
  return name;
}

class Namer {
 public:
  Namer(DiskInfo& disk, VolumeReader& reader, const Geometry& g, bool fat32)
      : disk_(disk), reader_(reader), g_(g), fat32_(fat32) {}

  void Run() {
    auto& sectors = disk_.dirClusterSectors;
    for (auto s = sectors.lower_bound(g_.first); s != sectors.end() && *s < g_.end; ++s)
      ReadDirectorySector(*s);
    for (const auto& [sector, found] : found_) {
      CarvedFile& file = disk_.extraFound.children[sector];
      std::string path = found.name;
      uint32_t folder = found.folder;
      for (size_t depth = 0; depth < kMaxDepth && folder != 0 && folder != g_.rootCluster;
           ++depth) {
        auto f = folders_.find(folder);
        // A folder whose own entry is gone (a root written over) ends the path.
        if (f == folders_.end() || f->second.name.empty()) break;
        path = f->second.name + kSeparator + path;
        folder = f->second.parent;
      }
      if (file.carvedName.empty()) file.carvedName = file.name;
      file.name = path;
    }
  }

 private:
  struct Named {
    std::string name;
    uint32_t folder = 0;  // the folder holding it, 0 when unknown or the root
  };
  struct Folder {
    std::string name;
    uint32_t parent = 0;
  };

  // Every entry of the cluster that holds `sector`, once per cluster: a
  // folder's sectors that fail the directory-sector test (a last one half
  // used) and long names across sector ends are read too.
  void ReadDirectorySector(uint64_t sector) {
    if (sector < g_.base) return;
    const uint64_t cluster = (sector - g_.base) / g_.perCluster;
    if (cluster < 2 || cluster > UINT32_MAX || !clustersRead_.insert(cluster).second) return;
    std::vector<uint8_t> bytes(g_.perCluster * kSector);
    reader_.ReadSectors(g_.base + cluster * g_.perCluster, bytes);
    uint32_t folder = 0;
    if (IsSubdirectoryStart(bytes) && FirstCluster(bytes, fat32_) == cluster) {
      folder = static_cast<uint32_t>(cluster);
      folders_[folder].parent = FirstCluster(Bytes(bytes).subspan(fat::kDotDot), fat32_);
    }
    std::vector<std::string> longParts;
    for (size_t at = 0; at + fat::kEntrySize <= bytes.size(); at += fat::kEntrySize) {
      Bytes e = Bytes(bytes).subspan(at, fat::kEntrySize);
      const uint8_t attributes = e[fat::kAttributes];
      if (e[0] == 0) break;
      if (attributes == fat::kLongNameAttribute) {
        bool defaulted = false;
        longParts.push_back(FatLongNamePart(e, &defaulted));
        continue;
      }
      const bool isFolder = attributes & kDirectory;
      if (e[0] == '.' || (attributes & kVolumeLabel)) {
        longParts.clear();
        continue;
      }
      const std::string name = EntryName(e, longParts, isFolder);
      longParts.clear();
      const uint32_t first = FirstCluster(e, fat32_);
      if (first < 2) continue;
      if (isFolder) {
        folders_[first].name = name;
        continue;
      }
      const uint64_t start = g_.base + uint64_t{first} * g_.perCluster;
      auto carved = disk_.extraFound.children.find(start);
      if (carved != disk_.extraFound.children.end() &&
          carved->second.size == LoadLe32(e, fat::kSize))
        found_[start] = {name, folder};
    }
  }

  DiskInfo& disk_;
  VolumeReader& reader_;
  Geometry g_;
  bool fat32_;
  std::map<uint32_t, Folder> folders_;
  std::map<uint64_t, Named> found_;
  std::set<uint64_t> clustersRead_;
};

// The same from the MFT records the deep scan found on an NTFS volume: a
// file record whose data's first run starts at a carved file of the data's
// size names it; its parent records name the folders above.
class MftNamer {
 public:
  MftNamer(DiskInfo& disk, VolumeReader& reader, uint64_t start, uint64_t end, uint64_t perCluster)
      : disk_(disk), reader_(reader), start_(start), end_(end), perCluster_(perCluster) {}

  void Run() {
    auto& runs = disk_.mftRecordRuns;
    for (auto r = runs.lower_bound(start_); r != runs.end() && r->first < end_; ++r)
      ReadRun(r->first, std::min<uint64_t>(r->second, end_ - r->first));
    for (const auto& [sector, record] : files_) {
      CarvedFile& file = disk_.extraFound.children[sector];
      std::string path = record.name;
      uint64_t parent = record.parent;
      for (size_t depth = 0; depth < kMaxDepth && parent != kRootRecord; ++depth) {
        auto f = folders_.find(parent);
        if (f == folders_.end()) break;
        path = f->second.name + kSeparator + path;
        parent = f->second.parent;
      }
      if (file.carvedName.empty()) file.carvedName = file.name;
      file.name = path;
    }
  }

 private:
  static constexpr uint64_t kRootRecord = 5;
  static constexpr uint64_t kRecordNumberBits = 0xFFFFFFFFFFFF;
  static constexpr uint64_t kRecordSectors = kMftRecordSize / kSector;
  static constexpr uint64_t kPieceSectors = 2048;
  struct Named {
    std::string name;
    uint64_t parent = 0;
  };

  void ReadRun(uint64_t first, uint64_t sectors) {
    std::vector<uint8_t> piece;
    for (uint64_t at = 0; at + kRecordSectors <= sectors; at += kPieceSectors) {
      const uint64_t n = std::min(kPieceSectors, sectors - at) / kRecordSectors * kRecordSectors;
      piece.assign(n * kSector, 0);
      reader_.ReadSectors(first + at, piece);
      for (size_t r = 0; r + kMftRecordSize <= piece.size(); r += kMftRecordSize)
        Record(std::span<uint8_t>(piece).subspan(r, kMftRecordSize));
    }
  }

  void Record(std::span<uint8_t> bytes) {
    const uint32_t number = StoredRecordNumber(bytes);
    MftRecordInfo info;
    if (!ParseMftRecord(bytes, number, info, kNestedRead) || info.name.empty()) return;
    std::string name = info.name;
    for (char& c : name)
      if (c == kSeparator || c == '*' || static_cast<uint8_t>(c) < 0x20) c = '_';
    const uint64_t parent = ParentReference(info) & kRecordNumberBits;
    if (IsFolderKind(info.kind)) {
      folders_[number] = {name, parent};
      return;
    }
    if (!IsFileKind(info.kind) || info.runs.empty()) return;
    const uint32_t cluster = info.runs.begin()->second.startCluster;
    const uint64_t size = info.dataSize.value_or(info.size);
    if (cluster == 0) return;
    const uint64_t sector = start_ + cluster * perCluster_;
    auto carved = disk_.extraFound.children.find(sector);
    if (carved != disk_.extraFound.children.end() && carved->second.size == size)
      files_[sector] = {name, parent};
  }

  DiskInfo& disk_;
  VolumeReader& reader_;
  uint64_t start_, end_, perCluster_;
  std::map<uint64_t, Named> folders_;
  std::map<uint64_t, Named> files_;
};

constexpr size_t kNtfsSectorsPerCluster = 0x0D;  // u8; above 0x80 a negative power of two

uint64_t NtfsSectorsPerCluster(const VolumeInfo& v, VolumeReader& reader) {
  std::vector<uint8_t> boot(kSector);
  reader.ReadSectors(v.start, boot);
  if (!IsNtfsBoot(boot)) return v.origin == kOriginRebuilt ? v.sectorsPerCluster : 0;
  const uint8_t raw = boot[kNtfsSectorsPerCluster];
  return raw <= 0x80 ? raw : 0;
}

}  // namespace

void NameCarvedFiles(DiskInfo& disk, VolumeReader& reader) {
  if (disk.extraFound.children.empty()) return;
  for (const VolumeInfo& v : disk.volumes) {
    if (IsNtfsType(v.fsType)) {
      if (uint64_t perCluster = NtfsSectorsPerCluster(v, reader))
        MftNamer(disk, reader, v.start, v.start + v.sectorCount, perCluster).Run();
      continue;
    }
    const bool fat32 = IsFat32Type(v.fsType);
    if (!fat32 && !IsFat16Type(v.fsType)) continue;
    if (std::optional<Geometry> g = GeometryOf(v, reader)) Namer(disk, reader, *g, fat32).Run();
  }
}

}  // namespace brevid
