// An Apple partition map and the HFS headers of its entries, and a bare HFS
// or HFS+ header, over any disk image.
#include "fuzz_common.h"
#include "partition/apple_hfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brevid;
  MemorySourceOpener opener;
  DiskInfo disk = fuzz::MemoryDisk(data, size, opener);
  SourceHandle handle = opener.Open(fuzz::kPath);
  Bytes input(data, size);
  ReadApplePartitionMap(SubBytes(input, 0, 512), disk, handle);
  DiskInfo bare = disk;
  bare.volumes.clear();
  ProbeBareHfs(SubBytes(input, 1024, 1024), bare);
  return 0;
}
