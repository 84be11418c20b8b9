// Expanding a FAT16 or FAT32 volume into its recovered file tree: geometry
// from the boot sector (or found again when it is gone), then one of three
// walks (normal, recorded folders, scanned volume).
#pragma once

#include "device/disk_info.h"
#include "fs/fat_directory.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

// Builds the volume's tree (in TreesOf(volume), which the caller released
// beforehand) from whatever is readable. Runs on one worker thread; reads the
// stop flag and reports progress through `progress`. Types 0x0B and 0x0C go
// to the FAT32 driver, 0x04, 0x06 and 0x0E to the FAT16 driver; anything
// else does nothing.
void ExpandFatVolume(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                     const SourceOpener& opener = FileSourceOpener());
void ExpandFat16(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                 const SourceOpener& opener = FileSourceOpener());
void ExpandFat32(DiskInfo& disk, VolumeInfo& volume, ProgressRecord& progress,
                 const SourceOpener& opener = FileSourceOpener());

// Geometry from the volume's boot sector or, when that is not valid and the
// volume has no FAT length yet, from a search for the FATs and for the first
// folder cluster. False when the search finds nothing. Writes the sector
// size, sectors per cluster and FAT length it found to `volume`.
bool FindFat16Geometry(VolumeReader& reader, VolumeInfo& volume, FatGeometry* geo);
bool FindFat32Geometry(VolumeReader& reader, VolumeInfo& volume, FatGeometry* geo);

}  // namespace brevid
