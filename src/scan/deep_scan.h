// The deep scan: one sequential pass over a disk, or over one volume's
// range, that collects what can later become recovered files without an
// intact file system pointing to it: lost and rebuilt volumes (appended to
// the disk's volume list), runs of MFT records, FAT directory sectors, and
// files carved by their signatures ("Extra Found Files"). It only ever adds
// to the disk's findings; a second scan adds no duplicates.
//
// Runs on one worker thread; nothing else may touch the disk record while
// it runs. Never writes to the source.
#pragma once

#include <cstdint>

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

// Scans `count` sectors from absolute sector `start` of `disk`, reading
// through `volume` when given (a volume of the disk, so that multi-member
// volumes are read through their members), else the disk itself. Progress:
// a range of the 10 MiB blocks, then each block's position. Returns 1 when it
// ran to the end or was stopped (what was found stays), 0 when the source
// cannot be opened (nothing changed).
int DeepScan(DiskInfo& disk, ProgressRecord& progress, uint64_t start, uint64_t count,
             const VolumeInfo* volume = nullptr, const SourceOpener& opener = FileSourceOpener());

// What a deep scan found, for reports.
struct DeepScanCounts {
  size_t volumes = 0;
  size_t mftRuns = 0;
  size_t directorySectors = 0;
  size_t carvedFiles = 0;
};
DeepScanCounts CountFindings(const DiskInfo& disk);

}  // namespace brevid
