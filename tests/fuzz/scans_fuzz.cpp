// The whole-disk scans over any image: lost-partition search (both modes)
// and the deep scan.
#include "fuzz_common.h"
#include "scan/deep_scan.h"
#include "scan/partition_search.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brevid;
  MemorySourceOpener opener;
  DiskInfo disk = fuzz::MemoryDisk(data, size, opener);
  ProgressRecord progress;
  SearchLostPartitions(disk, SearchMode::kQuick, progress, opener);
  SearchLostPartitions(disk, SearchMode::kPrecise, progress, opener);
  DeepScan(disk, progress, 0, size / 512, nullptr, opener);
  return 0;
}
