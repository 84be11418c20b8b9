#include "view/row_filter.h"

#include <fnmatch.h>

#include "platform/codepage.h"

namespace brevid {

bool RowFilter::NarrowsFiles() const {
  return !nameGlob.empty() || minSize || maxSize || !modifiedAfter.empty() ||
         !modifiedBefore.empty();
}

bool RowFilter::Matches(const FileRow& row) const {
  if (deletedOnly && !row.deleted) return false;
  if (!NarrowsFiles()) return true;
  if (row.folder) return false;
  if (minSize && row.size < *minSize) return false;
  if (maxSize && row.size > *maxSize) return false;
  // The time texts start "YYYY-MM-DD", so days compare as text.
  const std::string day = row.modified.substr(0, 10);
  if (!modifiedAfter.empty() && day < modifiedAfter) return false;
  if (!modifiedBefore.empty() && day > modifiedBefore) return false;
  return nameGlob.empty() ||
         ::fnmatch(nameGlob.c_str(), AnsiToUtf8(row.name).c_str(), FNM_CASEFOLD) == 0;
}

bool IsDayText(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return false;
  const int month = std::stoi(text.substr(5, 2)), day = std::stoi(text.substr(8, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

}  // namespace brevid
