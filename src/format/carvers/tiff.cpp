// TIFF and the camera RAW files built on it (CR2, NEF, ARW, DNG, ORF, RW2,
// PEF). A TIFF names no size: the file ends where the furthest of its
// directories, their out-of-line values and the image data they point at
// ends. Directories are walked from the first one along their chains and
// into sub-directories (SubIFDs, Exif), at most kMaxDirectories of them.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr size_t kMagic = 0x02;           // u16: 42, or a camera maker's own
constexpr size_t kFirstDirectory = 0x04;  // u32
constexpr size_t kEntry = 12;             // tag u16, type u16, count u32, value or offset u32
constexpr size_t kMaxDirectories = 64;
constexpr uint16_t kMaxEntries = 1024;
constexpr uint32_t kMaxValues = 1 << 16;  // strip and tile tables read

constexpr uint16_t kMake = 271, kStripOffsets = 273, kStripByteCounts = 279, kTileOffsets = 324,
                   kTileByteCounts = 325, kSubDirectories = 330, kThumbnailOffset = 513,
                   kThumbnailLength = 514, kExif = 34665, kDngVersion = 50706;

struct Reader {
  Context& c;
  bool big;
  uint32_t U32(uint64_t pos) {
    Bytes b = c.at.At(pos, 4);
    return b.empty() ? 0 : big ? LoadBe32(b, 0) : LoadLe32(b, 0);
  }
  uint16_t U16(uint64_t pos) {
    Bytes b = c.at.At(pos, 2);
    return b.empty() ? 0 : big ? LoadBe16(b, 0) : LoadLe16(b, 0);
  }
  // The i-th value of an entry of type SHORT or LONG.
  uint32_t Value(uint64_t entry, uint16_t type, uint32_t count, uint32_t i) {
    const uint64_t width = type == 3 ? 2 : 4;
    const uint64_t at = count * width <= 4 ? entry + 8 : U32(entry + 8);
    return type == 3 ? U16(at + i * 2) : U32(at + i * 4);
  }
};

uint64_t TypeSize(uint16_t type) {
  static constexpr uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < std::size(kSizes) ? kSizes[type] : 0;
}

struct Walk {
  uint64_t end = 0;
  bool image = false;
  std::string make;
  bool dng = false;
};

// Adds the pairs of offset and byte-count tables to the walk's end.
void AddExtents(Reader& r, Walk& w, uint64_t offsets, uint64_t counts, uint16_t ot, uint16_t ct,
                uint32_t n) {
  for (uint32_t i = 0; i < std::min(n, kMaxValues); ++i) {
    const uint64_t end = uint64_t{r.Value(offsets, ot, n, i)} + r.Value(counts, ct, n, i);
    if (end <= r.c.limit) w.end = std::max(w.end, end), w.image = true;
  }
}

bool WalkDirectories(Reader& r, Walk& w, uint32_t first) {
  std::vector<uint32_t> pending{first}, seen;
  while (!pending.empty() && seen.size() < kMaxDirectories) {
    uint64_t d = pending.back();
    pending.pop_back();
    if (d < 8 || d >= r.c.limit || std::ranges::find(seen, d) != seen.end()) continue;
    seen.push_back(static_cast<uint32_t>(d));
    const uint16_t n = r.U16(d);
    if (n == 0 || n > kMaxEntries) return false;
    w.end = std::max(w.end, d + 2 + n * kEntry + 4);
    uint64_t offsets[2] = {}, counts[2] = {};
    uint16_t offsetType[2] = {}, countType[2] = {};
    uint32_t number[2] = {};
    uint32_t thumbnail = 0;
    for (uint16_t i = 0; i < n; ++i) {
      const uint64_t e = d + 2 + i * kEntry;
      const uint16_t tag = r.U16(e), type = r.U16(e + 2);
      const uint32_t count = r.U32(e + 4);
      const uint64_t bytes = TypeSize(type) * count;
      if (TypeSize(type) == 0) return false;
      if (bytes > 4) {
        const uint64_t end = uint64_t{r.U32(e + 8)} + bytes;
        if (end <= r.c.limit) w.end = std::max(w.end, end);
      }
      const bool table = type == 3 || type == 4;
      if (tag == kStripOffsets && table) offsets[0] = e, offsetType[0] = type, number[0] = count;
      if (tag == kStripByteCounts && table) counts[0] = e, countType[0] = type;
      if (tag == kTileOffsets && table) offsets[1] = e, offsetType[1] = type, number[1] = count;
      if (tag == kTileByteCounts && table) counts[1] = e, countType[1] = type;
      if (tag == kThumbnailOffset) thumbnail = r.U32(e + 8);
      if (tag == kThumbnailLength && thumbnail != 0) {
        const uint64_t end = uint64_t{thumbnail} + r.U32(e + 8);
        if (end <= r.c.limit) w.end = std::max(w.end, end);
      }
      if ((tag == kSubDirectories || tag == kExif) && (type == 4 || type == 13))
        for (uint32_t k = 0; k < std::min<uint32_t>(count, kMaxDirectories); ++k)
          pending.push_back(r.Value(e, 4, count, k));
      if (tag == kMake && type == 2) {
        Bytes m = r.c.at.At(count <= 4 ? e + 8 : r.U32(e + 8), std::min<uint32_t>(count, 16));
        w.make.assign(m.begin(), m.end());
      }
      if (tag == kDngVersion) w.dng = true;
    }
    for (int k = 0; k < 2; ++k)
      if (offsets[k] && counts[k])
        AddExtents(r, w, offsets[k], counts[k], offsetType[k], countType[k], number[k]);
    pending.push_back(r.U32(d + 2 + n * kEntry));
  }
  return true;
}

bool Starts(Bytes head) {
  const bool little = BytesEqual(head, 0, "II"), big = BytesEqual(head, 0, "MM");
  if (!little && !big) return false;
  const uint16_t magic = little ? LoadLe16(head, kMagic) : LoadBe16(head, kMagic);
  const uint32_t first = little ? LoadLe32(head, kFirstDirectory) : LoadBe32(head, kFirstDirectory);
  // 42, and the magic numbers of Olympus (ORF) and Panasonic (RW2) files.
  return (magic == 42 || magic == 0x4F52 || magic == 0x5352 || magic == 0x55) && first >= 8;
}

const char* Extension(Bytes head, const Walk& w) {
  const uint16_t magic =
      BytesEqual(head, 0, "MM") ? LoadBe16(head, kMagic) : LoadLe16(head, kMagic);
  if (magic == 0x55) return ".rw2";
  if (magic == 0x4F52 || magic == 0x5352) return ".orf";
  if (BytesEqual(head, 8, "CR")) return ".cr2";
  if (w.dng) return ".dng";
  if (w.make.starts_with("NIKON")) return ".nef";
  if (w.make.starts_with("SONY")) return ".arw";
  if (w.make.starts_with("PENTAX")) return ".pef";
  return ".tif";
}

CarveResult Carve(Context& c) {
  Reader r{c, BytesEqual(c.head, 0, "MM")};
  Walk w;
  if (!WalkDirectories(r, w, r.U32(kFirstDirectory)) || !w.image) return {};
  return RecordNumbered(c, w.end, Extension(c.head, w));
}

}  // namespace

const Carver kTiff{"tiff", Starts, Carve, "IM", "tif tiff cr2 nef arw dng orf rw2 pef"};

}  // namespace brevid::carve
