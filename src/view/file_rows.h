// What the file pane's lists show: a row of the right list for each entry,
// the folder items of the left list, and the flat listing of a whole tree
// that `brevid tree` prints. Rows are plain copies (texts in CP936 unless
// said otherwise) and do not point into the tree.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_info.h"
#include "fs/recovery_chance.h"
#include "view/node_handle.h"

namespace brevid {

// One entry as a row of the right list, in column order.
struct FileRow {
  std::string name;              // "名称"
  std::string status;            // "状态": KindStatusText
  std::string sizeText;          // "大小", decimal
  std::string created;           // "创建时间"
  std::string modified;          // "修改时间"
  std::string accessed;          // "文件读取时间": FAT shows the last write again
  std::string numberText;        // "文件号"
  std::string parentNumberText;  // "文件父号", empty when the entry has no parent
  uint8_t kind = kKindNone;
  uint64_t size = 0;
  uint64_t number = 0;
  std::optional<uint64_t> parentNumber;
  bool deleted = false;                                // drawn red
  bool folder = false;                                 // gets the folder icon
  RecoveryChance recovery = RecoveryChance::kUnknown;  // "可恢复性", when asked for
};

FileRow RowOf(NodeHandle node);
// RowOf into `row`, whose texts keep their storage for the next.
void FillRow(NodeHandle node, FileRow* row);

// The row of a carved file found at `sector`: a deleted file numbered by it.
FileRow CarvedFileRow(uint64_t sector, const CarvedFile& found);

// A size as a reader takes it in: "512 B", "12.3 KB", "4.0 MB", "1.5 GB"
// (units of 1024), one decimal above bytes.
std::string ReadableSize(uint64_t bytes);

// The right list for a folder: its children in list order.
std::vector<FileRow> FolderRows(NodeHandle folder);

// Images of the left list.
constexpr int kFolderImage = 0;
constexpr int kDeletedFolderImage = 12;
constexpr int kVolumeRootImage = 13;

// One item of the left list below the volume's root item.
struct FolderItem {
  NodeHandle node;  // null for "Extra Found Files"
  int depth = 0;    // 0: directly under the volume's root item
  std::string name;
  int image = kFolderImage;
  std::string numberText;  // "File Id"
  std::string timeText;    // "Create Time"
  bool deleted = false;    // drawn red
};

// The left list's items in list order: each pseudo folder the pane shows and
// its folders depth first (files and what lies below them are not items),
// then "Extra Found Files" when the disk holds a carved file in the volume.
std::vector<FolderItem> FolderItems(const NodeTable& table, const DiskInfo& disk,
                                    const VolumeInfo& volume);

// FolderItems one at a time, so that a pane can fill a large tree in
// slices between events. The table must outlive the walk.
class FolderItemWalk {
 public:
  FolderItemWalk(const NodeTable& table, const DiskInfo& disk, const VolumeInfo& volume);
  // False once every item has been given.
  bool Next(FolderItem* item);

 private:
  std::vector<std::pair<NodeHandle, int>> pending_;  // node, depth; the next on top
  bool extraFound_;
};

// "Extra Found Files" (CP936 and ASCII alike).
const std::string& ExtraFoundText();

// True when a carved file of `disk` starts inside `volume`.
bool HasExtraFoundItem(const DiskInfo& disk, const VolumeInfo& volume);

// One line of the whole tree's listing.
struct ListingRow {
  std::string path;  // UTF-8, from the pseudo folder down, "/" between names
  int depth = 0;     // 0 for the pseudo folders
  FileRow row;
  bool carved = false;  // found by its signature: `row.number` is its first sector
};

class RecoveryChances;

// Every entry depth first in list order, the pane's two pseudo folders first
// of their trees.
std::vector<ListingRow> TreeListing(const NodeTable& table);
// The same rows one at a time, none kept: a listing of a million entries
// would hold a kilobyte of text for each. With `chances`, each deleted
// file's row carries its recovery chance. Without `withPaths`, rows have no
// path. The row given is reused for the next.
void ForEachListingRow(const NodeTable& table, const std::function<void(const ListingRow&)>& f,
                       RecoveryChances* chances = nullptr, bool withPaths = true);

// "Extra Found Files" and, below it, each carved file of `disk` that starts
// inside `volume`, in start order: status "已删除文件", its size, and its start
// sector as the file number. Empty when the volume holds none.
std::vector<ListingRow> ExtraFoundListing(const DiskInfo& disk, const VolumeInfo& volume);

}  // namespace brevid
