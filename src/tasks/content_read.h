// One entry's recovered content, read exactly as a single save writes it:
// the save runs into a private scratch folder, the one file it wrote is
// handed back piece by piece, and the folder is removed. `brevid cat` and
// the file pane's preview both read content this way, so neither can show
// what a save would not write. Runs the save on the calling thread, with a
// busy flag of its own; the volume's trees must not change meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "device/disk_info.h"
#include "platform/progress.h"
#include "tasks/save_run.h"

namespace brevid {

struct ContentRead {
  bool ok = false;          // one file was written and read back
  bool notOneFile = false;  // the save wrote no file or several (a folder)
  std::string error;        // CP936, why the save was refused
  uint64_t size = 0;        // bytes the save wrote
  SaveStats stats;          // what the save reported (losses, a stop)
};

// Saves `item` of the volume `volumeName` on the disk `diskKey` (CP936) and
// calls `sink` with its bytes in order, up to `limit` bytes in all (the file
// is saved whole either way).
ContentRead ReadRecoveredContent(DiskList& disks, const std::string& diskKey,
                                 const std::string& volumeName, const SaveItem& item,
                                 uint64_t limit, ProgressRecord& progress,
                                 const std::function<void(std::span<const char>)>& sink);

}  // namespace brevid
