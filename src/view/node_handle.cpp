#include "view/node_handle.h"

#include <algorithm>

#include "fs/file_system_driver.h"

namespace brevid {
namespace {

template <class F>
decltype(auto) Visit(const NodeRef& node, F&& f) {
  return std::visit([&](auto* e) -> decltype(auto) { return f(*e); }, node);
}

}  // namespace

bool NodeHandle::IsNull() const {
  return std::visit([](auto* e) { return e == nullptr; }, node_);
}

uint8_t NodeHandle::Kind() const {
  return IsNull() ? uint8_t{kKindNone} : Visit(node_, [](auto& e) { return e.Kind(); });
}

const std::string& NodeHandle::Name() const {
  static const std::string none;
  return IsNull() ? none : Visit(node_, [](auto& e) -> const std::string& { return e.name; });
}

uint8_t NodeHandle::Tick() const {
  return IsNull() ? uint8_t{kTickClear} : Visit(node_, [](auto& e) { return e.Tick(); });
}

void NodeHandle::SetOwnTick(uint8_t tick) const {
  if (!IsNull()) Visit(node_, [&](auto& e) { e.SetTick(tick); });
}

uint64_t NodeHandle::Number() const {
  if (IsNull()) return 0;
  if (const NtfsEntry* e = Ntfs()) return e->recordNumber;
  return Fat()->firstCluster;
}

std::string NodeHandle::CreatedText() const {
  if (IsNull()) return "";
  if (const NtfsEntry* e = Ntfs()) return NtfsTimeText(e->createTime);
  return brevid::CreatedText(*Fat());
}

const void* NodeHandle::Address() const {
  return std::visit([](auto* e) { return static_cast<const void*>(e); }, node_);
}

NodeHandle NodeHandle::Parent() const {
  if (!table_ || IsNull()) return NodeHandle();
  if (const FileEntry* f = Fat()) return f->parent ? table_->Handle(f->parent) : NodeHandle();
  const auto* link = table_->LinkOf(Address());
  return link && link->parent ? table_->Handle(link->parent) : NodeHandle();
}

size_t NodeHandle::ChildCount() const {
  if (!table_ || IsNull()) return 0;
  if (const FileEntry* f = Fat()) return f->children.empty() ? 0 : table_->FatChildren(f).size();
  const auto* link = table_->LinkOf(Address());
  return link ? link->children.size() : 0;
}

NodeHandle NodeHandle::Child(size_t i) const {
  if (!table_ || IsNull()) return NodeHandle();
  if (const FileEntry* f = Fat()) {
    if (f->children.empty()) return NodeHandle();
    const std::vector<void*>& children = table_->FatChildren(f);
    return i < children.size() ? table_->Handle(children[i]) : NodeHandle();
  }
  const auto* link = table_->LinkOf(Address());
  return link && i < link->children.size() ? table_->Handle(link->children[i]) : NodeHandle();
}

size_t NodeHandle::Row() const {
  if (!table_ || IsNull()) return 0;
  if (const FileEntry* f = Fat()) {
    const std::vector<void*>& siblings = f->parent ? table_->FatChildren(f->parent) : table_->tops_;
    auto it = std::find(siblings.begin(), siblings.end(), Address());
    return it == siblings.end() ? 0 : static_cast<size_t>(it - siblings.begin());
  }
  const auto* link = table_->LinkOf(Address());
  return link ? link->row : 0;
}

NodeTable::NodeTable(VolumeTrees& trees, bool ntfs) : ntfs_(ntfs) {
  if (ntfs) {
    Add(&trees.ntfsRoot, 0);
    Add(&trees.ntfsScattered, 1);
    Add(&trees.ntfsExtended, 2);
  } else {
    tops_ = {&trees.fatRoot, &trees.fatScattered};
  }
}

NodeTable::NodeTable(VolumeInfo& volume)
    : NodeTable(TreesOf(volume), DriverFor(volume.fsType) != nullptr &&
                                     DriverFor(volume.fsType)->nodes == TreeNodes::kNtfs) {}

NodeHandle NodeTable::Handle(void* node) const {
  if (ntfs_) return NodeHandle(static_cast<NtfsEntry*>(node), this);
  return NodeHandle(static_cast<FileEntry*>(node), this);
}

const NodeTable::Link* NodeTable::LinkOf(const void* node) const {
  auto it = links_.find(node);
  return it == links_.end() ? nullptr : &it->second;
}

const std::vector<void*>& NodeTable::FatChildren(const FileEntry* folder) const {
  auto [it, made] = fatChildren_.try_emplace(folder);
  if (made) {
    it->second.reserve(folder->children.size());
    for (const FileEntry& child : folder->children)
      it->second.push_back(const_cast<FileEntry*>(&child));
  }
  return it->second;
}

template <class Entry>
void NodeTable::Add(Entry* top, size_t row) {
  tops_.push_back(top);
  links_[top].row = row;
  // An explicit stack: NTFS parent chains can be deeper than the call stack allows.
  std::vector<Entry*> pending{top};
  while (!pending.empty()) {
    Entry* folder = pending.back();
    pending.pop_back();
    std::vector<void*> children;
    children.reserve(folder->children.size());
    for (Entry& child : folder->children) {
      Link& link = links_[&child];
      link.parent = folder;
      link.row = children.size();
      children.push_back(&child);
      pending.push_back(&child);
    }
    links_[folder].children = std::move(children);
  }
}

}  // namespace brevid
