#include "view/node_handle.h"

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
  return FatTimeText(Fat()->createDate, Fat()->createTime);
}

const void* NodeHandle::Address() const {
  return std::visit([](auto* e) { return static_cast<const void*>(e); }, node_);
}

NodeHandle NodeHandle::Parent() const {
  const auto* link = table_ ? table_->LinkOf(Address()) : nullptr;
  return link && link->parent ? table_->Handle(link->parent) : NodeHandle();
}

size_t NodeHandle::ChildCount() const {
  const auto* link = table_ ? table_->LinkOf(Address()) : nullptr;
  return link ? link->children.size() : 0;
}

NodeHandle NodeHandle::Child(size_t i) const {
  const auto* link = table_ ? table_->LinkOf(Address()) : nullptr;
  return link && i < link->children.size() ? table_->Handle(link->children[i]) : NodeHandle();
}

size_t NodeHandle::Row() const {
  const auto* link = table_ ? table_->LinkOf(Address()) : nullptr;
  return link ? link->row : 0;
}

NodeTable::NodeTable(VolumeTrees& trees, bool ntfs) : ntfs_(ntfs) {
  if (ntfs) {
    Add(&trees.ntfsRoot, 0);
    Add(&trees.ntfsScattered, 1);
    Add(&trees.ntfsExtended, 2);
  } else {
    Add(&trees.fatRoot, 0);
    Add(&trees.fatScattered, 1);
  }
}

NodeTable::NodeTable(VolumeInfo& volume) : NodeTable(TreesOf(volume), IsNtfsType(volume.fsType)) {}

NodeHandle NodeTable::Handle(void* node) const {
  if (ntfs_) return NodeHandle(static_cast<NtfsEntry*>(node), this);
  return NodeHandle(static_cast<FileEntry*>(node), this);
}

const NodeTable::Link* NodeTable::LinkOf(const void* node) const {
  auto it = links_.find(node);
  return it == links_.end() ? nullptr : &it->second;
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
