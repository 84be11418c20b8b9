#include "ui/save_file_dlg.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "platform/codepage.h"
#include "platform/message_box.h"

namespace brevid::ui {
namespace {

QString Canonical(const QString& path) {
  QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

// The savers name the target in the ANSI code page; a path it cannot hold
// could be neither made nor reached.
bool InCodePage(const QString& path) {
  const std::string utf8 = QFileInfo(path.trimmed()).absoluteFilePath().toStdString();
  bool lossy = false;
  const std::string ansi = Utf8ToAnsi(utf8, &lossy);
  return !lossy && AnsiToUtf8(ansi) == utf8;
}

}  // namespace

CMySaveFileDlg::Picker& CMySaveFileDlg::FolderPicker() {
  static Picker picker = [](QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
  };
  return picker;
}

CMySaveFileDlg::CMySaveFileDlg(QWidget* parent, const QString& volumeMount, bool fatMode,
                               bool includeDeleted, bool includeNormal)
    : QDialog(parent), mount_(volumeMount) {
  setObjectName("CMySaveFileDlg");
  setWindowTitle("Recover");
  path_ = new QLineEdit(this);
  path_->setObjectName("path");
  browse_ = new QPushButton(">", this);
  browse_->setObjectName("browse");
  useFat_ = new QCheckBox("是否以FAT做参考", this);
  useFat_->setObjectName("useFat");
  deleted_ = new QCheckBox("恢复删除文件", this);
  deleted_->setObjectName("includeDeleted");
  normal_ = new QCheckBox("恢复正常文件", this);
  normal_->setObjectName("includeNormal");
  auto* ok = new QPushButton("确定", this);
  ok->setObjectName("ok");
  ok->setDefault(true);
  auto* cancel = new QPushButton("取消", this);
  cancel->setObjectName("cancel");

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("输出路径:", this), 0, 0);
  grid->addWidget(path_, 0, 1);
  grid->addWidget(browse_, 0, 2);
  grid->addWidget(useFat_, 1, 1);
  grid->addWidget(deleted_, 2, 1);
  grid->addWidget(normal_, 3, 1);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 4, 0, 1, 3);
  resize(420, 180);

  useFat_->setVisible(fatMode);
  useFat_->setChecked(fatMode);
  deleted_->setChecked(includeDeleted);
  normal_->setChecked(includeNormal);
  connect(browse_, &QPushButton::clicked, this, &CMySaveFileDlg::Browse);
  connect(ok, &QPushButton::clicked, this, &CMySaveFileDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CMySaveFileDlg::reject);
}

SaveSwitches CMySaveFileDlg::Switches() const {
  return {useFat_->isChecked(), deleted_->isChecked(), normal_->isChecked()};
}

bool CMySaveFileDlg::OnRecoveredVolume(const QString& path) const {
  if (mount_.isEmpty() || path.isEmpty()) return false;
  const QString mount = Canonical(mount_), target = Canonical(path);
  return target == mount || target.startsWith(mount.endsWith('/') ? mount : mount + '/');
}

bool CMySaveFileDlg::WarnSameVolume() const {
  return ShowMessageBox(Ansi("将文件放回原分区行为危险\r\n希望重新选择"), "Recover",
                        kMbOkCancel | kMbIconWarning) == kIdOk;
}

void CMySaveFileDlg::Browse() {
  for (;;) {
    QString path = FolderPicker()(this, "请选择存储路径");
    if (path.size() > 1 && path.endsWith('/')) path.chop(1);
    if (!OnRecoveredVolume(path)) {
      path_->setText(path);
      return;
    }
    if (!WarnSameVolume()) {
      confirmed_ = path;
      path_->setText(path);
      return;
    }
  }
}

void CMySaveFileDlg::accept() {
  // A typed path gets the same question as a picked one.
  const QString path = path_->text();
  if (!path.trimmed().isEmpty() && !InCodePage(path)) {
    ShowMessageBox(TargetNotInCodePageText(), "Recover", kMbOk | kMbIconWarning);
    return;
  }
  if (path != confirmed_ && OnRecoveredVolume(path)) {
    if (WarnSameVolume()) {
      path_->clear();
      return;
    }
    confirmed_ = path;
  }
  QDialog::accept();
}

}  // namespace brevid::ui
