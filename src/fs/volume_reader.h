// Reading a volume for the file-system readers: a Simple volume through one
// read-only handle on its disk, any other layout through its members.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

class VolumeReader {
 public:
  // Keeps references to both records; they must outlive the reader.
  VolumeReader(const DiskInfo& disk, const VolumeInfo& volume) : disk_(disk), volume_(volume) {}

  // Opens the disk read-only for a Simple volume; other layouts need no
  // handle. False when the disk cannot be opened.
  bool Open();

  // Reads `length` bytes at byte `position` (the disk offset for a Simple
  // volume, the offset inside the volume otherwise). The result always holds
  // `length` bytes: zeros where nothing could be read.
  std::vector<uint8_t> Read(uint64_t position, size_t length);

  // As Read, into `buffer` (cleared first); returns the bytes read.
  size_t ReadInto(uint64_t position, std::span<uint8_t> buffer);

  // Bytes the source can hold at most: the disk or image size for a Simple
  // volume, the members' total otherwise. Bounds what a reader allocates.
  uint64_t SourceBytes() const;

  const VolumeInfo& volume() const { return volume_; }

  // The open disk handle of a Simple volume (null for other layouts), for
  // readers that take one. Every read seeks, so sharing it is safe.
  SourceHandle* handle() { return volume_.layout == VolumeLayout::Simple ? &handle_ : nullptr; }

 private:
  const DiskInfo& disk_;
  const VolumeInfo& volume_;
  SourceHandle handle_;
};

}  // namespace brevid
