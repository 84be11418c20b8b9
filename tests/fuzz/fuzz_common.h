// What the fuzz targets share: a disk record over the input held in memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "device/disk_info.h"
#include "platform/byte_source.h"
#include "platform/source_opener.h"

namespace brevid::fuzz {

inline constexpr const char* kPath = "fuzz-input";

// The input as a disk image at kPath: `opener` serves its bytes.
inline DiskInfo MemoryDisk(const uint8_t* data, size_t size, MemorySourceOpener& opener) {
  opener.Add(kPath, std::vector<uint8_t>(data, data + size));
  DiskInfo disk;
  disk.path = kPath;
  disk.vendor = kPath;
  disk.sizeBytes = size;
  disk.heads = 255;
  disk.sectorsPerTrack = 63;
  return disk;
}

// A disk of `size` bytes that holds zeros except for the pieces placed in it,
// so that structures far apart on a real disk come from one small input.
class SparseSource final : public ByteSource {
 public:
  explicit SparseSource(uint64_t size) : size_(size) {}

  void Place(uint64_t offset, const uint8_t* data, size_t size) {
    pieces_.push_back({offset, std::vector<uint8_t>(data, data + size)});
  }

  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) override {
    *got = offset >= size_ ? 0
                           : static_cast<size_t>(std::min<uint64_t>(buffer.size(), size_ - offset));
    std::fill_n(buffer.begin(), *got, uint8_t{0});
    for (const Piece& p : pieces_) {
      uint64_t from = std::max(offset, p.offset);
      uint64_t to = std::min<uint64_t>(
          offset + *got, p.offset + std::min<uint64_t>(p.bytes.size(), UINT64_MAX - p.offset));
      if (from < to)
        std::memcpy(buffer.data() + (from - offset), p.bytes.data() + (from - p.offset), to - from);
    }
    return true;
  }
  uint64_t Size() const override { return size_; }

 private:
  struct Piece {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  uint64_t size_;
  std::vector<Piece> pieces_;
};

}  // namespace brevid::fuzz
