#include "format/rescue_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

namespace brevid {
namespace {

// ddrescue keeps positions in signed 64 bits; so does the map.
constexpr uint64_t kLargestPosition = std::numeric_limits<int64_t>::max();

bool IsBlockStatus(char c) {
  return c == rescue::kNonTried || c == rescue::kNonTrimmed || c == rescue::kNonScraped ||
         c == rescue::kBadSector || c == rescue::kFinished;
}

bool IsPassStatus(char c) {
  return IsBlockStatus(c) || c == rescue_pass::kFilling || c == rescue_pass::kGenerating;
}

// A number as C writes it: 0x for hex, a leading 0 for octal, else decimal.
std::optional<uint64_t> ParseNumber(std::string_view text) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && text[0] == '0') {
    base = 8;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return std::nullopt;
    if (digit >= base || value > (kLargestPosition - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (fields.size() < 4) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string_view::npos) break;
    size_t end = line.find_first_of(" \t", at);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

bool Fail(std::string* error, size_t lineNumber, const char* why) {
  if (error) *error = "line " + std::to_string(lineNumber) + ": " + why;
  return false;
}

void MergeNeighbours(std::vector<RescueBlock>& blocks, size_t lo, size_t hi) {
  for (size_t j = lo + 1; j < std::min(hi, blocks.size());) {
    if (blocks[j - 1].status == blocks[j].status) {
      blocks[j - 1].size += blocks[j].size;
      blocks.erase(blocks.begin() + static_cast<ptrdiff_t>(j));
      --hi;
    } else {
      ++j;
    }
  }
}

}  // namespace

std::optional<RescueMap> ParseRescueMap(std::string_view text, std::string* error) {
  RescueMap map;
  bool haveStatus = false;
  size_t lineNumber = 0;
  while (!text.empty()) {
    size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> f = Fields(line);
    if (f.empty() || f[0][0] == '#') continue;
    if (!haveStatus) {
      std::optional<uint64_t> pos = ParseNumber(f[0]);
      std::optional<uint64_t> pass = f.size() == 3 ? ParseNumber(f[2]) : std::optional<uint64_t>(1);
      if (f.size() < 2 || f.size() > 3 || !pos || f[1].size() != 1 || !IsPassStatus(f[1][0]) ||
          !pass || *pass == 0 || *pass > 255) {
        Fail(error, lineNumber, "not a status line (current_pos current_status [current_pass])");
        return std::nullopt;
      }
      map.currentPos = *pos;
      map.currentStatus = f[1][0];
      map.currentPass = static_cast<uint32_t>(*pass);
      haveStatus = true;
      continue;
    }
    std::optional<uint64_t> pos = f.size() == 3 ? ParseNumber(f[0]) : std::nullopt;
    std::optional<uint64_t> size = f.size() == 3 ? ParseNumber(f[1]) : std::nullopt;
    if (!pos || !size || f[2].size() != 1 || !IsBlockStatus(f[2][0])) {
      Fail(error, lineNumber, "not a block line (pos size status)");
      return std::nullopt;
    }
    if (*size == 0 || *size > kLargestPosition - *pos) {
      Fail(error, lineNumber, "empty block or block past the largest position");
      return std::nullopt;
    }
    if (!map.blocks.empty() && map.blocks.back().End() != *pos) {
      Fail(error, lineNumber, "block does not follow the one before it");
      return std::nullopt;
    }
    map.blocks.push_back({*pos, *size, f[2][0]});
  }
  if (!haveStatus) {
    Fail(error, lineNumber, "no status line");
    return std::nullopt;
  }
  MergeNeighbours(map.blocks, 0, map.blocks.size());
  return map;
}

std::string FormatRescueMap(const RescueMap& map) {
  std::string text =
      "# Mapfile. Created by Brevid\n"
      "# current_pos  current_status  current_pass\n";
  char line[96];
  std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               %u\n", map.currentPos,
                map.currentStatus, map.currentPass);
  text += line;
  text += "#      pos        size  status\n";
  for (const RescueBlock& b : map.blocks) {
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", b.pos, b.size,
                  b.status);
    text += line;
  }
  return text;
}

void CoverRescueMap(RescueMap& map, uint64_t end) {
  std::vector<RescueBlock>& b = map.blocks;
  if (b.empty()) {
    if (end > 0) b.push_back({0, end, rescue::kNonTried});
    return;
  }
  if (b.front().pos > 0) {
    b.insert(b.begin(), {0, b.front().pos, rescue::kNonTried});
    MergeNeighbours(b, 0, 2);
  }
  if (b.back().End() < end) {
    b.push_back({b.back().End(), end - b.back().End(), rescue::kNonTried});
    MergeNeighbours(b, b.size() - 2, b.size());
  }
}

void SetRescueStatus(RescueMap& map, uint64_t pos, uint64_t size, char status) {
  if (size == 0 || pos >= kLargestPosition) return;
  size = std::min(size, kLargestPosition - pos);
  const uint64_t end = pos + size;
  CoverRescueMap(map, end);
  std::vector<RescueBlock>& b = map.blocks;
  auto first = std::partition_point(b.begin(), b.end(),
                                    [pos](const RescueBlock& x) { return x.End() <= pos; });
  auto last =
      std::partition_point(first, b.end(), [end](const RescueBlock& x) { return x.pos < end; });
  RescueBlock replacement[3];
  size_t count = 0;
  if (first->pos < pos) replacement[count++] = {first->pos, pos - first->pos, first->status};
  replacement[count++] = {pos, size, status};
  const RescueBlock tail = *(last - 1);
  if (tail.End() > end) replacement[count++] = {end, tail.End() - end, tail.status};
  const size_t at = static_cast<size_t>(first - b.begin());
  b.erase(first, last);
  b.insert(b.begin() + static_cast<ptrdiff_t>(at), replacement, replacement + count);
  MergeNeighbours(b, at > 0 ? at - 1 : 0, at + count + 1);
}

}  // namespace brevid
