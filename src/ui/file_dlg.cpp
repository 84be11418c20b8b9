#include "ui/file_dlg.h"

#include <QFileInfo>
#include <QMenu>
#include <QResizeEvent>
#include <QTimer>
#include <chrono>

#include "device/volume_names.h"
#include "platform/message_box.h"
#include "ui/brevid_dlg.h"
#include "ui/image_list.h"
#include "ui/save_file_dlg.h"
#include "ui/ui_text.h"
#include "view/ticks.h"
#include "view/tree_paths.h"

namespace brevid::ui {
namespace {

// Left items: the index into leftNodes_, or one of these.
constexpr int kIndexRole = Qt::UserRole;
constexpr int kVolumeRootIndex = -1;
constexpr int kExtraFoundIndex = -2;
// Right items: the index into rightRows_.
constexpr int kRowRole = Qt::UserRole;

constexpr int kBottomStrip = 40;

struct Column {
  const char* heading;
  int width;
};
const Column kRightColumns[] = {{"名称", 200},     {"状态", 100},     {"大小", 50},
                                {"创建时间", 150}, {"修改时间", 150}, {"文件读取时间", 150},
                                {"文件号", 50},    {"文件父号", 50}};

int IndexOf(CTreeListItem* item) {
  return item ? item->data(0, kIndexRole).toInt() : kVolumeRootIndex;
}

}  // namespace

CMyLeftTreelistCtrl::CMyLeftTreelistCtrl(QWidget* parent) : CTreeListCtrl(parent) {
  setObjectName("CMyLeftTreelistCtrl");
  SetStyle(kCheckBoxes);
  InsertColumn(0, "磁盘分区", 100);
  InsertColumn(1, "File Id", 60);
  InsertColumn(2, "Create Time", 120);
  // They carry what the right list and the saves read, not for the eye.
  setColumnHidden(1, true);
  setColumnHidden(2, true);
}

CMyRightTreelistCtrl::CMyRightTreelistCtrl(QWidget* parent) : CTreeListCtrl(parent) {
  setObjectName("CMyRightTreelistCtrl");
  SetStyle(kCheckBoxes);
  setRootIsDecorated(false);
  int c = 0;
  for (const Column& column : kRightColumns) InsertColumn(c++, column.heading, column.width);
}

CFileDlg::CFileDlg(AppState& app, CBrevidDlg* main)
    : QWidget(main), app_(app), main_(main), progress_(new CProgressDlg(this)) {
  setObjectName("CFileDlg");
  left_ = new CMyLeftTreelistCtrl(this);
  right_ = new CMyRightTreelistCtrl(this);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  back_ = new QPushButton("上一步", this);
  back_->setObjectName("back");
  left_->OnLButtonUp = [this](CTreeListItem* item) {
    if (item) SelectFolder(item);
  };
  left_->OnRButtonUp = [this](CTreeListItem* item, const QPoint& at) { SaveMenu(true, item, at); };
  right_->OnRButtonUp = [this](CTreeListItem* item, const QPoint& at) {
    SaveMenu(false, item, at);
  };
  left_->OnCheck = [this](CTreeListItem* item, int state) { LeftChecked(item, state); };
  right_->OnCheck = [this](CTreeListItem* item, int state) { RightChecked(item, state); };
  connect(back_, &QPushButton::clicked, this, &CFileDlg::Back);
  progress_->OnWorkerClosed = [this] {
    // The worker is still inside its last Send: take it back afterwards.
    QTimer::singleShot(0, this, [this] { WorkerEnded(); });
  };
}

CFileDlg::~CFileDlg() {
  StopFill();
  progress_->Record().stop.store(1);
  progress_->Abandon();
  worker_.Join();
}

void CFileDlg::resizeEvent(QResizeEvent*) {
  const int w = width(), h = height() - kBottomStrip;
  left_->setGeometry(0, 0, w / 3, h);
  left_->SetColumnWidth(0, w / 3);
  right_->setGeometry(w / 3 + 2, 0, (2 * w - 4) / 3, h);
  back_->setGeometry(w - 100, h + 6, 90, 28);
  status_->setGeometry(8, h + 6, w - 120, 28);
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
  StopFill();
  left_->DeleteAllItems();
  right_->DeleteAllItems();
  leftNodes_.clear();
  rightRows_.clear();
  table_.reset();
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
  diskKey_ = diskKey;
  volumeName_ = volumeName;
  status_->clear();
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  if (!disk || !volume) return;
  CTreeListItem* root = left_->InsertItem(FromAnsi(volumeName));
  root->setData(0, kIndexRole, kVolumeRootIndex);
  left_->SetItemImage(root, kImageDisk);
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
  if (job == Job::kExpand) FillLeft();
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

void CFileDlg::FillLeft() {
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  CTreeListItem* root = left_->GetRootItem();
  if (!disk || !volume || !root || !volume->trees) return;
  table_ = std::make_unique<NodeTable>(*volume);
  fill_ = std::make_unique<FolderItemWalk>(*table_, *disk, *volume);
  fillAtDepth_.clear();
  ++app_.pendingWorkers;
  FillLeftSlice();
}

void CFileDlg::StopFill() {
  if (!fill_) return;
  fill_.reset();
  --app_.pendingWorkers;
}

void CFileDlg::FillLeftSlice() {
  CTreeListItem* root = left_->GetRootItem();
  if (!fill_ || !root) return StopFill();
  // Short enough that the window answers in between.
  constexpr auto kSlice = std::chrono::milliseconds(30);
  const auto end = std::chrono::steady_clock::now() + kSlice;
  setUpdatesEnabled(false);
  FolderItem f;
  bool more = true;
  for (int n = 0; (more = fill_->Next(&f)); ++n) {
    CTreeListItem* parent = f.depth == 0 ? root : fillAtDepth_[f.depth - 1];
    CTreeListItem* item = left_->InsertItem(FromAnsi(f.name), parent);
    left_->SetItemText(item, 1, QString::fromStdString(f.numberText));
    left_->SetItemText(item, 2, FromAnsi(f.timeText));
    left_->SetItemImage(item, f.image);
    if (f.deleted) left_->SetItemTextColor(item, kRed);
    if (f.node.IsNull()) {
      item->setData(0, kIndexRole, kExtraFoundIndex);
    } else {
      item->setData(0, kIndexRole, static_cast<int>(leftNodes_.size()));
      leftNodes_.push_back(f.node);
    }
    fillAtDepth_.resize(f.depth + 1);
    fillAtDepth_[f.depth] = item;
    if (n % 64 == 63 && std::chrono::steady_clock::now() >= end) break;
  }
  setUpdatesEnabled(true);
  if (more) {
    QTimer::singleShot(0, this, [this] { FillLeftSlice(); });
    return;
  }
  StopFill();
  RefreshTicks();
  left_->Expand(root);
  left_->SelectItem(root);
  SelectFolder(root);
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

void CFileDlg::SelectFolder(CTreeListItem* item) {
  right_->DeleteAllItems();
  rightRows_.clear();
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  if (!item || !table_ || !disk || !volume) return;
  auto addRow = [this](const QStringList& texts, bool red, const QIcon& icon, RightRow row) {
    CTreeListItem* r = right_->InsertItem(texts[0]);
    for (int c = 1; c < texts.size(); ++c) right_->SetItemText(r, c, texts[c]);
    r->setIcon(0, icon);
    if (red) right_->SetItemTextColor(r, kRed);
    r->setData(0, kRowRole, static_cast<int>(rightRows_.size()));
    rightRows_.push_back(row);
  };
  const int index = IndexOf(item);
  setUpdatesEnabled(false);
  if (index == kVolumeRootIndex) {
    for (CTreeListItem* c = left_->GetChildItem(item); c; c = left_->GetNextSiblingItem(c)) {
      const QString time = left_->GetItemText(c, 2);
      addRow({left_->GetItemText(c), "正常文件夹", "0", time, time, time, left_->GetItemText(c, 1),
              ""},
             false, IconFor(QString(), true), {NodeHandle(), c});
    }
  } else if (index == kExtraFoundIndex) {
    std::vector<ListingRow> listing = ExtraFoundListing(*disk, *volume);
    for (size_t i = 1; i < listing.size(); ++i) {
      const FileRow& f = listing[i].row;
      addRow({FromAnsi(f.name), FromAnsi(f.status), FromAnsi(f.sizeText), FromAnsi(f.created),
              FromAnsi(f.modified), FromAnsi(f.accessed), FromAnsi(f.numberText),
              FromAnsi(f.parentNumberText)},
             true, IconFor(FromAnsi(f.name), false), {NodeHandle(), nullptr, true, f.number});
    }
  } else if (index >= 0 && index < static_cast<int>(leftNodes_.size())) {
    NodeHandle folder = leftNodes_[index];
    std::vector<FileRow> rows = FolderRows(folder);
    for (size_t i = 0; i < rows.size(); ++i) {
      const FileRow& f = rows[i];
      const QString name = FromAnsi(f.name);
      addRow({name, FromAnsi(f.status), FromAnsi(f.sizeText), FromAnsi(f.created),
              FromAnsi(f.modified), FromAnsi(f.accessed), FromAnsi(f.numberText),
              FromAnsi(f.parentNumberText)},
             f.deleted, IconFor(name, f.folder), {folder.Child(i)});
    }
  }
  setUpdatesEnabled(true);
  RefreshTicks();
}

void CFileDlg::RefreshTicks() {
  DiskInfo* disk = Disk();
  auto leftTick = [&](CTreeListItem* item) -> int {
    const int index = IndexOf(item);
    if (index == kExtraFoundIndex) return disk ? disk->extraFound.tickState : 0;
    if (index >= 0 && index < static_cast<int>(leftNodes_.size())) return leftNodes_[index].Tick();
    return -1;
  };
  CTreeListItem* root = left_->GetRootItem();
  for (CTreeListItem* item = left_->GetChildItem(root); item; item = left_->GetNextItem(item))
    left_->SetCheck(item, leftTick(item));
  // The volume's own item sums up its tops.
  if (root) {
    int any = 0, all = 1;
    for (CTreeListItem* c = left_->GetChildItem(root); c; c = left_->GetNextSiblingItem(c)) {
      any |= left_->GetCheck(c) != 0;
      all &= left_->GetCheck(c) == 1;
    }
    left_->SetCheck(root, root->childCount() && all ? 1 : any ? 2 : 0);
  }
  for (int i = 0; i < right_->topLevelItemCount(); ++i) {
    CTreeListItem* item = right_->topLevelItem(i);
    const RightRow& row = rightRows_[item->data(0, kRowRole).toInt()];
    int state = 0;
    if (row.leftItem)
      state = left_->GetCheck(row.leftItem);
    else if (row.carved && disk) {
      auto found = disk->extraFound.children.find(row.start);
      state = found != disk->extraFound.children.end() ? found->second.tickState : 0;
    } else if (!row.node.IsNull())
      state = row.node.Tick();
    right_->SetCheck(item, state);
  }
}

bool CFileDlg::TicksLocked() {
  // A save worker may be reading the ticks, and an expand rebuilding the tree.
  if (!worker_.Running() && !fill_ && table_ && Disk() && Volume()) return false;
  SetStatus("警告: 请等待当前操作完成!");
  RefreshTicks();
  return true;
}

void CFileDlg::LeftChecked(CTreeListItem* item, int state) {
  if (TicksLocked()) return;
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  const int index = IndexOf(item);
  if (index == kExtraFoundIndex) {
    SetExtraFoundTick(*disk, *volume, static_cast<uint8_t>(state));
  } else if (index >= 0 && index < static_cast<int>(leftNodes_.size())) {
    SetTick(leftNodes_[index], static_cast<uint8_t>(state));
  } else {
    for (size_t t = 0; t < 2; ++t) SetTick(table_->Top(t), static_cast<uint8_t>(state));
    if (HasExtraFoundItem(*disk, *volume)) SetExtraFoundTick(*disk, *volume, state);
  }
  RefreshTicks();
}

void CFileDlg::RightChecked(CTreeListItem* item, int state) {
  if (TicksLocked()) return;
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  const RightRow& row = rightRows_[item->data(0, kRowRole).toInt()];
  if (row.leftItem) return LeftChecked(row.leftItem, state);
  if (row.carved)
    SetCarvedTick(*disk, *volume, row.start, static_cast<uint8_t>(state));
  else
    SetTick(row.node, static_cast<uint8_t>(state));
  RefreshTicks();
}

void CFileDlg::SaveMenu(bool fromLeft, CTreeListItem* item, const QPoint& at) {
  if (!item) return;
  QMenu menu(this);
  menu.addAction("单选保存", this, [this, fromLeft] {
    CTreeListCtrl* list = fromLeft ? static_cast<CTreeListCtrl*>(left_) : right_;
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

void CFileDlg::SingleSave(bool fromLeft, CTreeListItem* item) {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成!");
  if (fromLeft && !item) return SetStatus("警告: 请选择保存对象!");
  if (!item || !table_) return;
  SaveItem saveItem;
  if (fromLeft) {
    const int index = IndexOf(item);
    if (index == kExtraFoundIndex)
      saveItem = {0, ExtraFoundText(), ExtraFoundText()};
    else if (index >= 0 && index < static_cast<int>(leftNodes_.size()))
      saveItem = SaveItemOf(leftNodes_[index]);
    else
      saveItem = {0, ToAnsi(left_->GetItemText(item)), ""};
  } else {
    const RightRow& row = rightRows_[item->data(0, kRowRole).toInt()];
    if (!row.node.IsNull())
      saveItem = SaveItemOf(row.node);
    else if (row.carved)
      saveItem = {row.start, ToAnsi(right_->GetItemText(item)), "", row.start};
    else
      saveItem = {right_->GetItemText(item, 6).toULongLong(), ToAnsi(right_->GetItemText(item)),
                  ToAnsi(right_->GetItemText(item, 3))};
    if (row.leftItem) {
      const int index = IndexOf(row.leftItem);
      if (index >= 0) saveItem = SaveItemOf(leftNodes_[index]);
    }
  }
  SaveCommand command;
  if (!AskTarget(&command)) return;
  StartSave(PrepareSingleSave(app_.disks, command, saveItem, app_.busy));
}

void CFileDlg::TickedSave(bool fromLeft) {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成!");
  if (fromLeft && !left_->GetRootItem()) return SetStatus("警告: 请选择保存对象!");
  SaveCommand command;
  if (!AskTarget(&command)) return;
  DiskInfo* disk = Disk();
  VolumeInfo* volume = Volume();
  if (!table_ || !disk || !volume) return;
  std::vector<SaveItem> items;
  if (fromLeft) {
    items = TickedItems(*table_, *disk, *volume);
  } else {
    for (int i = 0; i < right_->topLevelItemCount(); ++i) {
      CTreeListItem* item = right_->topLevelItem(i);
      if (item->isHidden() || right_->GetCheck(item) == 0) continue;
      const RightRow& row = rightRows_[item->data(0, kRowRole).toInt()];
      if (!row.node.IsNull()) {
        items.push_back(SaveItemOf(row.node));
      } else if (row.carved) {
        items.push_back({row.start, ToAnsi(right_->GetItemText(item)), "", row.start});
      } else if (row.leftItem) {
        const int index = IndexOf(row.leftItem);
        if (index >= 0)
          items.push_back(SaveItemOf(leftNodes_[index]));
        else if (index == kExtraFoundIndex)
          items.push_back({0, ExtraFoundText(), ExtraFoundText()});
      }
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
