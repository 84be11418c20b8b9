#include "ui/scan_file_dialog.h"

#include <QFileDialog>

namespace brevid::ui {

QString AskScanResultFile(QWidget* owner, bool save, const QString& defaultName) {
  QFileDialog dlg(owner, save ? "保存扫描结果" : "打开扫描结果");
  dlg.setObjectName("scanResultFile");
  dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // "*.*" would hide names without a dot here.
  dlg.setNameFilters({"qel_scn Files(*.qel_scn)", "Text Files(*.txt)", "All Files(*)"});
  dlg.setDefaultSuffix("qel_scn");
  if (save && !defaultName.isEmpty()) dlg.selectFile(defaultName);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
  return dlg.selectedFiles().front();
}

QString DefaultScanResultName(const QString& diskItemText) {
  QString name = diskItemText;
  name.replace('/', '_');
  return name + ".qel_scn";
}

}  // namespace brevid::ui
