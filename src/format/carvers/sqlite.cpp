// SQLite databases: page size times page count, believed when the count is
// current (its change counter matches the one it was written with).
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr std::string_view kMagic{"SQLite format 3\0", 16};
constexpr size_t kPageSize = 0x10;       // BE u16; 1 means 65536
constexpr size_t kChangeCounter = 0x18;  // BE u32
constexpr size_t kPageCount = 0x1C;      // BE u32
constexpr size_t kValidFor = 0x5C;       // BE u32: the change counter the count belongs to

bool Starts(Bytes head) { return BytesEqual(head, 0, kMagic); }

CarveResult Carve(Context& c) {
  uint32_t page = LoadBe16(c.head, kPageSize);
  if (page == 1) page = 65536;
  if (page < 512 || (page & (page - 1)) != 0) return {};
  const uint32_t count = LoadBe32(c.head, kPageCount);
  if (count == 0 || LoadBe32(c.head, kChangeCounter) != LoadBe32(c.head, kValidFor)) return {};
  return RecordNumbered(c, uint64_t{page} * count, ".sqlite");
}

}  // namespace

const Carver kSqlite{"sqlite", Starts, Carve, "S", "sqlite db"};

}  // namespace brevid::carve
