// The options dialog of "扫描丢失分区": quick or precise search. Modal,
// user-interface thread only.
#pragma once

#include <QDialog>
#include <QRadioButton>

#include "tasks/partition_search_task.h"

namespace brevid::ui {

class CSearchDiskPart : public QDialog {
 public:
  explicit CSearchDiskPart(QWidget* parent = nullptr);

  // What the radio buttons say now; read it after "确定".
  SearchMode Mode() const;

 private:
  QRadioButton* quick_;
  QRadioButton* precise_;
};

}  // namespace brevid::ui
