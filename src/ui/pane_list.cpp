#include "ui/pane_list.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

namespace brevid::ui {

CPaneList::CPaneList(QWidget* parent) : QTreeView(parent) {
  setUniformRowHeights(true);
  setIconSize(QSize(16, 16));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setExpandsOnDoubleClick(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
}

QModelIndex CPaneList::GetRootItem() const {
  return model() ? model()->index(0, 0) : QModelIndex();
}

QModelIndex CPaneList::GetNextItem(const QModelIndex& item) const {
  if (!model()) return {};
  if (!item.isValid()) return GetRootItem();
  if (model()->rowCount(item) > 0) return model()->index(0, 0, item);
  for (QModelIndex up = item; up.isValid(); up = up.parent()) {
    QModelIndex next = up.siblingAtRow(up.row() + 1);
    if (next.isValid()) return next;
  }
  return {};
}

QString CPaneList::GetItemText(const QModelIndex& item, int column) const {
  return item.siblingAtColumn(column).data().toString();
}

int CPaneList::GetItemImage(const QModelIndex& item) const {
  QVariant v = item.siblingAtColumn(0).data(kItemImageRole);
  return v.isValid() ? v.toInt() : -1;
}

QColor CPaneList::GetItemTextColor(const QModelIndex& item) const {
  QVariant v = item.siblingAtColumn(0).data(Qt::ForegroundRole);
  return v.isValid() ? v.value<QColor>() : QColor(Qt::black);
}

int CPaneList::GetCheck(const QModelIndex& item) const {
  const auto state =
      static_cast<Qt::CheckState>(item.siblingAtColumn(0).data(Qt::CheckStateRole).toInt());
  return state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0;
}

int CPaneList::topLevelItemCount() const { return model() ? model()->rowCount() : 0; }

QModelIndex CPaneList::topLevelItem(int row) const {
  return model() ? model()->index(row, 0) : QModelIndex();
}

void CPaneList::SelectItem(const QModelIndex& item) {
  if (!item.isValid()) return;
  scrollTo(item);
  setCurrentIndex(item);
}

void CPaneList::mouseReleaseEvent(QMouseEvent* event) {
  QTreeView::mouseReleaseEvent(event);
  if (event->button() != Qt::RightButton) return;
  QModelIndex item = indexAt(event->position().toPoint());
  if (item.isValid()) setCurrentIndex(item);
  if (OnRButtonUp) OnRButtonUp(item.siblingAtColumn(0), event->globalPosition().toPoint());
}

void CPaneList::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && OnLButtonDblClk)
    OnLButtonDblClk(indexAt(event->position().toPoint()).siblingAtColumn(0));
}

void CPaneList::keyPressEvent(QKeyEvent* event) {
  const QModelIndex current = GetSelectedItem();
  const bool menuKey = event->key() == Qt::Key_Menu ||
                       (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
  if (menuKey && OnRButtonUp) {
    const QRect at = current.isValid() ? visualRect(current) : QRect();
    OnRButtonUp(current, viewport()->mapToGlobal(at.isValid() ? at.center() : QPoint(8, 8)));
    return;
  }
  if (event->key() == Qt::Key_S && event->modifiers() == Qt::ControlModifier && OnSaveKey) {
    OnSaveKey();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && OnEnter) {
    OnEnter(current);
    return;
  }
  QTreeView::keyPressEvent(event);
}

}  // namespace brevid::ui
