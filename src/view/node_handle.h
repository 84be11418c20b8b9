// Handles over the nodes of one volume's recovered tree, FAT or NTFS alike,
// with cached child lists, so the panes can walk a tree by parent, row and
// child index.
//
// A NodeTable is built once after an expand, on the thread that then reads
// the tree (the user-interface thread or a command). It and every NodeHandle
// taken from it stay valid until the volume's trees are released
// (ReleaseTrees) or rebuilt; nodes inserted afterwards are not in the table.
// Handles are small values; the table must outlive them. Nothing here locks:
// ticks written through handles must not race a save worker reading them,
// and a folder's child list is made on first use, so one thread at a time
// reads through a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/volume_info.h"
#include "fs/volume_trees.h"

namespace brevid {

class NodeTable;

class NodeHandle {
 public:
  NodeHandle() = default;
  NodeHandle(NodeRef node, const NodeTable* table) : node_(node), table_(table) {}

  bool IsNull() const;
  bool IsNtfs() const { return std::holds_alternative<NtfsEntry*>(node_); }
  FileEntry* Fat() const { return IsNtfs() ? nullptr : std::get<FileEntry*>(node_); }
  NtfsEntry* Ntfs() const { return IsNtfs() ? std::get<NtfsEntry*>(node_) : nullptr; }
  NodeRef Ref() const { return node_; }

  uint8_t Kind() const;
  bool IsFolder() const { return IsFolderKind(Kind()); }
  std::string Name() const;  // CP936
  // The node's own tick bits; setting them leaves the kind and every other
  // node alone (SetTick in view/ticks.h spreads).
  uint8_t Tick() const;
  void SetOwnTick(uint8_t tick) const;

  // First cluster (FAT) or record number (NTFS): the pane's file number.
  uint64_t Number() const;
  // The creation time as the pane shows it.
  std::string CreatedText() const;

  // Null for the pseudo folders.
  NodeHandle Parent() const;
  size_t ChildCount() const;
  // Null when `i` is out of range. O(1).
  NodeHandle Child(size_t i) const;
  // Calls f(child) for each child in list order, walking the node's own
  // links: no list of them is kept, for a caller that looks once.
  template <class F>
  void ForEachChild(F&& f) const {
    if (IsNull() || !table_) return;
    std::visit(
        [&](auto* e) {
          for (auto& child : e->children) f(NodeHandle(NodeRef(&child), table_));
        },
        node_);
  }
  // Index among the parent's children; for a pseudo folder its index among
  // the table's tops. O(number of siblings).
  size_t Row() const;

  bool operator==(const NodeHandle& other) const { return node_ == other.node_; }

  // The node's address: a key that names it while its table lives.
  const void* Address() const;

 private:
  NodeRef node_{static_cast<FileEntry*>(nullptr)};
  const NodeTable* table_ = nullptr;
};

// Calls visit(entry, folders) for every entry below `top`, depth first in
// list order, through the entries' own child lists (no node table's lists
// are built); `folders` runs from `top` down to the entry's parent.
template <class Entry, class Visit>
void ForEachBelow(Entry& top, Visit&& visit) {
  using Iter = decltype(top.children.begin());
  std::vector<Entry*> folders{&top};
  std::vector<Iter> next{top.children.begin()};
  while (!folders.empty()) {
    if (next.back() == folders.back()->children.end()) {
      folders.pop_back();
      next.pop_back();
      continue;
    }
    Entry& child = *next.back();
    ++next.back();
    visit(child, std::span<Entry* const>(folders));
    if (child.IsFolder()) {
      folders.push_back(&child);
      next.push_back(child.children.begin());
    }
  }
}

// Parent, row and children of every node reachable from the pseudo folders:
// for FAT "根目录" and "零散目录"; for NTFS also "扩展目录". A node knows its
// parent, and a folder's children are listed when first asked for, so that a
// million-entry volume costs a pointer per entry of the folders looked into.
class NodeTable {
 public:
  NodeTable(VolumeTrees& trees, bool ntfs);
  // The volume's trees (made empty when there are none), read as its type says.
  explicit NodeTable(VolumeInfo& volume);
  NodeTable(const NodeTable&) = delete;
  NodeTable& operator=(const NodeTable&) = delete;

  bool IsNtfs() const { return ntfs_; }
  // The pseudo folders the file pane shows: root, then scattered.
  NodeHandle Root() const { return Handle(tops_[0]); }
  NodeHandle Scattered() const { return Handle(tops_[1]); }
  // Every pseudo folder, the pane's two first.
  size_t TopCount() const { return tops_.size(); }
  NodeHandle Top(size_t i) const { return i < tops_.size() ? Handle(tops_[i]) : NodeHandle(); }
  // The node whose Address() is `address`; a null handle for null.
  NodeHandle HandleAt(const void* address) const { return Handle(const_cast<void*>(address)); }

 private:
  friend class NodeHandle;
  NodeHandle Handle(void* node) const;
  // The children of `folder`, as they stand in its list when first asked.
  template <class Entry>
  const std::vector<void*>& ChildrenOf(const Entry* folder) const;

  bool ntfs_;
  std::vector<void*> tops_;
  mutable std::unordered_map<const void*, std::vector<void*>> children_;
};

}  // namespace brevid
