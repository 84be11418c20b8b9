#include "fs/node_name.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>
#include <utility>

namespace brevid {

NodeName::NodeName(NodeName&& other) noexcept {
  std::memcpy(bytes_, other.bytes_, sizeof bytes_);
  other.Clear();
}

NodeName& NodeName::operator=(const NodeName& other) {
  if (this != &other) *this = other.view();
  return *this;
}

NodeName& NodeName::operator=(NodeName&& other) noexcept {
  if (this != &other) {
    Free();
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.Clear();
  }
  return *this;
}

NodeName& NodeName::operator=(std::string_view text) {
  // `text` may lie in this very name.
  NodeName made(text);
  return *this = std::move(made);
}

void NodeName::Set(std::string_view text) {
  if (text.size() <= kInline) {
    Clear();
    std::memcpy(bytes_, text.data(), text.size());
    bytes_[kInline] = static_cast<char>(kInline - text.size());
    return;
  }
  // Names come from 255 UTF-16 units at most; a longer text is cut at what
  // the length field holds rather than trusted.
  const size_t length = std::min<size_t>(text.size(), std::numeric_limits<uint32_t>::max() - 1);
  char* copy = new char[length + 1];
  std::memcpy(copy, text.data(), length);
  copy[length] = 0;
  heap_.text = copy;
  heap_.length = static_cast<uint32_t>(length);
  bytes_[kInline] = kHeapTag;
}

std::ostream& operator<<(std::ostream& out, const NodeName& name) { return out << name.view(); }

void NodeName::Free() {
  if (OnHeap()) delete[] heap_.text;
  Clear();
}

}  // namespace brevid
