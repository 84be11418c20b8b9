#include "platform/source_opener.h"

#include <cerrno>

namespace brevid {
namespace {

class FileOpener final : public SourceOpener {
 public:
  SourceHandle Open(const std::string& ansiPath) const override {
    return SourceHandle::Open(ansiPath);
  }
};

class DirectFileOpener final : public SourceOpener {
 public:
  SourceHandle Open(const std::string& ansiPath) const override {
    return SourceHandle(OpenFileSource(ansiPath, true));
  }
};

}  // namespace

const SourceOpener& FileSourceOpener() {
  static const FileOpener opener;
  return opener;
}

const SourceOpener& DirectFileSourceOpener() {
  static const DirectFileOpener opener;
  return opener;
}

void MemorySourceOpener::Add(const std::string& ansiPath, std::vector<uint8_t> bytes,
                             std::set<uint64_t> badSectors) {
  sources_[ansiPath] = {std::make_shared<const std::vector<uint8_t>>(std::move(bytes)),
                        std::move(badSectors)};
}

SourceHandle MemorySourceOpener::Open(const std::string& ansiPath) const {
  auto it = sources_.find(ansiPath);
  if (it == sources_.end()) {
    errno = ENOENT;
    return SourceHandle();
  }
  std::unique_ptr<ByteSource> source = MakeSharedMemorySource(it->second.bytes);
  if (!it->second.badSectors.empty())
    source = MakeFaultySource(std::move(source), it->second.badSectors);
  return SourceHandle(std::move(source));
}

}  // namespace brevid
