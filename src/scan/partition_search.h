// The lost-partition search: reads a whole disk or image (never writing to
// it) for NTFS, FAT32 and FAT16 volumes that no partition table describes
// any more, and appends each one it finds to the disk's volume list, where it
// can be expanded, scanned and saved like any other volume.
//
// Runs on one worker thread; the volume list grows while it runs, so other
// threads may look at it only while the worker waits in a progress Send.
#pragma once

#include <cstdint>
#include <string>

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

enum class SearchMode : uint32_t {
  kQuick = 0,    // probes where a partition would start, cylinder by cylinder
  kPrecise = 2,  // tests every sector of the disk
};

// Runs the three pre-passes (forward chain, backward chain, MFT-location
// probe), then the quick or the precise scan, recording every find on
// `disk` (volumes appended with origin kOriginBootSearch, or kOriginRebuilt
// for the MFT-location probe; duplicates of a volume already listed at the
// same start are dropped). Writes disk.cylinders. Progress: the quick scan
// sends a range of the cylinder count and a step per cylinder, the precise
// scan a range of its 10 MiB chunks and their positions. Returns 1 when it
// ran to the end or a quick scan was stopped, 0 when the disk cannot be
// opened or a precise scan was stopped; the finds made stay either way.
int SearchLostPartitions(DiskInfo& disk, SearchMode mode, ProgressRecord& progress,
                         const SourceOpener& opener = FileSourceOpener());

// Volumes of `disk` that a search or scan added (origin not 0).
int CountFoundVolumes(const DiskInfo& disk);

// A volume a scan added that shares sectors with one the partition map lists:
// a trace of a listed volume, or an older volume under it, not a lost one.
bool OverlapsListedVolume(const DiskInfo& disk, const VolumeInfo& v);

}  // namespace brevid
