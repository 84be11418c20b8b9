#include "ui/hd_dlg.h"

#include <QFileDialog>
#include <QMenu>
#include <QResizeEvent>
#include <QTimer>

#include "common/text.h"
#include "device/volume_names.h"
#include "platform/byte_source.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "tasks/deep_scan_task.h"
#include "tasks/disk_list.h"
#include "tasks/partition_search_task.h"
#include "ui/brevid_dlg.h"
#include "ui/file_dlg.h"
#include "ui/image_list.h"
#include "ui/img_dlg.h"
#include "ui/scan_file_dialog.h"
#include "ui/search_disk_part.h"
#include "ui/ui_text.h"

namespace brevid::ui {
namespace {

constexpr int kDiskRole = Qt::UserRole;
constexpr int kVolumeRole = Qt::UserRole + 1;

const char* const kColumns[] = {"磁盘", "标签", "文件类型", "起始地址", "大小"};

QColor OriginColor(const DiskInfo& disk, const VolumeInfo& volume) {
  // A find lying on a listed volume is no lost partition: drawn faded.
  const bool overlaps = OverlapsListedVolume(disk, volume);
  if (volume.origin == kOriginRebuilt) return overlaps ? QColor(0xE0, 0x90, 0x90) : kRed;
  if (volume.origin == kOriginBootSearch)
    return overlaps ? QColor(0x80, 0xB0, 0x80) : QColor(0, 0x80, 0);
  return Qt::black;
}

}  // namespace

CHDTreeListCtrl::CHDTreeListCtrl(QWidget* parent) : CTreeListCtrl(parent) {
  setObjectName("CHDTreeListCtrl");
  for (int c = 0; c < 5; ++c) InsertColumn(c, kColumns[c], 100);
}

CHdDlg::CHdDlg(AppState& app, CBrevidDlg* main)
    : QWidget(main), app_(app), main_(main), progress_(new CProgressDlg(this)) {
  setObjectName("CHdDlg");
  tree_ = new CHDTreeListCtrl(this);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  action_ = new QPushButton(this);
  action_->setObjectName("action");
  stop_ = new QPushButton("停止", this);
  stop_->setObjectName("stop");
  scan_ = new QPushButton("扫描", this);
  scan_->setObjectName("scan");
  save_ = new QPushButton("保存", this);
  save_->setObjectName("save");
  openImage_ = new QPushButton("打开镜像文件", this);
  openImage_->setObjectName("openImage");
  tree_->OnLButtonDblClk = [this](CTreeListItem* item) {
    if (item) Action();
  };
  tree_->OnRButtonUp = [this](CTreeListItem* item, const QPoint& at) { ContextMenu(item, at); };
  // Enter does what a double-click does: on tile 0, a volume expands.
  tree_->OnEnter = [this](CTreeListItem* item) {
    if (item) Action();
  };
  connect(action_, &QPushButton::clicked, this, &CHdDlg::Action);
  connect(stop_, &QPushButton::clicked, this, &CHdDlg::Stop);
  connect(scan_, &QPushButton::clicked, this, &CHdDlg::Scan);
  connect(save_, &QPushButton::clicked, this, &CHdDlg::SaveResults);
  connect(openImage_, &QPushButton::clicked, this, [this] { OpenImageFile(); });
  progress_->OnWorkerClosed = [this] {
    // The worker is still inside its last Send: take it back afterwards.
    QTimer::singleShot(0, this, [this] { WorkerEnded(); });
  };
}

CHdDlg::~CHdDlg() {
  progress_->Record().stop.store(1);
  progress_->Abandon();
  worker_.Join();
}

void CHdDlg::resizeEvent(QResizeEvent*) { Layout(); }

void CHdDlg::Layout() {
  const int w = width(), h = height();
  const int listHeight = h * 4 / 5;
  tree_->setGeometry(0, 0, w, listHeight);
  for (int c = 0; c < tree_->GetColumnCount(); ++c)
    tree_->SetColumnWidth(c, w / tree_->GetColumnCount());
  const int below = listHeight + 8;
  status_->setGeometry(8, below, w - 16, 24);
  int x = 8;
  for (QPushButton* b : {action_, stop_, scan_, save_}) {
    if (b->isHidden()) continue;
    b->setGeometry(x, below + 32, 90, 30);
    x += 100;
  }
  openImage_->setGeometry(w - 128, below + 32, 120, 30);
}

void CHdDlg::FillDiskTree() {
  if (worker_.Running()) return;  // WorkerEnded refills it
  // The item chosen before stays chosen: a tile switch refills the list.
  CTreeListItem* was = tree_->GetSelectedItem();
  const QString wasText = was ? was->text(0) : QString();
  const int wasDisk = was ? was->data(0, kDiskRole).toInt() : -1;
  const int wasVolume = was ? was->data(0, kVolumeRole).toInt() : -1;
  CTreeListItem* again = nullptr;
  tree_->DeleteAllItems();
  int d = 0;
  for (const DiskInfo& disk : app_.disks) {
    CTreeListItem* item = tree_->InsertItem(FromAnsi(disk.Key()));
    item->setData(0, kDiskRole, d);
    item->setData(0, kVolumeRole, -1);
    if (!disk.path.empty()) item->setToolTip(0, FromAnsi(disk.path));
    tree_->SetItemImage(item, kImageDisk);
    tree_->SetItemText(item, 3, "0");
    tree_->SetItemText(item, 4, FromAnsi(FormatPaneSize(disk.sizeBytes)));
    std::vector<std::string> texts = VolumeItemTexts(disk);
    for (size_t v = 0; v < disk.volumes.size(); ++v) {
      const VolumeInfo& volume = disk.volumes[v];
      CTreeListItem* child = tree_->InsertItem(FromAnsi(texts[v]), item);
      child->setData(0, kDiskRole, d);
      child->setData(0, kVolumeRole, static_cast<int>(v));
      tree_->SetItemImage(child, kImageVolume);
      tree_->SetItemText(child, 1, FromAnsi(volume.label));
      tree_->SetItemText(child, 2, FromAnsi(FsTypeText(volume)));
      tree_->SetItemText(child, 3, QString::number(volume.start * 512));
      tree_->SetItemText(child, 4, FromAnsi(FormatPaneSize(volume.sectorCount * 512)));
      tree_->SetItemTextColor(child, OriginColor(disk, volume));
      if (d == wasDisk && static_cast<int>(v) == wasVolume && child->text(0) == wasText)
        again = child;
    }
    if (d == wasDisk && wasVolume < 0 && item->text(0) == wasText) again = item;
    tree_->Expand(item);
    ++d;
  }
  if (again) tree_->SelectItem(again);
}

void CHdDlg::ApplyTile(int tile) {
  action_->setText(TileTexts(tile).action);
  status_->setText("状态提示...");
  status_->setStyleSheet(StatusStyle(false));
  stop_->setVisible(tile == 2 || tile == 3 || tile == 5);
  scan_->setVisible(tile == 2 || tile == 3);
  save_->setVisible(tile == 2 || tile == 3);
  Layout();
}

void CHdDlg::SetStatus(const QString& text) {
  status_->setText(text);
  status_->setStyleSheet(StatusStyle(IsWarning(text)));
}

void CHdDlg::ShowStatus(const PaneStatus& status) {
  status_->setText(FromAnsi(status.text));
  status_->setStyleSheet(StatusStyle(status.red));
}

CHdDlg::Selection CHdDlg::Selected() {
  Selection s;
  s.item = tree_->GetSelectedItem();
  if (!s.item) return s;
  const int d = s.item->data(0, kDiskRole).toInt(), v = s.item->data(0, kVolumeRole).toInt();
  CTreeListItem* diskItem = tree_->GetParentItem(s.item) ? tree_->GetParentItem(s.item) : s.item;
  s.diskKey = ToAnsi(tree_->GetItemText(diskItem));
  if (d >= 0 && d < static_cast<int>(app_.disks.size())) s.disk = &app_.disks[d];
  if (v >= 0 && s.disk && v < static_cast<int>(s.disk->volumes.size())) {
    s.volume = &s.disk->volumes[v];
    s.volumeName = ToAnsi(tree_->GetItemText(s.item));
  }
  return s;
}

void CHdDlg::Action() {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  Selection s = Selected();
  if (!s.item) return SetStatus("警告: 没有选择的项目");
  main_->Remember(s.diskKey, s.volumeName);
  const int tile = main_->Tile();
  if (tile == 0 || tile == 1) {
    // Only volumes with a file-system driver expand; anything else would
    // leave an empty pane with no word why.
    if (!s.volume || !IsExpandable(s.volume->fsType)) return SetStatus("警告: 请正确选择分区");
    // A refusal before no longer stands once a command has started.
    SetStatus("状态提示...");
    main_->ShowFilePane();
    main_->FileDlg()->Expand(s.diskKey, s.volumeName,
                             tile == 0 ? ExpandMode::kExpand : ExpandMode::kFormatScan);
    return;
  }
  if (tile == 4) return OnImage();
  if (tile == 5) OpenResults();
}

CImgDlg* CHdDlg::ImgDlg() { return img_; }

void CHdDlg::OnImage() {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  Selection s = Selected();
  if (!s.item) return SetStatus("警告: 没有选择的项目");
  const std::string source = s.volume ? s.diskKey + "," + s.volumeName : s.diskKey;
  if (img_) {
    img_->raise();
    // Only a running copy keeps its source; an idle window takes the new one.
    if (img_->Copying()) return SetStatus("警告: 等待当前操作完成");
    img_->SetSource(source);
    return SetStatus("镜像操作");
  }
  SetStatus("镜像操作");
  img_ = new CImgDlg(app_, source, this);
  img_->show();
}

void CHdDlg::Scan() {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  Selection s = Selected();
  if (!s.item) return;
  const bool onVolume = tree_->GetParentItem(s.item) != nullptr;
  const int tile = main_->Tile();
  if (tile == 2 && onVolume) return SetStatus("警告: 请正确选择磁盘!");
  if (!s.disk || (onVolume && !s.volume)) return;
  if (tile == 2) {
    CSearchDiskPart options(this);
    if (options.exec() != QDialog::Accepted) return;
    StartSearch(s.disk, options.Mode(), s.diskKey);
  } else if (tile == 3) {
    StartDeepScan(s.disk, s);
  }
}

void CHdDlg::StartSearch(DiskInfo* disk, SearchMode mode, const std::string& diskKey) {
  // The count is read while the worker waits in its Send, so the volume
  // list holds still.
  shownFound_ = -1;
  progress_->OnProgress = [this, disk] {
    const int found = CountFoundVolumes(*disk);
    if (found == shownFound_) return;
    shownFound_ = found;
    progress_->MessageLine()->setText(FromAnsi(SearchProgressText(found)));
  };
  progress_->Open("扫描丢失分区", FromAnsi(SearchProgressText(0)));
  ProgressRecord& record = progress_->Record();
  StartWorker(Job::kSearch, diskKey, std::string(), [disk, mode, &record, &busy = app_.busy] {
    RunPartitionSearch(*disk, mode, record, busy);
  });
}

void CHdDlg::StartDeepScan(DiskInfo* disk, const Selection& s) {
  if (s.volume)
    scanRange_ = VolumeInfo(*s.volume);
  else
    scanRange_.reset();
  progress_->Open("深度扫描", FromAnsi(SearchProgressText(0)));
  ProgressRecord& record = progress_->Record();
  const VolumeInfo* range = scanRange_ ? &*scanRange_ : nullptr;
  StartWorker(Job::kDeepScan, s.diskKey, s.volumeName, [disk, range, &record, &busy = app_.busy] {
    RunDeepScan(*disk, range, record, busy);
  });
}

void CHdDlg::StartWorker(Job job, const std::string& diskKey, const std::string& volumeName,
                         std::function<void()> body) {
  job_ = job;
  jobDiskKey_ = diskKey;
  jobVolumeName_ = volumeName;
  jobStatus_ = PaneStatus();
  worker_.Start(app_, std::move(body));
}

void CHdDlg::WorkerEnded() {
  if (!worker_.Running()) return;
  worker_.Join();
  progress_->OnProgress = nullptr;
  const Job job = std::exchange(job_, Job::kNone);
  scanRange_.reset();
  Refresh(jobDiskKey_, jobVolumeName_);
  if (job == Job::kWriteResults || job == Job::kReadResults) ShowStatus(jobStatus_);
  if (job == Job::kReadResults) OfferToResume(jobDiskKey_);
  const DiskInfo* disk = FindDisk(app_.disks, jobDiskKey_);
  if ((job == Job::kSearch || job == Job::kDeepScan) && disk && disk->unreadableSectors != 0)
    SetStatus(QString("警告: %1 个扇区读不出, 已跳过, 其余照常扫描").arg(disk->unreadableSectors));
}

// A result file written while a scan was stopped keeps where it stopped:
// offered to go on from there.
void CHdDlg::OfferToResume(const std::string& diskKey) {
  DiskInfo* disk = FindDisk(app_.disks, diskKey);
  if (!disk || disk->resume.kind == kResumeNone) return;
  const ScanResume r = disk->resume;
  const bool deep = r.kind == kResumeDeepScan;
  const std::string text =
      Format(Ansi(deep ? "扫描结果里有一次停止的深度扫描 (停在第 %llu 扇区)。\r\n从那里继续扫描吗?"
                       : "扫描结果里有一次停止的精确扫描 (停在第 %llu 扇区)。\r\n从那里继续扫描吗?")
                 .c_str(),
             static_cast<unsigned long long>(r.nextSector));
  if (ShowMessageBox(text, Ansi("打开扫描结果"), kMbYesNo | kMbIconQuestion) != kIdYes) return;
  if (!deep) return StartSearch(disk, SearchMode::kPrecise, diskKey);
  Selection s;
  s.disk = disk;
  s.diskKey = diskKey;
  const std::vector<std::string> items = VolumeItemTexts(*disk);
  for (size_t i = 0; i < disk->volumes.size() && !s.volume; ++i) {
    VolumeInfo& v = disk->volumes[i];
    if (v.start == r.rangeStart && v.sectorCount == r.rangeCount && v.members.empty())
      s.volume = &v, s.volumeName = items[i];
  }
  if (!s.volume && (r.rangeStart != 0 || r.rangeCount != disk->sizeBytes / 512)) return;
  StartDeepScan(disk, s);
}

void CHdDlg::Refresh(const std::string& diskKey, const std::string& volumeName) {
  FillDiskTree();
  CTreeListItem* disk = nullptr;
  for (CTreeListItem* i = tree_->GetRootItem(); i && !disk; i = tree_->GetNextSiblingItem(i))
    if (ToAnsi(tree_->GetItemText(i)) == diskKey) disk = i;
  if (!disk) return;
  CTreeListItem* select = disk;
  if (!volumeName.empty())
    for (int c = 0; c < disk->childCount(); ++c)
      if (ToAnsi(tree_->GetItemText(disk->child(c))) == volumeName) select = disk->child(c);
  tree_->SelectItem(select);
}

void CHdDlg::Stop() { progress_->Record().stop.store(1); }

void CHdDlg::SaveResults() {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  SetStatus("正在保存扫描信息,请稍等...");
  CTreeListItem* item = tree_->GetSelectedItem();
  const QString itemText = item ? tree_->GetItemText(item) : QString();
  PaneStatus refusal;
  DiskInfo* disk = PrepareScanResultsWrite(app_.disks, ToAnsi(itemText), &refusal);
  if (!disk) return ShowStatus(refusal);
  const QString path = AskScanResultFile(this, true, DefaultScanResultName(itemText));
  if (path.isEmpty()) return ShowStatus(ScanResultsWriteCancelled());
  progress_->Record().stop.store(0);
  ProgressRecord& record = progress_->Record();
  StartWorker(Job::kWriteResults, ToAnsi(itemText), std::string(),
              [this, disk, path = ToAnsi(path), &record] {
                jobStatus_ = RunWriteScanResults(*disk, path, record, app_.busy);
              });
}

void CHdDlg::OpenResults() {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  Selection s = Selected();
  if (!s.item) return SetStatus("警告: 没有选择的项目");
  if (tree_->GetParentItem(s.item)) return SetStatus("警告: 请正确选择磁盘");
  SetStatus("正在打开扫描信息，请稍等...");
  PaneStatus refusal;
  DiskInfo* disk = PrepareScanResultsRead(app_.disks, s.diskKey, &refusal);
  if (!disk) return ShowStatus(refusal);
  const QString path = AskScanResultFile(this, false);
  if (path.isEmpty()) return ShowStatus(ScanResultsReadCancelled());
  progress_->Record().stop.store(0);
  ProgressRecord& record = progress_->Record();
  StartWorker(Job::kReadResults, s.diskKey, std::string(),
              [this, disk, path = ToAnsi(path), &record] {
                jobStatus_ = RunReadScanResults(*disk, path, record, app_.busy).status;
              });
}

void CHdDlg::OpenImageFile(const QString& path) {
  // A new image may join a volume group whose member disk a worker reads.
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  QString chosen = path;
  if (chosen.isEmpty())
    chosen = QFileDialog::getOpenFileName(this, "打开镜像文件", QString(),
                                          "Img files(*.img);;All files(*)");
  if (chosen.isEmpty()) return;
  if (!AddImageFile(app_.disks, ToAnsi(chosen))) {
    ShowMessageBox(ToAnsi("无法打开 " + chosen + ": ") + Utf8ToAnsi(LastErrorText()), "Error",
                   kMbOk | kMbIconError);
    return;
  }
  FillDiskTree();
}

void CHdDlg::ContextMenu(CTreeListItem* item, const QPoint& at) {
  const int tile = main_->Tile();
  QMenu menu(this);
  if (!item) {
    // Over empty space, in any tile: the only way to add an image to a list
    // that shows no disk at all.
    menu.addAction("打开镜像文件", this, [this] { OpenImageFile(); });
    menu.exec(at);
    return;
  }
  if (tile < 2) return;
  const bool volume = tree_->GetParentItem(item) != nullptr;
  if ((tile == 2 || tile == 5) && volume) return;
  QAction* search = menu.addAction("扫描丢失分区", this, &CHdDlg::Scan);
  QAction* deep = menu.addAction("深度扫描", this, &CHdDlg::Scan);
  QAction* open = menu.addAction("打开扫描结果", this, &CHdDlg::OpenResults);
  QAction* save = menu.addAction("保存扫描结果", this, &CHdDlg::SaveResults);
  QAction* image = menu.addAction("镜像功能", this, &CHdDlg::Action);
  QAction* openImage = menu.addAction("打开镜像文件", this, [this] { OpenImageFile(); });
  std::vector<QAction*> grey;
  if (tile == 2) grey = {deep, image};
  if (tile == 3) grey = {image, search};
  if (tile == 4) grey = {deep, search, open, save};
  if (tile == 5) grey = {deep, search, image, save, openImage};
  if ((tile == 3 || tile == 4) && volume) grey.push_back(openImage);
  for (QAction* a : grey) a->setEnabled(false);
  menu.exec(at);
}

}  // namespace brevid::ui
