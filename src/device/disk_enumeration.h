// Building the disk list: physical disks from sysfs, image files, and the
// mount points attached to their volumes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "device/disk_info.h"
#include "platform/source_handle.h"
#include "platform/source_opener.h"

namespace brevid {

// Runs the partition walk on a new disk record with its open handle and path.
// The device layer takes it as a parameter so that it stays below the
// partition layer.
using PartitionWalker =
    std::function<void(DiskInfo& disk, SourceHandle& handle, const std::string& path)>;

// Where the system describes its disks; tests point these at a made-up tree.
struct SystemRoots {
  std::string sysBlock = "/sys/block";
  std::string sysDevBlock = "/sys/dev/block";
  std::string dev = "/dev";
  std::string mountInfo = "/proc/self/mountinfo";
};

// Appends the physical disks (whole-disk block devices, kernel-name order,
// numbered from 0, at most 16) to `list` and attaches mount points. A disk
// that cannot be opened is skipped silently but keeps its number. Returns the
// number of disks added.
int EnumerateDisks(DiskList& list, const PartitionWalker& walk, const SystemRoots& roots = {});

// The device nodes of the disks EnumerateDisks would list that this process
// may not read (no permission), in kernel-name order: what the window tells
// a user who started it without the rights to see the disks.
std::vector<std::string> DisksWithoutReadAccess(const SystemRoots& roots = {});

// Adds one image file (or a device node given by path), opened through
// `opener`, as a disk of 512-byte sectors. False when it cannot be opened;
// nothing is added then.
bool OpenImageFile(DiskList& list, const std::string& ansiPath, const PartitionWalker& walk,
                   const SourceOpener& opener = FileSourceOpener());

// Gives each volume of the physical disks in `list` the mount point of the
// mounted file system that lies on the same disk at the same start sector.
void AttachDriveNames(DiskList& list, const SystemRoots& roots = {});

// True when the block device at `ansiPath` holds a mounted file system, or
// is a partition of, or a disk with a partition holding, one; or when another
// block device (LVM, RAID) is built on it. False for anything that is no
// block device. Writing there would corrupt what the system has in use.
bool HoldsMountedFileSystem(const std::string& ansiPath, const SystemRoots& roots = {});

// True when `name` (an entry of /sys/block) is a whole disk of a kind we list.
bool IsListedDiskName(const std::string& name);

// Kernel-name order: shorter names first, then by bytes ("sdz" before "sdaa").
bool KernelNameLess(const std::string& a, const std::string& b);

}  // namespace brevid
