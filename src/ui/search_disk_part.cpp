#include "ui/search_disk_part.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace brevid::ui {
namespace {

// 0xA35A03 as the design's colour value, as the progress window draws it.
const QColor kBackground(0x03, 0x5A, 0xA3);

}  // namespace

CSearchDiskPart::CSearchDiskPart(QWidget* parent) : QDialog(parent) {
  setObjectName("CSearchDiskPart");
  setWindowTitle("扫描丢失磁盘分区");
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kBackground);
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);
  quick_ = new QRadioButton("快速扫描", this);
  quick_->setObjectName("quick");
  quick_->setChecked(true);
  precise_ = new QRadioButton("精确扫描(慢)", this);
  precise_->setObjectName("precise");
  auto* ok = new QPushButton("确定", this);
  ok->setObjectName("ok");
  ok->setDefault(true);
  auto* cancel = new QPushButton("取消", this);
  cancel->setObjectName("cancel");
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(quick_);
  layout->addWidget(precise_);
  layout->addLayout(buttons);
}

SearchMode CSearchDiskPart::Mode() const {
  return quick_->isChecked() ? SearchMode::kQuick : SearchMode::kPrecise;
}

}  // namespace brevid::ui
