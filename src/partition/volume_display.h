// How the disk pane shows disks and volumes; shared by both front ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/disk_info.h"

namespace brevid {

// The "文件类型" text of a volume: "FAT16", "exFAT", "NTFS", "FAT32", the HFS
// or EXT text the record carries, or empty.
std::string FsTypeText(const VolumeInfo& volume);

// "%.1f" with " KB", " MB" or " GB", as the disk pane formats sizes.
std::string FormatPaneSize(uint64_t bytes);

// The item text of each volume of `disk`, in order: its drive name when it
// has one that no earlier sibling already shows, else its partition name.
std::vector<std::string> VolumeItemTexts(const DiskInfo& disk);

}  // namespace brevid
