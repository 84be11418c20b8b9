#include "platform/source_handle.h"

namespace brevid {

SourceHandle SourceHandle::Open(const std::string& ansiPath) {
  return SourceHandle(OpenFileSource(ansiPath));
}

bool SourceHandle::Seek(uint64_t offset) {
  if (!source_) return false;
  position_ = offset;
  return true;
}

bool SourceHandle::Read(std::span<uint8_t> buffer, size_t* got) {
  *got = 0;
  if (!source_) return false;
  bool ok = source_->ReadAt(position_, buffer, got);
  position_ += *got;
  return ok;
}

bool SourceHandle::ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) {
  *got = 0;
  return Seek(offset) && Read(buffer, got);
}

std::vector<uint8_t> ReadBytes(SourceHandle& handle, uint64_t offset, size_t size) {
  std::vector<uint8_t> bytes(size, 0);
  size_t got = 0;
  handle.ReadAt(offset, bytes, &got);
  return bytes;
}

}  // namespace brevid
