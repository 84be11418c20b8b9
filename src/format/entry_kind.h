// What a directory entry or an MFT record says a name is: a folder or a
// file, deleted or not. The recovered file tree keeps these codes in its
// nodes; the values are the ones the panes and result files use.
#pragma once

#include <cstdint>

namespace brevid {

enum EntryKind : uint8_t {
  kKindNone = 0,
  kDeletedFolder = 1,
  kDeletedFile = 2,
  kNormalFolder = 3,  // also every pseudo folder
  kNormalFile = 4,
};

inline bool IsFolderKind(uint8_t kind) { return kind == kDeletedFolder || kind == kNormalFolder; }
inline bool IsFileKind(uint8_t kind) { return kind == kDeletedFile || kind == kNormalFile; }
inline bool IsDeletedKind(uint8_t kind) { return kind == kDeletedFolder || kind == kDeletedFile; }

}  // namespace brevid
