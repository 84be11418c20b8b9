#include "view/file_rows.h"

#include <utility>

#include "platform/codepage.h"

namespace brevid {

FileRow RowOf(NodeHandle node) {
  FileRow r;
  if (node.IsNull()) return r;
  r.name = node.Name();
  r.kind = node.Kind();
  r.status = KindStatusText(r.kind);
  r.number = node.Number();
  r.created = node.CreatedText();
  NodeHandle parent = node.Parent();
  if (const NtfsEntry* e = node.Ntfs()) {
    r.size = e->size;
    r.modified = NtfsTimeText(e->modifyTime);
    r.accessed = NtfsTimeText(e->accessTime);
    // The number the record names, which a placeholder parent shares.
    if (!parent.IsNull()) r.parentNumber = e->parentNumber;
  } else {
    const FileEntry* f = node.Fat();
    r.size = f->size;
    r.modified = FatTimeText(f->writeDate, f->writeTime);
    r.accessed = r.modified;  // FAT keeps no access time of day
    if (!parent.IsNull()) r.parentNumber = parent.Number();
  }
  r.sizeText = std::to_string(r.size);
  r.numberText = std::to_string(r.number);
  if (r.parentNumber) r.parentNumberText = std::to_string(*r.parentNumber);
  r.deleted = IsDeletedKind(r.kind);
  r.folder = IsFolderKind(r.kind);
  return r;
}

std::vector<FileRow> FolderRows(NodeHandle folder) {
  std::vector<FileRow> rows;
  rows.reserve(folder.ChildCount());
  for (size_t i = 0; i < folder.ChildCount(); ++i) rows.push_back(RowOf(folder.Child(i)));
  return rows;
}

const std::string& ExtraFoundText() {
  static const std::string text = "Extra Found Files";
  return text;
}

bool HasExtraFoundItem(const DiskInfo& disk, const VolumeInfo& volume) {
  auto it = disk.extraFound.children.lower_bound(volume.start);
  return it != disk.extraFound.children.end() && it->first - volume.start < volume.sectorCount;
}

namespace {

void AddFolderItems(NodeHandle folder, int depth, std::vector<FolderItem>& items) {
  // Depth first without recursion: deep NTFS chains would exhaust the stack.
  std::vector<std::pair<NodeHandle, int>> pending{{folder, depth}};
  while (!pending.empty()) {
    auto [node, d] = pending.back();
    pending.pop_back();
    bool deleted = IsDeletedKind(node.Kind());
    items.push_back({node, d, node.Name(), deleted ? kDeletedFolderImage : kFolderImage,
                     std::to_string(node.Number()), node.CreatedText(), deleted});
    for (size_t i = node.ChildCount(); i-- > 0;)
      if (node.Child(i).IsFolder()) pending.push_back({node.Child(i), d + 1});
  }
}

}  // namespace

std::vector<FolderItem> FolderItems(const NodeTable& table, const DiskInfo& disk,
                                    const VolumeInfo& volume) {
  std::vector<FolderItem> items;
  AddFolderItems(table.Root(), 0, items);
  AddFolderItems(table.Scattered(), 0, items);
  if (HasExtraFoundItem(disk, volume))
    items.push_back(
        {NodeHandle(), 0, ExtraFoundText(), kFolderImage, "0", ExtraFoundText(), false});
  return items;
}

std::vector<ListingRow> TreeListing(const NodeTable& table) {
  std::vector<ListingRow> rows;
  for (NodeHandle top : {table.Root(), table.Scattered()}) {
    std::vector<std::pair<NodeHandle, size_t>> pending{{top, 0}};  // node, row of its parent
    while (!pending.empty()) {
      auto [node, parentRow] = pending.back();
      pending.pop_back();
      ListingRow row{AnsiToUtf8(node.Name()), 0, RowOf(node)};
      if (node != top) {
        row.path = rows[parentRow].path + "/" + row.path;
        row.depth = rows[parentRow].depth + 1;
      }
      rows.push_back(std::move(row));
      if (!node.IsFolder()) continue;
      for (size_t i = node.ChildCount(); i-- > 0;)
        pending.push_back({node.Child(i), rows.size() - 1});
    }
  }
  return rows;
}

std::vector<ListingRow> ExtraFoundListing(const DiskInfo& disk, const VolumeInfo& volume) {
  std::vector<ListingRow> rows;
  if (!HasExtraFoundItem(disk, volume)) return rows;
  FileRow folder;
  folder.name = ExtraFoundText();
  folder.status = KindStatusText(kNormalFolder);
  folder.sizeText = "0";
  folder.numberText = "0";
  folder.kind = kNormalFolder;
  folder.folder = true;
  rows.push_back({ExtraFoundText(), 0, folder});
  const SectorRange extent = volume.Extent();
  for (auto it = disk.extraFound.children.lower_bound(volume.start);
       it != disk.extraFound.children.end() && extent.Contains(it->first); ++it) {
    FileRow r;
    r.name = it->second.name;
    r.kind = kDeletedFile;
    r.status = KindStatusText(kDeletedFile);
    r.size = it->second.size;
    r.sizeText = std::to_string(r.size);
    r.number = it->first;
    r.numberText = std::to_string(it->first);
    r.deleted = true;
    rows.push_back({ExtraFoundText() + "/" + AnsiToUtf8(r.name), 1, r});
  }
  return rows;
}

}  // namespace brevid
