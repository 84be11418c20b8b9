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
#include <optional>
#include <vector>

#include "tasks/expand_volume.h"
#include "tasks/save_run.h"
#include "ui/app_state.h"
#include "ui/file_models.h"
#include "ui/filter_bar.h"
#include "ui/pane_list.h"
#include "ui/preview_pane.h"
#include "ui/progress_dlg.h"
#include "view/file_rows.h"
#include "view/node_handle.h"

namespace brevid::ui {

class CBrevidDlg;

class CMyLeftTreelistCtrl : public CPaneList {
 public:
  explicit CMyLeftTreelistCtrl(QWidget* parent = nullptr);
};

class CMyRightTreelistCtrl : public CPaneList {
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
  void SingleSave(bool fromLeft, const QModelIndex& item);
  void TickedSave(bool fromLeft);
  // Lists the entries of a left item in the right list.
  void SelectFolder(const QModelIndex& item);
  // "上一步".
  void Back();
  // Red (warnings, errors, losses) unless `red` is false.
  void SetStatus(const QString& text, bool red = true);

  CMyLeftTreelistCtrl* Left() { return left_; }
  CMyRightTreelistCtrl* Right() { return right_; }
  CFilterBar* Filters() { return filterBar_; }
  CPreviewPane* Preview() { return preview_; }
  QLabel* Status() { return status_; }
  CProgressDlg* Progress() { return progress_; }
  QPushButton* BackButton() { return back_; }
  bool WorkerRunning() const { return worker_.Running(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class Job { kNone, kExpand, kSave };

  DiskInfo* Disk();
  VolumeInfo* Volume();
  void ClearLists();
  void FillLists();
  void WorkerEnded();
  // Narrows both lists to what the filter bar says.
  void ApplyFilter();
  // True, after saying so, while a worker holds the ticks.
  bool TicksLocked();
  void LeftChecked(const QModelIndex& item, int state);
  void RightChecked(const FileListModel::Row& row, int state);
  // Ticks `node` and, under a filter, only what the filter shows below it.
  void TickNode(NodeHandle node, int state);
  int VolumeRootTick() const;
  void RefreshTicks();
  void SaveMenu(bool fromLeft, const QModelIndex& item, const QPoint& at);
  // Shows the content of a right row below the lists, read as a save writes it.
  void PreviewRow(const QModelIndex& item);
  // A double-click or Enter on a right row: a folder opens in the left list.
  void OpenRow(const QModelIndex& item);
  // Runs the save dialog; false when cancelled.
  bool AskTarget(SaveCommand* command);
  void StartSave(const SavePreparation& prep);
  // The save item of a right row.
  std::optional<SaveItem> RightItem(int row) const;
  // What the save that just ended wrote and lost, in the status line and a box.
  void ShowSaveSummary(const SaveStats& stats);
  QIcon IconFor(const QString& name, bool folder);

  AppState& app_;
  CBrevidDlg* main_;
  PaneContent content_;
  FolderModel* folders_;
  FileListModel* files_;
  CMyLeftTreelistCtrl* left_;
  CMyRightTreelistCtrl* right_;
  CFilterBar* filterBar_;
  CPreviewPane* preview_;
  QLabel* status_;
  QPushButton* back_;
  CProgressDlg* progress_;
  Worker worker_;
  Job job_ = Job::kNone;
  std::shared_ptr<SaveStats> saveStats_;  // filled by the save worker
  bool releasePending_ = false;
  std::string diskKey_;
  std::string volumeName_;
  QFileIconProvider icons_;
  QHash<QString, QIcon> iconCache_;
};

}  // namespace brevid::ui
