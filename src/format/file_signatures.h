// The start-cluster search's test: whether a cluster starts a file of a
// typed extension, by the carvers' own start tests and a few conditions on
// the entry's size. Pure tests over bytes.
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
