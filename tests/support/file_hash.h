// Content hashes to check that sources are unchanged.
#pragma once

#include <string>

namespace brevid::test {

// SHA-256 of a file's content, in hex, through sha256sum; empty on failure.
std::string Sha256OfFile(const std::string& path);

}  // namespace brevid::test
