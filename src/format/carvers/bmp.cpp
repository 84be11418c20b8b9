// BMP: the file header's size, believed when the pixel rows the info
// header describes fit it.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr size_t kFileSize = 0x02;     // LE u32
constexpr size_t kReserved = 0x06;     // LE u32, 0
constexpr size_t kPixelOffset = 0x0A;  // LE u32
constexpr size_t kInfoSize = 0x0E;     // LE u32
constexpr size_t kWidth = 0x12;        // LE i32
constexpr size_t kHeight = 0x16;       // LE i32, negative: top-down
constexpr size_t kPlanes = 0x1A;       // LE u16, 1
constexpr size_t kBitCount = 0x1C;     // LE u16
constexpr size_t kCompression = 0x1E;  // LE u32
constexpr uint32_t kUncompressed = 0, kBitFields = 3;
constexpr uint64_t kSlack = 4;  // some writers pad the pixel data

bool Starts(Bytes head) {
  const uint32_t info = LoadLe32(head, kInfoSize);
  const uint16_t bits = LoadLe16(head, kBitCount);
  return BytesEqual(head, 0, "BM") && LoadLe32(head, kReserved) == 0 &&
         (info == 40 || info == 52 || info == 56 || info == 108 || info == 124) &&
         LoadLe16(head, kPlanes) == 1 &&
         (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

CarveResult Carve(Context& c) {
  const uint64_t size = LoadLe32(c.head, kFileSize);
  const uint64_t pixels = LoadLe32(c.head, kPixelOffset);
  const auto width = static_cast<int32_t>(LoadLe32(c.head, kWidth));
  const auto height = static_cast<int32_t>(LoadLe32(c.head, kHeight));
  const uint32_t compression = LoadLe32(c.head, kCompression);
  if (width <= 0 || height == 0 || pixels < kInfoSize + LoadLe32(c.head, kInfoSize) ||
      pixels >= size)
    return {};
  if (compression == kUncompressed || compression == kBitFields) {
    const uint64_t row = (uint64_t(width) * LoadLe16(c.head, kBitCount) + 31) / 32 * 4;
    const uint64_t rows = height < 0 ? uint64_t(-int64_t{height}) : uint64_t(height);
    const uint64_t end = pixels + row * rows;
    if (size < end || size > end + kSlack) return {};
  }
  return RecordNumbered(c, size, ".bmp");
}

}  // namespace

const Carver kBmp{"bmp", Starts, Carve, "B", "bmp"};

}  // namespace brevid::carve
