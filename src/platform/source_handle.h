// A read-only handle on a disk or image file with a 64-bit position, standing
// in for the design's read-only device handle. It has no way to write.
// A handle belongs to one thread at a time; every operation opens its own.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/byte_source.h"

namespace brevid {

class SourceHandle {
 public:
  SourceHandle() = default;
  explicit SourceHandle(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}

  // Opens `ansiPath` read-only; the result is closed (IsOpen() false) when it
  // cannot be opened.
  static SourceHandle Open(const std::string& ansiPath);

  bool IsOpen() const { return source_ != nullptr; }
  void Close() { source_.reset(); }

  // Moves the position to `offset` bytes from the start. Fails only on a
  // closed handle.
  bool Seek(uint64_t offset);
  uint64_t Position() const { return position_; }

  // Reads buffer.size() bytes at the position and advances it by what was
  // read. False on an I/O error or a closed handle; *got says how many bytes
  // were placed either way. At the end of the source: true with fewer bytes.
  bool Read(std::span<uint8_t> buffer, size_t* got);

  // Seek then Read; the common pattern of the walkers.
  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got);

  uint64_t Size() const { return source_ ? source_->Size() : 0; }

  void SetRetryByBlock(bool on) {
    if (source_) source_->SetRetryByBlock(on);
  }

 private:
  std::unique_ptr<ByteSource> source_;
  uint64_t position_ = 0;
};

// Reads `size` bytes at byte `offset`. The result always holds `size` bytes,
// zero where the source had nothing to give, so a failed read fails the
// checks made on it.
std::vector<uint8_t> ReadBytes(SourceHandle& handle, uint64_t offset, size_t size);

}  // namespace brevid
