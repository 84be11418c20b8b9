// The Sleuth Kit's mmls as an oracle for partition starts and lengths.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brevid::test {

struct MmlsPartition {
  uint64_t start = 0;
  uint64_t length = 0;
  std::string description;
};

// The allocated partitions mmls lists for `image` (no table entries, no
// unallocated space, no extended containers). Empty when mmls finds no table.
std::vector<MmlsPartition> MmlsPartitions(const std::string& image);

}  // namespace brevid::test
