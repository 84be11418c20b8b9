// Where the engine gets its read-only handles: one opener is handed to
// every operation that opens a disk, an image file or a volume's members.
// The default opens files and devices; tests and fuzzers hand in memory and
// faulty sources under made-up paths. Openers are shared between threads:
// Open may be called from any thread at any time, and must stay valid for
// as long as the operation it was handed to runs.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/source_handle.h"

namespace brevid {

class SourceOpener {
 public:
  virtual ~SourceOpener() = default;
  // A new read-only handle on `ansiPath`, positioned at 0; closed (IsOpen()
  // false) when there is no such source.
  virtual SourceHandle Open(const std::string& ansiPath) const = 0;
};

// Files and block devices, through OpenFileSource.
const SourceOpener& FileSourceOpener();
// The same, regular files read past the page cache as well.
const SourceOpener& DirectFileSourceOpener();

// Sources held in memory, found by the path they were added under; a path
// not added is not there. Every Open reads the same bytes; reads that touch
// a sector added as bad fail the way MakeFaultySource says. Add every source
// before handing the opener out.
class MemorySourceOpener final : public SourceOpener {
 public:
  void Add(const std::string& ansiPath, std::vector<uint8_t> bytes,
           std::set<uint64_t> badSectors = {});
  SourceHandle Open(const std::string& ansiPath) const override;

 private:
  struct Held {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    std::set<uint64_t> badSectors;
  };
  std::map<std::string, Held> sources_;
};

}  // namespace brevid
