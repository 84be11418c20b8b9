// Memory for a large table that lives as long as a tree: 2 MiB aligned and
// offered to the kernel for 2 MiB pages, which it clears and maps several
// times faster than 4 KiB ones. A million-entry tree touches about 100 MB
// of fresh memory, and on some machines that first touch costs more than
// reading the volume.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brevid {

class LargeBlock {
 public:
  // A huge page: tables grow to blocks of about this size.
  static constexpr size_t kHugePage = size_t{2} << 20;

  // `bytes` of uninitialised memory (std::bad_alloc, as new, when there is none).
  explicit LargeBlock(size_t bytes);
  ~LargeBlock();
  LargeBlock(LargeBlock&& other) noexcept;
  LargeBlock& operator=(LargeBlock&& other) noexcept;
  LargeBlock(const LargeBlock&) = delete;
  LargeBlock& operator=(const LargeBlock&) = delete;

  uint8_t* data() const { return data_; }

 private:
  void Free();
  uint8_t* data_ = nullptr;
  size_t bytes_ = 0;
};

}  // namespace brevid
