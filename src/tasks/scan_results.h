// "保存扫描结果" and "打开扫描结果" as the disk pane starts them, and the
// CLI's `--results FILE` and `results show`. Texts are CP936, paths ANSI.
// The front end owns the busy flag, the dialogs and the worker thread; the
// tasks keep the contract of task_contract.h.
#pragma once

#include <string>

#include "device/disk_info.h"
#include "platform/progress.h"
#include "results/scan_result_file.h"
#include "tasks/task_contract.h"

namespace brevid {

// A text for the disk pane's status line: red for warnings and errors,
// green otherwise.
struct PaneStatus {
  std::string text;
  bool red = false;
};

// The checks before the save-file dialog of "保存扫描结果", on the
// user-interface thread: the disk whose key is `selectedItem` (empty when
// nothing is selected), or nullptr with *refusal set.
DiskInfo* PrepareScanResultsWrite(DiskList& disks, const std::string& selectedItem,
                                  PaneStatus* refusal);

// The same for "打开扫描结果". With no such disk nothing is read and the
// refusal is the green end text.
DiskInfo* PrepareScanResultsRead(DiskList& disks, const std::string& selectedItem,
                                 PaneStatus* refusal);

// The texts for a cancelled save-file or open-file dialog.
PaneStatus ScanResultsWriteCancelled();
PaneStatus ScanResultsReadCancelled();

// The writer's worker body: sets `busy`, writes the file (an earlier file
// stays intact when that fails), clears `busy`, sends kProgressClose.
PaneStatus RunWriteScanResults(const DiskInfo& disk, const std::string& ansiPath,
                               ProgressRecord& progress, BusyFlag& busy);

struct ScanResultsReadOutcome {
  ScanResultRead read = ScanResultRead::kCannotOpen;
  PaneStatus status;
};

// The reader's worker body: as RunWriteScanResults, reading the file into
// `disk` (see ReadScanResultFile). The disk's volume list is replaced, so
// pointers into it are no longer valid after kRead.
ScanResultsReadOutcome RunReadScanResults(DiskInfo& disk, const std::string& ansiPath,
                                          ProgressRecord& progress, BusyFlag& busy);

// `--results FILE` over a list of disks, as a plain operation: reads the
// file into the first disk of `disks` whose key it carries; kWrongDisk
// (every disk untouched) when none has it.
ScanResultsReadOutcome LoadResultsInto(DiskList& disks, const std::string& ansiPath);

// `results show`: reads any result file into `*disk`, which should be
// blank; its vendor is set to the file's first line so that its Key() is
// that line. False when the file cannot be opened.
bool LoadScanResultsForShow(const std::string& ansiPath, DiskInfo* disk);

}  // namespace brevid
