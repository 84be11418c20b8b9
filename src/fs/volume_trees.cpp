#include "fs/volume_trees.h"

#include "platform/codepage.h"

namespace brevid {
namespace {

void DestroyTrees(VolumeTrees* trees) { delete trees; }

NtfsEntry PseudoNtfsFolder(const char* utf8Name, uint32_t number) {
  NtfsEntry e;
  e.SetKind(kNormalFolder);
  e.recordNumber = number;
  e.parentNumber = number;
  e.name = Ansi(utf8Name);
  return e;
}

// Moves `node` into `list` (front or back) and gives its direct children
// their new parent; deeper nodes never move.
FileEntry* PlaceFat(FileEntry& parent, FileEntry node, bool front) {
  node.parent = &parent;
  FileEntry& placed = front ? parent.children.emplace_front(std::move(node))
                            : parent.children.emplace_back(std::move(node));
  for (FileEntry& child : placed.children) child.parent = &placed;
  return &placed;
}

}  // namespace

VolumeTrees::VolumeTrees() {
  fatRoot.SetKind(kNormalFolder);
  fatRoot.name = Ansi("根目录");
  fatScattered.SetKind(kNormalFolder);
  fatScattered.name = Ansi("零散目录");
  ntfsRoot = PseudoNtfsFolder("根目录", 5);
  ntfsScattered = PseudoNtfsFolder("零散目录", 2);
  ntfsExtended = PseudoNtfsFolder("扩展目录", 1);
}

VolumeTrees& TreesOf(VolumeInfo& volume) {
  if (!volume.trees) volume.trees = DetachedPtr<VolumeTrees>(new VolumeTrees, DestroyTrees);
  return *volume.trees;
}

void ReleaseTrees(VolumeInfo& volume) { volume.trees.reset(); }

void StartFatTree(VolumeTrees& trees, uint32_t rootCluster) {
  trees.fatRoot.firstCluster = rootCluster;
  trees.fatNormalIndex.emplace(rootCluster, &trees.fatRoot);
  trees.fatDeletedIndex.emplace(0, &trees.fatScattered);
}

void StartNtfsTree(VolumeTrees& trees, bool withExtended) {
  trees.ntfsIndex[5] = &trees.ntfsRoot;
  trees.ntfsIndex[2] = &trees.ntfsScattered;
  if (withExtended) trees.ntfsIndex[1] = &trees.ntfsExtended;
}

FileEntry* InsertFatChild(VolumeTrees& trees, FileEntry& parent, FileEntry node,
                          FatPlacement placement) {
  bool front = placement == FatPlacement::kByKind && node.IsFolder();
  bool deleted = placement == FatPlacement::kAppendDeleted ||
                 (placement == FatPlacement::kByKind && IsDeletedKind(node.Kind()));
  FileEntry* placed = PlaceFat(parent, std::move(node), front);
  (deleted ? trees.fatDeletedIndex : trees.fatNormalIndex).emplace(placed->firstCluster, placed);
  trees.nameIndex.emplace(placed->name, placed);
  return placed;
}

NtfsEntry* InsertNtfsChild(VolumeTrees& trees, NtfsEntry& parent, NtfsEntry node, bool append,
                           bool spare) {
  bool front = !append && node.IsFolder();
  NtfsEntry& placed = front ? parent.children.emplace_front(std::move(node))
                            : parent.children.emplace_back(std::move(node));
  uint32_t number = static_cast<uint32_t>(placed.recordNumber);
  if (spare || !trees.ntfsIndex.emplace(number, &placed).second)
    trees.ntfsSpareIndex.emplace(number, &placed);
  trees.nameIndex.emplace(placed.name, &placed);
  return &placed;
}

FileEntry* FindFatEntry(VolumeTrees& trees, uint32_t firstCluster, const std::string& name,
                        const std::string& createTimeText) {
  for (auto* index : {&trees.fatNormalIndex, &trees.fatDeletedIndex}) {
    auto [lo, hi] = index->equal_range(firstCluster);
    for (auto it = lo; it != hi; ++it)
      if (it->second->name == name && CreatedText(*it->second) == createTimeText) return it->second;
  }
  return nullptr;
}

NtfsEntry* FindNtfsEntry(VolumeTrees& trees, uint32_t recordNumber, const std::string& name,
                         const std::string& createTimeText) {
  auto matches = [&](const NtfsEntry* e) {
    return e->name == name && NtfsTimeText(e->createTime) == createTimeText;
  };
  auto it = trees.ntfsIndex.find(recordNumber);
  if (it != trees.ntfsIndex.end() && matches(it->second)) return it->second;
  auto [lo, hi] = trees.ntfsSpareIndex.equal_range(recordNumber);
  for (auto s = lo; s != hi; ++s)
    if (matches(s->second)) return s->second;
  return nullptr;
}

}  // namespace brevid
