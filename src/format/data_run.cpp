#include "format/data_run.h"

namespace brevid {

uint32_t LoadRunField(Bytes pairs, size_t at, size_t size) {
  uint32_t v = 0;
  for (size_t i = 0; i < size && i < 4; ++i)
    v |= static_cast<uint32_t>(Load8(pairs, at + i)) << (8 * i);
  return v;
}

uint32_t LoadRunDelta(Bytes pairs, size_t at, size_t size) {
  uint32_t v = LoadRunField(pairs, at, size);
  if (size > 0 && size < 4 && (Load8(pairs, at + size - 1) & 0x80) != 0) v |= ~0u << (8 * size);
  return v;
}

}  // namespace brevid
