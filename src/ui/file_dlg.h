// The file pane: one volume's recovered tree as a folder list (left) and the
// selected folder's entries (right), with tick boxes, the expand and format
// scan workers, and the two save commands. User-interface thread only; the
// tree is read only while no worker of this pane runs.
#pragma once

#include <QFileIconProvider>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <vector>

#include "tasks/expand_volume.h"
#include "tasks/save_run.h"
#include "ui/app_state.h"
#include "ui/progress_dlg.h"
#include "ui/tree_list_ctrl.h"
#include "view/file_rows.h"
#include "view/node_handle.h"

namespace brevid::ui {

class CBrevidDlg;

class CMyLeftTreelistCtrl : public CTreeListCtrl {
 public:
  explicit CMyLeftTreelistCtrl(QWidget* parent = nullptr);
};

class CMyRightTreelistCtrl : public CTreeListCtrl {
 public:
  explicit CMyRightTreelistCtrl(QWidget* parent = nullptr);
};

class CFileDlg : public QWidget {
 public:
  CFileDlg(AppState& app, CBrevidDlg* main);
  ~CFileDlg() override;

  // Starts the expand or format-scan worker for the volume whose item text
  // is `volumeName` on the disk `diskKey` (both CP936).
  void Expand(const std::string& diskKey, const std::string& volumeName, ExpandMode mode);
  // Releases the trees of the volume shown last and empties both lists; while
  // a worker of this pane runs, that happens when it ends.
  void ReleaseTrees();
  // "单选保存" of `item` and "多选保存", from the left or the right list.
  void SingleSave(bool fromLeft, CTreeListItem* item);
  void TickedSave(bool fromLeft);
  // Refills the right list for a left item.
  void SelectFolder(CTreeListItem* item);
  // "上一步".
  void Back();
  // Red (warnings, errors, losses) unless `red` is false.
  void SetStatus(const QString& text, bool red = true);

  CMyLeftTreelistCtrl* Left() { return left_; }
  CMyRightTreelistCtrl* Right() { return right_; }
  QLabel* Status() { return status_; }
  CProgressDlg* Progress() { return progress_; }
  QPushButton* BackButton() { return back_; }
  bool WorkerRunning() const { return worker_.Running(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class Job { kNone, kExpand, kSave };
  // One row of the right list and what its tick box stands for.
  struct RightRow {
    NodeHandle node;
    CTreeListItem* leftItem = nullptr;  // the root's listing: the left item it shows
    bool carved = false;
    uint64_t start = 0;
  };

  DiskInfo* Disk();
  VolumeInfo* Volume();
  void ClearLists();
  void FillLeft();
  // Adds left items for a few milliseconds, then lets events in and goes
  // on; the last slice selects the root.
  void FillLeftSlice();
  void StopFill();
  void WorkerEnded();
  // True, after saying so, while a worker or the fill holds the ticks.
  bool TicksLocked();
  void LeftChecked(CTreeListItem* item, int state);
  void RightChecked(CTreeListItem* item, int state);
  void RefreshTicks();
  void SaveMenu(bool fromLeft, CTreeListItem* item, const QPoint& at);
  // Runs the save dialog; false when cancelled.
  bool AskTarget(SaveCommand* command);
  void StartSave(const SavePreparation& prep);
  // What the save that just ended wrote and lost, in the status line and a box.
  void ShowSaveSummary(const SaveStats& stats);
  QIcon IconFor(const QString& name, bool folder);

  AppState& app_;
  CBrevidDlg* main_;
  CMyLeftTreelistCtrl* left_;
  CMyRightTreelistCtrl* right_;
  QLabel* status_;
  QPushButton* back_;
  CProgressDlg* progress_;
  Worker worker_;
  Job job_ = Job::kNone;
  std::shared_ptr<SaveStats> saveStats_;  // filled by the save worker
  bool releasePending_ = false;
  std::string diskKey_;
  std::string volumeName_;
  std::unique_ptr<NodeTable> table_;
  std::vector<NodeHandle> leftNodes_;  // by the left item's index
  // The left list's fill while it runs; it counts as a pending worker.
  std::unique_ptr<FolderItemWalk> fill_;
  std::vector<CTreeListItem*> fillAtDepth_;
  std::vector<RightRow> rightRows_;
  QFileIconProvider icons_;
  QHash<QString, QIcon> iconCache_;
};

}  // namespace brevid::ui
