#include "format/fat_directory_sector.h"

#include "format/fat_layout.h"

namespace brevid {
namespace {

constexpr size_t kSector = 512;
constexpr uint16_t kMaxTime = 0xBF7E;  // 23:59:60
constexpr uint16_t kMinDate = 0x2821;  // 2000-01-01
constexpr uint16_t kMaxDate = 0xC99F;  // 2080-12-31
constexpr size_t kAccessDate = 18;

uint8_t ShortNameChecksum(Bytes name) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

struct EntryTestState {
  bool labelSeen = false;
  bool inLongName = false;
  int expected = 0;  // long-name sequence number still expected; 0 for none
};

bool EntryPasses(Bytes sector, size_t o, EntryTestState& st) {
  Bytes e = sector.subspan(o, fat::kEntrySize);
  uint8_t attr = e[fat::kAttributes];
  if (attr & 0x80) return false;
  if (LoadLe16(e, fat::kAttributes) == 0x0008) {
    if (st.labelSeen) return false;
    st.labelSeen = true;
    return true;
  }
  if (attr == fat::kLongNameAttribute) {
    if (LoadLe16(e, fat::kClusterLow) != 0) return false;
    st.inLongName = true;
    if (e[0] != fat::kDeletedMark) {
      int n = e[0] & 0x1F;
      if (st.expected != 0 && st.expected - n != 1) return false;
      st.expected = n == 1 ? 0 : n;
    }
  } else {
    // A deleted entry keeps its high cluster word on some systems, so only a
    // live one is held to its long name's checksum.
    if (e[0] != fat::kDeletedMark && st.inLongName) {
      // The checksum byte of the long-name entry just before this one.
      if (o < fat::kEntrySize || ShortNameChecksum(e) != sector[o - 19]) return false;
    }
    st.inLongName = false;
    if (e[0] == 0) {
      for (uint8_t b : e)
        if (b != 0) return false;
    } else {
      for (size_t i = 0; i < 11; ++i)
        if (e[i] == 0) return false;
      if (LoadLe16(e, fat::kClusterHigh) == 0 && LoadLe16(e, fat::kClusterLow) < 2 &&
          LoadLe32(e, fat::kSize) != 0)
        return false;
      if (LoadLe16(e, fat::kCreateTime) > kMaxTime || LoadLe16(e, fat::kWriteTime) > kMaxTime)
        return false;
      // Creation dates are optional: writers that keep none leave 0.
      for (size_t at : {fat::kCreateDate, fat::kWriteDate}) {
        uint16_t date = LoadLe16(e, at);
        if (at == fat::kCreateDate && date == 0) continue;
        if (date < kMinDate || date > kMaxDate) return false;
      }
      if (LoadLe16(e, fat::kCreateDate) > LoadLe16(e, kAccessDate)) return false;
    }
    if (st.expected != 0) return false;
  }
  uint8_t reserved = e[12];
  return reserved == 0 || reserved == 0x08 || reserved == 0x10 || reserved == 0x18;
}

}  // namespace

bool IsSubdirectoryStart(Bytes s) {
  return Load8(s, 0) == '.' && Load8(s, 1) == ' ' && Load8(s, fat::kDotDot) == '.' &&
         Load8(s, fat::kDotDot + 1) == '.' && InBounds(s, 0, 64) && LoadLe32(s, fat::kSize) == 0 &&
         LoadLe32(s, fat::kDotDot + fat::kSize) == 0;
}

bool IsDirectorySector(Bytes sector) {
  if (sector.size() < kSector || sector[0] == 0) return false;
  EntryTestState state;
  for (size_t o = 0; o < kSector; o += fat::kEntrySize)
    if (!EntryPasses(sector, o, state)) return false;
  return true;
}

}  // namespace brevid
