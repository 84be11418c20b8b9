// GIF: header, screen descriptor and colour table, then extensions and
// images, each followed by data sub-blocks, to the trailer byte.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr size_t kScreenFlags = 0x0A;  // u8: bit 7 global table, bits 0-2 its size
constexpr uint64_t kHeader = 13;       // signature and screen descriptor
constexpr uint64_t kImageDescriptor = 10;
constexpr size_t kImageFlags = 0x09;  // of the image descriptor, like kScreenFlags
constexpr uint8_t kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B;

uint64_t ColourTable(uint8_t flags) { return flags & 0x80 ? 3ull << ((flags & 7) + 1) : 0; }

bool Starts(Bytes head) { return BytesEqual(head, 0, "GIF87a") || BytesEqual(head, 0, "GIF89a"); }

CarveResult Carve(Context& c) {
  ChainWalk walk(c, SearchSlot::kGif);
  uint64_t h = kHeader + ColourTable(Load8(c.head, kScreenFlags));
  const uint64_t bound = std::min(c.limit, kLargestFile);
  bool image = false;
  while (h < bound) {
    if (!walk.Step(h)) return {};
    Bytes b = c.at.At(h, kImageDescriptor + 1);
    if (b.empty()) b = c.at.At(h, 1);
    if (b.empty()) break;
    if (b[0] == kTrailer) {
      if (image) return RecordNumbered(c, h + 1, ".gif");
      break;
    }
    if (b[0] == kExtension) {
      h += 2;
    } else if (b[0] == kImage && b.size() > kImageDescriptor) {
      h += kImageDescriptor + ColourTable(b[kImageFlags]) + 1;  // + the LZW code size
      image = true;
    } else {
      break;
    }
    // Data sub-blocks: a length byte, that many bytes, to a length of 0.
    for (;;) {
      Bytes n = c.at.At(h, 1);
      if (n.empty() || h >= bound) break;
      h += 1 + n[0];
      if (n[0] == 0) break;
    }
  }
  walk.Failed();
  return {};
}

}  // namespace

const Carver kGif{"gif", Starts, Carve, "G", "gif"};

}  // namespace brevid::carve
