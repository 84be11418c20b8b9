// Running an expand worker from the command line: progress on the terminal,
// Ctrl-C as the stop button.
#pragma once

#include <functional>
#include <string>

#include "device/disk_info.h"
#include "platform/progress.h"
#include "tasks/expand_volume.h"

namespace brevid::cli {

// Expands `volume` into its tree on a worker thread and waits for it. False
// (with *error) when the volume's type has no reader.
// With `formatScan`, a FAT volume's directory sectors are collected first, so
// that the walk rebuilds folders from them.
// Runs `work` on a worker thread and waits for it; Ctrl-C meanwhile sets
// the stop flag of `progress` instead of ending the process.
void RunOnWorker(ProgressRecord& progress, const std::function<void()>& work);

// *outcome, when given, tells how the walk went.
bool ExpandOnWorker(DiskInfo& disk, VolumeInfo& volume, bool formatScan, std::string* error,
                    ExpandOutcome* outcome = nullptr);

}  // namespace brevid::cli
