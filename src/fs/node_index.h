// A multimap for the tree's indexes that costs one array slot per entry: a
// million-entry volume made a balanced-tree node (and a copy of every name)
// per entry. Entries are appended; the first look-up after appending sorts
// them by key, keeping the order of entry among equal keys, so it answers as
// a multimap would.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/large_block.h"

namespace brevid {

template <class Key, class Value>
class NodeIndex {
 public:
  struct value_type {
    Key first;
    Value second;
  };
  using const_iterator = typename std::vector<value_type>::const_iterator;

  NodeIndex() = default;
  NodeIndex(const NodeIndex&) = delete;
  NodeIndex& operator=(const NodeIndex&) = delete;

  void emplace(Key key, Value value) { entries_.push_back({std::move(key), std::move(value)}); }

  // Room for `n` entries in all, so that entering them does not copy the
  // array (a million-entry index would hold it twice for a moment).
  void reserve(size_t n) { entries_.reserve(n); }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // The entries of `key`, in the order they were entered.
  std::pair<const_iterator, const_iterator> equal_range(const Key& key) const {
    Sort();
    auto lo = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const value_type& e, const Key& k) { return e.first < k; });
    auto hi = std::upper_bound(lo, entries_.end(), key,
                               [](const Key& k, const value_type& e) { return k < e.first; });
    return {lo, hi};
  }
  size_t count(const Key& key) const {
    auto [lo, hi] = equal_range(key);
    return static_cast<size_t>(hi - lo);
  }
  const_iterator begin() const {
    Sort();
    return entries_.begin();
  }
  const_iterator end() const { return entries_.end(); }

 private:
  // Sorts what was appended since the last look-up and merges it in. The
  // lock lets a save worker and the pane look up at once.
  void Sort() const {
    std::lock_guard<std::mutex> lock(sorting_);
    if (sorted_ == entries_.size()) return;
    auto byKey = [](const value_type& a, const value_type& b) { return a.first < b.first; };
    auto middle = entries_.begin() + static_cast<std::ptrdiff_t>(sorted_);
    std::stable_sort(middle, entries_.end(), byKey);
    std::inplace_merge(entries_.begin(), middle, entries_.end(), byKey);
    sorted_ = entries_.size();
  }

  mutable std::vector<value_type> entries_;
  mutable size_t sorted_ = 0;
  mutable std::mutex sorting_;
};

// Record number -> node, unique keys. An MFT numbers its records densely
// from 0, so numbers up to about twice the count entered take a slot of an
// array; a number far beyond (a damaged or hostile record) goes to a map,
// so it costs a map node and never an array of its size.
template <class Node>
class RecordIndex {
 public:
  RecordIndex() = default;
  RecordIndex(const RecordIndex&) = delete;
  RecordIndex& operator=(const RecordIndex&) = delete;

  Node* Find(uint32_t number) const {
    if (number < slots_.size()) return slots_[number];
    auto it = far_.find(number);
    return it == far_.end() ? nullptr : it->second;
  }
  // False (and nothing entered) when the number is taken.
  bool Emplace(uint32_t number, Node* node) {
    if (Find(number)) return false;
    if (number < slots_.size() || number < 2 * uint64_t{count_} + kFreeSlots) {
      // The array's own growth keeps this amortized; slots past the highest
      // number are only reserved, never written, so they cost no memory.
      if (number >= slots_.size()) slots_.resize(size_t{number} + 1);
      slots_[number] = node;
    } else {
      far_.emplace(number, node);
    }
    ++count_;
    return true;
  }
  size_t count(uint32_t number) const { return Find(number) ? 1 : 0; }
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

 private:
  static constexpr uint64_t kFreeSlots = 65536;
  std::vector<Node*> slots_;
  std::map<uint32_t, Node*> far_;
  size_t count_ = 0;
};

// Nodes kept in chunks that never move, so pointers to them stay valid while
// the store lives; no allocation of its own per node. Chunks grow to the
// size of a huge page (LargeBlock).
template <class Node>
class NodeStore {
 public:
  NodeStore() = default;
  NodeStore(const NodeStore&) = delete;
  NodeStore& operator=(const NodeStore&) = delete;
  ~NodeStore() {
    ForEachFrom(0, [](Node& node) { node.~Node(); });
  }

  Node* Add(Node node) {
    if (chunks_.empty() || used_ == chunkSize_) {
      chunkSize_ = ChunkSize(chunks_.size());
      chunks_.emplace_back(chunkSize_ * sizeof(Node));
      used_ = 0;
    }
    Node* slot = new (Slots(chunks_.back()) + used_) Node(std::move(node));
    ++used_;
    ++count_;
    return slot;
  }

  size_t size() const { return count_; }
  // Calls f(node) for the nodes from the `from`th on, in the order added.
  template <class F>
  void ForEachFrom(size_t from, F&& f) {
    size_t first = 0;
    for (size_t c = 0; c < chunks_.size(); ++c) {
      Node* chunk = Slots(chunks_[c]);
      size_t held = std::min(ChunkSize(c), count_ - first);
      for (size_t i = from > first ? from - first : 0; i < held; ++i) f(chunk[i]);
      first += held;
    }
  }

 private:
  static constexpr size_t kFirstChunk = 64;
  static constexpr size_t kLargestChunk = LargeBlock::kHugePage / sizeof(Node);
  static size_t ChunkSize(size_t chunk) {
    return chunk >= 20 ? kLargestChunk : std::min(kLargestChunk, kFirstChunk << chunk);
  }
  static Node* Slots(const LargeBlock& block) { return reinterpret_cast<Node*>(block.data()); }

  std::vector<LargeBlock> chunks_;
  size_t chunkSize_ = 0;
  size_t used_ = 0;
  size_t count_ = 0;
};

}  // namespace brevid
