// "深度扫描" as the front ends run it, on a disk or on one of its volumes.
#pragma once

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"
#include "scan/deep_scan.h"
#include "tasks/task_contract.h"

namespace brevid {

// The worker body (task_contract.h): sets `busy`, deep-scans the whole of
// `disk` or, when `volume` is given (a volume of `disk`), that volume's
// range, clears `busy` and sends kProgressClose. Returns what the scan
// returned (0: the source could not be opened).
int RunDeepScan(DiskInfo& disk, const VolumeInfo* volume, ProgressRecord& progress, BusyFlag& busy,
                const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
