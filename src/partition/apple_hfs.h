// Apple partition maps and bare HFS-family volumes. Listed only; no reader
// expands them.
#pragma once

#include <cstdint>
#include <string>

#include "common/endian.h"
#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

// Appends the HFS-family volumes of the Apple partition map whose driver
// descriptor is `sector0`. Sets disk.sectorSize and disk.mapEntryCount.
void ReadApplePartitionMap(Bytes sector0, DiskInfo& disk, SourceHandle& handle);

// Appends at most one volume for an HFS or HFS+ header found at disk byte
// 1024 (`header`) of a disk without any map.
void ProbeBareHfs(Bytes header, DiskInfo& disk);

struct HfsHeaderKind {
  uint32_t hfsKind = 0;
  std::string label;
};
// Classifies the volume header at (start + 2) x 512.
HfsHeaderKind ProbeHfsHeader(SourceHandle& handle, uint64_t start);

}  // namespace brevid
