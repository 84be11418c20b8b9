// Reading and patching test files byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brevid::test {

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Up to `size` bytes at `offset`; fewer where the file ends.
std::string ReadAt(const std::string& path, uint64_t offset, size_t size);

// Overwrites bytes at `offset` in place; writes past the end extend the file.
// Fails the test when the file cannot be written.
void WriteAt(const std::string& path, uint64_t offset, std::string_view bytes);

// Replaces the file's content.
void WriteFile(const std::string& path, std::string_view bytes);

}  // namespace brevid::test
