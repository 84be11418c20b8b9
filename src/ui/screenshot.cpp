#include "ui/screenshot.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>

#include "device/volume_names.h"
#include "platform/message_box.h"
#include "ui/brevid_dlg.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/img_dlg.h"
#include "ui/ui_text.h"

namespace brevid::ui {
namespace {

// Lets the window run until `done` holds, for at most two minutes.
bool RunUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  QApplication::processEvents();
  return true;
}

// The disk pane lists disks and volumes in the disk list's order.
CTreeListItem* FirstExpandable(CHDTreeListCtrl* tree, const AppState& app) {
  for (size_t d = 0; d < app.disks.size(); ++d)
    for (size_t v = 0; v < app.disks[d].volumes.size(); ++v) {
      const auto type = app.disks[d].volumes[v].fsType;
      if (IsExpandable(type))
        return tree->topLevelItem(static_cast<int>(d))->child(static_cast<int>(v));
    }
  return nullptr;
}

bool Files(CBrevidDlg& window, AppState& app) {
  window.SelectTile(0);
  CTreeListItem* volume = FirstExpandable(window.HdDlg()->Tree(), app);
  if (!volume) return false;
  window.HdDlg()->Tree()->SelectItem(volume);
  window.HdDlg()->Action();
  if (!RunUntil([&] { return !app.Busy(); })) return false;
  CMyLeftTreelistCtrl* left = window.FileDlg()->Left();
  for (QModelIndex item = left->GetRootItem(); item.isValid(); item = left->GetNextItem(item))
    if (left->GetItemText(item) == "根目录") {
      left->SelectItem(item);
      break;
    }
  return true;
}

// The file pane narrowed to pictures, the first one chosen and shown below.
bool Preview(CBrevidDlg& window, AppState& app) {
  if (!Files(window, app)) return false;
  CFileDlg* pane = window.FileDlg();
  pane->Filters()->findChild<QLineEdit*>("nameFilter")->setText("*.jp*g");
  pane->Filters()->OnChanged();
  CMyLeftTreelistCtrl* left = pane->Left();
  CMyRightTreelistCtrl* right = pane->Right();
  // A deleted picture when there is one: it shows what the pane is for.
  for (const bool deletedOnly : {true, false})
    for (QModelIndex item = left->GetRootItem(); item.isValid(); item = left->GetNextItem(item)) {
      left->SelectItem(item);
      for (int r = 0; r < right->topLevelItemCount(); ++r) {
        const QModelIndex row = right->topLevelItem(r);
        const QString name = right->GetItemText(row).toLower();
        if (deletedOnly && right->GetItemTextColor(row) != kRed) continue;
        if (name.endsWith(".jpg") || name.endsWith(".jpeg")) {
          right->SelectItem(row);
          return pane->Preview()->What() == CPreviewPane::Shown::kImage;
        }
      }
    }
  return false;
}

// The picture needs a copy under way, not a whole disk copied: the first
// image file is the source, and at most its last 64 MiB are copied.
constexpr uint64_t kShotSectors = 131072;

bool Imaging(CBrevidDlg& window, AppState& app, const QString& path) {
  QTemporaryDir scratch;
  window.SelectTile(4);
  CHDTreeListCtrl* tree = window.HdDlg()->Tree();
  size_t d = 0;
  while (d < app.disks.size() && !app.disks[d].number.empty()) ++d;
  if (d == app.disks.size() || !scratch.isValid()) return false;
  tree->SelectItem(tree->topLevelItem(static_cast<int>(d)));
  window.HdDlg()->OnImage();
  CImgDlg* dlg = window.HdDlg()->ImgDlg();
  if (!dlg) return false;
  const uint64_t sectors = app.disks[d].sizeBytes / 512;
  if (sectors > kShotSectors)
    dlg->findChild<QLineEdit*>("sourceStart")->setText(QString::number(sectors - kShotSectors));
  dlg->findChild<QRadioButton*>("toFile")->setChecked(true);
  dlg->findChild<QLineEdit*>("path")->setText(scratch.filePath("shot.img"));
  // The window is taken as the copy's last box opens, before it closes.
  bool saved = false;
  MessageBoxHandler before =
      SetMessageBoxHandler([&](const std::string&, const std::string&, unsigned) {
        if (CImgDlg* open = window.HdDlg()->ImgDlg()) saved = open->grab().save(path, "PNG");
        return static_cast<int>(kIdOk);
      });
  dlg->Start();
  RunUntil([&] { return !window.HdDlg()->ImgDlg() && !app.Busy(); });
  SetMessageBoxHandler(before);
  return saved;
}

}  // namespace

bool SaveScreenshot(CBrevidDlg& window, AppState& app, const QString& state, const QString& path) {
  QApplication::processEvents();
  if (state == "imaging") return Imaging(window, app, path);
  if (state == "progress") {
    // A still of the window as an expand shows it part way.
    CProgressDlg* progress = window.FileDlg()->Progress();
    progress->Open("展开分区", "正在展开分区，请稍等...");
    progress->Handle(kProgressSetRange, 100, 1);
    progress->Handle(kProgressSetPos, 42, 0);
    QApplication::processEvents();
    const bool saved = progress->grab().save(path, "PNG");
    progress->hide();
    return saved;
  }
  if (state == "files" && !Files(window, app)) return false;
  if (state == "preview" && !Preview(window, app)) return false;
  if (state != "files" && state != "disks" && state != "preview") return false;
  return window.grab().save(path, "PNG");
}

}  // namespace brevid::ui
