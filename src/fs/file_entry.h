// The nodes of the recovered file tree: FileEntry for FAT volumes, NtfsEntry
// for NTFS volumes. Both carry a kind and a tick state in one byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "format/entry_kind.h"
#include "fs/node_name.h"

namespace brevid {

enum TickState : uint8_t { kTickClear = 0, kTicked = 1, kTickPartly = 2 };

// The status word the file pane shows for a kind, in CP936; empty for 0.
const std::string& KindStatusText(uint8_t kind);

// The children of a node, linked through the nodes themselves: the list
// holds its last child, each child the next one, and the last child the
// first. A million-entry volume costs a pointer a node, not a list node.
template <class Node>
class LinkedChildren {
 public:
  template <class Held>
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Node;
    using difference_type = std::ptrdiff_t;
    using pointer = Held*;
    using reference = Held&;
    Iterator() = default;
    Iterator(Held* at, Held* last) : at_(at), last_(last) {}
    Held& operator*() const { return *at_; }
    Held* operator->() const { return at_; }
    Iterator& operator++() {
      at_ = at_ == last_ ? nullptr : at_->nextSibling;
      return *this;
    }
    Iterator operator++(int) {
      Iterator was = *this;
      ++*this;
      return was;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }
    bool operator!=(const Iterator& other) const { return at_ != other.at_; }

   private:
    Held* at_ = nullptr;
    Held* last_ = nullptr;
  };

  bool empty() const { return last_ == nullptr; }
  size_t size() const {
    size_t n = 0;
    for (auto it = begin(); it != end(); ++it) ++n;
    return n;
  }
  Node& front() const { return *last_->nextSibling; }
  Node& back() const { return *last_; }
  Iterator<Node> begin() { return last_ ? Iterator<Node>(last_->nextSibling, last_) : end(); }
  Iterator<Node> end() { return {}; }
  Iterator<const Node> begin() const {
    return last_ ? Iterator<const Node>(last_->nextSibling, last_) : end();
  }
  Iterator<const Node> end() const { return {}; }

  // Links a node that is in no list.
  void PushFront(Node* node) {
    if (!last_) {
      node->nextSibling = node;
      last_ = node;
      return;
    }
    node->nextSibling = last_->nextSibling;
    last_->nextSibling = node;
  }
  void PushBack(Node* node) {
    PushFront(node);
    last_ = node;
  }
  // Forgets every child; the children keep their own links.
  void Clear() { last_ = nullptr; }

 private:
  Node* last_ = nullptr;
};

struct FileEntry;
struct NtfsEntry;
using FatChildren = LinkedChildren<FileEntry>;
using NtfsChildren = LinkedChildren<NtfsEntry>;

// A FAT or exFAT node. Nodes live in the volume's node store (or are its
// pseudo folders) and never move, so pointers to them (the indexes,
// `parent`) stay valid while the tree lives.
struct FileEntry {
  uint8_t kindTick = 0;     // kind in bits 0-3, tick state in bits 4-5, kFatLookedUpAsDeleted
  uint8_t exfat = 0;        // kExfat* bits; 0 on FAT16 and FAT32
  uint16_t createTime = 0;  // FAT time as stored: hour 15-11, minute 10-5, seconds/2 4-0
  uint16_t createDate = 0;  // FAT date as stored: years since 1980 15-9, month 8-5, day 4-0
  uint16_t writeTime = 0;
  uint16_t writeDate = 0;
  uint32_t size = 0;
  uint32_t firstCluster = 0;
  uint32_t sizeHigh = 0;  // exFAT: bits 32-63 of the data length
  NodeName name;          // CP936
  FileEntry* parent = nullptr;
  FatChildren children;
  FileEntry* nextSibling = nullptr;  // in the parent's children

  uint8_t Kind() const { return kindTick & 0x0F; }
  void SetKind(uint8_t kind) { kindTick = static_cast<uint8_t>((kindTick & 0xF0) | (kind & 0x0F)); }
  uint8_t Tick() const { return (kindTick >> 4) & 0x03; }
  void SetTick(uint8_t tick) {
    kindTick = static_cast<uint8_t>((kindTick & 0xCF) | ((tick & 0x03) << 4));
  }
  bool IsFolder() const { return IsFolderKind(Kind()); }
  bool IsFile() const { return IsFileKind(Kind()); }
  // The file's length: `size`, with `sizeHigh` above it.
  uint64_t Length() const { return (uint64_t{sizeHigh} << 32) | size; }
};

// FileEntry::kindTick bit of a node found by first cluster among the deleted
// ones, whatever its kind (a numbered folder under "零散目录").
constexpr uint8_t kFatLookedUpAsDeleted = 0x40;

// FileEntry::exfat bits. The odd-second bits carry what the FAT time's
// two-second steps cannot: exFAT keeps 10 ms steps.
constexpr uint8_t kExfatNode = 0x01;
constexpr uint8_t kExfatContiguous = 0x02;  // one run of clusters, no FAT chain
constexpr uint8_t kExfatNotSureWhole =
    0x04;  // read as one run though it had a chain, or overwritten
constexpr uint8_t kExfatCreateOddSecond = 0x08;
constexpr uint8_t kExfatWriteOddSecond = 0x10;

// An NTFS node. Nodes live in the volume's node store (or are its pseudo
// folders) and never move; `parent` and the sibling link are set when a
// node is hung in the tree.
struct NtfsEntry {
  uint64_t size = 0;
  uint64_t createTime = 0;  // 100 ns units since 1601-01-01 UTC
  uint64_t modifyTime = 0;
  uint64_t accessTime = 0;
  NodeName name;  // CP936
  NtfsEntry* parent = nullptr;
  NtfsChildren children;
  NtfsEntry* nextSibling = nullptr;  // in the parent's children
  // MFT record numbers are 32 bits wide; four bytes less a node is 8 MB on
  // a million-entry volume.
  uint32_t recordNumber = 0;
  uint32_t parentNumber = 0;
  // Sequence numbers of the record and of the parent reference: a parent
  // record reused since carries another. 0 when not known.
  uint16_t sequence = 0;
  uint16_t parentSequence = 0;
  uint8_t kindTick = 0;  // kind in bits 0-3, tick state in bits 4-7

  uint8_t Kind() const { return kindTick & 0x0F; }
  void SetKind(uint8_t kind) { kindTick = static_cast<uint8_t>((kindTick & 0xF0) | (kind & 0x0F)); }
  uint8_t Tick() const { return kindTick >> 4; }
  void SetTick(uint8_t tick) { kindTick = static_cast<uint8_t>((kindTick & 0x0F) | (tick << 4)); }
  bool IsFolder() const { return IsFolderKind(Kind()); }
  bool IsFile() const { return IsFileKind(Kind()); }
  uint64_t Length() const { return size; }
};

static_assert(sizeof(NtfsEntry) <= 88);

// "%d-%02d-%02d %02d:%02d:%02d" of a FAT date and time as stored.
std::string FatTimeText(uint16_t date, uint16_t time);

// A FAT node's creation and modification time texts (FatTimeText, with the
// odd second an exFAT node may carry).
std::string CreatedText(const FileEntry& entry);
std::string ModifiedText(const FileEntry& entry);

// The same format for an NTFS time, shown in the fixed zone UTC+8.
std::string NtfsTimeText(uint64_t ntfsTime);

// The same texts assigned into `out`, whose storage is kept: a listing of a
// million rows would otherwise allocate three texts a row.
void AssignCreatedText(const FileEntry& entry, std::string* out);
void AssignModifiedText(const FileEntry& entry, std::string* out);
void AssignNtfsTimeText(uint64_t ntfsTime, std::string* out);

}  // namespace brevid
