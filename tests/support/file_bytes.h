// Reading and patching test files byte for byte.
#pragma once

#include <cstdint>
#include <map>
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

// Little-endian fields of a byte string, read and written in place.
uint32_t Le16(std::string_view b, size_t at);
uint32_t Le32(std::string_view b, size_t at);
void Poke16(std::string& s, size_t at, uint32_t v);
void Poke32(std::string& s, size_t at, uint32_t v);

// Every regular file below `dir`, by its relative path, with its content;
// empty when `dir` is not a folder.
std::map<std::string, std::string> FilesUnder(const std::string& dir);

}  // namespace brevid::test
