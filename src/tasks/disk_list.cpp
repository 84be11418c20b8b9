#include "tasks/disk_list.h"

#include "device/disk_enumeration.h"
#include "partition/partition_walk.h"

namespace brevid {

namespace {

PartitionWalker WalkerFor(DiskList& list) {
  return [&list](DiskInfo& disk, SourceHandle& handle, const std::string& path) {
    WalkPartitionsInList(list, disk, handle, path);
  };
}

}  // namespace

int AddPhysicalDisks(DiskList& list) { return EnumerateDisks(list, WalkerFor(list)); }

bool AddImageFile(DiskList& list, const std::string& ansiPath, const SourceOpener& opener) {
  return OpenImageFile(list, ansiPath, WalkerFor(list), opener);
}

std::vector<std::string> UnreadablePhysicalDisks() { return DisksWithoutReadAccess(); }

}  // namespace brevid
