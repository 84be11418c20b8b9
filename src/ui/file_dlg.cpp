#include "ui/file_dlg.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QResizeEvent>
#include <QTimer>

#include "device/volume_names.h"
#include "platform/message_box.h"
#include "tasks/content_read.h"
#include "ui/brevid_dlg.h"
#include "ui/image_list.h"
#include "ui/save_file_dlg.h"
#include "ui/ui_text.h"
#include "view/ticks.h"
#include "view/tree_paths.h"

namespace brevid::ui {
namespace {

constexpr int kBottomStrip = 40;
constexpr int kFilterBarHeight = 56;

// The design's widths, the size column wide enough for "1023.9 MB".
const int kRightWidths[] = {200, 100, 80, 150, 150, 150, 60, 60, 60};

}  // namespace

CMyLeftTreelistCtrl::CMyLeftTreelistCtrl(QWidget* parent) : CPaneList(parent) {
  setObjectName("CMyLeftTreelistCtrl");
}

CMyRightTreelistCtrl::CMyRightTreelistCtrl(QWidget* parent) : CPaneList(parent) {
  setObjectName("CMyRightTreelistCtrl");
  setRootIsDecorated(false);
}

CFileDlg::CFileDlg(AppState& app, CBrevidDlg* main)
    : QWidget(main), app_(app), main_(main), progress_(new CProgressDlg(this)) {
  setObjectName("CFileDlg");
  folders_ = new FolderModel(content_, this);
  files_ = new FileListModel(content_, *folders_, this);
  left_ = new CMyLeftTreelistCtrl(this);
  right_ = new CMyRightTreelistCtrl(this);
  left_->setModel(folders_);
  right_->setModel(files_);
  left_->setColumnWidth(0, 100);
  // "File Id" and "Create Time" carry what the saves read, not for the eye.
  left_->setColumnHidden(1, true);
  left_->setColumnHidden(2, true);
  for (int c = 0; c < FileListModel::kColumnCount; ++c) right_->setColumnWidth(c, kRightWidths[c]);
  // List order until the operator sorts by a column.
  right_->header()->setSortIndicator(-1, Qt::AscendingOrder);
  right_->setSortingEnabled(true);
  filterBar_ = new CFilterBar(this);
  filterBar_->OnChanged = [this] { ApplyFilter(); };
  preview_ = new CPreviewPane(this);
  connect(right_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { PreviewRow(current); });
  status_ = new QLabel(this);
  status_->setObjectName("status");
  back_ = new QPushButton("上一步", this);
  back_->setObjectName("back");

  files_->iconFor = [this](const QString& name, bool folder) { return IconFor(name, folder); };
  folders_->onTick = [this](const QModelIndex& item, int state) { LeftChecked(item, state); };
  folders_->tickOf = [this](FolderModel::ItemKind kind) {
    if (kind == FolderModel::ItemKind::kExtraFound)
      return Disk() ? int{Disk()->extraFound.tickState} : 0;
    return VolumeRootTick();
  };
  files_->onTick = [this](const FileListModel::Row& row, int state) { RightChecked(row, state); };
  // A click, or Up and Down, on the folder list shows that folder's entries.
  connect(left_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { SelectFolder(current); });
  connect(left_, &QTreeView::clicked, this,
          [this](const QModelIndex& item) { SelectFolder(item); });
  left_->OnRButtonUp = [this](const QModelIndex& item, const QPoint& at) {
    SaveMenu(true, item, at);
  };
  right_->OnRButtonUp = [this](const QModelIndex& item, const QPoint& at) {
    SaveMenu(false, item, at);
  };
  left_->OnEnter = [this](const QModelIndex& item) {
    if (item.isValid()) left_->setExpanded(item, !left_->isExpanded(item));
  };
  right_->OnEnter = [this](const QModelIndex& item) { OpenRow(item); };
  right_->OnLButtonDblClk = [this](const QModelIndex& item) { OpenRow(item); };
  left_->OnSaveKey = [this] { TickedSave(true); };
  right_->OnSaveKey = [this] { TickedSave(false); };
  connect(back_, &QPushButton::clicked, this, &CFileDlg::Back);
  progress_->OnWorkerClosed = [this] {
    // The worker is still inside its last Send: take it back afterwards.
    QTimer::singleShot(0, this, [this] { WorkerEnded(); });
  };
}

CFileDlg::~CFileDlg() {
  progress_->Record().stop.store(1);
  progress_->Abandon();
  worker_.Join();
}

void CFileDlg::resizeEvent(QResizeEvent*) {
  const int w = width(), all = height() - kBottomStrip;
  // The lists keep the upper part, the preview the rest.
  const int h = all * 3 / 5;
  left_->setGeometry(0, 0, w / 3, h);
  left_->setColumnWidth(0, w / 3);
  filterBar_->setGeometry(w / 3 + 2, 0, (2 * w - 4) / 3, kFilterBarHeight);
  right_->setGeometry(w / 3 + 2, kFilterBarHeight + 2, (2 * w - 4) / 3, h - kFilterBarHeight - 2);
  preview_->setGeometry(0, h + 2, w, all - h - 2);
  back_->setGeometry(w - 100, all + 6, 90, 28);
  status_->setGeometry(8, all + 6, w - 120, 28);
}

DiskInfo* CFileDlg::Disk() { return FindDisk(app_.disks, diskKey_); }

VolumeInfo* CFileDlg::Volume() {
  DiskInfo* disk = Disk();
  return disk ? FindVolume(*disk, volumeName_) : nullptr;
}

void CFileDlg::SetStatus(const QString& text, bool red) {
  status_->setText(text);
  status_->setStyleSheet(StatusStyle(red));
}

void CFileDlg::ClearLists() {
  preview_->Clear();
  files_->Clear();
  content_.chances.reset();
  content_.table.reset();
  content_.foldersWithMatches.clear();
  content_.disk = nullptr;
  content_.volume = nullptr;
  folders_->Rebuild();
}

void CFileDlg::ReleaseTrees() {
  if (worker_.Running()) {
    releasePending_ = true;
    return;
  }
  ClearLists();
  if (VolumeInfo* volume = Volume()) volume->trees.reset();
}

void CFileDlg::Expand(const std::string& diskKey, const std::string& volumeName, ExpandMode mode) {
  if (diskKey != diskKey_ || volumeName != volumeName_) ReleaseTrees();
  ClearLists();
  filterBar_->Clear();
  diskKey_ = diskKey;
  volumeName_ = volumeName;
  status_->clear();
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  if (!disk || !volume) return;
  const bool scan = mode == ExpandMode::kFormatScan;
  progress_->Open(scan ? "扫描格式化信息" : "展开分区",
                  scan ? "正在扫描格式化信息，请稍等..." : "正在展开分区，请稍等...");
  job_ = Job::kExpand;
  releasePending_ = false;
  ProgressRecord& record = progress_->Record();
  worker_.Start(app_, [disk, volume, mode, &record, &busy = app_.busy] {
    RunExpand(*disk, *volume, mode, record, busy);
  });
}

void CFileDlg::WorkerEnded() {
  if (!worker_.Running()) return;
  worker_.Join();
  const Job job = std::exchange(job_, Job::kNone);
  if (releasePending_) {
    releasePending_ = false;
    ReleaseTrees();
    return;
  }
  if (job == Job::kExpand) FillLists();
  if (job == Job::kSave && saveStats_) ShowSaveSummary(*std::exchange(saveStats_, nullptr));
}

void CFileDlg::ShowSaveSummary(const SaveStats& stats) {
  const QString line = QString::fromStdString(SaveSummaryText(stats));
  SetStatus(line, !stats.Whole());
  QString text = line;
  // The box names what a save lost; the first few are enough to act on.
  constexpr size_t kNamed = 20;
  for (size_t i = 0; i < stats.notWhole.size() && i < kNamed; ++i)
    text += "\n" + FromAnsi(stats.notWhole[i].path) + ": " +
            QString::fromStdString(stats.notWhole[i].why);
  if (stats.notWhole.size() > kNamed)
    text += QString("\n... (另有 %1 个)").arg(stats.notWhole.size() - kNamed);
  ShowMessageBox(ToAnsi(text), "Recover",
                 kMbOk | (stats.Whole() ? kMbIconInformation : kMbIconWarning));
}

void CFileDlg::FillLists() {
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  if (!disk || !volume || !volume->trees) return;
  // The models read the tree where it lies: nothing is copied, so even a
  // million-entry volume shows at once.
  content_.table = std::make_unique<NodeTable>(*volume);
  content_.disk = disk;
  content_.volume = volume;
  content_.volumeName = volumeName_;
  content_.chances = std::make_unique<RecoveryChances>(*disk, *volume);
  ApplyFilter();
}

void CFileDlg::ApplyFilter() {
  content_.filter = filterBar_->Filter();
  content_.foldersWithMatches.clear();
  if (content_.table && content_.Filtered())
    content_.foldersWithMatches =
        FoldersWithMatches(*content_.table, content_.filter, content_.chances.get());
  // The folder shown stays chosen when the filter still shows it.
  NodeHandle chosen = folders_->NodeOf(left_->currentIndex());
  const bool extraFound =
      folders_->KindOf(left_->currentIndex()) == FolderModel::ItemKind::kExtraFound;
  folders_->Rebuild();
  const QModelIndex root = folders_->VolumeRootIndex();
  if (!root.isValid()) return files_->Clear();
  left_->expand(root);
  QModelIndex select = extraFound ? folders_->ExtraFoundIndex() : folders_->IndexOfNode(chosen);
  if (!select.isValid()) select = root;
  left_->SelectItem(select);
  SelectFolder(select);
}

QIcon CFileDlg::IconFor(const QString& name, bool folder) {
  if (folder) return icons_.icon(QFileIconProvider::Folder);
  const QString suffix = QFileInfo(name).suffix().toLower();
  auto found = iconCache_.find(suffix);
  if (found != iconCache_.end()) return *found;
  QIcon icon = icons_.icon(QFileInfo("/nonexistent/x." + suffix));
  if (icon.isNull()) icon = icons_.icon(QFileIconProvider::File);
  iconCache_.insert(suffix, icon);
  return icon;
}

void CFileDlg::SelectFolder(const QModelIndex& item) {
  preview_->Clear();
  if (!content_.table) return files_->Clear();
  files_->ShowFolder(item.siblingAtColumn(0));
}

int CFileDlg::VolumeRootTick() const {
  const QModelIndex root = folders_->VolumeRootIndex();
  const int count = folders_->rowCount(root);
  int any = 0, all = 1;
  for (int r = 0; r < count; ++r) {
    const int tick = left_->GetCheck(folders_->index(r, 0, root));
    any |= tick != 0;
    all &= tick == 1;
  }
  return count && all ? 1 : any ? 2 : 0;
}

void CFileDlg::RefreshTicks() {
  // A tick that took clears the refusal of one that did not.
  if (!worker_.Running() && IsWarning(status_->text())) status_->clear();
  left_->viewport()->update();
  files_->TicksChanged();
  right_->viewport()->update();
}

bool CFileDlg::TicksLocked() {
  // A save worker may be reading the ticks, and an expand rebuilding the tree.
  if (!worker_.Running() && content_.table && Disk() && Volume()) return false;
  RefreshTicks();
  SetStatus("警告: 请等待当前操作完成!");
  return true;
}

void CFileDlg::TickNode(NodeHandle node, int state) {
  if (!content_.Filtered()) return SetTick(node, static_cast<uint8_t>(state));
  // Under a filter a tick reaches only the files the lists show.
  SetTickShown(node, static_cast<uint8_t>(state),
               [this](NodeHandle n) { return content_.Shows(n); });
}

void CFileDlg::LeftChecked(const QModelIndex& item, int state) {
  if (TicksLocked()) return;
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  switch (folders_->KindOf(item)) {
    case FolderModel::ItemKind::kExtraFound:
      SetExtraFoundTick(*disk, *volume, static_cast<uint8_t>(state));
      break;
    case FolderModel::ItemKind::kFolder:
      TickNode(folders_->NodeOf(item), state);
      break;
    case FolderModel::ItemKind::kVolumeRoot:
      for (int r = 0; r < folders_->rowCount(item); ++r) {
        const QModelIndex top = folders_->index(r, 0, item);
        if (folders_->KindOf(top) == FolderModel::ItemKind::kFolder)
          TickNode(folders_->NodeOf(top), state);
        else
          SetExtraFoundTick(*disk, *volume, static_cast<uint8_t>(state));
      }
      break;
    default:
      break;
  }
  RefreshTicks();
}

void CFileDlg::RightChecked(const FileListModel::Row& row, int state) {
  if (row.leftItem.isValid()) return LeftChecked(row.leftItem, state);
  if (TicksLocked()) return;
  if (row.carved)
    SetCarvedTick(*Disk(), *Volume(), row.start, static_cast<uint8_t>(state));
  else
    TickNode(content_.table->HandleAt(row.node), state);
  RefreshTicks();
}

void CFileDlg::PreviewRow(const QModelIndex& item) {
  const FileListModel::Row* row = files_->RowAt(item.row());
  const FileRow f = files_->FileRowAt(item.row());
  std::optional<SaveItem> saveItem = row ? RightItem(item.row()) : std::nullopt;
  if (!row || f.folder || !saveItem) return preview_->Clear();
  // A worker may hold the disk or the ticks; the preview waits for it.
  if (app_.Busy()) return preview_->ShowMessage("正在进行其他操作, 结束后再预览");
  // Held whole in memory, and read while the window waits.
  constexpr uint64_t kPreviewLimit = 32u << 20;
  if (f.size > kPreviewLimit)
    return preview_->ShowMessage(
        QString("文件太大 (%1), 不预览").arg(QString::fromStdString(ReadableSize(f.size))));
  // The row's own node: a look-up by number would index every node of the volume.
  const NodeHandle node = files_->NodeAt(item.row());
  saveItem->fatNode = node.Fat();
  saveItem->ntfsNode = node.Ntfs();
  ProgressRecord record;
  QByteArray bytes;
  const ContentRead read =
      ReadRecoveredContent(app_.disks, diskKey_, volumeName_, *saveItem, kPreviewLimit, record,
                           [&bytes](std::span<const char> piece) {
                             bytes.append(piece.data(), static_cast<qsizetype>(piece.size()));
                           });
  if (!read.ok)
    return preview_->ShowMessage(read.notOneFile ? QString("没有可预览的内容")
                                                 : FromAnsi(read.error));
  preview_->ShowContent(bytes, read.size);
}

void CFileDlg::OpenRow(const QModelIndex& item) {
  const FileListModel::Row* row = files_->RowAt(item.row());
  if (!row) return;
  QModelIndex target = row->leftItem;
  NodeHandle node = files_->NodeAt(item.row());
  if (!target.isValid() && node.IsFolder()) target = folders_->IndexOfNode(node);
  if (!target.isValid()) return;
  left_->SelectItem(target);
}

void CFileDlg::SaveMenu(bool fromLeft, const QModelIndex& item, const QPoint& at) {
  if (!item.isValid()) return;
  QMenu menu(this);
  menu.addAction("单选保存", this, [this, fromLeft] {
    CPaneList* list = fromLeft ? static_cast<CPaneList*>(left_) : right_;
    SingleSave(fromLeft, list->GetSelectedItem());
  });
  menu.addAction("多选保存", this, [this, fromLeft] { TickedSave(fromLeft); });
  menu.exec(at);
}

bool CFileDlg::AskTarget(SaveCommand* command) {
  VolumeInfo* volume = Volume();
  const bool fat = volume && !IsNtfsType(volume->fsType);
  CMySaveFileDlg dlg(this, volume ? FromAnsi(volume->driveLetter) : QString(), fat, true, true);
  if (dlg.exec() != QDialog::Accepted) return false;
  QString target = dlg.Target().trimmed();
  if (!target.isEmpty()) target = QFileInfo(target).absoluteFilePath();
  *command = {diskKey_, volumeName_, ToAnsi(target), dlg.Switches()};
  return true;
}

void CFileDlg::StartSave(const SavePreparation& prep) {
  if (!prep.save) {
    if (!prep.refusal.statusText.empty()) SetStatus(FromAnsi(prep.refusal.statusText));
    if (!prep.refusal.messageBox.empty())
      ShowMessageBox(prep.refusal.messageBox, "Recover", kMbOk | kMbIconWarning);
    return;
  }
  status_->clear();
  progress_->Open("保存文件", "正在保存文件，请稍等...");
  job_ = Job::kSave;
  ProgressRecord& record = progress_->Record();
  auto stats = std::make_shared<SaveStats>();
  saveStats_ = stats;
  worker_.Start(app_, [save = prep.save, stats, &record, &busy = app_.busy] {
    *stats = RunSave(*save, record, busy);
  });
}

std::optional<SaveItem> CFileDlg::RightItem(int r) const {
  const FileListModel::Row* row = files_->RowAt(r);
  if (!row) return std::nullopt;
  if (row->carved) {
    const FileRow f = files_->FileRowAt(r);
    return SaveItem{row->start, f.name, "", row->start};
  }
  if (row->node) return SaveItemOf(files_->NodeAt(r));
  if (folders_->KindOf(row->leftItem) == FolderModel::ItemKind::kExtraFound)
    return SaveItem{0, ExtraFoundText(), ExtraFoundText()};
  return std::nullopt;
}

void CFileDlg::SingleSave(bool fromLeft, const QModelIndex& item) {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成!");
  if (fromLeft && !item.isValid()) return SetStatus("警告: 请选择保存对象!");
  if (!item.isValid() || !content_.table) return;
  std::optional<SaveItem> saveItem;
  if (fromLeft) {
    switch (folders_->KindOf(item)) {
      case FolderModel::ItemKind::kExtraFound:
        saveItem = SaveItem{0, ExtraFoundText(), ExtraFoundText()};
        break;
      case FolderModel::ItemKind::kFolder:
        saveItem = SaveItemOf(folders_->NodeOf(item));
        break;
      default:
        saveItem = SaveItem{0, volumeName_, ""};
        break;
    }
  } else {
    saveItem = RightItem(item.row());
  }
  if (!saveItem) return;
  SaveCommand command;
  if (!AskTarget(&command)) return;
  StartSave(PrepareSingleSave(app_.disks, command, *saveItem, app_.busy));
}

void CFileDlg::TickedSave(bool fromLeft) {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成!");
  if (fromLeft && !content_.table) return SetStatus("警告: 请选择保存对象!");
  SaveCommand command;
  if (!AskTarget(&command)) return;
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  if (!content_.table || !disk || !volume) return;
  std::vector<SaveItem> items;
  if (fromLeft) {
    items = TickedItems(*content_.table, *disk, *volume);
  } else {
    for (int r = 0; r < files_->rowCount(); ++r) {
      if (right_->GetCheck(files_->index(r, 0)) == 0) continue;
      if (std::optional<SaveItem> item = RightItem(r)) items.push_back(*item);
    }
  }
  if (command.target.empty()) return SetStatus("警告: 请选择保存路径!");
  if (items.empty()) return;
  StartSave(PrepareTickedSave(app_.disks, command, items, fromLeft, app_.busy));
}

void CFileDlg::Back() {
  progress_->hide();
  main_->ShowDiskPane();
}

}  // namespace brevid::ui
