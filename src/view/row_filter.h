// The file pane's filters over its rows, shared with `brevid tree` and
// `brevid save`: a name pattern, a size range, a modification-day range and
// "only deleted". Folders never match a size or day; a filter with only
// "deleted" set lets deleted folders through, as the plain listing does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "view/file_rows.h"

namespace brevid {

struct RowFilter {
  std::string nameGlob;  // UTF-8; "*" and "?", case-insensitive; empty: any name
  std::optional<uint64_t> minSize;
  std::optional<uint64_t> maxSize;
  std::string modifiedAfter;   // "YYYY-MM-DD": modified on or after that day; empty: any
  std::string modifiedBefore;  // "YYYY-MM-DD": modified on or before that day; empty: any
  bool deletedOnly = false;

  // True when anything but "only deleted" narrows the rows: then only files
  // are shown, each with its path.
  bool NarrowsFiles() const;
  bool Matches(const FileRow& row) const;
};

// True for a "YYYY-MM-DD" day with a month 1-12 and a day 1-31.
bool IsDayText(const std::string& text);

}  // namespace brevid
