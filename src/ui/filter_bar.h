// The bar above the file pane's right list that narrows both lists: name
// pattern, type group, size range, modification days, "仅显示已删除" and
// recovery chance. User-interface thread only.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

#include "view/row_filter.h"

namespace brevid::ui {

class CFilterBar : public QWidget {
 public:
  explicit CFilterBar(QWidget* parent = nullptr);

  // What the fields say; a field that does not parse narrows nothing.
  RowFilter Filter() const;
  // Empties every field (no change is reported).
  void Clear();

  // Runs after a change, typing settled for a moment.
  std::function<void()> OnChanged;

 private:
  QLineEdit* name_;
  QComboBox* type_;
  QLineEdit* minSize_;
  QLineEdit* maxSize_;
  QLineEdit* after_;
  QLineEdit* before_;
  QCheckBox* deleted_;
  QComboBox* recovery_;
  QTimer settle_;
  bool quiet_ = false;
};

// "1234", "10K", "2.5 MB", "1g": bytes (units of 1024); none for other text.
std::optional<uint64_t> ParseSizeText(const QString& text);

}  // namespace brevid::ui
