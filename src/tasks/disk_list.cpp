#include "tasks/disk_list.h"

#include "device/disk_enumeration.h"
#include "partition/partition_walk.h"

namespace brevid {

int AddPhysicalDisks(DiskList& list) { return EnumerateDisks(list, WalkPartitions); }

bool AddImageFile(DiskList& list, const std::string& ansiPath, const SourceOpener& opener) {
  return OpenImageFile(list, ansiPath, WalkPartitions, opener);
}

}  // namespace brevid
