#include "ui/file_models.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "ui/image_list.h"
#include "ui/pane_list.h"
#include "ui/ui_text.h"

namespace brevid::ui {
namespace {

// Ids of the left items that are not nodes.
const char kVolumeRootTag = 0;
const char kExtraFoundTag = 0;
const void* const kVolumeRootId = &kVolumeRootTag;
const void* const kExtraFoundId = &kExtraFoundTag;

Qt::CheckState ToQt(int state) {
  return state == kTicked       ? Qt::Checked
         : state == kTickPartly ? Qt::PartiallyChecked
                                : Qt::Unchecked;
}
int FromQt(const QVariant& value) {
  const auto state = static_cast<Qt::CheckState>(value.toInt());
  return state == Qt::Checked ? kTicked : state == Qt::PartiallyChecked ? kTickPartly : kTickClear;
}

const char* const kRightHeadings[] = {"名称",         "状态",   "大小",     "创建时间", "修改时间",
                                      "文件读取时间", "文件号", "文件父号", "可恢复性"};

// Times as numbers that sort as the texts read.
uint64_t TimeKey(NodeHandle node, int column) {
  if (const NtfsEntry* e = node.Ntfs())
    return column == FileListModel::kCreated    ? e->createTime
           : column == FileListModel::kModified ? e->modifyTime
                                                : e->accessTime;
  const FileEntry* f = node.Fat();
  if (column == FileListModel::kCreated) return uint64_t{f->createDate} << 16 | f->createTime;
  return uint64_t{f->writeDate} << 16 | f->writeTime;
}

uint64_t SizeOf(NodeHandle node) {
  if (node.IsNull()) return 0;
  return node.Ntfs() ? node.Ntfs()->size : node.Fat()->size;
}

}  // namespace

bool PaneContent::Shows(NodeHandle node) const {
  if (!Filtered()) return true;
  return filter.MatchesNode(node, chances.get());
}

bool PaneContent::ShowsFolder(NodeHandle folder) const {
  return !Filtered() || foldersWithMatches.count(folder.Address()) != 0;
}

// ---- left list ----

FolderModel::FolderModel(PaneContent& content, QObject* parent)
    : QAbstractItemModel(parent), content_(content) {}

void FolderModel::Rebuild() {
  beginResetModel();
  children_.clear();
  rowOf_.clear();
  endResetModel();
}

const void* FolderModel::IdOf(NodeHandle node) const { return node.Address(); }

const std::vector<const void*>& FolderModel::Children(const void* id) const {
  auto found = children_.find(id);
  if (found != children_.end()) return found->second;
  std::vector<const void*> list;
  const NodeTable* table = content_.table.get();
  if (!table) {
  } else if (id == nullptr) {
    list.push_back(kVolumeRootId);
  } else if (id == kVolumeRootId) {
    for (NodeHandle top : {table->Root(), table->Scattered()})
      if (content_.ShowsFolder(top)) list.push_back(IdOf(top));
    if (content_.disk && content_.volume && !content_.filter.NarrowsFiles() &&
        HasExtraFoundItem(*content_.disk, *content_.volume))
      list.push_back(kExtraFoundId);
  } else if (id != kExtraFoundId) {
    table->HandleAt(id).ForEachChild([&](NodeHandle child) {
      if (child.IsFolder() && content_.ShowsFolder(child)) list.push_back(IdOf(child));
    });
  }
  for (size_t i = 0; i < list.size(); ++i) rowOf_[list[i]] = static_cast<int>(i);
  return children_.emplace(id, std::move(list)).first->second;
}

FolderModel::ItemKind FolderModel::KindOf(const QModelIndex& index) const {
  if (!index.isValid()) return ItemKind::kNone;
  const void* id = index.internalPointer();
  return id == kVolumeRootId   ? ItemKind::kVolumeRoot
         : id == kExtraFoundId ? ItemKind::kExtraFound
                               : ItemKind::kFolder;
}

NodeHandle FolderModel::NodeOf(const QModelIndex& index) const {
  if (KindOf(index) != ItemKind::kFolder || !content_.table) return NodeHandle();
  return content_.table->HandleAt(index.internalPointer());
}

QModelIndex FolderModel::VolumeRootIndex() const {
  return content_.table ? createIndex(0, 0, kVolumeRootId) : QModelIndex();
}

QModelIndex FolderModel::ExtraFoundIndex() const {
  const std::vector<const void*>& tops = Children(kVolumeRootId);
  auto found = std::find(tops.begin(), tops.end(), kExtraFoundId);
  if (found == tops.end()) return {};
  return createIndex(static_cast<int>(found - tops.begin()), 0, kExtraFoundId);
}

QModelIndex FolderModel::IndexOfNode(NodeHandle folder) const {
  if (folder.IsNull() || !content_.ShowsFolder(folder)) return {};
  // The parent's list gives the row.
  NodeHandle up = folder.Parent();
  Children(up.IsNull() ? kVolumeRootId : IdOf(up));
  auto row = rowOf_.find(IdOf(folder));
  if (row == rowOf_.end()) return {};
  return createIndex(row->second, 0, IdOf(folder));
}

QModelIndex FolderModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= 3) return {};
  const std::vector<const void*>& list =
      Children(parent.isValid() ? parent.internalPointer() : nullptr);
  if (row >= static_cast<int>(list.size())) return {};
  return createIndex(row, column, list[row]);
}

QModelIndex FolderModel::parent(const QModelIndex& child) const {
  const void* id = child.internalPointer();
  if (!child.isValid() || id == kVolumeRootId) return {};
  if (id == kExtraFoundId) return VolumeRootIndex();
  NodeHandle up = content_.table->HandleAt(id).Parent();
  if (up.IsNull()) return VolumeRootIndex();
  return IndexOfNode(up);
}

int FolderModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  return static_cast<int>(Children(parent.isValid() ? parent.internalPointer() : nullptr).size());
}

int FolderModel::columnCount(const QModelIndex&) const { return 3; }

QVariant FolderModel::data(const QModelIndex& index, int role) const {
  const ItemKind kind = KindOf(index);
  if (kind == ItemKind::kNone) return {};
  NodeHandle node = NodeOf(index);
  if (role == Qt::DisplayRole) {
    if (kind == ItemKind::kVolumeRoot)
      return index.column() == 0 ? FromAnsi(content_.volumeName) : QVariant();
    if (kind == ItemKind::kExtraFound)
      return index.column() == 1 ? QString("0") : QString::fromStdString(ExtraFoundText());
    if (index.column() == 1) return QString::number(node.Number());
    if (index.column() == 2) return FromAnsi(node.CreatedText());
    return FromAnsi(node.Name());
  }
  if (index.column() != 0) return {};
  const bool deleted = kind == ItemKind::kFolder && IsDeletedKind(node.Kind());
  if (role == Qt::DecorationRole || role == kItemImageRole) {
    const int image = kind == ItemKind::kVolumeRoot ? kImageDisk
                      : deleted                     ? kImageDeletedFolder
                                                    : kImageFolder;
    return role == kItemImageRole ? QVariant(image) : QVariant(ImageList()[image]);
  }
  if (role == Qt::ForegroundRole && deleted) return kRed;
  if (role == Qt::CheckStateRole) {
    if (kind == ItemKind::kFolder) return ToQt(node.Tick());
    return ToQt(tickOf ? tickOf(kind) : 0);
  }
  return {};
}

bool FolderModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid()) return false;
  if (onTick) onTick(index, FromQt(value));
  return true;
}

Qt::ItemFlags FolderModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable |
         (index.column() == 0 ? Qt::ItemIsUserCheckable : Qt::NoItemFlags);
}

QVariant FolderModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const headings[] = {"磁盘分区", "File Id", "Create Time"};
  return section >= 0 && section < 3 ? QString(headings[section]) : QVariant();
}

// ---- right list ----

FileListModel::FileListModel(PaneContent& content, const FolderModel& folders, QObject* parent)
    : QAbstractItemModel(parent), content_(content), folders_(folders) {}

void FileListModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void FileListModel::ShowFolder(const QModelIndex& leftItem) {
  beginResetModel();
  rows_.clear();
  using Kind = FolderModel::ItemKind;
  const Kind kind = folders_.KindOf(leftItem);
  if (kind == Kind::kVolumeRoot) {
    // The volume's item lists the items below it, as they stand in the left list.
    for (int r = 0; r < folders_.rowCount(leftItem); ++r) {
      QModelIndex child = folders_.index(r, 0, leftItem);
      rows_.push_back({folders_.NodeOf(child).Address(), false, 0, child});
    }
  } else if (kind == Kind::kExtraFound && content_.disk && content_.volume) {
    std::vector<ListingRow> listing = ExtraFoundListing(*content_.disk, *content_.volume);
    for (size_t i = 1; i < listing.size(); ++i)
      rows_.push_back({nullptr, true, listing[i].row.number, {}});
  } else if (kind == Kind::kFolder) {
    NodeHandle folder = folders_.NodeOf(leftItem);
    folder.ForEachChild([&](NodeHandle child) {
      if (content_.Shows(child)) rows_.push_back({child.Address(), false, 0, {}});
    });
  }
  SortRows();
  endResetModel();
}

const FileListModel::Row* FileListModel::RowAt(int row) const {
  return row >= 0 && row < static_cast<int>(rows_.size()) ? &rows_[row] : nullptr;
}

NodeHandle FileListModel::NodeAt(int row) const {
  const Row* r = RowAt(row);
  return r && r->node && content_.table ? content_.table->HandleAt(r->node) : NodeHandle();
}

FileRow FileListModel::FileRowAt(int row) const {
  const Row* r = RowAt(row);
  FileRow f;
  if (!r) return f;
  if (r->carved) {
    auto found = content_.disk->extraFound.children.find(r->start);
    if (found == content_.disk->extraFound.children.end()) return f;
    return CarvedFileRow(r->start, found->second);
  }
  if (r->leftItem.isValid() && !r->node) {
    // "Extra Found Files" listed under the volume's item.
    f.name = ExtraFoundText();
    f.kind = kNormalFolder;
    f.status = KindStatusText(kNormalFolder);
    f.folder = true;
    f.sizeText = "0";
    f.created = f.modified = f.accessed = ExtraFoundText();
    f.numberText = "0";
    return f;
  }
  NodeHandle node = NodeAt(row);
  f = RowOf(node);
  if (r->leftItem.isValid()) {
    // The volume's listing shows its folders as the left list does.
    f.status = KindStatusText(kNormalFolder);
    f.deleted = false;
    f.modified = f.accessed = f.created;
    f.parentNumberText.clear();
  }
  if (content_.chances) f.recovery = content_.chances->Of(node);
  return f;
}

int FileListModel::TickOf(const Row& row) const {
  if (row.leftItem.isValid()) return FromQt(folders_.data(row.leftItem, Qt::CheckStateRole));
  if (row.carved) {
    auto found = content_.disk->extraFound.children.find(row.start);
    return found != content_.disk->extraFound.children.end() ? found->second.tickState : 0;
  }
  return content_.table ? content_.table->HandleAt(row.node).Tick() : 0;
}

void FileListModel::TicksChanged() {
  if (!rows_.empty())
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, 0),
                     {Qt::CheckStateRole});
}

QModelIndex FileListModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 ||
      column >= kColumnCount)
    return {};
  return createIndex(row, column);
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex&) const { return kColumnCount; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  const Row* row = RowAt(index.row());
  if (!row) return {};
  const int column = index.column();
  if (role == Qt::CheckStateRole) return column == 0 ? QVariant(ToQt(TickOf(*row))) : QVariant();
  if (role != Qt::DisplayRole && role != Qt::ForegroundRole && role != Qt::DecorationRole &&
      role != Qt::ToolTipRole && role != kExactRole && role != Qt::TextAlignmentRole)
    return {};
  if (role == Qt::TextAlignmentRole)
    return column == kSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
  const FileRow f = FileRowAt(index.row());
  if (role == Qt::ForegroundRole) return f.deleted ? QVariant(kRed) : QVariant();
  if (role == Qt::DecorationRole)
    return column == 0 && iconFor ? QVariant(iconFor(FromAnsi(f.name), f.folder)) : QVariant();
  if (column == kSize && role != Qt::DisplayRole)
    return role == kExactRole
               ? QVariant(QString::fromStdString(f.sizeText))
               : QVariant(QString("%1 字节").arg(QString::fromStdString(f.sizeText)));
  if (role == Qt::ToolTipRole) return {};
  switch (column) {
    case kName:
      return FromAnsi(f.name);
    case kStatus:
      return FromAnsi(f.status);
    case kSize:
      return f.folder ? QString(FromAnsi(f.sizeText))
                      : QString::fromStdString(ReadableSize(f.size));
    case kCreated:
      return FromAnsi(f.created);
    case kModified:
      return FromAnsi(f.modified);
    case kAccessed:
      return FromAnsi(f.accessed);
    case kNumber:
      return FromAnsi(f.numberText);
    case kParent:
      return FromAnsi(f.parentNumberText);
    case kRecovery:
      return FromAnsi(RecoveryText(f.recovery));
    default:
      return {};
  }
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const Row* row = RowAt(index.row());
  if (role != Qt::CheckStateRole || !row) return false;
  if (onTick) onTick(*row, FromQt(value));
  return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable |
         (index.column() == 0 ? Qt::ItemIsUserCheckable : Qt::NoItemFlags);
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section >= 0 && section < kColumnCount ? QString(kRightHeadings[section]) : QVariant();
}

void FileListModel::sort(int column, Qt::SortOrder order) {
  if (column == sortColumn_ && order == sortOrder_) return;
  beginResetModel();
  sortColumn_ = column;
  sortOrder_ = order;
  SortRows();
  endResetModel();
}

void FileListModel::SortRows() {
  if (sortColumn_ < 0 || !content_.table) return;
  const NodeTable& table = *content_.table;
  const int column = sortColumn_;
  // Keys made once per row: numbers where the column holds numbers.
  struct Keyed {
    uint64_t number;
    const char* text;  // zero-terminated, held by the node or the carved file
    Row row;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(rows_.size());
  for (Row& r : rows_) {
    NodeHandle node = r.node ? table.HandleAt(r.node) : NodeHandle();
    uint64_t number = 0;
    const char* text = "";
    if (r.carved) {
      auto found = content_.disk->extraFound.children.find(r.start);
      if (found != content_.disk->extraFound.children.end()) {
        text = found->second.name.c_str();
        number = column == kSize ? found->second.size : column == kNumber ? r.start : 0;
      }
    } else if (!node.IsNull()) {
      text = node.Ntfs() ? node.Ntfs()->name.c_str() : node.Fat()->name.c_str();
      switch (column) {
        case kStatus:
          number = node.Kind();
          break;
        case kSize:
          number = SizeOf(node);
          break;
        case kCreated:
        case kModified:
        case kAccessed:
          number = TimeKey(node, column);
          break;
        case kNumber:
          number = node.Number();
          break;
        case kParent:
          number = node.Parent().IsNull() ? 0 : RowOf(node).parentNumber.value_or(0);
          break;
        case kRecovery:
          number = content_.chances ? static_cast<uint64_t>(content_.chances->Of(node)) : 0;
          break;
        default:
          break;
      }
    }
    keyed.push_back({number, text, std::move(r)});
  }
  const bool byName = column == kName;
  auto less = [byName](const Keyed& a, const Keyed& b) {
    if (!byName && a.number != b.number) return a.number < b.number;
    return ::strcasecmp(a.text, b.text) < 0;
  };
  if (sortOrder_ == Qt::AscendingOrder)
    std::stable_sort(keyed.begin(), keyed.end(), less);
  else
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&less](const Keyed& a, const Keyed& b) { return less(b, a); });
  for (size_t i = 0; i < keyed.size(); ++i) rows_[i] = std::move(keyed[i].row);
}

}  // namespace brevid::ui
