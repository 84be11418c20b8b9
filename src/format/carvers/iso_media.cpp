// The ISO base media family (MP4, MOV, 3GP, M4A, HEIC/HEIF, AVIF, CR3): a
// run of top-level boxes, each giving its own size. The file ends where the
// next bytes are no top-level box or one that would pass the source's end.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr size_t kBoxSize = 0x00;  // BE u32; 1: a BE u64 at 0x08 holds it; 0: to the end
constexpr size_t kBoxType = 0x04;
constexpr size_t kLargeSize = 0x08;
constexpr size_t kMajorBrand = 0x08;  // of "ftyp"
constexpr uint64_t kBoxHeader = 8;
constexpr size_t kMaxBoxes = 1 << 16;

constexpr std::string_view kTopLevel[] = {"ftyp", "moov", "mdat", "free", "skip", "wide",
                                          "uuid", "meta", "moof", "mfra", "pdin", "styp",
                                          "sidx", "pnot", "prft", "emsg", "junk"};
// What an old QuickTime file without "ftyp" may start with.
constexpr std::string_view kQuickTimeFirst[] = {"moov", "mdat", "wide"};

bool IsTopLevel(Bytes box) {
  return std::ranges::any_of(kTopLevel,
                             [&](std::string_view t) { return BytesEqual(box, kBoxType, t); });
}

const char* Extension(Bytes head) {
  if (!BytesEqual(head, kBoxType, "ftyp")) return ".mov";
  auto brand = [&](std::string_view b) { return BytesEqual(head, kMajorBrand, b); };
  if (brand("qt  ")) return ".mov";
  if (brand("3gp") || brand("3g2")) return ".3gp";
  if (brand("M4A ") || brand("M4B ")) return ".m4a";
  if (brand("crx ")) return ".cr3";
  if (brand("avif") || brand("avis")) return ".avif";
  for (std::string_view b : {"heic", "heix", "hevc", "heim", "heis", "mif1", "msf1"})
    if (brand(b)) return ".heic";
  return ".mp4";
}

bool Starts(Bytes head) {
  uint32_t size = LoadBe32(head, kBoxSize);
  if (BytesEqual(head, kBoxType, "ftyp")) return size >= 16 && size <= 1024;
  return size >= kBoxHeader && std::ranges::any_of(kQuickTimeFirst, [&](std::string_view t) {
           return BytesEqual(head, kBoxType, t);
         });
}

CarveResult Carve(Context& c) {
  uint64_t h = 0;
  bool movie = false, image = false;
  ChainWalk walk(c, SearchSlot::kIsoMedia);
  for (size_t n = 0; n < kMaxBoxes && h < c.limit; ++n) {
    if (!walk.Step(h)) return {};
    Bytes box = c.at.At(h, kBoxHeader + 8);
    if (box.empty()) box = c.at.At(h, kBoxHeader);
    if (box.empty() || !IsTopLevel(box)) break;
    uint64_t size = LoadBe32(box, kBoxSize);
    if (size == 1) size = box.size() >= 16 ? LoadBe64(box, kLargeSize) : 0;
    // A size of 0 runs to an end nobody wrote down.
    if (size < kBoxHeader || size > c.limit - h) break;
    movie |= BytesEqual(box, kBoxType, "moov") || BytesEqual(box, kBoxType, "moof");
    image |= BytesEqual(box, kBoxType, "meta");
    h += size;
  }
  if (!movie && !image) {
    walk.Failed();
    return {};
  }
  return RecordNumbered(c, h, Extension(c.head));
}

}  // namespace

const Carver kIsoMedia{"iso-media", Starts, Carve, std::string_view("\0", 1),
                       "mp4 mov 3gp m4a heic avif cr3"};

}  // namespace brevid::carve
