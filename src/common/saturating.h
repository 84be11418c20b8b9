// Saturating arithmetic for sizes and sector numbers read from a disk: a
// hostile value saturates at the largest number instead of wrapping.
#pragma once

#include <cstdint>
#include <limits>

namespace brevid {

constexpr uint64_t AddSat(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}

constexpr uint64_t MulSat(uint64_t a, uint64_t b) {
  return a != 0 && b > std::numeric_limits<uint64_t>::max() / a
             ? std::numeric_limits<uint64_t>::max()
             : a * b;
}

}  // namespace brevid
