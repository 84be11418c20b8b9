// The partition walk, probes and label readers over any disk image.
#include "fuzz_common.h"
#include "partition/partition_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  brevid::MemorySourceOpener opener;
  brevid::DiskInfo disk = brevid::fuzz::MemoryDisk(data, size, opener);
  brevid::SourceHandle handle = opener.Open(brevid::fuzz::kPath);
  brevid::WalkPartitions(disk, handle, disk.path);
  return 0;
}
