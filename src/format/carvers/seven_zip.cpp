// 7z: the start header names where the archive's header lies at its end;
// both are believed when their checksums hold.
#include "common/crc32.h"
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr std::string_view kSignature = "7z\xBC\xAF\x27\x1C";
constexpr size_t kStartHeaderCrc = 0x08;    // LE u32 over the 20 bytes at 0x0C
constexpr size_t kNextHeaderOffset = 0x0C;  // LE u64, from the end of the start header
constexpr size_t kNextHeaderSize = 0x14;    // LE u64
constexpr size_t kNextHeaderCrc = 0x1C;     // LE u32 over the next header
constexpr uint64_t kStartHeader = 32;
constexpr uint64_t kMaxNextHeader = 16 * kMiB;  // what is read to check it

bool Starts(Bytes head) {
  return BytesEqual(head, 0, kSignature) &&
         Crc32(SubBytes(head, kNextHeaderOffset, 20)) == LoadLe32(head, kStartHeaderCrc);
}

CarveResult Carve(Context& c) {
  const uint64_t offset = LoadLe64(c.head, kNextHeaderOffset);
  const uint64_t size = LoadLe64(c.head, kNextHeaderSize);
  if (size == 0 || size > kMaxNextHeader || offset > kLargestFile) return {};
  // The header at the end must be there and whole: a start header alone
  // would make the scan pass over up to 4 GiB it never verified.
  const uint64_t end = kStartHeader + offset + size;
  if (end > c.limit) return {};
  std::vector<uint8_t> next(static_cast<size_t>(size));
  if (c.read(kStartHeader + offset, next) < next.size() ||
      Crc32(next) != LoadLe32(c.head, kNextHeaderCrc))
    return {};
  return RecordNumbered(c, end, ".7z");
}

}  // namespace

const Carver kSevenZip{"7z", Starts, Carve, "7", "7z"};

}  // namespace brevid::carve
