// The rescue of a failing disk over a map: the copy pass reads large pieces
// and, at an error, marks the piece non-trimmed and skips ahead by a growing
// step, so the healthy rest is saved before any damaged area is read twice;
// then a reverse and an unskipping sweep over what was skipped. Trimming
// reads each failed area from both edges sector by sector up to the first
// error; scraping reads what lies between, sector by sector; each retry
// pass reads the bad sectors again, alternating direction.
//
// Every pass works from the map, so a run given the map of a stopped one
// (its own or ddrescue's) never reads a finished area again. Unreadable
// areas are not written: the map says where they are.
#pragma once

#include <cstdint>
#include <functional>

#include "format/rescue_map.h"
#include "imaging/image_copy.h"
#include "platform/source_handle.h"
#include "platform/target_handle.h"

namespace brevid {

struct RescueOptions {
  uint64_t begin = 0;  // source bytes [begin, end) are rescued ...
  uint64_t end = 0;
  uint64_t targetStart = 0;  // ... to target bytes from here on
  uint32_t retries = 0;
  bool reverse = false;  // the copy pass from the end backwards
  bool sparse = false;   // pieces of zeros are not written (a new file reads them as zeros)
};

enum class RescueEnd { kComplete, kStopped, kWriteFailed, kMapFailed };

// Runs the passes on `map` (covered up to options.end first). `stop` is
// polled after every read; `save` is handed the map at least every few
// seconds, at a stop and at the end, and returns false when it could not be
// kept, which ends the run. `counters` may be null. Errno is the failed
// write's on kWriteFailed.
RescueEnd RunRescuePasses(SourceHandle& source, TargetHandle& target, const RescueOptions& options,
                          RescueMap& map, const std::function<bool()>& stop,
                          const std::function<bool(const RescueMap&)>& save,
                          ImagingCounters* counters);

// Totals of the map inside [begin, end), as ddrescuelog shows them.
struct RescueTotals {
  uint64_t nonTried = 0, nonTrimmed = 0, nonScraped = 0, bad = 0, finished = 0;
  uint64_t badAreas = 0;
};
RescueTotals CountRescueMap(const RescueMap& map, uint64_t begin, uint64_t end);

}  // namespace brevid
