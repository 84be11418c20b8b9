// A node's name (CP936) in 16 bytes, half a std::string: names of up to 15
// bytes, nearly all of them, sit in the node itself; longer ones take one
// allocation of their exact length. A million-entry tree holds a million of
// these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brevid {

class NodeName {
 public:
  NodeName() { Clear(); }
  NodeName(std::string_view text) { Set(text); }  // NOLINT: names are assigned from strings
  NodeName(const std::string& text) : NodeName(std::string_view(text)) {}  // NOLINT
  NodeName(const char* text) : NodeName(std::string_view(text)) {}         // NOLINT
  NodeName(const NodeName& other) { Set(other.view()); }
  NodeName(NodeName&& other) noexcept;
  NodeName& operator=(const NodeName& other);
  NodeName& operator=(NodeName&& other) noexcept;
  NodeName& operator=(std::string_view text);
  NodeName& operator=(const std::string& text) { return *this = std::string_view(text); }
  NodeName& operator=(const char* text) { return *this = std::string_view(text); }
  ~NodeName() { Free(); }

  size_t size() const { return OnHeap() ? heap_.length : kInline - bytes_[kInline]; }
  size_t length() const { return size(); }
  bool empty() const { return size() == 0; }
  const char* data() const { return OnHeap() ? heap_.text : bytes_; }
  // Always followed by a zero byte.
  const char* c_str() const { return data(); }
  std::string_view view() const { return {data(), size()}; }
  std::string str() const { return std::string(data(), size()); }
  operator std::string_view() const { return view(); }  // NOLINT
  operator std::string() const { return str(); }        // NOLINT

  friend bool operator==(const NodeName& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(std::string_view a, const NodeName& b) { return a == b.view(); }
  friend bool operator!=(const NodeName& a, std::string_view b) { return a.view() != b; }
  friend bool operator!=(std::string_view a, const NodeName& b) { return a != b.view(); }
  friend bool operator<(const NodeName& a, std::string_view b) { return a.view() < b; }
  friend std::string operator+(const NodeName& a, std::string_view b) { return a.str().append(b); }
  friend std::string operator+(std::string_view a, const NodeName& b) {
    return std::string(a).append(b.view());
  }

 private:
  // bytes_[15]: 15 minus the length of an inline name (so a 15-byte name
  // ends in the zero it needs), or kHeapTag.
  static constexpr size_t kInline = 15;
  static constexpr char kHeapTag = static_cast<char>(0xFF);
  struct Heap {
    char* text;
    uint32_t length;
  };

  bool OnHeap() const { return bytes_[kInline] == kHeapTag; }
  void Clear() {
    for (char& c : bytes_) c = 0;
    bytes_[kInline] = static_cast<char>(kInline);
  }
  void Set(std::string_view text);
  void Free();

  union {
    char bytes_[kInline + 1];
    Heap heap_;
  };
};

static_assert(sizeof(NodeName) == 16);

}  // namespace brevid
