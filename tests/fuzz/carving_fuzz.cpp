// The ten carving walks over any bytes taken as a file's start and body.
#include <algorithm>
#include <cstring>

#include "format/carving.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto read = [&](uint64_t offset, std::span<uint8_t> buffer) -> size_t {
    std::fill(buffer.begin(), buffer.end(), 0);
    if (offset >= size) return 0;
    size_t n = std::min<uint64_t>(buffer.size(), size - offset);
    std::memcpy(buffer.data(), data + offset, n);
    return n;
  };
  brevid::CarveFile(brevid::Bytes(data, std::min<size_t>(size, 1024)), 1, read);
  return 0;
}
