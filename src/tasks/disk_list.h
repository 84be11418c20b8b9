// The disk list as the front ends build it: the physical disks, and image
// files (or device nodes given by path) added one by one, each walked for
// its volumes.
#pragma once

#include <string>
#include <vector>

#include "device/disk_info.h"
#include "platform/source_opener.h"

namespace brevid {

// Appends every physical disk the system exposes, with its volumes and
// mount points. Returns how many opened.
int AddPhysicalDisks(DiskList& list);

// The device nodes of physical disks this process has no right to read.
std::vector<std::string> UnreadablePhysicalDisks();

// Appends the image file or device node at `ansiPath`, opened through
// `opener`, as a disk of 512-byte sectors with its volumes. False (nothing
// added; LastErrorText() says why for files) when it cannot be opened.
bool AddImageFile(DiskList& list, const std::string& ansiPath,
                  const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
