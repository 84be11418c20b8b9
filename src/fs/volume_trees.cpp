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

// Moves `node` into `store` and links it in `parent`'s children (front or
// back); its own children, if any, take it as their parent.
template <class Node>
Node* Place(NodeStore<Node>& store, Node& parent, Node node, bool front) {
  Node& placed = *store.Add(std::move(node));
  placed.parent = &parent;
  for (Node& child : placed.children) child.parent = &placed;
  if (front)
    parent.children.PushFront(&placed);
  else
    parent.children.PushBack(&placed);
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

NameIndex& NameIndexOf(VolumeTrees& trees) {
  // Listing a tree never looks names up; a million of them in the index
  // would cost a third as much again as the nodes.
  trees.nameIndex.reserve(trees.nameIndex.size() + (trees.fatNodes.size() - trees.fatNamed) +
                          (trees.ntfsNodes.size() - trees.ntfsNamed));
  trees.fatNodes.ForEachFrom(trees.fatNamed,
                             [&trees](FileEntry& e) { trees.nameIndex.emplace(e.name, &e); });
  trees.fatNamed = trees.fatNodes.size();
  trees.ntfsNodes.ForEachFrom(trees.ntfsNamed,
                              [&trees](NtfsEntry& e) { trees.nameIndex.emplace(e.name, &e); });
  trees.ntfsNamed = trees.ntfsNodes.size();
  return trees.nameIndex;
}

void ReleaseTrees(VolumeInfo& volume) { volume.trees.reset(); }

void StartFatTree(VolumeTrees& trees, uint32_t rootCluster) {
  trees.fatRoot.firstCluster = rootCluster;
  trees.fatNormalIndex.emplace(rootCluster, &trees.fatRoot);
  trees.fatDeletedIndex.emplace(0, &trees.fatScattered);
}

void StartNtfsTree(VolumeTrees& trees, bool withExtended) {
  trees.ntfsIndex.Emplace(5, &trees.ntfsRoot);
  trees.ntfsIndex.Emplace(2, &trees.ntfsScattered);
  if (withExtended) trees.ntfsIndex.Emplace(1, &trees.ntfsExtended);
}

FileEntry* InsertFatChild(VolumeTrees& trees, FileEntry& parent, FileEntry node,
                          FatPlacement placement) {
  bool front = placement == FatPlacement::kByKind && node.IsFolder();
  bool deleted = placement == FatPlacement::kAppendDeleted ||
                 (placement == FatPlacement::kByKind && IsDeletedKind(node.Kind()));
  node.kindTick = static_cast<uint8_t>(node.kindTick & ~kFatLookedUpAsDeleted);
  if (deleted) node.kindTick |= kFatLookedUpAsDeleted;
  return Place(trees.fatNodes, parent, std::move(node), front);
}

NtfsEntry* InsertNtfsChild(VolumeTrees& trees, NtfsEntry& parent, NtfsEntry node, bool append,
                           bool spare) {
  bool front = !append && node.IsFolder();
  NtfsEntry* placed = Place(trees.ntfsNodes, parent, std::move(node), front);
  uint32_t number = static_cast<uint32_t>(placed->recordNumber);
  if (spare || !trees.ntfsIndex.Emplace(number, placed))
    trees.ntfsSpareIndex.emplace(number, placed);
  return placed;
}

void IndexFatNodes(VolumeTrees& trees) {
  // Listing a tree never looks a node up by its cluster.
  std::lock_guard<std::mutex> lock(trees.fatIndexing);
  size_t deleted = 0;
  trees.fatNodes.ForEachFrom(trees.fatIndexed, [&deleted](const FileEntry& e) {
    deleted += (e.kindTick & kFatLookedUpAsDeleted) != 0;
  });
  trees.fatDeletedIndex.reserve(trees.fatDeletedIndex.size() + deleted);
  trees.fatNormalIndex.reserve(trees.fatNormalIndex.size() +
                               (trees.fatNodes.size() - trees.fatIndexed - deleted));
  trees.fatNodes.ForEachFrom(trees.fatIndexed, [&trees](FileEntry& e) {
    bool deleted = e.kindTick & kFatLookedUpAsDeleted;
    (deleted ? trees.fatDeletedIndex : trees.fatNormalIndex).emplace(e.firstCluster, &e);
  });
  trees.fatIndexed = trees.fatNodes.size();
}

FileEntry* FindFatEntry(VolumeTrees& trees, uint32_t firstCluster, const std::string& name,
                        const std::string& createTimeText) {
  IndexFatNodes(trees);
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
  NtfsEntry* first = trees.ntfsIndex.Find(recordNumber);
  if (first && matches(first)) return first;
  auto [lo, hi] = trees.ntfsSpareIndex.equal_range(recordNumber);
  for (auto s = lo; s != hi; ++s)
    if (matches(s->second)) return s->second;
  return nullptr;
}

}  // namespace brevid
