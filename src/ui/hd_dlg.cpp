#include "ui/hd_dlg.h"

#include <QFileDialog>
#include <QMenu>
#include <QResizeEvent>

#include "common/text.h"
#include "device/volume_names.h"
#include "platform/byte_source.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "tasks/disk_list.h"
#include "ui/brevid_dlg.h"
#include "ui/file_dlg.h"
#include "ui/image_list.h"
#include "ui/img_dlg.h"
#include "ui/ui_text.h"

namespace brevid::ui {
namespace {

constexpr int kDiskRole = Qt::UserRole;
constexpr int kVolumeRole = Qt::UserRole + 1;

const char* const kColumns[] = {"磁盘", "标签", "文件类型", "起始地址", "大小"};

QColor OriginColor(uint32_t origin) {
  if (origin == kOriginRebuilt) return kRed;
  if (origin == kOriginBootSearch) return QColor(0, 0x80, 0);
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
  tree_->OnLButtonDblClk = [this](CTreeListItem* item) {
    if (item) Action();
  };
  tree_->OnRButtonUp = [this](CTreeListItem* item, const QPoint& at) { ContextMenu(item, at); };
  connect(action_, &QPushButton::clicked, this, &CHdDlg::Action);
  connect(stop_, &QPushButton::clicked, this, &CHdDlg::Stop);
  connect(scan_, &QPushButton::clicked, this, &CHdDlg::Scan);
  connect(save_, &QPushButton::clicked, this, &CHdDlg::SaveResults);
}

CHdDlg::~CHdDlg() { progress_->Abandon(); }

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
}

void CHdDlg::FillDiskTree() {
  tree_->DeleteAllItems();
  int d = 0;
  for (const DiskInfo& disk : app_.disks) {
    CTreeListItem* item = tree_->InsertItem(FromAnsi(disk.Key()));
    item->setData(0, kDiskRole, d);
    item->setData(0, kVolumeRole, -1);
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
      tree_->SetItemTextColor(child, OriginColor(volume.origin));
    }
    tree_->Expand(item);
    ++d;
  }
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

void CHdDlg::NotYet() { SetStatus(kNotYetText); }

void CHdDlg::Action() {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  Selection s = Selected();
  if (!s.item) return SetStatus("警告: 没有选择的项目");
  main_->Remember(s.diskKey, s.volumeName);
  const int tile = main_->Tile();
  if (tile == 0 || tile == 1) {
    // Only FAT16, FAT32 and NTFS volumes expand; anything else would leave an
    // empty pane with no word why.
    if (!s.volume || !(IsFat16Type(s.volume->fsType) || IsFat32Type(s.volume->fsType) ||
                       IsNtfsType(s.volume->fsType)))
      return SetStatus("警告: 请正确选择分区");
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
  if (img_) {
    img_->raise();
    return SetStatus("警告: 等待当前操作完成");
  }
  SetStatus("镜像操作");
  img_ = new CImgDlg(app_, s.volume ? s.diskKey + "," + s.volumeName : s.diskKey, this);
  img_->show();
}

void CHdDlg::Scan() {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  Selection s = Selected();
  if (!s.item) return;
  const int tile = main_->Tile();
  if (tile == 2 && s.volume) return SetStatus("警告: 请正确选择磁盘!");
  if (tile == 2 || tile == 3) NotYet();
}

void CHdDlg::Stop() { progress_->Record().stop.store(1); }

void CHdDlg::SaveResults() {
  if (app_.Busy()) return SetStatus("警告: 请等待当前操作完成");
  NotYet();
}

void CHdDlg::OpenResults() {
  Selection s = Selected();
  if (!s.item) return SetStatus("警告: 没有选择的项目");
  if (s.volume) return SetStatus("警告: 请正确选择磁盘");
  NotYet();
}

void CHdDlg::OpenImageFile(const QString& path) {
  QString chosen = path;
  if (chosen.isEmpty())
    chosen = QFileDialog::getOpenFileName(this, "打开镜像文件", QString(),
                                          "Img files(*.img);;All files(*)");
  if (chosen.isEmpty()) return;
  if (!AddImageFile(app_.disks, ToAnsi(chosen))) {
    ShowMessageBox(LastErrorText(), "Error", kMbOk | kMbIconError);
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
