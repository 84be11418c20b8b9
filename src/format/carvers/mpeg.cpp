// MPEG program stream: packs and packets, each start code giving the next
// one's position, to the end code or the last packet.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr uint32_t kPackCode = 0x000001BA;
constexpr uint32_t kSystemHeaderCode = 0x000001BB;
constexpr uint8_t kPack = 0xBA;
constexpr uint8_t kEndCode = 0xB9;
constexpr size_t kPackKind = 0x04;      // u8: 0x21 MPEG-1, 0x44 MPEG-2
constexpr size_t kPacketLength = 0x04;  // BE u16 after a start code
constexpr size_t kPacketHeader = 6;
constexpr uint64_t kSmallest = kMiB;  // shorter runs of packets are too often chance

// The pack header's length when `head` starts a program stream; 0 otherwise.
size_t PackLength(Bytes head) {
  if (LoadBe32(head, 0) != kPackCode) return 0;
  size_t length = Load8(head, kPackKind) == 0x21 ? 12 : Load8(head, kPackKind) == 0x44 ? 14 : 0;
  return length != 0 && LoadBe32(head, length) == kSystemHeaderCode ? length : 0;
}

bool IsPacket(uint8_t id) {
  return id <= 0x06 || id == 0xBB || id == 0xBD || id == 0xBE || id == 0xBF || id == 0xC0 ||
         id == 0xE0 || id == 0xB3 || id == 0xB5 || id == 0xB8;
}

bool Starts(Bytes head) { return PackLength(head) != 0; }

CarveResult Carve(Context& c) {
  const size_t packLength = PackLength(c.head);
  ChainWalk walk(c, SearchSlot::kMpeg);
  uint64_t h = 0;
  while (h < std::min(c.limit, kLargestFile)) {
    if (!walk.Step(h)) return {};
    Bytes code = c.at.At(h, 4);
    if (code.empty() || LoadBe32(code, 0) >> 8 != 1) break;
    if (code[3] == kPack) {
      h += packLength;
      continue;
    }
    if (code[3] == kEndCode) {
      h += 4;
      break;
    }
    if (!IsPacket(code[3])) break;
    Bytes length = c.at.At(h + kPacketLength, 2);
    if (length.empty()) break;
    h += kPacketHeader + LoadBe16(length, 0);
  }
  // Too long to record: the size still lets the scan pass over it.
  if (h >= kLargestFile && c.limit > kLargestFile) return {false, h, {}};
  if (h <= kSmallest) {
    walk.Failed();
    return {};
  }
  return RecordNumbered(c, std::min(h, c.limit), ".mpeg");
}

}  // namespace

const Carver kMpeg{"mpeg", Starts, Carve, std::string_view("\0", 1), "mpeg"};

}  // namespace brevid::carve
