// Saving NTFS entries: through the file's MFT record (resident, runs,
// compressed units) or, for the direct mode, as one extent.
#pragma once

#include "export/save_request.h"
#include "fs/file_entry.h"

namespace brevid {

// Saves `entry` (a file, or a folder with everything below it) into
// request.folder. Runs on the save worker; stops when the request says so.
void SaveNtfsEntry(const SaveRequest& request, const NtfsEntry& entry);

// Saves the carved files of `found` (the disk's extra-found-files record, or
// one carved file) that lie inside the volume, into request.folder + its name.
void SaveExtraFound(const SaveRequest& request, const CarvedFile& found, uint64_t startSector = 0);

}  // namespace brevid
