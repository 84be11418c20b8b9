// One interface in front of every byte source the engine reads: files and
// block devices, memory, and a faulty source that fails chosen sectors.
// Sources only read; nothing here can write.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace brevid {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to buffer.size() bytes at `offset` into `buffer`. Returns false
  // on an I/O error; *got is what was placed in the buffer either way. Reading
  // at or past the end is not an error: it returns true with fewer bytes.
  virtual bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) = 0;
  // Size in bytes (files: their length; block devices: the device size).
  virtual uint64_t Size() const = 0;
  // Whether a failed read of many blocks is taken again block by block to
  // deliver the blocks before the bad one (the default). The rescue passes
  // turn it off: they trim failed areas themselves, after the healthy rest.
  virtual void SetRetryByBlock(bool /*on*/) {}
};

// Opens a file or block device read-only. `ansiPath` is in the ANSI code page;
// it is converted to the file system's UTF-8 here. nullptr when it cannot be
// opened; LastErrorText() then says why.
// `direct` reads regular files past the page cache too (block devices always
// are), so that one bad sector costs only itself, not its whole page.
std::unique_ptr<ByteSource> OpenFileSource(const std::string& ansiPath, bool direct = false);

// A source over bytes held in memory (tests, fuzzers).
std::unique_ptr<ByteSource> MakeMemorySource(std::vector<uint8_t> bytes);

// A source over bytes that several sources share (each open of a memory
// image); the bytes must not change while any of them lives.
std::unique_ptr<ByteSource> MakeSharedMemorySource(
    std::shared_ptr<const std::vector<uint8_t>> bytes);

// Wraps `inner`; any read that touches one of `badSectors` (512-byte units)
// fails after delivering the bytes before the first bad sector.
std::unique_ptr<ByteSource> MakeFaultySource(std::unique_ptr<ByteSource> inner,
                                             std::set<uint64_t> badSectors);

// Counts the calls and bytes that reach `inner` (benchmarks, tests).
struct ReadCounter {
  uint64_t calls = 0;
  uint64_t bytes = 0;
};
std::unique_ptr<ByteSource> MakeCountingSource(std::unique_ptr<ByteSource> inner,
                                               ReadCounter* counter);

// The system's text for the last failed file operation of this thread.
std::string LastErrorText();

}  // namespace brevid
