#include "view/row_filter.h"

#include <fnmatch.h>

#include <cctype>
#include <list>
#include <vector>

#include "platform/codepage.h"
#include "view/recovery_chances.h"

namespace brevid {

namespace {

// Lower-case extensions, each group's own.
const std::unordered_set<std::string>& GroupExtensions(TypeGroup group) {
  static const std::unordered_set<std::string> sets[] = {
      {},
      {"jpg", "jpeg", "jpe", "png", "gif", "bmp", "tif", "tiff", "webp", "ico",
       "psd", "heic", "raw", "cr2", "nef", "arw", "dng", "svg",  "pcx",  "tga"},
      {"txt", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "pdf", "rtf", "wps", "et",
       "dps", "csv", "odt",  "ods", "odp",  "htm", "html", "xml", "md",  "chm", "epub"},
      {"mp4", "avi", "mkv", "mov", "wmv", "flv", "mpg", "mpeg", "m4v", "3gp", "rm", "rmvb", "ts",
       "vob", "webm", "asf", "f4v"},
      {"mp3", "wav", "wma", "flac", "aac", "ogg", "m4a", "ape", "amr", "mid", "midi", "opus"},
      {"zip", "rar", "7z", "gz", "tgz", "tar", "bz2", "xz", "cab", "iso", "arj", "lzh", "z"},
  };
  return sets[static_cast<int>(group)];
}

// "*" and "?" over bytes, ASCII letters in either case: fnmatch's answer in
// the C locale, several times faster, which a million names need.
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool GlobMatches(const char* p, const char* s) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      resume = s;
    } else if (*p == '?' || (*p && AsciiLower(*p) == AsciiLower(*s))) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

// `ansi` is followed by a zero byte, as a std::string's or a node name's is:
// a node's name is matched where it lies.
bool NameMatches(const std::string& glob, std::string_view ansi) {
  // Plain ASCII names need no conversion; most names of a large volume are.
  bool ascii = true;
  for (unsigned char c : ansi) ascii &= c < 0x80;
  const std::string converted = ascii ? std::string() : AnsiToUtf8(ansi);
  const char* name = ascii ? ansi.data() : converted.c_str();
  if (glob.find_first_of("[\\") != std::string::npos)
    return ::fnmatch(glob.c_str(), name, FNM_CASEFOLD) == 0;
  return GlobMatches(glob.c_str(), name);
}

}  // namespace

TypeGroup TypeGroupOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return TypeGroup::kOther;
  std::string ext(name.substr(dot + 1));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (TypeGroup g : {TypeGroup::kPicture, TypeGroup::kDocument, TypeGroup::kVideo,
                      TypeGroup::kAudio, TypeGroup::kArchive})
    if (GroupExtensions(g).count(ext)) return g;
  return TypeGroup::kOther;
}

bool RowFilter::NarrowsFiles() const {
  return !nameGlob.empty() || minSize || maxSize || !modifiedAfter.empty() ||
         !modifiedBefore.empty() || recovery || type != TypeGroup::kAny;
}

namespace {

std::string ModifiedDayOf(const NtfsEntry& e) { return NtfsTimeText(e.modifyTime).substr(0, 10); }
std::string ModifiedDayOf(const FileEntry& f) {
  return FatTimeText(f.writeDate, f.writeTime).substr(0, 10);
}

// MatchesNode on the entry itself: a filter walks a million of them.
template <class Entry, class ChanceOf>
bool EntryMatches(const RowFilter& f, bool narrows, const Entry& e, const ChanceOf& chanceOf) {
  const uint8_t kind = e.Kind();
  if (f.deletedOnly && !IsDeletedKind(kind)) return false;
  if (!narrows) return true;
  if (IsFolderKind(kind)) return false;
  if ((f.minSize && e.size < *f.minSize) || (f.maxSize && e.size > *f.maxSize)) return false;
  if (f.type != TypeGroup::kAny && TypeGroupOf(e.name) != f.type) return false;
  if (!f.modifiedAfter.empty() || !f.modifiedBefore.empty()) {
    const std::string day = ModifiedDayOf(e);
    if ((!f.modifiedAfter.empty() && day < f.modifiedAfter) ||
        (!f.modifiedBefore.empty() && day > f.modifiedBefore))
      return false;
  }
  if (!f.nameGlob.empty() && !NameMatches(f.nameGlob, e.name)) return false;
  return !f.recovery || chanceOf() == *f.recovery;
}

}  // namespace

bool RowFilter::MatchesNode(NodeHandle node, RecoveryChances* chances) const {
  if (node.IsNull()) return false;
  auto chanceOf = [&] { return chances ? chances->Of(node) : RecoveryChance::kUnknown; };
  if (const NtfsEntry* e = node.Ntfs()) return EntryMatches(*this, NarrowsFiles(), *e, chanceOf);
  return EntryMatches(*this, NarrowsFiles(), *node.Fat(), chanceOf);
}

namespace {

// Every entry below `top` with the folders down to it in hand: no handle
// table is needed to find children.
template <class Entry>
void MarkFolders(const NodeTable& table, Entry& top, const RowFilter& filter,
                 RecoveryChances* chances, std::unordered_set<const void*>& folders) {
  const bool narrows = filter.NarrowsFiles();
  ForEachBelow(top, [&](Entry& child, std::span<Entry* const> path) {
    auto chanceOf = [&] {
      return chances ? chances->Of(NodeHandle(&child, &table)) : RecoveryChance::kUnknown;
    };
    if (EntryMatches(filter, narrows, child, chanceOf))
      for (size_t i = path.size(); i-- > 0 && folders.insert(path[i]).second;) {
      }
  });
}

}  // namespace

std::unordered_set<const void*> FoldersWithMatches(const NodeTable& table, const RowFilter& filter,
                                                   RecoveryChances* chances) {
  std::unordered_set<const void*> folders;
  for (NodeHandle top : {table.Root(), table.Scattered()}) {
    if (NtfsEntry* e = top.Ntfs())
      MarkFolders(table, *e, filter, chances, folders);
    else if (FileEntry* f = top.Fat())
      MarkFolders(table, *f, filter, chances, folders);
  }
  return folders;
}

bool RowFilter::Matches(const FileRow& row) const {
  if (deletedOnly && !row.deleted) return false;
  if (!NarrowsFiles()) return true;
  if (row.folder) return false;
  if (minSize && row.size < *minSize) return false;
  if (maxSize && row.size > *maxSize) return false;
  if (type != TypeGroup::kAny && TypeGroupOf(row.name) != type) return false;
  if (recovery && row.recovery != *recovery) return false;
  // The time texts start "YYYY-MM-DD", so days compare as text.
  const std::string day = row.modified.substr(0, 10);
  if (!modifiedAfter.empty() && day < modifiedAfter) return false;
  if (!modifiedBefore.empty() && day > modifiedBefore) return false;
  return nameGlob.empty() || NameMatches(nameGlob, row.name);
}

bool IsDayText(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return false;
  const int month = std::stoi(text.substr(5, 2)), day = std::stoi(text.substr(8, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

}  // namespace brevid
