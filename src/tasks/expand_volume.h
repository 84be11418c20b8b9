// Expanding a volume into its recovered file tree, and format recovery:
// what tiles 0 ("文件删除恢复") and 1 ("格式化恢复") run for a volume.
#pragma once

#include "device/disk_info.h"
#include "platform/progress.h"
#include "platform/source_opener.h"
#include "tasks/task_contract.h"

namespace brevid {

enum class ExpandMode {
  kExpand,      // the volume's own structures, deleted entries included
  kFormatScan,  // FAT: collect directory sectors first; NTFS: as kExpand
};

enum class ExpandOutcome {
  kDone,
  kStopped,           // a stop was requested; what was found stays
  kUnsupportedType,   // no driver for the type code: nothing was done
  kSourceUnreadable,  // the disk or image could not be opened
  kMftUnreadable,     // NTFS: neither $MFT's record 0 nor its mirror gave its runs
  kNoFileSystem,      // FAT, exFAT: neither a boot sector nor tables to walk were found
};

// True when a volume of this type code has a file-system driver to expand it.
bool IsExpandable(FsType type);

// Releases the volume's old tree and builds a new one with the reader its
// type code chooses: 0x0B, 0x0C FAT32; 0x04, 0x06, 0x0E FAT16; 0x05 exFAT;
// 0x07, 0x0D NTFS (record by record, for expand and format recovery alike). After any
// outcome but kUnsupportedType the volume has a tree, with at least its
// pseudo folders. A plain operation (see task_contract.h).
ExpandOutcome ExpandVolume(DiskInfo& disk, VolumeInfo& volume, ExpandMode mode,
                           ProgressRecord& progress,
                           const SourceOpener& opener = FileSourceOpener());

// The worker body of the expand and format-scan commands: sets `busy`,
// runs ExpandVolume, clears `busy` and sends kProgressClose.
ExpandOutcome RunExpand(DiskInfo& disk, VolumeInfo& volume, ExpandMode mode,
                        ProgressRecord& progress, BusyFlag& busy,
                        const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
