// The one gate every output passes before it is opened for writing: a file
// or device being read (a source in play) is never written, by any path
// that reaches its bytes.
//
// Two paths reach the same bytes when they are the same file (links
// resolved, same inode), the same block device or a partition of it, a loop
// device and the file behind it, or a file on a file system mounted from the
// source (found through /proc/self/mountinfo and the devices the kernel
// stacks under it in sysfs: partitions, slaves, loop backing files).
//
// Sources come into play in two ways: every file or device source holds a
// registration while it is open (byte_source.cpp), and an operation names
// its sources with a SourcesInPlay for as long as it runs, so that what it
// writes after its reads have ended (a result file, a bad-sector list) is
// guarded too. Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brevid {

class SourcesInPlay {
 public:
  // Paths in CP936; paths that do not exist are ignored.
  explicit SourcesInPlay(const std::vector<std::string>& ansiPaths);
  ~SourcesInPlay();
  SourcesInPlay(const SourcesInPlay&) = delete;
  SourcesInPlay& operator=(const SourcesInPlay&) = delete;

 private:
  std::vector<uint64_t> ids_;
};

// Empty when `ansiPath` (a file to create or write, a folder to write into,
// or a device) may be written; otherwise the refusal, naming the output and
// the source it would reach (CP936).
std::string OutputRefusal(const std::string& ansiPath);

// OutputRefusal(ansiPath) for a path already converted: `utf8Path` is
// ansiPath in UTF-8.
std::string OutputRefusalUtf8(const std::string& ansiPath, const std::string& utf8Path);

// As above, against `ansiSources` (and the sources in play).
std::string OutputRefusal(const std::string& ansiPath, const std::vector<std::string>& ansiSources);

// Grows whenever a source comes into play: an answer of the guard that let
// an output be written holds while it stays the same.
uint64_t SourceRegistrations();

// "目标与源重叠: 不能写入 OUTPUT, 它与正在读取的源 SOURCE ..." (CP936).
std::string OverlapRefusalText(const std::string& ansiOutput, const std::string& ansiSource);

}  // namespace brevid
