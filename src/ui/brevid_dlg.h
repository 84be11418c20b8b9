// The main window: six feature tiles, the left column that explains the
// selected one, and the work area showing the disk pane or the file pane.
// User-interface thread only; owns both panes.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QWidget>
#include <array>
#include <string>

#include "ui/app_state.h"

namespace brevid::ui {

class CHdDlg;
class CFileDlg;

class CBrevidDlg : public QWidget {
 public:
  explicit CBrevidDlg(AppState& app);

  int Tile() const { return tile_; }
  // What selecting a tile does: texts, buttons, the disk pane shown, and the
  // trees of the volume the file pane showed released.
  void SelectTile(int tile);
  // The item last acted on (CP936).
  void Remember(const std::string& diskKey, const std::string& volumeName);
  const std::string& LastDiskKey() const { return diskKey_; }
  const std::string& LastVolumeName() const { return volumeName_; }

  void ShowFilePane();
  void ShowDiskPane();

  CHdDlg* HdDlg() { return hd_; }
  CFileDlg* FileDlg() { return file_; }
  QPushButton* TileButton(int tile) { return tiles_[tile]; }
  QLabel* LeftTitle() { return leftTitle_; }
  QLabel* LeftDescription() { return leftDescription_; }
  QLabel* LeftHint() { return leftHint_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  // The window's edges within reach of `at` (window coordinates).
  Qt::Edges EdgesAt(const QPoint& at) const;

 private:
  AppState& app_;
  int tile_ = 0;
  std::string diskKey_;
  std::string volumeName_;
  std::array<QPushButton*, 6> tiles_{};
  QLabel* leftTitle_;
  QLabel* leftDescription_;
  QLabel* leftHint_;
  QStackedWidget* work_;
  CHdDlg* hd_;
  CFileDlg* file_;
  QPoint dragFrom_;
};

}  // namespace brevid::ui
