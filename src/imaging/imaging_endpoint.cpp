#include "imaging/imaging_endpoint.h"

#include "common/sector_range.h"

namespace brevid {

ImagingEndpoint ResolveImagingEndpoint(const DiskList& list, const std::string& text) {
  ImagingEndpoint endpoint;
  const size_t comma = text.find(',');
  const bool hasVolume = comma != std::string::npos && comma != 0;
  const std::string key = hasVolume ? text.substr(0, comma) : text;
  for (const DiskInfo& disk : list) {
    if (disk.Key() != key) continue;
    if (!hasVolume) {
      endpoint.devicePath = disk.path;
      endpoint.diskBytes = disk.sizeBytes;
      return endpoint;
    }
    // The rule is the first volume by mount point or name, not the pane's
    // item text, which skips a repeated mount point.
    const std::string volumeText = text.substr(comma + 1);
    for (const VolumeInfo& volume : disk.volumes) {
      if (volume.driveLetter != volumeText && volume.name != volumeText) continue;
      endpoint.devicePath = disk.path;
      endpoint.byteOffset = SectorToByte(volume.start);
      endpoint.volumeBytes = SectorToByte(volume.sectorCount);
      endpoint.isVolume = true;
      endpoint.volume = &volume;
      return endpoint;
    }
    return endpoint;
  }
  return endpoint;
}

uint64_t CountEndpointSectors(const DiskList& list, const std::string& text) {
  return ResolveImagingEndpoint(list, text).Length() / kSectorBytes;
}

}  // namespace brevid
