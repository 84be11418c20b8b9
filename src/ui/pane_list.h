// The file pane's lists: a tree view over one of the pane's models, with the
// reads the pane and its tests use under the tree-list control's names, and
// the keys and mouse buttons the pane answers. User-interface thread only.
#pragma once

#include <QColor>
#include <QModelIndex>
#include <QPoint>
#include <QString>
#include <QTreeView>
#include <functional>

namespace brevid::ui {

// The image number of a left item (ImageList()).
constexpr int kItemImageRole = Qt::UserRole + 2;

class CPaneList : public QTreeView {
 public:
  explicit CPaneList(QWidget* parent = nullptr);

  QModelIndex GetRootItem() const;
  // Depth first over every item of the model, shown or not.
  QModelIndex GetNextItem(const QModelIndex& item) const;
  QModelIndex GetSelectedItem() const { return currentIndex().siblingAtColumn(0); }
  QString GetItemText(const QModelIndex& item, int column = 0) const;
  int GetItemImage(const QModelIndex& item) const;
  QColor GetItemTextColor(const QModelIndex& item) const;
  // 0 clear, 1 ticked, 2 partly ticked.
  int GetCheck(const QModelIndex& item) const;
  int topLevelItemCount() const;
  QModelIndex topLevelItem(int row) const;
  void SelectItem(const QModelIndex& item);

  // The item under the mouse (invalid over empty space) and the screen
  // position; the menu key and Shift+F10 call OnRButtonUp for the current item.
  std::function<void(const QModelIndex&, const QPoint&)> OnRButtonUp;
  std::function<void(const QModelIndex&)> OnLButtonDblClk;
  std::function<void(const QModelIndex&)> OnEnter;
  std::function<void()> OnSaveKey;  // Ctrl+S

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace brevid::ui
