#include "ui/progress_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

namespace brevid::ui {

namespace {

// 0xC89664 as the design's colour value (0x00BBGGRR).
const QColor kBarRest(0x64, 0x96, 0xC8);
// 0xA35A03.
const QColor kBackground(0x03, 0x5A, 0xA3);

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) { setMinimumHeight(22); }

void CTextProgressCtrl::SetRange(uint64_t units, uint64_t step) {
  range_ = units;
  position_ = 0;
  step_ = step;
  update();
}

void CTextProgressCtrl::StepIt() { SetPos(position_ + step_); }

void CTextProgressCtrl::SetPos(uint64_t position) {
  position_ = std::min(position, range_);
  update();
}

bool CTextProgressCtrl::Apply(uint32_t message, uint64_t wParam, uint64_t lParam) {
  switch (message) {
    case kProgressSetRange:
      SetRange(wParam, lParam);
      return true;
    case kProgressStep:  // wParam: steps taken at once, 0 counting as 1
      SetPos(position_ + step_ * std::max<uint64_t>(wParam, 1));
      return true;
    case kProgressSetPos:
      SetPos(wParam);
      return true;
    default:
      return false;
  }
}

QString CTextProgressCtrl::PercentText() const {
  if (range_ == 0) return QString();
  return QString("%1%").arg(static_cast<int>(position_ * 100 / range_));
}

void CTextProgressCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect all = rect();
  p.fillRect(all, kBarRest);
  if (range_ == 0) return;
  const int doneWidth = static_cast<int>(all.width() * static_cast<double>(position_) / range_);
  const QRect done(all.left(), all.top(), doneWidth, all.height());
  const QRect rest(all.left() + doneWidth, all.top(), all.width() - doneWidth, all.height());
  const QPalette& pal = palette();
  p.fillRect(done, pal.color(QPalette::Highlight));
  const QString text = PercentText();
  p.save();
  p.setClipRect(done);
  p.setPen(pal.color(QPalette::Base));
  p.drawText(all, Qt::AlignCenter, text);
  p.restore();
  p.setClipRect(rest);
  p.setPen(pal.color(QPalette::Highlight));
  p.drawText(all, Qt::AlignCenter, text);
}

CProgressDlg::CProgressDlg(QWidget* parent)
    : QDialog(parent),
      target_(std::make_unique<QueuedProgressTarget>(
          this, [this](uint32_t m, uint64_t w, uint64_t l) { Handle(m, w, l); })) {
  setObjectName("CProgressDlg");
  setWindowTitle("进度");
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kBackground);
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);
  bar_ = new CTextProgressCtrl(this);
  message_ = new QLabel("提示信息", this);
  message_->setObjectName("message");
  stop_ = new QPushButton("停止", this);
  stop_->setObjectName("stop");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(bar_);
  layout->addWidget(message_);
  layout->addWidget(stop_, 0, Qt::AlignHCenter);
  resize(360, 120);
  record_.window = target_.get();
  connect(stop_, &QPushButton::clicked, this, [this] { record_.stop.store(1); });
}

CProgressDlg::~CProgressDlg() { Abandon(); }

void CProgressDlg::Abandon() { target_->Abandon(); }

void CProgressDlg::Open(const QString& title, const QString& message) {
  record_.stop.store(0);
  bar_->SetRange(0, 1);
  setWindowTitle(title);
  message_->setText(message);
  show();
  raise();
}

void CProgressDlg::reject() { record_.stop.store(1); }

void CProgressDlg::closeEvent(QCloseEvent* event) {
  record_.stop.store(1);
  event->ignore();
}

void CProgressDlg::Handle(uint32_t message, uint64_t wParam, uint64_t lParam) {
  if (bar_->Apply(message, wParam, lParam)) {
    if (message != kProgressSetRange && OnProgress) OnProgress();
    return;
  }
  if (message != kProgressClose) return;
  hide();
  if (OnWorkerClosed) OnWorkerClosed();
}

}  // namespace brevid::ui
