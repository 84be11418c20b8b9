// The imaging window ("镜像"): a disk or a volume copied sector by sector
// onto another disk or into a new image file, with the list of sectors that
// could not be read. Modeless; user-interface thread only. It deletes itself
// when closed; a close asked for while a copy runs only stops the copy, and
// the window closes once the worker has ended.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/source_opener.h"
#include "tasks/imaging_task.h"
#include "ui/app_state.h"
#include "ui/progress_dlg.h"
#include "ui/queued_target.h"
#include "ui/rescue_strip.h"
#include "ui/tree_list_ctrl.h"

namespace brevid::ui {

class CImgDlg : public QDialog {
 public:
  // `source` is the endpoint text (CP936) the window opens with. `opener`
  // must outlive the window.
  CImgDlg(AppState& app, const std::string& source, QWidget* parent,
          const SourceOpener& opener = FileSourceOpener());
  ~CImgDlg() override;

  // The save-file dialog of "...": returns the chosen path (UTF-8), empty
  // when none was chosen. Replaceable for tests.
  using Picker = std::function<QString(QWidget* owner)>;
  static Picker& FilePicker();

  // "开始": validates the fields and starts the copy.
  void Start();
  // "停止".
  void Stop();
  bool Copying() const { return worker_.Running(); }
  // Another source chosen in the disk pane while the window waits idle.
  void SetSource(const std::string& source);

  // Width with the bad-sector list hidden, and with it shown.
  static constexpr int kNarrowWidth = 400;
  static constexpr int kFullWidth = 616;
  // A rescue over a map appends ".map" to the image file's path by default.
  static QString DefaultMapPath(const QString& imagePath) { return imagePath + ".map"; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override { close(); }
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* AddField(const QString& label, int y, int width, QLabel** labelOut = nullptr);
  void OpenChooser(QLineEdit* field);
  void Choose(CTreeListItem* item);
  void ModeChanged();
  void Browse();
  void SetEditable(bool editable);
  void Refuse(const std::string& ansiText);
  void Handle(uint32_t message, uint64_t wParam, uint64_t lParam);
  void AddBadRow(const BadSector& bad);
  void MapChanged();
  void UseMapChanged();
  void ShowMap();
  void Finished();

  AppState& app_;
  const SourceOpener& opener_;
  std::string sourceText_;  // CP936, as the fields show it
  std::string targetText_;
  QLineEdit* source_;
  QLineEdit* count_;
  QLineEdit* sourceStart_;
  QRadioButton* toDisk_;
  QRadioButton* toFile_;
  QLineEdit* target_;
  QLabel* targetLabel_;
  QLineEdit* targetStart_;
  QLabel* targetStartLabel_;
  QLineEdit* path_;
  QLabel* pathLabel_;
  QPushButton* browse_;
  QPushButton* start_;
  QPushButton* stop_;
  CTextProgressCtrl* bar_;
  QLabel* done_;
  QLabel* doneLabel_;
  QCheckBox* useMap_;  // "映射文件：": rescue over a map, resumed when it exists
  QLineEdit* map_;
  QLabel* mapState_;
  RescueStrip* strip_;
  QTableWidget* badList_;
  CTreeListCtrl* chooser_;
  QLineEdit* chooserField_ = nullptr;

  ProgressRecord record_;
  std::unique_ptr<QueuedProgressTarget> queue_;
  ImagingCounters counters_;
  ImagingOutcome outcome_;  // written by the worker, read once it is joined
  std::mutex mapLock_;      // the worker's latest map, handed to the strip
  RescueMap latestMap_;
  bool mapPending_ = false;
  uint64_t copyBegin_ = 0, copyEnd_ = 0;  // source bytes of the copy, for the strip
  Worker worker_;
};

}  // namespace brevid::ui
