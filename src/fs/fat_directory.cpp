#include "fs/fat_directory.h"

#include <algorithm>

#include "common/sector_range.h"
#include "format/fat_layout.h"
#include "format/fat_names.h"

namespace brevid {
namespace {

// Folders nest at most this deep; a path of 260 characters cannot go deeper
// than 130 levels, so only a damaged or hostile directory reaches it.
constexpr int kMaxDepth = 130;

// A folder holds at most 65536 entries of 32 bytes.
constexpr size_t kMaxFolderBytes = 65536 * 32;

// A labelled volume's root holds its label among the files.
constexpr uint8_t kVolumeLabel = 0x08;

bool AllZero16(Bytes entry) {
  for (size_t i = 0; i < 16; ++i)
    if (entry[i] != 0) return false;
  return true;
}

}  // namespace

FileEntry FatNodeFromEntry(Bytes entry, uint8_t kind) {
  FileEntry node;
  node.SetKind(kind);
  node.createTime = LoadLe16(entry, fat::kCreateTime);
  node.createDate = LoadLe16(entry, fat::kCreateDate);
  node.writeTime = LoadLe16(entry, fat::kWriteTime);
  node.writeDate = LoadLe16(entry, fat::kWriteDate);
  node.size = LoadLe32(entry, fat::kSize);
  node.firstCluster = fat::FirstCluster(entry);
  return node;
}

FatDirectoryWalk::FatDirectoryWalk(VolumeReader& reader, VolumeInfo& volume, VolumeTrees& trees,
                                   ProgressRecord& progress, const FatGeometry& geometry,
                                   bool recovery)
    : reader_(reader),
      volume_(volume),
      trees_(trees),
      progress_(progress),
      geo_(geometry),
      recovery_(recovery),
      chainBuffers_(kMaxDepth + 1) {}

uint64_t FatDirectoryWalk::ClusterPosition(uint32_t cn) const {
  uint64_t sector = uint64_t{cn} * geo_.sectorsPerCluster + volume_.clusterBase;
  return SectorToByte(sector, geo_.bytesPerSector);
}

std::vector<uint8_t> FatDirectoryWalk::ReadCluster(uint32_t cn) {
  return reader_.Read(ClusterPosition(cn), geo_.ClusterBytes());
}

void FatDirectoryWalk::MarkRead(uint32_t cn) {
  visited_.insert(cn);
  liveRead_.insert(cn);
}

uint32_t FatDirectoryWalk::NextCluster(uint32_t cn) const {
  return fat::NextClusterIn(trees_.fatTable, cn, geo_.fat32);
}

bool FatDirectoryWalk::Notify() {
  if (geo_.fat32)
    progress_.Send(kProgressStep, 0, 0);
  else
    progress_.Post(kProgressStep, 0, 0);
  return !Stopped();
}

FileEntry* FatDirectoryWalk::AddNode(FileEntry& parent, FileEntry node) {
  return InsertFatChild(trees_, parent, std::move(node));
}

void FatDirectoryWalk::EraseCarvedFile(uint32_t firstCluster) {
  uint64_t sector = uint64_t{firstCluster} * geo_.sectorsPerCluster + volume_.clusterBase;
  trees_.carvedInTree.insert(sector);
}

void FatDirectoryWalk::WalkLevel(Bytes dir, FileEntry& parent, int depth) {
  if (depth > kMaxDepth) return;
  size_t at = Load8(dir, 0) == '.' ? 2 * fat::kEntrySize : 0;
  while (at + fat::kEntrySize <= dir.size() && !Stopped()) {
    Bytes entry = dir.subspan(at, fat::kEntrySize);
    if (AllZero16(entry)) {
      at += fat::kEntrySize;
      continue;
    }
    bool goOn = entry[0] == fat::kDeletedMark ? DeletedEntry(dir, at, parent, depth)
                                              : NormalEntry(dir, at, parent, depth);
    if (!goOn) return;
  }
}

bool FatDirectoryWalk::NormalEntry(Bytes dir, size_t& at, FileEntry& parent, int depth) {
  Bytes entry = dir.subspan(at, fat::kEntrySize);
  uint8_t attr = entry[fat::kAttributes];
  fat::AttributeClass cls = fat::ClassOf(attr);
  if (recovery_ && (attr > 0x40 || cls == fat::AttributeClass::kUnrecognised)) {
    if (attr != 0x3F && attr != 0x40 && attr != kVolumeLabel) return false;
    at += fat::kEntrySize;
    return true;
  }

  if (cls == fat::AttributeClass::kFile) {
    at += fat::kEntrySize;
    if (LoadLe16(entry, fat::kClusterHigh) == 0 && LoadLe16(entry, fat::kClusterLow) == 0)
      return true;
    FileEntry node = FatNodeFromEntry(entry, kNormalFile);
    node.name = FatShortFileName(entry);
    AddNode(parent, std::move(node));
    if (recovery_ && !geo_.fat32) EraseCarvedFile(fat::FirstCluster(entry));
    return true;
  }

  if (cls == fat::AttributeClass::kFolder) {
    at += fat::kEntrySize;
    FileEntry node = FatNodeFromEntry(entry, kNormalFolder);
    node.name = FatShortFolderName(entry);
    if (recovery_) return DescendRecovery(std::move(node), false, parent, depth);
    DescendNormal(*AddNode(parent, std::move(node)), parent, depth);
    return true;
  }

  if (cls != fat::AttributeClass::kLongName || !(entry[fat::kLfnOrdinal] & fat::kLfnFirstOnDisk)) {
    at += fat::kEntrySize;
    return true;
  }

  // A run of long-name parts, the part that comes first on disk holding the
  // count; each part goes in front of the text built so far.
  size_t parts = entry[fat::kLfnOrdinal] - fat::kLfnFirstOnDisk;
  if (parts == 0) {
    at += fat::kEntrySize;
    return true;
  }
  size_t shortAt = at + parts * fat::kEntrySize;
  if (shortAt + fat::kEntrySize > dir.size()) {
    at = dir.size();  // the run ends past the buffer: no short entry to name
    return true;
  }
  std::string longName;
  bool defaulted = false;
  for (size_t p = at; p < shortAt; p += fat::kEntrySize)
    longName = FatLongNamePart(dir.subspan(p, fat::kEntrySize), &defaulted) + longName;
  at = shortAt + fat::kEntrySize;

  Bytes shortEntry = dir.subspan(shortAt, fat::kEntrySize);
  // A name that lost characters in conversion would not be the file's name;
  // the entry is kept under its short name rather than dropped.
  bool useLong = !defaulted && longName.find('?') == std::string::npos;
  switch (fat::ClassOf(shortEntry[fat::kAttributes])) {
    case fat::AttributeClass::kFile: {
      FileEntry node = FatNodeFromEntry(shortEntry, kNormalFile);
      node.name = useLong ? longName : FatShortFileName(shortEntry);
      AddNode(parent, std::move(node));
      if (recovery_ && !geo_.fat32) EraseCarvedFile(fat::FirstCluster(shortEntry));
      return true;
    }
    case fat::AttributeClass::kFolder: {
      FileEntry node = FatNodeFromEntry(shortEntry, kNormalFolder);
      node.name = useLong ? longName : FatShortFolderName(shortEntry);
      if (recovery_) return DescendRecovery(std::move(node), useLong, parent, depth);
      DescendNormal(*AddNode(parent, std::move(node)), parent, depth);
      return true;
    }
    default:
      return true;
  }
}

// A folder's clusters are read along the FAT into one buffer before its
// entries are walked, so that a long-name run crossing from one cluster into
// the next keeps its whole name.
void FatDirectoryWalk::DescendNormal(FileEntry& folder, FileEntry& parent, int depth) {
  if (geo_.fat32 && folder.firstCluster > geo_.EntryCount()) return;
  // One buffer a level, kept for the next folder at that level: a million
  // entries' folders would otherwise each take and clear fresh pages.
  std::vector<uint8_t>& buffer = chainBuffers_[depth];
  const size_t length = ReadFolderChain(folder.firstCluster, parent.firstCluster, buffer);
  if (length > 0 && !Stopped()) WalkLevel(Bytes(buffer.data(), length), folder, depth + 1);
}

size_t FatDirectoryWalk::ReadFolderChain(uint32_t cn, uint32_t parentCluster,
                                         std::vector<uint8_t>& buffer) {
  const size_t clusterBytes = geo_.ClusterBytes();
  size_t length = 0;
  // Clusters that follow each other on the disk, as most folders' do, are
  // read in one go.
  uint32_t runStart = 0;
  size_t runClusters = 0;
  auto readRun = [&] {
    if (runClusters == 0) return;
    const size_t bytes = runClusters * clusterBytes;
    if (buffer.size() < length + bytes) buffer.resize(length + bytes);
    reader_.ReadInto(ClusterPosition(runStart), std::span(buffer).subspan(length, bytes));
    length += bytes;
    runClusters = 0;
  };
  bool first = true;
  // A chain that comes back to a folder cluster already read ends there; a
  // cluster that only a deleted folder's search took is read again, as it
  // belongs to this live folder now.
  for (size_t taken = 0; !liveRead_.count(cn) && cn != parentCluster && taken < kMaxFolderBytes;
       taken += clusterBytes) {
    if (geo_.fat32 ? cn <= 1 : (cn < 2 || cn > geo_.EntryCount())) break;
    MarkRead(cn);
    if (runClusters > 0 && cn == runStart + runClusters) {
      ++runClusters;
    } else {
      readRun();
      runStart = cn;
      runClusters = 1;
    }
    if (first) {
      readRun();
      if (geo_.fat32 && !fat::StartsWithDotAndDotDot(Bytes(buffer.data(), length))) return 0;
      first = false;
    }
    if (!Notify()) break;
    uint32_t next = NextCluster(cn);
    if (fat::WalkChainEnds(next, geo_.fat32, geo_.EntryCount())) break;
    cn = next;
  }
  readRun();
  return length;
}

bool FatDirectoryWalk::DescendRecovery(FileEntry node, bool hasLongName, FileEntry& parent,
                                       int depth) {
  uint32_t cn = node.firstCluster;
  if (cn == parent.firstCluster) return true;
  FileEntry* placed = nullptr;
  if (!hasLongName) {
    placed = AddNode(parent, node);
    if (cn > geo_.EntryCount()) return false;
  } else if (cn > geo_.EntryCount()) {
    return true;
  }
  // FAT32 refuses a cluster already read; FAT16 would read it again, which a
  // folder listing its own ancestor turns into an endless descent, so it
  // keeps the node and does not go down again.
  if (liveRead_.count(cn)) {
    if (!geo_.fat32 && hasLongName) AddNode(parent, std::move(node));
    return true;
  }
  std::vector<uint8_t> cluster = ReadCluster(cn);
  if (geo_.fat32 && !fat::StartsWithDotAndDotDot(cluster)) return true;
  MarkRead(cn);
  if (hasLongName) placed = AddNode(parent, std::move(node));
  if (!Notify()) return false;
  if (fat::FirstCluster(cluster) == cn) WalkLevel(cluster, *placed, depth + 1);
  return true;
}

bool FatDirectoryWalk::DeletedEntry(Bytes dir, size_t& at, FileEntry& parent, int depth) {
  Bytes entry = dir.subspan(at, fat::kEntrySize);
  uint8_t attr = entry[fat::kAttributes];
  fat::AttributeClass cls = fat::ClassOf(attr);
  if (recovery_ && (attr > 0x36 || cls == fat::AttributeClass::kUnrecognised)) {
    if (attr != kVolumeLabel) return false;
    at += fat::kEntrySize;
    return true;
  }

  if (cls == fat::AttributeClass::kFile) {
    at += fat::kEntrySize;
    FileEntry node = FatNodeFromEntry(entry, kDeletedFile);
    node.name = FatShortFileName(entry);
    AddNode(parent, std::move(node));
    if (recovery_) EraseCarvedFile(fat::FirstCluster(entry));
    return true;
  }
  if (cls == fat::AttributeClass::kFolder) {
    at += fat::kEntrySize;
    FileEntry node = FatNodeFromEntry(entry, kDeletedFolder);
    node.name = FatShortFolderName(entry);
    DeletedFolder(entry, std::move(node), false, false, parent, depth);
    return true;
  }
  if (cls != fat::AttributeClass::kLongName) {
    at += fat::kEntrySize;
    return true;
  }

  // Ordinals of deleted parts are gone: every following long-name entry is a part.
  std::string longName;
  bool defaulted = false;
  size_t p = at;
  while (p + fat::kEntrySize <= dir.size() &&
         dir[p + fat::kAttributes] == fat::kLongNameAttribute) {
    longName = FatLongNamePart(dir.subspan(p, fat::kEntrySize), &defaulted) + longName;
    p += fat::kEntrySize;
  }
  if (p + fat::kEntrySize > dir.size()) {
    at = dir.size();
    return true;
  }
  at = p + fat::kEntrySize;
  Bytes shortEntry = dir.subspan(p, fat::kEntrySize);
  bool useLong = !defaulted && longName.find('?') == std::string::npos;
  switch (fat::ClassOf(shortEntry[fat::kAttributes])) {
    case fat::AttributeClass::kFile: {
      FileEntry node = FatNodeFromEntry(shortEntry, kDeletedFile);
      node.name = useLong ? longName : FatShortFileName(shortEntry);
      AddNode(parent, std::move(node));
      if (recovery_) EraseCarvedFile(fat::FirstCluster(shortEntry));
      return true;
    }
    case fat::AttributeClass::kFolder: {
      FileEntry node = FatNodeFromEntry(shortEntry, kDeletedFolder);
      node.name = useLong ? longName : FatShortFolderName(shortEntry);
      DeletedFolder(shortEntry, std::move(node), useLong, useLong, parent, depth);
      return true;
    }
    default:
      return true;
  }
}

void FatDirectoryWalk::DeletedFolder(Bytes entry, FileEntry node, bool takeDotDotTimes,
                                     bool longName, FileEntry& parent, int depth) {
  uint32_t lo = LoadLe16(entry, fat::kClusterLow);
  uint32_t hi = geo_.fat32 ? LoadLe16(entry, fat::kClusterHigh) : 0;
  uint64_t highWords = (uint64_t{geo_.fatLength} * geo_.bytesPerSector) >> (geo_.fat32 ? 18 : 17);
  // A damaged FAT length must not send the search past the source's end.
  uint64_t sourceSectors = reader_.SourceBytes() / geo_.bytesPerSector;
  if (geo_.sectorsPerCluster != 0 && sourceSectors > volume_.clusterBase)
    highWords =
        std::min(highWords, ((sourceSectors - volume_.clusterBase) / geo_.sectorsPerCluster) >> 16);
  uint64_t firstH = 0, lastH = highWords;
  if (geo_.fat32 && hi != 0) firstH = lastH = hi;
  bool rereadVisited = !geo_.fat32 && recovery_ && longName;
  uint32_t rootCluster = geo_.fat32 ? 2 : 0;

  for (uint64_t h = firstH; h <= lastH && h <= 0xFFFF; ++h) {
    uint32_t cn = static_cast<uint32_t>(h << 16) | lo;
    if (cn < 2) continue;
    bool seen = visited_.count(cn) != 0;
    if (seen && !rereadVisited) continue;
    std::vector<uint8_t> cluster = ReadCluster(cn);
    Bytes c(cluster);
    uint32_t dotDot = (uint32_t{LoadLe16(c, fat::kDotDot + fat::kClusterHigh)} << 16) |
                      LoadLe16(c, fat::kDotDot + fat::kClusterLow);
    bool accepted = fat::StartsWithDotAndDotDot(c) && LoadLe16(c, fat::kClusterLow) == lo &&
                    ((geo_.fat32 && hi != 0) || parent.firstCluster == rootCluster || dotDot == 0 ||
                     dotDot == parent.firstCluster);
    if (!accepted) continue;

    visited_.insert(cn);
    node.firstCluster = cn;
    if (takeDotDotTimes) {
      node.createTime = LoadLe16(c, fat::kDotDot + fat::kCreateTime);
      node.createDate = LoadLe16(c, fat::kDotDot + fat::kCreateDate);
      node.writeTime = LoadLe16(c, fat::kDotDot + fat::kWriteTime);
      node.writeDate = LoadLe16(c, fat::kDotDot + fat::kWriteDate);
      node.size = LoadLe32(c, fat::kDotDot + fat::kSize);
    }
    FileEntry* placed = AddNode(parent, std::move(node));
    if (!Notify()) return;
    // A cluster read again would walk the same folder forever.
    if (!seen) WalkLevel(c, *placed, depth + 1);
    return;
  }
}

}  // namespace brevid
