// The file pane's two lists as Qt item models over view/'s node table: the
// folder tree (left) and the selected folder's entries (right). Texts, ticks
// and colours are read from the tree's nodes when a view asks, so nothing is
// copied and a tick shows everywhere at once. Both models read one
// PaneContent, which the pane owns; user-interface thread only, and only
// while no worker of the pane holds the tree.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "view/file_rows.h"
#include "view/node_handle.h"
#include "view/recovery_chances.h"
#include "view/row_filter.h"

namespace brevid::ui {

// What the lists show: one volume's tree and the filter over it.
struct PaneContent {
  std::unique_ptr<NodeTable> table;  // null: nothing shown
  DiskInfo* disk = nullptr;
  VolumeInfo* volume = nullptr;
  std::string volumeName;  // CP936, the left list's top item
  std::unique_ptr<RecoveryChances> chances;
  RowFilter filter;
  // With a filter: the folders holding a match; the left list shows only them.
  std::unordered_set<const void*> foldersWithMatches;

  bool Filtered() const { return filter.deletedOnly || filter.NarrowsFiles(); }
  // A node row the right list shows under the filter.
  bool Shows(NodeHandle node) const;
  // The folder item the left list shows under the filter.
  bool ShowsFolder(NodeHandle folder) const;
};

// Left list: the volume's item, its pseudo folders and folders depth first,
// then "Extra Found Files". Columns "磁盘分区", "File Id", "Create Time".
class FolderModel : public QAbstractItemModel {
 public:
  enum class ItemKind { kNone, kVolumeRoot, kFolder, kExtraFound };

  explicit FolderModel(PaneContent& content, QObject* parent = nullptr);

  // After the content's table or filter changed.
  void Rebuild();

  ItemKind KindOf(const QModelIndex& index) const;
  NodeHandle NodeOf(const QModelIndex& index) const;  // null unless kFolder
  QModelIndex VolumeRootIndex() const;
  // The item of `folder`, or an invalid index when the filter hides it.
  QModelIndex IndexOfNode(NodeHandle folder) const;
  // The item of "Extra Found Files", when shown.
  QModelIndex ExtraFoundIndex() const;

  // The operator set a tick box: the pane spreads the tick.
  std::function<void(const QModelIndex&, int state)> onTick;
  // The tick state of the volume's own item and of "Extra Found Files".
  std::function<int(ItemKind)> tickOf;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  // The child items of an item, found when first asked and kept.
  const std::vector<const void*>& Children(const void* id) const;
  const void* IdOf(NodeHandle node) const;

  PaneContent& content_;
  mutable std::unordered_map<const void*, std::vector<const void*>> children_;
  mutable std::unordered_map<const void*, int> rowOf_;
};

// Right list: the entries of the chosen left item, sortable by every column.
// Columns "名称", "状态", "大小", "创建时间", "修改时间", "文件读取时间",
// "文件号", "文件父号", "可恢复性".
class FileListModel : public QAbstractItemModel {
 public:
  enum Column {
    kName,
    kStatus,
    kSize,
    kCreated,
    kModified,
    kAccessed,
    kNumber,
    kParent,
    kRecovery,
    kColumnCount
  };
  // The exact value of a cell (sizes in bytes), for tool tips and tests.
  static constexpr int kExactRole = Qt::UserRole + 1;

  // One row: a node, or a carved file, or (for the volume's item) a left item.
  struct Row {
    const void* node = nullptr;
    bool carved = false;
    uint64_t start = 0;              // carved: its start sector
    QPersistentModelIndex leftItem;  // the volume's listing: the folder item it shows
  };

  FileListModel(PaneContent& content, const FolderModel& folders, QObject* parent = nullptr);

  // Lists the entries of `leftItem` (an index of the folder model), in the
  // current sort order.
  void ShowFolder(const QModelIndex& leftItem);
  void Clear();
  const Row* RowAt(int row) const;
  NodeHandle NodeAt(int row) const;
  // The texts the row shows, in column order (CP936 as FileRow holds them).
  FileRow FileRowAt(int row) const;
  // Redraws after ticks changed.
  void TicksChanged();

  std::function<void(const Row&, int state)> onTick;
  std::function<QIcon(const QString& name, bool folder)> iconFor;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex&) const override { return {}; }
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

 private:
  void SortRows();
  int TickOf(const Row& row) const;

  PaneContent& content_;
  const FolderModel& folders_;
  std::vector<Row> rows_;
  int sortColumn_ = -1;  // -1: list order
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace brevid::ui
