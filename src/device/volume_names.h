// How disks and volumes are named: the pane's type text, each volume's item
// text, and the one look-up of a volume by the text an operator gave.
#pragma once

#include <string>
#include <vector>

#include "device/disk_info.h"

namespace brevid {

// The "文件类型" text of a volume: "FAT16", "exFAT", "NTFS", "FAT32", the HFS
// or EXT text the record carries, or empty.
std::string FsTypeText(const VolumeInfo& volume);

// The item text of each volume of `disk`, in order: its drive name when it
// has one that no earlier sibling already shows, else its partition name.
std::vector<std::string> VolumeItemTexts(const DiskInfo& disk);

// The volume whose item text is `name` (CP936), else the first whose
// partition name is; nullptr when none is. The pointer lives as long as the
// disk's volume list is not changed.
VolumeInfo* FindVolume(DiskInfo& disk, const std::string& name);

}  // namespace brevid
