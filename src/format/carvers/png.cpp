// PNG: the signature, then chunks (BE u32 length, type, data, CRC) from
// IHDR to IEND.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr std::string_view kSignature = "\x89PNG\r\n\x1A\n";
constexpr uint64_t kChunkOverhead = 12;  // length, type, CRC
constexpr size_t kChunkType = 0x04;

bool IsChunkType(Bytes t) {
  return t.size() == 4 && std::ranges::all_of(t, [](uint8_t b) {
           return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
         });
}

bool Starts(Bytes head) {
  return BytesEqual(head, 0, kSignature) &&
         BytesEqual(head, kSignature.size() + kChunkType, "IHDR");
}

CarveResult Carve(Context& c) {
  ChainWalk walk(c, SearchSlot::kPng);
  uint64_t h = kSignature.size();
  while (h < std::min(c.limit, kLargestFile)) {
    if (!walk.Step(h)) return {};
    Bytes chunk = c.at.At(h, 8);
    if (chunk.empty() || !IsChunkType(chunk.subspan(kChunkType, 4))) break;
    h += kChunkOverhead + LoadBe32(chunk, 0);
    if (BytesEqual(chunk, kChunkType, "IEND")) return RecordNumbered(c, h, ".png");
  }
  walk.Failed();
  return {};
}

}  // namespace

const Carver kPng{"png", Starts, Carve, "\x89", "png"};

}  // namespace brevid::carve
