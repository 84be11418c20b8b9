#include "format/carving.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "format/carvers/carver.h"

namespace brevid {
namespace {

// Whether any start test can pass on a head starting with this byte: most
// sectors of a disk fail here.
bool MayStart(Bytes head) {
  static const std::array<bool, 256> kFirst = [] {
    std::array<bool, 256> first{};
    for (const carve::Carver& c : carve::Carvers())
      for (char b : c.firstBytes) first[static_cast<uint8_t>(b)] = true;
    return first;
  }();
  return !head.empty() && kFirst[head[0]];
}

}  // namespace

CarveResult CarveFile(Bytes head, uint64_t sector, const CarveReader& read, uint64_t limit,
                      CarveMemory* memory) {
  if (!MayStart(head)) return {};
  for (const carve::Carver& carver : carve::Carvers()) {
    if (!carver.starts(head)) continue;
    carve::Context c(head, sector, read, limit, memory);
    return carver.carve(c);
  }
  return {};
}

bool StartsFileOfExtension(Bytes head, const std::string& extension) {
  for (const carve::Carver& carver : carve::Carvers()) {
    if (!carver.starts(head)) continue;
    std::string_view typed = carver.typed;
    for (size_t at = 0; at < typed.size();) {
      size_t end = std::min(typed.find(' ', at), typed.size());
      if (typed.substr(at, end - at) == extension) return true;
      at = end + 1;
    }
    return false;
  }
  return false;
}

}  // namespace brevid
