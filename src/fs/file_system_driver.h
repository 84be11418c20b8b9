// The file systems Brevid expands and saves from: the boot-sector entry of
// format/file_system_kind.h with the expand that builds the tree and the kind
// of nodes the tree holds (which the savers and the panes follow).
#pragma once

#include "device/disk_info.h"
#include "format/file_system_kind.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

// The nodes a volume's tree is made of: FileEntry under fatRoot (FAT16,
// FAT32, exFAT) or NtfsEntry under ntfsRoot.
enum class TreeNodes { kFat, kNtfs };

struct FileSystemDriver {
  const FileSystemKind* kind;
  TreeNodes nodes;
  // Builds the volume's tree (in TreesOf(volume), released beforehand) from
  // whatever is readable; runs on the worker, polls the stop flag. False when
  // no structure to walk was found (the tree may then hold nothing).
  bool (*expand)(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                 const SourceOpener& opener);
};

// The driver for the volume's type code, or nullptr: the volume is listed,
// not expanded.
const FileSystemDriver* DriverFor(FsType type);

}  // namespace brevid
