#include "platform/large_block.h"

#include <sys/mman.h>

#include <new>
#include <utility>

namespace brevid {
namespace {

constexpr std::align_val_t kHugeAlignment{LargeBlock::kHugePage};

// Blocks from half a huge page up take whole huge pages.
bool Huge(size_t bytes) { return bytes >= LargeBlock::kHugePage / 2; }

size_t Rounded(size_t bytes) {
  return (bytes + LargeBlock::kHugePage - 1) / LargeBlock::kHugePage * LargeBlock::kHugePage;
}

}  // namespace

LargeBlock::LargeBlock(size_t bytes) : bytes_(bytes) {
  if (!Huge(bytes)) {
    data_ = static_cast<uint8_t*>(::operator new(bytes));
    return;
  }
  data_ = static_cast<uint8_t*>(::operator new(Rounded(bytes), kHugeAlignment));
  // Only advice: where the kernel keeps no huge pages the block is as any other.
  ::madvise(data_, Rounded(bytes), MADV_HUGEPAGE);
}

LargeBlock::~LargeBlock() { Free(); }

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), bytes_(other.bytes_) {}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
  if (this != &other) {
    Free();
    data_ = std::exchange(other.data_, nullptr);
    bytes_ = other.bytes_;
  }
  return *this;
}

void LargeBlock::Free() {
  if (!data_) return;
  if (Huge(bytes_))
    ::operator delete(data_, kHugeAlignment);
  else
    ::operator delete(data_);
  data_ = nullptr;
}

}  // namespace brevid
