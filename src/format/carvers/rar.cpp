// RAR 1.5 to 4.x: blocks, each giving its header size and, for long blocks,
// the data that follows, to the end-of-archive block.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr size_t kBlockType = 0x02;   // u8
constexpr size_t kFlags = 0x03;       // u16
constexpr size_t kHeaderSize = 0x05;  // u16
constexpr size_t kAddSize = 0x07;     // u32, present when kLongBlock is set
constexpr size_t kMinHeader = 7;
constexpr uint16_t kLongBlock = 0x8000;
constexpr uint8_t kFirstType = 0x72;
constexpr uint8_t kEndOfArchive = 0x7B;

bool Starts(Bytes head) {
  return BytesEqual(head, 0, "Rar!") && Load8(head, 4) == 0x1A && Load8(head, 5) == 0x07 &&
         InBounds(head, 6, 1) && head[6] == 0;
}

CarveResult Carve(Context& c) {
  ChainWalk walk(c, SearchSlot::kRar);
  uint64_t h = 0;
  while (h < std::min(c.limit, kLargestFile)) {
    if (!walk.Step(h)) return {};
    Bytes b = c.at.At(h, kMinHeader);
    if (b.empty()) break;
    uint8_t type = b[kBlockType];
    uint16_t headerSize = LoadLe16(b, kHeaderSize);
    if (type < kFirstType || type > kEndOfArchive || headerSize < kMinHeader) break;
    uint64_t next = h + headerSize;
    if (LoadLe16(b, kFlags) & kLongBlock) {
      Bytes add = c.at.At(h + kAddSize, 4);
      if (add.empty()) break;
      next += LoadLe32(add, 0);
    }
    if (type == kEndOfArchive) return RecordNumbered(c, next, ".rar");
    h = next;
  }
  walk.Failed();
  return {};
}

}  // namespace

const Carver kRar{"rar", Starts, Carve, "R", "rar"};

}  // namespace brevid::carve
