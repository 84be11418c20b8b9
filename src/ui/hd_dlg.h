// The disk pane: disks and volumes, the status line and the buttons that
// start every operation of the selected tile. User-interface thread only.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <optional>

#include "tasks/partition_search_task.h"
#include "tasks/scan_results.h"
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

  // Rebuilds the list from the disk list and expands every disk; while a
  // worker of this pane may change the list, that happens when it ends.
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
  bool WorkerRunning() const { return worker_.Running(); }
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
  enum class Job { kNone, kSearch, kDeepScan, kWriteResults, kReadResults };

  Selection Selected();
  void Layout();
  void ContextMenu(CTreeListItem* item, const QPoint& at);
  void ShowStatus(const PaneStatus& status);
  void StartSearch(DiskInfo* disk, SearchMode mode, const std::string& diskKey);
  void StartDeepScan(DiskInfo* disk, const Selection& s);
  void StartWorker(Job job, const std::string& diskKey, const std::string& volumeName,
                   std::function<void()> body);
  void WorkerEnded();
  void OfferToResume(const std::string& diskKey);
  // Rebuilds the list and selects the item of `diskKey` (and of its volume
  // `volumeName`, when not empty) again.
  void Refresh(const std::string& diskKey, const std::string& volumeName);

  AppState& app_;
  CBrevidDlg* main_;
  CHDTreeListCtrl* tree_;
  QLabel* status_;
  QPushButton* action_;
  QPushButton* stop_;
  QPushButton* scan_;
  QPushButton* save_;
  QPushButton* openImage_;  // "打开镜像文件", on every tile
  CProgressDlg* progress_;
  Worker worker_;
  Job job_ = Job::kNone;
  std::string jobDiskKey_;     // CP936
  std::string jobVolumeName_;  // CP936
  // The deep scan's range: a copy, as the scan may grow the volume list.
  std::optional<VolumeInfo> scanRange_;
  PaneStatus jobStatus_;   // written by the result-file workers
  int shownFound_ = -1;    // the count the search's message line shows
  QPointer<CImgDlg> img_;  // deletes itself when closed
};

}  // namespace brevid::ui
