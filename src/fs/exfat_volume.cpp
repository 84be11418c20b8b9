#include "fs/exfat_volume.h"

namespace brevid {

void ExpandExfatVolume(DiskInfo&, VolumeInfo&, ProgressRecord&, const SourceOpener&) {}

}  // namespace brevid
