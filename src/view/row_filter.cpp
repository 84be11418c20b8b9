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

// The day "YYYY-MM-DD" a node was last modified, as its row shows it.
std::string ModifiedDay(NodeHandle node) {
  if (const NtfsEntry* e = node.Ntfs()) return NtfsTimeText(e->modifyTime).substr(0, 10);
  const FileEntry* f = node.Fat();
  return FatTimeText(f->writeDate, f->writeTime).substr(0, 10);
}

// "*" and "?" over bytes, ASCII letters in either case: fnmatch's answer in
// the C locale, several times faster, which a million names need.
bool GlobMatches(const char* p, const char* s) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      resume = s;
    } else if (*p == '?' || (*p && std::tolower(static_cast<unsigned char>(*p)) ==
                                       std::tolower(static_cast<unsigned char>(*s)))) {
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

bool NameMatches(const std::string& glob, const std::string& ansi) {
  // Plain ASCII names need no conversion; most names of a large volume are.
  bool ascii = true;
  for (unsigned char c : ansi) ascii &= c < 0x80;
  const std::string converted = ascii ? std::string() : AnsiToUtf8(ansi);
  const std::string& name = ascii ? ansi : converted;
  if (glob.find_first_of("[\\") != std::string::npos)
    return ::fnmatch(glob.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
  return GlobMatches(glob.c_str(), name.c_str());
}

}  // namespace

TypeGroup TypeGroupOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return TypeGroup::kOther;
  std::string ext = name.substr(dot + 1);
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

bool RowFilter::MatchesNode(NodeHandle node, RecoveryChances* chances) const {
  if (node.IsNull()) return false;
  const uint8_t kind = node.Kind();
  if (deletedOnly && !IsDeletedKind(kind)) return false;
  if (!NarrowsFiles()) return true;
  if (IsFolderKind(kind)) return false;
  const uint64_t size = node.Ntfs() ? node.Ntfs()->size : node.Fat()->size;
  if ((minSize && size < *minSize) || (maxSize && size > *maxSize)) return false;
  if (type != TypeGroup::kAny && TypeGroupOf(node.Name()) != type) return false;
  if (!modifiedAfter.empty() || !modifiedBefore.empty()) {
    const std::string day = ModifiedDay(node);
    if ((!modifiedAfter.empty() && day < modifiedAfter) ||
        (!modifiedBefore.empty() && day > modifiedBefore))
      return false;
  }
  if (!nameGlob.empty() && !NameMatches(nameGlob, node.Name())) return false;
  return !recovery || (chances && chances->Of(node) == *recovery);
}

namespace {

// Depth first over the entries' own child lists, with the path of folders
// down to the entry in hand: no handle table is needed to find children.
template <class Entry>
void MarkFolders(const NodeTable& table, Entry& top, const RowFilter& filter,
                 RecoveryChances* chances, std::unordered_set<const void*>& folders) {
  using Iter = typename std::list<Entry>::iterator;
  std::vector<std::pair<Entry*, Iter>> path{{&top, top.children.begin()}};
  while (!path.empty()) {
    auto& [folder, next] = path.back();
    if (next == folder->children.end()) {
      path.pop_back();
      continue;
    }
    Entry& child = *next++;
    if (filter.MatchesNode(NodeHandle(&child, &table), chances))
      for (size_t i = path.size(); i-- > 0 && folders.insert(path[i].first).second;) {
      }
    if (child.IsFolder()) path.push_back({&child, child.children.begin()});
  }
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
