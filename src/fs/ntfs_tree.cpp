#include "fs/ntfs_tree.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/sector_range.h"
#include "common/text.h"
#include "fs/mft_record_reader.h"

namespace brevid {
namespace {

// A path of 32767 UTF-16 units cannot nest deeper than about 16000 levels;
// a chain of parent records deeper than this is damage or a loop.
constexpr int kMaxParentDepth = 256;

NtfsEntry* FolderInIndex(VolumeTrees& trees, uint32_t number, bool* present) {
  NtfsEntry* node = trees.ntfsIndex.Find(number);
  *present = node != nullptr;
  return node && node->IsFolder() ? node : nullptr;
}

// Whether `parent` is still the folder `node` was filed in. Deleting a
// record raises its sequence number by one, so a deleted parent may be one
// ahead of the reference.
bool IsSameParentRecord(const NtfsEntry& node, const NtfsEntry& parent) {
  if (node.parentSequence == 0 || parent.sequence == 0) return true;
  if (parent.sequence == node.parentSequence) return true;
  uint16_t next = static_cast<uint16_t>(node.parentSequence + 1);
  if (next == 0) next = 1;
  return parent.Kind() == kDeletedFolder && parent.sequence == next;
}

NtfsEntry* FirstSpare(VolumeTrees& trees, uint32_t number) {
  auto it = trees.ntfsSpareIndex.find(number);
  return it == trees.ntfsSpareIndex.end() ? nullptr : it->second;
}

void PlaceUnderPlaceholder(VolumeTrees& trees, uint32_t number, NtfsEntry node,
                           uint8_t kind = kDeletedFolder) {
  NtfsEntry& placeholder = MakePlaceholder(trees, number, kind);
  InsertNtfsChild(trees, placeholder, std::move(node), /*append=*/true, /*spare=*/true);
}

}  // namespace

NtfsEntry NtfsEntryFromRecord(const MftRecordInfo& info) {
  NtfsEntry e;
  e.SetKind(info.kind);
  e.recordNumber = info.recordNumber;
  e.parentNumber = static_cast<uint32_t>(ParentReference(info));
  e.sequence = info.sequenceNumber;
  e.parentSequence = static_cast<uint16_t>(ParentReference(info) >> 48);
  e.size = info.size;
  e.createTime = info.createTime;
  e.modifyTime = info.modifyTime;
  e.accessTime = info.accessTime;
  e.name = info.name;
  return e;
}

NtfsEntry& MakePlaceholder(VolumeTrees& trees, uint32_t number, uint8_t kind) {
  NtfsEntry p;
  p.SetKind(kind);
  p.name = Format("$$$Folder%u", number);
  p.recordNumber = number;
  p.parentNumber = static_cast<uint32_t>(trees.ntfsScattered.recordNumber);
  return *InsertNtfsChild(trees, trees.ntfsScattered, std::move(p), /*append=*/true,
                          /*spare=*/true);
}

void PlaceNtfsEntry(VolumeTrees& trees, NtfsEntry node, VolumeReader* reader,
                    std::set<uint32_t>& visited, UnknownParent unknown) {
  uint32_t p = node.parentNumber;
  bool inIndex = false;
  NtfsEntry* folder = FolderInIndex(trees, p, &inIndex);
  if (folder && IsSameParentRecord(node, *folder)) {
    InsertNtfsChild(trees, *folder, std::move(node));
    return;
  }
  if (inIndex) {  // the parent's record was reused, by a file or another folder
    if (NtfsEntry* spare = FirstSpare(trees, p))
      InsertNtfsChild(trees, *spare, std::move(node), false, true);
    else
      PlaceUnderPlaceholder(trees, p, std::move(node));
    return;
  }
  if (NtfsEntry* spare = FirstSpare(trees, p)) {
    InsertNtfsChild(trees, *spare, std::move(node), false, true);
    return;
  }
  if (unknown == UnknownParent::kRoot || reader == nullptr) {
    InsertNtfsChild(trees, trees.ntfsRoot, std::move(node));
    return;
  }
  ResolveParentChain(reader, std::move(node), trees, visited);
}

bool ResolveParentChain(VolumeReader* reader, NtfsEntry node, VolumeTrees& trees,
                        std::set<uint32_t>& visited, int depth) {
  uint32_t p = node.parentNumber;
  // A parent already read on the way up and still unplaced closes a loop.
  if (depth >= kMaxParentDepth || (depth > 0 && visited.count(p))) {
    PlaceUnderPlaceholder(trees, p, std::move(node));
    return true;
  }
  MftRecordInfo info;
  if (reader == nullptr || !ReadMftRecord(*reader, p, info, trees.mftRuns, 0) ||
      info.recordNumber != p)
    return false;
  NtfsEntry q = NtfsEntryFromRecord(info);
  uint32_t g = q.parentNumber;

  // System records (0-11 under the root, $Extend among them) are never
  // shown: a folder in use stands in, for their children are no deleted files.
  if (q.IsFolder() && g == 5 && p < 12) {
    PlaceUnderPlaceholder(trees, p, std::move(node), kNormalFolder);
    return true;
  }
  if (!q.IsFolder() || q.recordNumber == node.recordNumber || !IsSameParentRecord(node, q)) {
    PlaceUnderPlaceholder(trees, p, std::move(node));
    return true;
  }
  bool gInIndex = false;
  if (NtfsEntry* grand = FolderInIndex(trees, g, &gInIndex)) {
    visited.insert(p);
    NtfsEntry* placed = InsertNtfsChild(trees, *grand, std::move(q));
    InsertNtfsChild(trees, *placed, std::move(node));
    return true;
  }
  if (gInIndex) {
    if (NtfsEntry* spare = FirstSpare(trees, g)) {
      NtfsEntry* placed = InsertNtfsChild(trees, *spare, std::move(q), false, true);
      InsertNtfsChild(trees, *placed, std::move(node), false, true);
    } else {
      NtfsEntry& placeholder = MakePlaceholder(trees, p);
      NtfsEntry* placed = InsertNtfsChild(trees, placeholder, std::move(q), true, true);
      InsertNtfsChild(trees, *placed, std::move(node), true, true);
    }
    return true;
  }
  visited.insert(p);
  if (NtfsEntry* spare = FirstSpare(trees, g)) {
    NtfsEntry* placed = InsertNtfsChild(trees, *spare, std::move(q), false, true);
    InsertNtfsChild(trees, *placed, std::move(node), false, true);
    return true;
  }
  if (g == 0) {
    PlaceUnderPlaceholder(trees, p, std::move(node));
    return true;
  }
  ResolveParentChain(reader, std::move(q), trees, visited, depth + 1);
  bool pInIndex = false;
  if (NtfsEntry* folder = FolderInIndex(trees, p, &pInIndex)) {
    InsertNtfsChild(trees, *folder, std::move(node));
  } else if (NtfsEntry* spare = FirstSpare(trees, p)) {
    InsertNtfsChild(trees, *spare, std::move(node), false, true);
  }
  return true;
}

namespace {

// Whether `node` lies in the subtree of `top` (or is `top`).
bool Contains(const NtfsEntry& top, const NtfsEntry* node) {
  for (; node; node = node->parent)
    if (node == &top) return true;
  return false;
}

// Second pass of the deep-scan path: each node under the root that belongs
// elsewhere moves to its parent. Nodes are relinked, never copied, so every
// index entry stays valid without repair.
void MoveRootChildrenToTheirParents(VolumeTrees& trees) {
  std::vector<NtfsEntry*> underRoot;
  for (NtfsEntry& child : trees.ntfsRoot.children) underRoot.push_back(&child);
  trees.ntfsRoot.children.Clear();
  for (NtfsEntry* child : underRoot) {
    uint32_t p = child->parentNumber;
    if (p == 5) {
      trees.ntfsRoot.children.PushBack(child);
      continue;
    }
    bool inIndex = false;
    NtfsEntry* parent = FolderInIndex(trees, p, &inIndex);
    if (!parent && inIndex) {
      auto [lo, hi] = trees.ntfsSpareIndex.equal_range(p);
      for (auto s = lo; s != hi && !parent; ++s)
        if (s->second->Kind() == kNormalFolder) parent = s->second;
    }
    // A parent inside the node's own subtree would take the node out of the
    // tree altogether (a loop of parent records): a placeholder stands in.
    bool placeholder = !parent || Contains(*child, parent);
    if (placeholder) {
      NtfsEntry p0;
      p0.SetKind(kDeletedFolder);
      p0.name = Format("$$$Folder%u", p);
      p0.recordNumber = p;
      p0.parentNumber = static_cast<uint32_t>(trees.ntfsScattered.recordNumber);
      parent = InsertNtfsChild(trees, trees.ntfsScattered, std::move(p0), /*append=*/true);
    }
    child->parent = parent;
    if (!placeholder && child->IsFolder())
      parent->children.PushFront(child);
    else
      parent->children.PushBack(child);
  }
}

}  // namespace

bool BuildTreeFromMftHits(ProgressRecord& progress, DiskInfo& disk, VolumeInfo& volume,
                          const SourceOpener& opener) {
  constexpr uint64_t kBufferSectors = 61441;
  constexpr uint64_t kWindow = 61440;
  VolumeTrees& trees = TreesOf(volume);
  uint64_t end = volume.start + volume.sectorCount;
  std::vector<std::pair<uint64_t, uint32_t>> runs;
  uint64_t total = 0;
  for (const auto& [start, length] : disk.mftRecordRuns)
    if (start > volume.start && start < end) {
      runs.emplace_back(start, length);
      total += length;
    }
  StartNtfsTree(trees);
  progress.Send(kProgressSetRange, total, 0);
  VolumeReader reader(disk, volume, opener);
  if (!reader.Open()) return false;

  uint32_t sectorSize = volume.sectorSize ? volume.sectorSize : 512;
  std::vector<uint8_t> buffer(kBufferSectors * sectorSize);
  std::set<uint32_t> visited;
  uint64_t position = 0;
  uint64_t diskOffset = volume.layout == VolumeLayout::Simple ? 0 : volume.start;
  for (const auto& [runStart, length] : runs) {
    uint64_t windowStart = 0;
    for (uint64_t o = 0; o < length; o += 2) {
      if (o == 0 || o - windowStart >= kWindow) {
        if (progress.StopRequested()) return false;
        windowStart = o;
        reader.ReadInto(SectorToByte(runStart + o - diskOffset, sectorSize), buffer);
      }
      position += 2;
      progress.Send(kProgressSetPos, position, 0);
      // The record test fixes up its copy; the parse gets the bytes as
      // stored and fixes them up where they lie in the buffer.
      std::span<uint8_t> stored(buffer.data() + (o - windowStart) * sectorSize, kMftRecordSize);
      std::array<uint8_t, kMftRecordSize> tested;
      std::copy(stored.begin(), stored.end(), tested.begin());
      if (!CheckMftRecord(tested)) continue;
      uint32_t number = StoredRecordNumber(tested);
      if (number <= 26) continue;
      uint64_t sector = runStart + o;
      if (!trees.recordFirstSector.emplace(number, sector).second)
        trees.recordSectors.emplace(number, sector);

      MftRecordInfo info;
      if (!ParseMftRecord(stored, number, info, 0, nullptr)) continue;
      info.recordNumber = number;
      if (info.kind == kKindNone) continue;
      if (!info.runs.empty() && info.runs.begin()->second.startCluster != 0) {
        uint64_t first =
            uint64_t{info.runs.begin()->second.startCluster} * volume.sectorsPerCluster +
            volume.start;
        trees.carvedInTree.insert(first);
      }
      NtfsEntry node = NtfsEntryFromRecord(info);
      uint32_t parent = node.parentNumber;
      if (number == 5) {
        trees.ntfsRoot.SetKind(node.Kind());
        trees.ntfsRoot.size = node.size;
        trees.ntfsRoot.createTime = node.createTime;
        trees.ntfsRoot.modifyTime = node.modifyTime;
        trees.ntfsRoot.accessTime = node.accessTime;
        continue;
      }
      if (parent == 0 || (parent == 5 && number <= 11) || info.baseReference != 0) continue;
      PlaceNtfsEntry(trees, std::move(node), nullptr, visited, UnknownParent::kRoot);
    }
  }
  MoveRootChildrenToTheirParents(trees);
  return true;
}

}  // namespace brevid
