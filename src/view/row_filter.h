// The file pane's filters over its rows, shared with `brevid tree` and
// `brevid save`: a name pattern, a size range, a modification-day range,
// "only deleted" and a recovery chance. Folders never match a size or day; a filter with only
// "deleted" set lets deleted folders through, as the plain listing does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "view/file_rows.h"

namespace brevid {

class RecoveryChances;

// Kinds of file told by their name's extension, as the file pane groups them.
enum class TypeGroup : uint8_t { kAny, kPicture, kDocument, kVideo, kAudio, kArchive, kOther };

// The group of a file named `name` (CP936 or UTF-8): kOther when no group
// claims its extension.
TypeGroup TypeGroupOf(std::string_view name);

struct RowFilter {
  std::string nameGlob;  // UTF-8; "*" and "?", case-insensitive; empty: any name
  std::optional<uint64_t> minSize;
  std::optional<uint64_t> maxSize;
  std::string modifiedAfter;   // "YYYY-MM-DD": modified on or after that day; empty: any
  std::string modifiedBefore;  // "YYYY-MM-DD": modified on or before that day; empty: any
  bool deletedOnly = false;
  // Only deleted files of this chance; rows must carry theirs (RecoveryChances).
  std::optional<RecoveryChance> recovery;
  TypeGroup type = TypeGroup::kAny;

  // True when anything but "only deleted" narrows the rows: then only files
  // are shown, each with its path.
  bool NarrowsFiles() const;
  bool Matches(const FileRow& row) const;
  // Matches(RowOf(node)) with the row's recovery chance, without making the
  // row's texts: cheap enough for every node of a million-entry tree.
  bool MatchesNode(NodeHandle node, RecoveryChances* chances) const;
};

// The folders holding a node that `filter` lets through, anywhere below
// them, pseudo folders included. Walks the whole tree once.
std::unordered_set<const void*> FoldersWithMatches(const NodeTable& table, const RowFilter& filter,
                                                   RecoveryChances* chances);

// True for a "YYYY-MM-DD" day with a month 1-12 and a day 1-31.
bool IsDayText(const std::string& text);

}  // namespace brevid
