#include "view/ticks.h"

#include "view/file_rows.h"
#include "view/tree_paths.h"

namespace brevid {
namespace {

template <class Entry>
void SpreadBelow(Entry& top, uint8_t state) {
  std::vector<Entry*> pending{&top};
  while (!pending.empty()) {
    Entry* folder = pending.back();
    pending.pop_back();
    for (Entry& child : folder->children) {
      child.SetTick(state);
      pending.push_back(&child);
    }
  }
}

uint8_t FromChildren(NodeHandle folder) {
  for (size_t i = 0; i < folder.ChildCount(); ++i)
    if (folder.Child(i).Tick() != kTickClear) return kTickPartly;
  return kTickClear;
}

void AddJobs(NodeHandle item, std::vector<SaveItem>& jobs) {
  if (item.Tick() == kTicked) {
    jobs.push_back(SaveItemOf(item));
    return;
  }
  if (item.Tick() != kTickPartly) return;
  for (size_t i = 0; i < item.ChildCount(); ++i)
    if (item.Child(i).IsFolder()) AddJobs(item.Child(i), jobs);
  // Folders were their own items above; adding them again would save them twice.
  for (size_t i = 0; i < item.ChildCount(); ++i)
    if (!item.Child(i).IsFolder() && item.Child(i).Tick() == kTicked)
      jobs.push_back(SaveItemOf(item.Child(i)));
}

}  // namespace

void SetTick(NodeHandle node, uint8_t state) {
  if (node.IsNull()) return;
  node.SetOwnTick(state);
  if (state != kTickPartly) {
    if (NtfsEntry* e = node.Ntfs())
      SpreadBelow(*e, state);
    else
      SpreadBelow(*node.Fat(), state);
  }
  for (NodeHandle up = node.Parent(); !up.IsNull(); up = up.Parent())
    up.SetOwnTick(FromChildren(up));
}

void SetTickShown(NodeHandle node, uint8_t state, const std::function<bool(NodeHandle)>& shown) {
  if (node.IsNull()) return;
  if (!node.IsFolder()) {
    if (shown(node)) SetTick(node, state);
    return;
  }
  // Folders settle after their children: depth first, each on its way out.
  std::vector<std::pair<NodeHandle, size_t>> path{{node, 0}};
  while (!path.empty()) {
    auto& [folder, next] = path.back();
    if (next == folder.ChildCount()) {
      folder.SetOwnTick(FromChildren(folder));
      path.pop_back();
      continue;
    }
    NodeHandle child = folder.Child(next++);
    if (child.IsFolder())
      path.push_back({child, 0});
    else if (shown(child))
      child.SetOwnTick(state);
  }
  for (NodeHandle up = node.Parent(); !up.IsNull(); up = up.Parent())
    up.SetOwnTick(FromChildren(up));
}

void SetExtraFoundTick(DiskInfo& disk, const VolumeInfo& volume, uint8_t state) {
  disk.extraFound.tickState = state;
  if (state == kTickPartly) return;
  for (auto& [start, carved] : disk.extraFound.children)
    if (start >= volume.start && start - volume.start < volume.sectorCount)
      carved.tickState = state;
}

void SetCarvedTick(DiskInfo& disk, const VolumeInfo& volume, uint64_t startSector, uint8_t state) {
  auto found = disk.extraFound.children.find(startSector);
  if (found == disk.extraFound.children.end()) return;
  found->second.tickState = state;
  uint8_t item = kTickClear;
  for (const auto& [start, carved] : disk.extraFound.children)
    if (start >= volume.start && start - volume.start < volume.sectorCount &&
        carved.tickState != kTickClear)
      item = kTickPartly;
  disk.extraFound.tickState = item;
}

std::vector<SaveItem> TickedItems(const NodeTable& table, const DiskInfo& disk,
                                  const VolumeInfo& volume) {
  std::vector<SaveItem> jobs;
  AddJobs(table.Root(), jobs);
  AddJobs(table.Scattered(), jobs);
  if (HasExtraFoundItem(disk, volume) && disk.extraFound.tickState == kTicked) {
    jobs.push_back({0, ExtraFoundText(), ExtraFoundText()});
  } else if (HasExtraFoundItem(disk, volume)) {
    // Partly ticked: each carved file ticked in the right list on its own.
    for (const auto& [start, carved] : disk.extraFound.children)
      if (volume.Extent().Contains(start) && carved.tickState == kTicked)
        jobs.push_back({start, carved.name, "", start});
  }
  return jobs;
}

}  // namespace brevid
