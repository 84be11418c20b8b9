#include "view/file_rows.h"

#include <charconv>
#include <cstdio>
#include <utility>

#include "common/sector_range.h"
#include "fs/volume_trees.h"
#include "platform/codepage.h"
#include "view/recovery_chances.h"

namespace brevid {

namespace {

void AssignNumber(uint64_t n, std::string* out) {
  char digits[24];
  out->assign(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

}  // namespace

void FillRow(NodeHandle node, FileRow* r) {
  if (node.IsNull()) {
    *r = FileRow();
    return;
  }
  r->name = node.Name();
  r->kind = node.Kind();
  r->status = KindStatusText(r->kind);
  r->number = node.Number();
  r->parentNumber.reset();
  NodeHandle parent = node.Parent();
  if (const NtfsEntry* e = node.Ntfs()) {
    r->size = e->size;
    AssignNtfsTimeText(e->createTime, &r->created);
    AssignNtfsTimeText(e->modifyTime, &r->modified);
    AssignNtfsTimeText(e->accessTime, &r->accessed);
    // The number the record names, which a placeholder parent shares.
    if (!parent.IsNull()) r->parentNumber = e->parentNumber;
  } else {
    const FileEntry* f = node.Fat();
    r->size = f->Length();
    AssignCreatedText(*f, &r->created);
    AssignModifiedText(*f, &r->modified);
    r->accessed = r->modified;  // FAT keeps no access time of day
    if (!parent.IsNull()) r->parentNumber = parent.Number();
  }
  AssignNumber(r->size, &r->sizeText);
  AssignNumber(r->number, &r->numberText);
  if (r->parentNumber)
    AssignNumber(*r->parentNumber, &r->parentNumberText);
  else
    r->parentNumberText.clear();
  r->deleted = IsDeletedKind(r->kind);
  r->folder = IsFolderKind(r->kind);
  r->recovery = RecoveryChance::kUnknown;
}

FileRow RowOf(NodeHandle node) {
  FileRow r;
  FillRow(node, &r);
  return r;
}

FileRow CarvedFileRow(uint64_t sector, const CarvedFile& found) {
  FileRow r;
  r.name = found.name;
  r.kind = kDeletedFile;
  r.status = KindStatusText(kDeletedFile);
  r.size = found.size;
  r.sizeText = std::to_string(r.size);
  r.number = sector;
  r.numberText = std::to_string(sector);
  r.deleted = true;
  return r;
}

std::string ReadableSize(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static const char* const units[] = {"KB", "MB", "GB", "TB", "PB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  for (; value >= 1024 && unit < 4; ++unit) value /= 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
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

// A carved file that the volume's tree shows as its own file is listed there only.
bool ShownInTree(const VolumeInfo& volume, uint64_t start) {
  return volume.trees && volume.trees->carvedInTree.count(start) != 0;
}

bool HasExtraFoundItem(const DiskInfo& disk, const VolumeInfo& volume) {
  const SectorRange extent = volume.Extent();
  for (auto it = disk.extraFound.children.lower_bound(volume.start);
       it != disk.extraFound.children.end() && extent.Contains(it->first); ++it)
    if (!ShownInTree(volume, it->first)) return true;
  return false;
}

FolderItemWalk::FolderItemWalk(const NodeTable& table, const DiskInfo& disk,
                               const VolumeInfo& volume)
    : pending_{{table.Scattered(), 0}, {table.Root(), 0}},
      extraFound_(HasExtraFoundItem(disk, volume)) {}

bool FolderItemWalk::Next(FolderItem* item) {
  // Depth first without recursion: deep NTFS chains would exhaust the stack.
  if (pending_.empty()) {
    if (!std::exchange(extraFound_, false)) return false;
    *item = {NodeHandle(), 0, ExtraFoundText(), kFolderImage, "0", ExtraFoundText(), false};
    return true;
  }
  auto [node, d] = pending_.back();
  pending_.pop_back();
  bool deleted = IsDeletedKind(node.Kind());
  *item = {node,
           d,
           node.Name(),
           deleted ? kDeletedFolderImage : kFolderImage,
           std::to_string(node.Number()),
           node.CreatedText(),
           deleted};
  for (size_t i = node.ChildCount(); i-- > 0;)
    if (node.Child(i).IsFolder()) pending_.push_back({node.Child(i), d + 1});
  return true;
}

std::vector<FolderItem> FolderItems(const NodeTable& table, const DiskInfo& disk,
                                    const VolumeInfo& volume) {
  std::vector<FolderItem> items;
  FolderItemWalk walk(table, disk, volume);
  for (FolderItem item; walk.Next(&item);) items.push_back(std::move(item));
  return items;
}

std::vector<ListingRow> TreeListing(const NodeTable& table) {
  std::vector<ListingRow> rows;
  ForEachListingRow(table, [&rows](const ListingRow& row) { rows.push_back(row); });
  return rows;
}

namespace {

// Through the entries' own child lists: the node table's child lists would
// be built for every folder of the volume and kept.
template <class Entry>
void ListFrom(const NodeTable& table, Entry& top, ListingRow& row,
              const std::function<void(const ListingRow&)>& f, RecoveryChances* chances,
              bool withPaths) {
  // The last path seen one level up is the parent's.
  std::vector<std::string> pathAt;
  auto emit = [&](Entry& entry, int depth) {
    const NodeHandle node(&entry, &table);
    FillRow(node, &row.row);
    row.depth = depth;
    if (withPaths) {
      pathAt.resize(depth + 1);
      std::string& path = pathAt[depth];
      path.clear();
      if (depth > 0) path.append(pathAt[depth - 1]).append("/");
      AppendAnsiAsUtf8(row.row.name, &path);
      row.path = path;
    }
    if (chances) row.row.recovery = chances->Of(node);
    f(row);
  };
  emit(top, 0);
  if (!top.IsFolder()) return;
  ForEachBelow(top, [&](Entry& child, std::span<Entry* const> folders) {
    emit(child, static_cast<int>(folders.size()));
  });
}

}  // namespace

void ForEachListingRow(const NodeTable& table, const std::function<void(const ListingRow&)>& f,
                       RecoveryChances* chances, bool withPaths) {
  // One row refilled for every entry: its texts keep their storage.
  ListingRow row;
  for (NodeHandle top : {table.Root(), table.Scattered()}) {
    if (NtfsEntry* e = top.Ntfs())
      ListFrom(table, *e, row, f, chances, withPaths);
    else if (FileEntry* fat = top.Fat())
      ListFrom(table, *fat, row, f, chances, withPaths);
  }
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
    if (ShownInTree(volume, it->first)) continue;
    FileRow r = CarvedFileRow(it->first, it->second);
    rows.push_back({ExtraFoundText() + "/" + AnsiToUtf8(r.name), 1, r, true});
  }
  return rows;
}

}  // namespace brevid
