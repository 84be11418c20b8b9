// The save dialog ("Recover"): target folder and the three save switches.
// Modal, user-interface thread only.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

#include "tasks/save_run.h"

namespace brevid::ui {

class CMySaveFileDlg : public QDialog {
 public:
  // `volumeMount` is the mount point of the volume being recovered (UTF-8,
  // empty when it has none): a target on it draws the warning. `fatMode`
  // shows and ticks "是否以FAT做参考".
  CMySaveFileDlg(QWidget* parent, const QString& volumeMount, bool fatMode, bool includeDeleted,
                 bool includeNormal);

  QString Target() const { return path_->text(); }
  SaveSwitches Switches() const;

  // The folder picker ">" opens: returns the chosen folder, empty when none
  // was chosen. Replaceable for tests; the default is Qt's folder dialog.
  using Picker = std::function<QString(QWidget* owner, const QString& title)>;
  static Picker& FolderPicker();

  // True when `path` lies on the volume being recovered.
  bool OnRecoveredVolume(const QString& path) const;

  void Browse();
  void accept() override;

 private:
  // Asks whether to choose again; true for "OK" (choose again).
  bool WarnSameVolume() const;

  QString mount_;
  QString confirmed_;  // a path the operator kept despite the warning
  QLineEdit* path_;
  QPushButton* browse_;
  QCheckBox* useFat_;
  QCheckBox* deleted_;
  QCheckBox* normal_;
};

}  // namespace brevid::ui
