// The scan-result file (".qel_scn"): one disk's volumes, deep-scan findings,
// volume-manager fields and LVM2 logical volumes as CP936 text, one value a
// line, each line ending in CR LF. Paths are ANSI (CP936).
//
// The functions touch only the records they are given and the named file;
// they may run on any thread as long as no other thread uses that disk.
// Sources are never written: the reader opens its file read-only.
#pragma once

#include <cstddef>
#include <string>

#include "device/disk_info.h"
#include "platform/byte_source.h"

namespace brevid {

// Markers that open the blocks after the fixed head of the file.
inline constexpr char kPartitionMarker[] = "-----partition-----";
inline constexpr char kLogicalVolumesMarker[] = "-----Logical_Volumes-----";
inline constexpr char kSegmentMarker[] = "-----Segment-----";
// Where a stopped scan goes on (kind, range start, range count, next
// sector), written before the first volume, where readers that do not know
// it skip it as an unknown line.
inline constexpr char kResumeMarker[] = "-----Resume-----";
// The geometry a scan found for its volumes (FAT length, MFT sector, index
// record size), which the volume block has no line for: a count, then one
// "volume index,fatSectors,mftStart,indexRecordClusters" line each; written
// before the first volume, for the same reason.
inline constexpr char kVolumeGeometryMarker[] = "-----VolumeGeometry-----";

// A longer line is cut to this many bytes when read; the rest of it is
// skipped, so a hostile file cannot make one line take all memory.
inline constexpr size_t kMaxScanResultLine = size_t{1} << 20;

// The file's bytes for `disk`, as the writer writes them.
std::string FormatScanResults(const DiskInfo& disk);

// Writes FormatScanResults(disk) to a temporary file in the target's folder
// and renames it over `ansiPath`. False on any failure; then nothing is left
// behind and an earlier file at `ansiPath` is as it was.
bool WriteScanResultFile(const DiskInfo& disk, const std::string& ansiPath);

enum class ScanResultRead {
  kRead,        // read (up to where the file ended)
  kWrongDisk,   // the first line is not the disk's key; the disk is untouched
  kCannotOpen,  // the file could not be opened for reading; the disk is untouched
};

// Reads the file into `disk` when its first line equals disk.Key(): the
// volume and logical-volume lists and the resume position are replaced, the directory-cluster
// sectors, MFT-record runs and carved files are merged (an entry already
// present keeps its value). Unknown lines are skipped; a number line that
// is no number reads as 0; a file that ends early keeps what was read.
ScanResultRead ReadScanResultFile(DiskInfo& disk, const std::string& ansiPath);

// As ReadScanResultFile without the key check: reads any result file into
// `disk` (a blank one, typically) and sets *fileKey to its first line (empty
// for an empty file). Returns kRead or kCannotOpen.
ScanResultRead ReadScanResultFileAnyDisk(DiskInfo& disk, const std::string& ansiPath,
                                         std::string* fileKey);

// The one parser behind both, over any byte source (tests, fuzzers): with
// `requiredKey` set, a first line other than it gives kWrongDisk. `fileKey`
// may be null.
ScanResultRead ReadScanResults(ByteSource& source, DiskInfo& disk, const std::string* requiredKey,
                               std::string* fileKey);

}  // namespace brevid
