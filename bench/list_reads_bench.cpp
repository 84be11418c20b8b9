// How much of an image the disk list reads: calls and bytes that reach the
// source during the partition walk, against the image's size (what a
// sequential `cat` of it would read). Usage: bench_list_reads [IMAGE...]
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "device/disk_enumeration.h"
#include "partition/partition_walk.h"
#include "platform/byte_source.h"

using namespace brevid;

int main(int argc, char** argv) {
  std::vector<std::string> images(argv + 1, argv + argc);
  if (images.empty())
    for (const char* name :
         {"mbr_ext.img", "gpt.img", "demo.img", "boot0_ntfs.img", "ext4_whole.img"})
      images.push_back(std::string(BREVID_FIXTURE_DIR) + "/" + name);

  std::printf("%-60s %8s %10s %12s %10s %9s\n", "image", "reads", "bytes", "image bytes", "share",
              "ms");
  for (const std::string& path : images) {
    auto source = OpenFileSource(path);
    if (!source) {
      std::printf("%-60s cannot open\n", path.c_str());
      continue;
    }
    uint64_t size = source->Size();
    ReadCounter counter;
    SourceHandle handle(MakeCountingSource(std::move(source), &counter));
    DiskInfo disk;
    disk.path = path;
    disk.sizeBytes = size;
    auto t0 = std::chrono::steady_clock::now();
    WalkPartitions(disk, handle, path);
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-60s %8llu %10llu %12llu %9.5f%% %9.3f\n", path.c_str(),
                static_cast<unsigned long long>(counter.calls),
                static_cast<unsigned long long>(counter.bytes),
                static_cast<unsigned long long>(size), size ? 100.0 * counter.bytes / size : 0.0,
                ms);
  }
  return 0;
}
