// "扫描丢失分区" as the front ends run it: the search on a worker, and the
// message line its progress window shows.
#pragma once

#include <string>

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"
#include "scan/partition_search.h"
#include "tasks/task_contract.h"

namespace brevid {

// The worker body (task_contract.h): sets `busy`, searches `disk` in `mode`,
// clears `busy`, sends kProgressClose. Returns what the search returned.
int RunPartitionSearch(DiskInfo& disk, SearchMode mode, ProgressRecord& progress, BusyFlag& busy,
                       const SourceOpener& opener = FileSourceOpener());

// The progress window's message line for `found` volumes found so far
// (CP936): "正在扫描，请稍等..." for none, else "已经找到%d个分区,继续扫描,稍等...".
std::string SearchProgressText(int found);

}  // namespace brevid
