// The imaging tool's copy: the raw sectors of a disk or of one volume onto
// another disk (at a chosen sector) or into a new image file, in 1 MiB
// pieces. A piece that cannot be read whole is read again sector by sector;
// each sector that still fails is written as 512 bytes of 0x20 and listed.
//
// Never writes to the source: the target passes the write guard (nothing
// that reaches the source's bytes or a member's) and is checked against
// mounted file systems before anything is opened for writing.
//
// Waits are bounded by the system: on Linux a pread or pwrite returns or
// fails, and a read that fails or comes back short counts as unreadable.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/disk_info.h"
#include "format/rescue_map.h"
#include "platform/progress.h"
#include "platform/source_opener.h"

namespace brevid {

constexpr uint64_t kImagingPieceBytes = 0x100000;

struct ImagingRequest {
  std::string sourceText;  // endpoint text (imaging_endpoint.h), CP936
  uint64_t sourceStartSector = 0;
  bool toDisk = false;     // true: onto targetText; false: into targetFile
  std::string targetText;  // endpoint text, CP936
  uint64_t targetStartSector = 0;
  std::string targetFile;  // CP936 path of the image file to create
  // With a map file (CP936; GNU ddrescue's format) the copy is a rescue:
  // passes over the map, resumed from it when it exists, unreadable areas
  // left unwritten instead of filled.
  std::string mapFile;
  uint32_t retries = 0;
  bool reverse = false;
  bool sparse = false;  // image files only: zeros become holes
};

// One row of the bad-sector list.
struct BadSector {
  uint32_t row = 0;     // counted from 1
  uint64_t sector = 0;  // source byte position / 512, from the start of the device
  bool operator==(const BadSector&) const = default;
};

// "第%d个坏扇区" for `row`, in CP936.
std::string BadSectorRowText(uint32_t row);

// What a front end may read from any thread while the copy runs.
struct ImagingCounters {
  std::atomic<uint64_t> totalBytes{0};   // the amount to copy, once known
  std::atomic<uint64_t> bytesDone{0};    // written to the target, fills included
  std::atomic<uint64_t> sectorsDone{0};  // (k + 1) * 2048 after good piece k, as the window shows
  std::atomic<uint64_t> badSectors{0};
  // Called on the worker as each unreadable sector is listed; may be empty.
  std::function<void(const BadSector&)> onBadSector;
  // With a map: what the map says so far, in bytes of the copy, the pass
  // (its current_status letter) and when a read last succeeded
  // (steady_clock, milliseconds).
  std::atomic<uint64_t> rescuedBytes{0};
  std::atomic<uint64_t> badBytes{0};
  std::atomic<uint64_t> badAreas{0};
  std::atomic<uint64_t> pendingBytes{0};  // failed but not yet trimmed or scraped
  std::atomic<char> pass{0};
  std::atomic<int64_t> lastGoodReadMs{0};
  // Called on the worker with the map a few times a second; may be empty.
  std::function<void(const RescueMap&)> onMap;
};

enum class ImagingResult {
  kDone,     // every byte written; "镜像完毕"
  kStopped,  // the stop flag ended it; what was written stays
  kRefused,  // nothing was opened for writing
  kFailed,   // an open or a write failed
};

struct ImagingOutcome {
  ImagingResult result = ImagingResult::kFailed;
  std::string text;  // CP936: "镜像完毕", or why it was refused, failed or stopped
  std::vector<BadSector> badSectors;
  uint64_t totalBytes = 0;
  uint64_t bytesDone = 0;
  // With a map: its totals over the copy at the end, and whether the run
  // resumed an existing map.
  bool rescue = false;
  bool resumed = false;
  uint64_t badBytes = 0, badAreas = 0, nonTried = 0, nonTrimmed = 0, nonScraped = 0;
};

// Copies what `request` names from the disks of `list`. Sources are opened
// through `opener`; targets are files or devices. Sends `progress` the range
// (one unit per whole piece) and one step per piece read whole, polls its stop
// flag after each piece and each sector; sends no close message. `counters`
// may be null. Call from one worker thread; `list` must not change meanwhile.
ImagingOutcome CopyImage(const DiskList& list, const ImagingRequest& request,
                         ProgressRecord& progress, ImagingCounters* counters,
                         const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
