// The CRC-32 of zlib, GPT headers and 7z archives (reflected polynomial
// 0xEDB88320, initial and final XOR 0xFFFFFFFF).
#pragma once

#include <cstdint>

#include "common/endian.h"

namespace brevid {

inline uint32_t Crc32(Bytes bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

}  // namespace brevid
