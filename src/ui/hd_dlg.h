// The disk pane: disks and volumes, the status line and the buttons that
// start every operation of the selected tile. User-interface thread only.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include "ui/app_state.h"
#include "ui/progress_dlg.h"
#include "ui/tree_list_ctrl.h"

namespace brevid::ui {

class CBrevidDlg;
class CImgDlg;

// Disks and their volumes, five columns.
class CHDTreeListCtrl : public CTreeListCtrl {
 public:
  explicit CHDTreeListCtrl(QWidget* parent = nullptr);
};

class CHdDlg : public QWidget {
 public:
  CHdDlg(AppState& app, CBrevidDlg* main);
  ~CHdDlg() override;

  // Rebuilds the list from the disk list and expands every disk.
  void FillDiskTree();
  // Shows the buttons of `tile` and resets the status line.
  void ApplyTile(int tile);
  // Warnings and errors in red, the rest in green.
  void SetStatus(const QString& text);

  // The commands.
  void Action();
  void Scan();
  void Stop();
  void SaveResults();
  void OpenResults();
  // "镜像功能": opens the imaging window on the selected disk or volume.
  void OnImage();
  // Opens `path` (UTF-8), or asks for one when it is empty.
  void OpenImageFile(const QString& path = QString());

  CHDTreeListCtrl* Tree() { return tree_; }
  QLabel* Status() { return status_; }
  QPushButton* ActionButton() { return action_; }
  CProgressDlg* Progress() { return progress_; }
  CImgDlg* ImgDlg();  // null while the imaging window is closed

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Selection {
    CTreeListItem* item = nullptr;
    DiskInfo* disk = nullptr;
    VolumeInfo* volume = nullptr;  // null for a disk item
    std::string diskKey;           // CP936
    std::string volumeName;        // CP936, the volume item's text
  };
  Selection Selected();
  void Layout();
  void ContextMenu(CTreeListItem* item, const QPoint& at);
  void NotYet();

  AppState& app_;
  CBrevidDlg* main_;
  CHDTreeListCtrl* tree_;
  QLabel* status_;
  QPushButton* action_;
  QPushButton* stop_;
  QPushButton* scan_;
  QPushButton* save_;
  CProgressDlg* progress_;
  QPointer<CImgDlg> img_;  // deletes itself when closed
};

}  // namespace brevid::ui
