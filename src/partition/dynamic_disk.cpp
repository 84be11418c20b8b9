#include "partition/dynamic_disk.h"

namespace brevid {

// The dynamic-disk database reader is not built yet: such a disk is not
// recognised and adds no volumes.
void ReadDynamicDisk(const std::string&, DiskInfo&, SourceHandle&) {}

}  // namespace brevid
