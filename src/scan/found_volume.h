// Recording a volume that a scan found on a disk.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/endian.h"
#include "device/disk_info.h"
#include "platform/source_handle.h"

namespace brevid {

// Appends the volume at `start` to the disk's list: named "Partition%d" by
// the list's length, stepped past a name the list already holds (so every
// volume stays reachable by its name), labelled through `labels` when given.
// Returns the record as it now stands in the list.
VolumeInfo& AppendFoundVolume(DiskInfo& disk, uint64_t start, uint64_t sectorCount, FsType type,
                              uint32_t origin, SourceHandle* labels, uint8_t entryKind = 1);

// A boot sector written by an NTFS or FAT32 of 4096-byte sectors: `as512`
// gets a copy whose bytes-per-sector field reads 512, so that the tests made
// for 512-byte sectors apply to it; its sector counts and positions are then
// in units of kLargeSectorScale 512-byte sectors. False for any other sector.
constexpr uint64_t kLargeSectorScale = 8;
bool LargeSectorBoot(Bytes s, std::array<uint8_t, 512>& as512);

// The start of the exFAT volume whose main or backup boot sector is `s`,
// found at `sector`: of the two places it can start, the one whose FAT
// begins with the media entry and the end mark. `readSector` reads one
// 512-byte sector. nullopt when neither place holds such a FAT.
std::optional<uint64_t> ExfatVolumeStart(
    uint64_t sector, Bytes s, const std::function<std::vector<uint8_t>(uint64_t)>& readSector);

}  // namespace brevid
