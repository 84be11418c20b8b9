// LZNT1 decompression of any stream into a compression unit.
#include <vector>

#include "format/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(brevid::kLznt1UnitBytes);
  brevid::DecompressLznt1(std::span<const uint8_t>(data, size), out);
  return 0;
}
