// The MFT scan: an NTFS volume's tree built from every record of its MFT,
// records of deleted files included. Both expanding and format recovery of
// an NTFS volume run it.
#pragma once

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

// Locates the MFT (boot sector, or its backup in the volume's last sector),
// takes the deep scan's record runs when some lie inside the volume, else
// decodes $MFT's runs from record 0, or from $MFTMirr's copy when record 0
// gives none (extending a single run that stops short), and places every
// record by its parent. Returns 1 when it ran to the end or handed over to
// the deep-scan path; 0 when the disk cannot be opened, no MFT can be
// located or its runs read, or a stop was requested (what was placed stays).
int ScanMft(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
            const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
