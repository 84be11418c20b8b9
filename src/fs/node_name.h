// A node's name (CP936) in 16 bytes, half a std::string: names of up to 15
// bytes, nearly all of them, sit in the node itself; longer ones take one
// allocation of their exact length. A million-entry tree holds a million of
// these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
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
  char operator[](size_t i) const { return data()[i]; }
  const char* begin() const { return data(); }
  const char* end() const { return data() + size(); }
  char front() const { return data()[0]; }
  char back() const { return data()[size() - 1]; }
  size_t find(std::string_view part, size_t from = 0) const { return view().find(part, from); }
  size_t find(char c, size_t from = 0) const { return view().find(c, from); }
  size_t rfind(char c, size_t from = std::string_view::npos) const { return view().rfind(c, from); }
  std::string substr(size_t from, size_t count = std::string_view::npos) const {
    return std::string(view().substr(from, count));
  }
  operator std::string_view() const { return view(); }  // NOLINT
  operator std::string() const { return str(); }        // NOLINT

  friend std::ostream& operator<<(std::ostream& out, const NodeName& name);
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
