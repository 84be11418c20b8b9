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

std::string NodeHandle::Name() const {
  return IsNull() ? std::string() : Visit(node_, [](auto& e) { return e.name.str(); });
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
  const void* parent = Visit(node_, [](auto& e) -> const void* { return e.parent; });
  return parent ? table_->Handle(const_cast<void*>(parent)) : NodeHandle();
}

size_t NodeHandle::ChildCount() const {
  if (!table_ || IsNull()) return 0;
  return Visit(node_, [this](auto& e) -> size_t {
    return e.children.empty() ? 0 : table_->ChildrenOf(&e).size();
  });
}

NodeHandle NodeHandle::Child(size_t i) const {
  if (!table_ || IsNull()) return NodeHandle();
  return Visit(node_, [this, i](auto& e) {
    if (e.children.empty()) return NodeHandle();
    const std::vector<void*>& children = table_->ChildrenOf(&e);
    return i < children.size() ? table_->Handle(children[i]) : NodeHandle();
  });
}

size_t NodeHandle::Row() const {
  if (!table_ || IsNull()) return 0;
  return Visit(node_, [this](auto& e) {
    const std::vector<void*>& siblings = e.parent ? table_->ChildrenOf(e.parent) : table_->tops_;
    auto it = std::find(siblings.begin(), siblings.end(), Address());
    return it == siblings.end() ? size_t{0} : static_cast<size_t>(it - siblings.begin());
  });
}

NodeTable::NodeTable(VolumeTrees& trees, bool ntfs) : ntfs_(ntfs) {
  if (ntfs)
    tops_ = {&trees.ntfsRoot, &trees.ntfsScattered, &trees.ntfsExtended};
  else
    tops_ = {&trees.fatRoot, &trees.fatScattered};
}

NodeTable::NodeTable(VolumeInfo& volume)
    : NodeTable(TreesOf(volume), DriverFor(volume.fsType) != nullptr &&
                                     DriverFor(volume.fsType)->nodes == TreeNodes::kNtfs) {}

NodeHandle NodeTable::Handle(void* node) const {
  if (ntfs_) return NodeHandle(static_cast<NtfsEntry*>(node), this);
  return NodeHandle(static_cast<FileEntry*>(node), this);
}

template <class Entry>
const std::vector<void*>& NodeTable::ChildrenOf(const Entry* folder) const {
  auto [it, made] = children_.try_emplace(folder);
  if (made) {
    // Gathered once and copied to a list of their exact number: counting an
    // NTFS folder's children would walk its list twice.
    static thread_local std::vector<void*> gathered;
    gathered.clear();
    for (const Entry& child : folder->children) gathered.push_back(const_cast<Entry*>(&child));
    it->second.assign(gathered.begin(), gathered.end());
  }
  return it->second;
}

}  // namespace brevid
