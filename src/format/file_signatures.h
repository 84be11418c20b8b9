// The signature table of the start-cluster search: which first bytes start
// a file of a typed extension. Pure tests over bytes.
#pragma once

#include <cstdint>
#include <string>

#include "common/endian.h"

namespace brevid {

// True when `cluster` starts a file of `extension` of `size` bytes by the
// signature table; the ticked-items variant tests only JPEG and compound
// documents.
bool MatchesSignature(Bytes cluster, const std::string& extension, uint32_t size,
                      bool multiVariant);

}  // namespace brevid
