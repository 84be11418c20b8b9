// JPEG: markers walked by their lengths; after each start of scan the
// entropy-coded data is crossed to the next marker (FF 00 is a stuffed FF,
// FF D0..D7 a restart, FF FF fill), which either starts another segment
// (progressive files hold many scans) or is the end of image.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr uint8_t kStart = 0xD8;
constexpr uint8_t kEnd = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint64_t kBound = 100 * kMiB;
constexpr size_t kMaxSegments = 1 << 16;

// Every segment with a length: the frame headers of all coding processes
// (C8 is reserved), tables, restart interval, application data and comments.
bool IsSegment(uint8_t marker) {
  return (marker >= 0xC0 && marker <= 0xCF && marker != 0xC8) ||
         (marker >= 0xDA && marker <= 0xDF) || (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

// True at an FF that is a marker inside entropy-coded data.
bool IsMarkerInScan(Bytes w, size_t i) {
  uint8_t next = Load8(w, i + 1);
  return next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7) && i + 1 < w.size();
}

bool Starts(Bytes head) {
  return Load8(head, 0) == 0xFF && Load8(head, 1) == kStart && Load8(head, 2) == 0xFF &&
         IsSegment(Load8(head, 3)) && Load8(head, 3) != kStartOfScan;
}

CarveResult Carve(Context& c) {
  uint64_t h = 2;
  bool scanned = false;
  for (size_t n = 0; n < kMaxSegments && h < kBound; ++n) {
    Bytes m = c.at.At(h, 4);
    if (m.empty() || m[0] != 0xFF) return {};
    if (m[1] == 0xFF) {  // fill before a marker
      ++h;
      continue;
    }
    if (m[1] == kEnd) return scanned ? RecordNumbered(c, h + 2, ".jpg") : CarveResult{};
    if (!IsSegment(m[1])) return {};
    h += 2 + LoadBe16(m, 2);
    if (m[1] != kStartOfScan) continue;
    scanned = true;
    std::optional<uint64_t> marker =
        Search(c, h, kBound, 0xFF, 2, SearchSlot::kJpegMarker, IsMarkerInScan);
    if (!marker) return {};
    h = *marker;
  }
  return {};
}

}  // namespace

const Carver kJpeg{"jpeg", Starts, Carve, "\xFF", "jpg jpeg"};

}  // namespace brevid::carve
