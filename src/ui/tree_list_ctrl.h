// The panes' multi-column tree with tick boxes, images and text colours: a
// thin control over QTreeWidget offering the operations the panes use, under
// the names they use. Tick states are 0 clear, 1 ticked, 2 partly ticked.
// User-interface thread only. Items belong to the control; a pointer to one
// is valid until it or the control's items are deleted.
#pragma once

#include <QColor>
#include <QPoint>
#include <QString>
#include <QTreeWidget>
#include <functional>

namespace brevid::ui {

using CTreeListItem = QTreeWidgetItem;

class CTreeListCtrl : public QTreeWidget {
 public:
  enum Style : unsigned { kCheckBoxes = 1 };

  explicit CTreeListCtrl(QWidget* parent = nullptr);

  void SetStyle(unsigned style) { style_ = style; }
  int InsertColumn(int column, const QString& heading, int width);
  void SetColumnWidth(int column, int width) { setColumnWidth(column, width); }
  int GetColumnCount() const { return columnCount(); }

  // Appends an item with `text` in column 0 under `parent` (null: top level).
  CTreeListItem* InsertItem(const QString& text, CTreeListItem* parent = nullptr);
  void DeleteAllItems();

  CTreeListItem* GetRootItem() const { return topLevelItem(0); }
  CTreeListItem* GetChildItem(CTreeListItem* item) const;
  CTreeListItem* GetParentItem(CTreeListItem* item) const {
    return item ? item->parent() : nullptr;
  }
  CTreeListItem* GetNextSiblingItem(CTreeListItem* item) const;
  // Depth first, over every item whether shown or not.
  CTreeListItem* GetNextItem(CTreeListItem* item) const;
  CTreeListItem* GetFirstVisibleItem() const { return GetRootItem(); }
  // The next item a reader sees going down: children of collapsed items skipped.
  CTreeListItem* GetNextVisibleItem(CTreeListItem* item) const { return itemBelow(item); }
  CTreeListItem* GetSelectedItem() const { return currentItem(); }

  QString GetItemText(CTreeListItem* item, int column = 0) const;
  void SetItemText(CTreeListItem* item, int column, const QString& text);
  // An index into ImageList(); -1 for none.
  void SetItemImage(CTreeListItem* item, int image);
  int GetItemImage(CTreeListItem* item) const;
  void SetItemTextColor(CTreeListItem* item, const QColor& color);
  QColor GetItemTextColor(CTreeListItem* item) const;
  int GetCheck(CTreeListItem* item) const;
  // Shows `state` without calling the tick handler.
  void SetCheck(CTreeListItem* item, int state);

  void SelectItem(CTreeListItem* item);
  void Expand(CTreeListItem* item, bool expand = true);
  CTreeListItem* HitTest(const QPoint& point) const { return itemAt(point); }

  // The panes' handlers: the item under the mouse (null over empty space),
  // and for the right button the screen position. OnCheck runs when the
  // operator changes a tick box, with the new state.
  std::function<void(CTreeListItem*)> OnLButtonDblClk;
  std::function<void(CTreeListItem*)> OnLButtonUp;
  std::function<void(CTreeListItem*, const QPoint&)> OnRButtonUp;
  std::function<void(CTreeListItem*, int)> OnCheck;
  // Enter or Return on the current item (null when none).
  std::function<void(CTreeListItem*)> OnEnter;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ItemChanged(QTreeWidgetItem* item, int column);

  unsigned style_ = 0;
  bool quiet_ = false;  // the control itself is changing a tick
};

}  // namespace brevid::ui
