#include "tasks/partition_search_task.h"

#include "common/text.h"
#include "platform/codepage.h"

namespace brevid {

int RunPartitionSearch(DiskInfo& disk, SearchMode mode, ProgressRecord& progress, BusyFlag& busy,
                       const SourceOpener& opener) {
  busy.store(1);
  int result = SearchLostPartitions(disk, mode, progress, opener);
  busy.store(0);
  progress.Send(kProgressClose);
  return result;
}

std::string SearchProgressText(int found) {
  if (found == 0) return Ansi("正在扫描，请稍等...");
  return Format(Ansi("已经找到%d个分区,继续扫描,稍等...").c_str(), found);
}

}  // namespace brevid
