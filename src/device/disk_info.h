// The list of disks, image files and dynamic-disk groups, and the record of
// each. The list and everything in it live for the whole run.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "device/volume_info.h"
#include "format/lvm_metadata.h"

namespace brevid {

// A file found by its signature, or (as the disk's extra-found-files record)
// the folder that holds all of them, keyed by start sector.
struct CarvedFile {
  uint8_t tickState = 0;
  uint32_t size = 0;
  std::string name;  // shown and saved under; a path ("DCIM/IMG_1.JPG") when a directory named it
  std::map<uint64_t, CarvedFile> children;
  // The name carving gave, when a directory entry's replaced it.
  std::string carvedName = std::string();
};

// Where a stopped precise search or deep scan goes on. One per disk: the
// scan stopped last sets it, and a scan of its kind that runs to the end
// clears it.
constexpr uint32_t kResumeNone = 0;
constexpr uint32_t kResumePreciseSearch = 2;
constexpr uint32_t kResumeDeepScan = 3;
struct ScanResume {
  uint32_t kind = kResumeNone;
  uint64_t rangeStart = 0;  // the range the scan covers, in sectors
  uint64_t rangeCount = 0;
  uint64_t nextSector = 0;  // absolute: the first sector it has not tested
  bool operator==(const ScanResume&) const = default;
};

struct DiskInfo {
  std::string serial;
  std::string path;    // device node or the image file's full path
  std::string number;  // disk number "%d"; empty for image files
  std::string product;
  std::string vendor;  // image files: the file name without its folders (the full
                       // path when another open image has that name)
  std::string revision;
  uint64_t sizeBytes = 0;
  uint32_t cylinders = 0;
  uint32_t heads = 0;
  uint32_t sectorsPerTrack = 0;
  uint32_t fixedMedia = 0;
  std::vector<VolumeInfo> volumes;  // in discovery order
  // Byte ranges [begin, end) of an image that its rescue map says were never
  // read from the failing disk: whatever the image holds there is not data.
  std::vector<std::pair<uint64_t, uint64_t>> unrescued;
  std::set<uint64_t> dirClusterSectors;        // recorded by the deep scan
  std::map<uint64_t, uint32_t> mftRecordRuns;  // start sector -> length, recorded by the deep scan
  CarvedFile extraFound;                       // carved files keyed by start sector
  // Sectors the last precise search or deep scan could not read (and read
  // around); not kept in result files.
  uint64_t unreadableSectors = 0;
  ScanResume resume;  // kept in result files
  uint32_t mapEntryCount = 0;
  uint32_t sectorSize = 512;
  uint32_t diskKind = 0;  // 2: pseudo-disk of a dynamic disk group
  std::string pvUuid;
  std::string vgId;
  std::vector<LvmLogicalVolume> logicalVolumes;
  // LVM2: the first sector of the physical extents. Dynamic disks: the
  // private header's logical disk start (a group pseudo-disk: that of the
  // disk whose database made it), where partition starts count from.
  uint64_t peStart = 0;
  uint32_t peCount = 0;
  uint32_t reserved1 = 0;
  uint32_t extentSize = 0;
  uint64_t devSize = 0;
  uint64_t reserved2 = 0;
  uint32_t reserved3 = 0;
  // LVM2, not kept by the scan-result file: every physical volume on this
  // disk by UUID with its first sector (0 for a whole disk, else its
  // partition's start) and whether its logical volumes are listed yet (a PV
  // without a metadata copy waits for a member that has one); and the
  // group's physical volumes as the metadata names them.
  struct LvmPvPlace {
    uint64_t start = 0;
    bool listed = false;
  };
  std::map<std::string, LvmPvPlace> lvmPvs;
  std::vector<LvmPhysicalVolume> lvmPvTable;

  // vendor + product + number + revision: the disk's item text and the key
  // every command finds it by.
  std::string Key() const { return vendor + product + number + revision; }
};

// Records never move once added: later stages keep pointers into them.
using DiskList = std::deque<DiskInfo>;

// The first disk whose key is `key`; nullptr when there is none.
inline DiskInfo* FindDisk(DiskList& list, const std::string& key) {
  for (DiskInfo& d : list)
    if (d.Key() == key) return &d;
  return nullptr;
}

}  // namespace brevid
