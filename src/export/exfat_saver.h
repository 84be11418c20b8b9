// Saving exFAT files: live ones as one run of clusters or along the FAT,
// deleted ones as one run from their first cluster.
#pragma once

#include <string>

#include "export/save_request.h"
#include "fs/file_entry.h"

namespace brevid {

// Writes `entry` (an exFAT file node) to `path`: its valid data from the
// volume, then zeros up to its size, as the file system reads it. A deleted
// file that had a FAT chain, or whose clusters are in use again, is written
// all the same and listed as not sure to be whole. Runs on the save worker.
void CopyExfatFile(const SaveRequest& request, const FileEntry& entry, std::string path);

}  // namespace brevid
