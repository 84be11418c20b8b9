// The progress window of a pane and the ProgressRecord its workers share.
// The window lives on the user-interface thread; its ProgressTarget may be
// called from one worker thread at a time. Whoever owns the window must
// call Abandon() and join its worker before destroying it.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <memory>

#include "platform/progress.h"
#include "ui/queued_target.h"

namespace brevid::ui {

// The bar with its percentage written across it.
class CTextProgressCtrl : public QWidget {
 public:
  explicit CTextProgressCtrl(QWidget* parent = nullptr);
  void SetRange(uint64_t units, uint64_t step);
  void StepIt();
  void SetPos(uint64_t position);
  uint64_t Range() const { return range_; }
  uint64_t Pos() const { return position_; }
  // Applies a range, step or position message; false for any other.
  bool Apply(uint32_t message, uint64_t wParam, uint64_t lParam);
  // "%d%%" as drawn; empty while the range is empty.
  QString PercentText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  uint64_t range_ = 0;
  uint64_t position_ = 0;
  uint64_t step_ = 1;
};

class CProgressDlg : public QDialog {
 public:
  explicit CProgressDlg(QWidget* parent = nullptr);
  ~CProgressDlg() override;

  ProgressRecord& Record() { return record_; }
  // Clears the stop flag, sets the title and message line, shows the window.
  void Open(const QString& title, const QString& message);
  // Makes every later Send return at once and wakes one that waits: for
  // shutting down while a worker may still be sending.
  void Abandon();

  // Runs on the user-interface thread when a worker sends kProgressClose,
  // after the window is hidden.
  std::function<void()> OnWorkerClosed;
  // Runs on the user-interface thread after each step or position message,
  // while the worker waits in its Send.
  std::function<void()> OnProgress;

  CTextProgressCtrl* Bar() { return bar_; }
  QLabel* MessageLine() { return message_; }
  QPushButton* StopButton() { return stop_; }

  // Handles one progress message on the user-interface thread.
  void Handle(uint32_t message, uint64_t wParam, uint64_t lParam);

 protected:
  // Escape and the title bar's close button mean "停止": only the worker
  // closes the window, so a running worker is never hidden.
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  CTextProgressCtrl* bar_;
  QLabel* message_;
  QPushButton* stop_;
  ProgressRecord record_;
  std::unique_ptr<QueuedProgressTarget> target_;
};

}  // namespace brevid::ui
