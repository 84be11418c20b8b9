// GNU ddrescue's mapfile, parsed from text and written back with no I/O, so
// that a map either tool wrote can be resumed by the other and read by
// ddrescuelog. Positions and sizes are bytes of the source.
//
// The text: '#' comment lines, then one status line ("current_pos
// current_status [current_pass]"), then one line per block ("pos size
// status"), the blocks contiguous and in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevid {

// What is known about a block of the source.
namespace rescue {
constexpr char kNonTried = '?';
constexpr char kNonTrimmed = '*';
constexpr char kNonScraped = '/';
constexpr char kBadSector = '-';
constexpr char kFinished = '+';
}  // namespace rescue

// The pass a run was in (current_status), besides the block statuses above
// used as "copying", "trimming", "scraping" and "retrying".
namespace rescue_pass {
constexpr char kCopying = '?';
constexpr char kTrimming = '*';
constexpr char kScraping = '/';
constexpr char kRetrying = '-';
constexpr char kFilling = 'F';
constexpr char kGenerating = 'G';
constexpr char kFinished = '+';
}  // namespace rescue_pass

struct RescueBlock {
  uint64_t pos = 0;
  uint64_t size = 0;
  char status = rescue::kNonTried;
  uint64_t End() const { return pos + size; }
  bool operator==(const RescueBlock&) const = default;
};

struct RescueMap {
  uint64_t currentPos = 0;
  char currentStatus = rescue_pass::kCopying;
  uint32_t currentPass = 1;
  std::vector<RescueBlock> blocks;  // contiguous, in order, no empty block
  bool operator==(const RescueMap&) const = default;
};

// Nullopt, with *error saying which line and why, for text that is not a
// mapfile: a missing status line, an unknown status, a number that does
// not parse or overflows, a block that leaves a gap or overlaps.
std::optional<RescueMap> ParseRescueMap(std::string_view text, std::string* error);

// The mapfile text; parsing it gives `map` back, and formatting that the
// same text.
std::string FormatRescueMap(const RescueMap& map);

// Gives [pos, pos + size) the status `status`, splitting and merging blocks
// so that no two neighbours share a status. Extends the map with non-tried
// blocks where the range lies past its end or before its start.
void SetRescueStatus(RescueMap& map, uint64_t pos, uint64_t size, char status);

// Makes the map cover at least [0, end): what it lacks is non-tried.
void CoverRescueMap(RescueMap& map, uint64_t end);

}  // namespace brevid
