// A multimap for the tree's indexes that costs one array slot per entry: a
// million-entry volume made a balanced-tree node (and a copy of every name)
// per entry. Entries are appended; the first look-up after appending sorts
// them by key, keeping the order of entry among equal keys, so it answers as
// a multimap would.
#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

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

}  // namespace brevid
