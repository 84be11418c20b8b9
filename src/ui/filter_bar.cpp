#include "ui/filter_bar.h"

#include <QGridLayout>
#include <cmath>

namespace brevid::ui {

std::optional<uint64_t> ParseSizeText(const QString& text) {
  QString t = text.trimmed().toUpper();
  if (t.endsWith('B')) t.chop(1);
  double unit = 1;
  if (!t.isEmpty() && QString("KMGT").contains(t.back())) {
    unit = std::pow(1024.0, QString("KMGT").indexOf(t.back()) + 1);
    t.chop(1);
  }
  bool ok = false;
  const double value = t.trimmed().toDouble(&ok);
  if (!ok || value < 0 || value * unit > 1.8e19) return std::nullopt;
  return static_cast<uint64_t>(std::llround(value * unit));
}

CFilterBar::CFilterBar(QWidget* parent) : QWidget(parent) {
  setObjectName("filterBar");
  // Two rows: what to look for, then the ranges.
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(3);
  int row = 0, column = 0;
  auto place = [&](QWidget* w, int span = 1) {
    grid->addWidget(w, row, column, 1, span);
    column += span;
  };
  auto edit = [&](const char* name, const QString& hint, int span) {
    auto* e = new QLineEdit(this);
    e->setObjectName(name);
    e->setPlaceholderText(hint);
    e->setToolTip(hint);
    place(e, span);
    connect(e, &QLineEdit::textChanged, this, [this] {
      if (!quiet_) settle_.start();
    });
    return e;
  };
  name_ = edit("nameFilter", "名称 (如 *.jpg)", 2);
  type_ = new QComboBox(this);
  type_->setObjectName("typeFilter");
  type_->addItems({"全部类型", "图片", "文档", "视频", "音频", "压缩包", "其他"});
  place(type_);
  recovery_ = new QComboBox(this);
  recovery_->setObjectName("recoveryFilter");
  recovery_->addItems({"全部可恢复性", "好", "部分", "已覆盖"});
  place(recovery_);
  deleted_ = new QCheckBox("仅显示已删除", this);
  deleted_->setObjectName("deletedOnly");
  place(deleted_);
  row = 1;
  column = 0;
  minSize_ = edit("minSize", "最小 (如 10K)", 1);
  maxSize_ = edit("maxSize", "最大 (如 5M)", 1);
  after_ = edit("modifiedAfter", "修改于 起 YYYY-MM-DD", 1);
  before_ = edit("modifiedBefore", "修改于 止 YYYY-MM-DD", 2);
  // Typing settles before a million-entry tree is walked again.
  settle_.setSingleShot(true);
  settle_.setInterval(150);
  connect(&settle_, &QTimer::timeout, this, [this] {
    if (OnChanged) OnChanged();
  });
  auto now = [this] {
    if (quiet_) return;
    settle_.stop();
    if (OnChanged) OnChanged();
  };
  connect(type_, &QComboBox::currentIndexChanged, this, now);
  connect(recovery_, &QComboBox::currentIndexChanged, this, now);
  connect(deleted_, &QCheckBox::toggled, this, now);
}

RowFilter CFilterBar::Filter() const {
  RowFilter f;
  f.nameGlob = name_->text().trimmed().toStdString();
  // A plain word finds the names holding it.
  if (!f.nameGlob.empty() && f.nameGlob.find_first_of("*?[") == std::string::npos)
    f.nameGlob = "*" + f.nameGlob + "*";
  f.type = static_cast<TypeGroup>(type_->currentIndex());
  f.minSize = ParseSizeText(minSize_->text());
  f.maxSize = ParseSizeText(maxSize_->text());
  const std::string after = after_->text().trimmed().toStdString();
  const std::string before = before_->text().trimmed().toStdString();
  if (IsDayText(after)) f.modifiedAfter = after;
  if (IsDayText(before)) f.modifiedBefore = before;
  f.deletedOnly = deleted_->isChecked();
  if (recovery_->currentIndex() > 0)
    f.recovery = static_cast<RecoveryChance>(recovery_->currentIndex());
  return f;
}

void CFilterBar::Clear() {
  quiet_ = true;
  for (QLineEdit* e : {name_, minSize_, maxSize_, after_, before_}) e->clear();
  type_->setCurrentIndex(0);
  recovery_->setCurrentIndex(0);
  deleted_->setChecked(false);
  settle_.stop();
  quiet_ = false;
}

}  // namespace brevid::ui
