// The file dialogs of "保存扫描结果" and "打开扫描结果". Modal,
// user-interface thread only.
#pragma once

#include <QString>
#include <QWidget>

namespace brevid::ui {

// Asks for a scan-result file: for saving (with `defaultName` offered and a
// question before an existing file is replaced) or for opening an existing
// one. Returns the chosen path (UTF-8), empty when cancelled.
QString AskScanResultFile(QWidget* owner, bool save, const QString& defaultName = QString());

// The default name offered for the disk item `diskItemText`: the text with
// ".qel_scn" appended, a "/" in it (an image path) made harmless.
QString DefaultScanResultName(const QString& diskItemText);

}  // namespace brevid::ui
