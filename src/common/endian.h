// Fixed-width little- and big-endian loads over byte spans. Every multi-byte
// field the engine reads from a disk goes through these.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace brevid {

using Bytes = std::span<const uint8_t>;

// True when [offset, offset + size) lies inside `bytes`.
inline bool InBounds(Bytes bytes, size_t offset, size_t size) {
  return offset <= bytes.size() && size <= bytes.size() - offset;
}

// The loads return 0 when the field does not lie wholly inside `bytes`, so a
// short read behaves like the zero-filled buffer a failed read leaves behind.
inline uint8_t Load8(Bytes b, size_t at) { return at < b.size() ? b[at] : 0; }

inline uint16_t LoadLe16(Bytes b, size_t at) {
  if (!InBounds(b, at, 2)) return 0;
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

inline uint32_t LoadLe32(Bytes b, size_t at) {
  if (!InBounds(b, at, 4)) return 0;
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

inline uint64_t LoadLe64(Bytes b, size_t at) {
  if (!InBounds(b, at, 8)) return 0;
  return static_cast<uint64_t>(LoadLe32(b, at)) |
         (static_cast<uint64_t>(LoadLe32(b, at + 4)) << 32);
}

inline uint16_t LoadBe16(Bytes b, size_t at) {
  if (!InBounds(b, at, 2)) return 0;
  return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

inline uint32_t LoadBe32(Bytes b, size_t at) {
  if (!InBounds(b, at, 4)) return 0;
  return (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
         (static_cast<uint32_t>(b[at + 2]) << 8) | static_cast<uint32_t>(b[at + 3]);
}

inline uint64_t LoadBe64(Bytes b, size_t at) {
  if (!InBounds(b, at, 8)) return 0;
  return (static_cast<uint64_t>(LoadBe32(b, at)) << 32) | LoadBe32(b, at + 4);
}

// The sub-span [offset, offset + size), clipped to what `bytes` holds.
inline Bytes SubBytes(Bytes bytes, size_t offset, size_t size) {
  if (offset >= bytes.size()) return {};
  return bytes.subspan(offset, std::min(size, bytes.size() - offset));
}

// True when `bytes` holds exactly the characters of `text` at `offset`.
inline bool BytesEqual(Bytes bytes, size_t offset, std::string_view text) {
  if (!InBounds(bytes, offset, text.size())) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (bytes[offset + i] != static_cast<uint8_t>(text[i])) return false;
  return true;
}

}  // namespace brevid
