#include "format/lvm_metadata.h"

#include <algorithm>
#include <limits>
#include <map>

namespace brevid {
namespace {

constexpr std::string_view kNpos{};

std::string_view After(std::string_view text, std::string_view key) {
  size_t at = text.find(key);
  return at == std::string_view::npos ? kNpos : text.substr(at);
}

// A block's name: its characters before " {".
std::string_view NameBefore(std::string_view block, size_t drop) {
  size_t brace = block.find('{');
  if (brace == std::string_view::npos || brace < drop + 1) return {};
  return block.substr(drop, brace - 1 - drop);
}

std::string WithoutDashes(std::string_view id) {
  std::string out;
  for (char c : id)
    if (c != '-') out += c;
  return out;
}

uint32_t Decimal32(std::string_view text) {
  return static_cast<uint32_t>(
      std::min<uint64_t>(DecimalValue(text), std::numeric_limits<uint32_t>::max()));
}

// `"pv0", 12, "pv1", 40`: each quoted PV name followed by its first extent.
std::vector<LvmStripe> ParseStripes(std::string_view list,
                                    const std::map<std::string, std::string>& pvIds) {
  std::vector<LvmStripe> stripes;
  while (stripes.size() < lvm::kMaxStripes) {
    size_t open = list.find('"');
    if (open == std::string_view::npos) break;
    size_t close = list.find('"', open + 1);
    if (close == std::string_view::npos) break;
    std::string name(list.substr(open + 1, close - open - 1));
    list.remove_prefix(close + 1);
    size_t comma = list.find(',');
    if (comma == std::string_view::npos) break;
    LvmStripe stripe;
    stripe.startExtent = DecimalValue(list.substr(comma + 1));
    auto pv = pvIds.find(name);
    if (pv != pvIds.end()) stripe.pvId = pv->second;
    stripes.push_back(std::move(stripe));
    list.remove_prefix(comma + 1);
  }
  return stripes;
}

}  // namespace

bool ParseLvmLabel(Bytes sector1, LvmLabel* label) {
  if (!BytesEqual(sector1, lvm::kLabelMagic, "LABELONE")) return false;
  Bytes uuid = SubBytes(sector1, lvm::kPvUuid, lvm::kPvUuidSize);
  label->pvUuid.assign(uuid.begin(), uuid.end());
  // The data-area list ends at its zero entry; the metadata-area list starts
  // behind it. Both are bounded by the sector.
  size_t at = lvm::kDiskAreas;
  while (InBounds(sector1, at, lvm::kDiskAreaSize) && LoadLe64(sector1, at) != 0)
    at += lvm::kDiskAreaSize;
  at += lvm::kDiskAreaSize;
  if (InBounds(sector1, at, lvm::kDiskAreaSize)) {
    label->mdaOffset = LoadLe64(sector1, at);
    label->mdaSize = LoadLe64(sector1, at + 8);
  }
  return true;
}

LvmRawLocation ParseLvmMdaHeader(Bytes header) {
  return {LoadLe64(header, lvm::kRawLocationOffset),
          static_cast<uint32_t>(LoadLe64(header, lvm::kRawLocationSize)),
          LoadLe64(header, lvm::kMdaHeaderAreaSize)};
}

std::string GetValue(std::string_view text, std::string_view key) {
  std::string_view from = After(text, key);
  if (from.empty()) return {};
  if (key == "stripes") {
    size_t open = from.find('[');
    if (open == std::string_view::npos) return {};
    size_t close = from.find(']', open);
    if (close == std::string_view::npos) return {};
    return std::string(from.substr(open + 1, close - open - 1));
  }
  size_t lineEnd = from.find('\n');
  if (lineEnd == std::string_view::npos) return {};
  std::string_view line = from.substr(0, lineEnd);
  size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq + 2 >= line.size()) return {};
  return std::string(line.substr(eq + 2));
}

std::string_view BlockAt(std::string_view text) {
  size_t open = text.find('{');
  if (open == std::string_view::npos) return {};
  size_t depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '{') {
      ++depth;
    } else if (text[i] == '}' && --depth == 0) {
      return text.substr(0, i + 1);
    }
  }
  return {};
}

uint64_t DecimalValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  uint64_t value = 0;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

LvmMetadata ParseLvmMetadata(std::string_view text) {
  LvmMetadata md;
  // Looked up behind the group's own "{": a group whose name holds the
  // letters "id" would otherwise stop the search on its name line.
  size_t groupOpen = text.find('{');
  md.vgId = GetValue(groupOpen == std::string_view::npos ? text : text.substr(groupOpen), "id");
  md.extentSize = Decimal32(GetValue(text, "extent_size"));

  std::string_view pvs = BlockAt(After(text, "physical_volumes"));
  if (!pvs.empty()) {
    std::string_view body = pvs.substr(pvs.find('{') + 1);
    for (std::string_view e = BlockAt(body); !e.empty(); e = BlockAt(body)) {
      LvmPhysicalVolume pv;
      pv.name = NameBefore(e, 2);
      std::string id = GetValue(e, "id");
      if (id.size() >= 2) pv.id = WithoutDashes(std::string_view(id).substr(1, id.size() - 2));
      pv.devSize = DecimalValue(GetValue(e, "dev_size"));
      pv.peStart = DecimalValue(GetValue(e, "pe_start"));
      pv.peCount = Decimal32(GetValue(e, "pe_count"));
      md.physicalVolumes.push_back(std::move(pv));
      body.remove_prefix(e.size());
    }
  }

  std::map<std::string, std::string> pvIds;  // the first PV of each name
  for (const LvmPhysicalVolume& pv : md.physicalVolumes) pvIds.emplace(pv.name, pv.id);

  std::string_view lvs = BlockAt(After(text, "logical_volumes"));
  if (lvs.empty()) return md;
  std::string_view body = lvs.substr(lvs.find('{') + 1);
  for (std::string_view e = BlockAt(body); !e.empty(); e = BlockAt(body)) {
    LvmLogicalVolume lv;
    lv.name = NameBefore(e, 0);
    lv.typeText = "EXT";
    uint64_t count = DecimalValue(GetValue(e, "segment_count"));
    // Segments are written in order; each is looked for behind the one
    // before, so a hostile count of tiny segments costs one pass.
    std::string_view rest = e;
    for (uint64_t i = 1; i <= count; ++i) {
      std::string key = "segment" + std::to_string(i);
      std::string_view s = BlockAt(After(rest, key));
      // A count larger than the blocks written is damage: no further block
      // can follow, so the walk ends instead of searching billions of times.
      if (s.empty()) break;
      rest = After(rest, key).substr(s.size());
      LvmSegment seg;
      seg.startExtent = Decimal32(GetValue(s, "start_extent"));
      seg.extentCount = Decimal32(GetValue(s, "extent_count"));
      seg.stripeCount = Decimal32(GetValue(s, "stripe_count"));
      seg.stripeSectors = Decimal32(GetValue(s, "stripe_size"));
      uint64_t sectors = uint64_t{seg.extentCount} * md.extentSize;
      lv.sizeSectors = lv.sizeSectors > std::numeric_limits<uint64_t>::max() - sectors
                           ? std::numeric_limits<uint64_t>::max()
                           : lv.sizeSectors + sectors;
      std::string stripes = GetValue(s, "stripes");
      size_t comma = stripes.find(',');
      if (comma != std::string::npos && comma >= 3) {
        std::string name = stripes.substr(2, comma - 3);
        seg.stripeStart = DecimalValue(std::string_view(stripes).substr(comma + 1));
        auto pv = pvIds.find(name);
        if (pv != pvIds.end()) seg.pvId = pv->second;
      }
      seg.stripes = ParseStripes(stripes, pvIds);
      lv.segments.push_back(std::move(seg));
    }
    md.logicalVolumes.push_back(std::move(lv));
    body.remove_prefix(e.size());
  }
  return md;
}

}  // namespace brevid
