#include "ui/tree_list_ctrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "ui/image_list.h"

namespace brevid::ui {
namespace {

// The tick the control last showed, to tell the operator's clicks from
// every other change of an item.
constexpr int kShownCheckRole = Qt::UserRole + 100;
constexpr int kImageRole = Qt::UserRole + 101;

Qt::CheckState ToQt(int state) {
  return state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
}
int FromQt(Qt::CheckState state) {
  return state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0;
}

}  // namespace

CTreeListCtrl::CTreeListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(0);
  setUniformRowHeights(true);
  setIconSize(QSize(16, 16));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setExpandsOnDoubleClick(false);
  header()->setStretchLastSection(false);
  connect(this, &QTreeWidget::itemChanged, this, &CTreeListCtrl::ItemChanged);
}

int CTreeListCtrl::InsertColumn(int column, const QString& heading, int width) {
  QStringList labels;
  for (int i = 0; i < columnCount(); ++i) labels << headerItem()->text(i);
  labels.insert(column, heading);
  setColumnCount(static_cast<int>(labels.size()));
  setHeaderLabels(labels);
  setColumnWidth(column, width);
  return column;
}

CTreeListItem* CTreeListCtrl::InsertItem(const QString& text, CTreeListItem* parent) {
  auto* item = new QTreeWidgetItem();
  item->setText(0, text);
  if (style_ & kCheckBoxes) {
    item->setData(0, kShownCheckRole, 0);
    item->setCheckState(0, Qt::Unchecked);
  }
  if (parent)
    parent->addChild(item);
  else
    addTopLevelItem(item);
  return item;
}

void CTreeListCtrl::DeleteAllItems() { clear(); }

CTreeListItem* CTreeListCtrl::GetChildItem(CTreeListItem* item) const {
  if (!item) return GetRootItem();
  return item->childCount() > 0 ? item->child(0) : nullptr;
}

CTreeListItem* CTreeListCtrl::GetNextSiblingItem(CTreeListItem* item) const {
  if (!item) return nullptr;
  QTreeWidgetItem* parent = item->parent();
  int index = parent ? parent->indexOfChild(item) : indexOfTopLevelItem(item);
  int count = parent ? parent->childCount() : topLevelItemCount();
  if (index + 1 >= count) return nullptr;
  return parent ? parent->child(index + 1) : topLevelItem(index + 1);
}

CTreeListItem* CTreeListCtrl::GetNextItem(CTreeListItem* item) const {
  if (!item) return GetRootItem();
  if (item->childCount() > 0) return item->child(0);
  for (CTreeListItem* up = item; up; up = up->parent())
    if (CTreeListItem* next = GetNextSiblingItem(up)) return next;
  return nullptr;
}

QString CTreeListCtrl::GetItemText(CTreeListItem* item, int column) const {
  return item ? item->text(column) : QString();
}

void CTreeListCtrl::SetItemText(CTreeListItem* item, int column, const QString& text) {
  if (item) item->setText(column, text);
}

void CTreeListCtrl::SetItemImage(CTreeListItem* item, int image) {
  if (!item) return;
  const std::vector<QIcon>& images = ImageList();
  item->setData(0, kImageRole, image);
  item->setIcon(0, image >= 0 && image < static_cast<int>(images.size()) ? images[image] : QIcon());
}

int CTreeListCtrl::GetItemImage(CTreeListItem* item) const {
  QVariant v = item ? item->data(0, kImageRole) : QVariant();
  return v.isValid() ? v.toInt() : -1;
}

void CTreeListCtrl::SetItemTextColor(CTreeListItem* item, const QColor& color) {
  if (!item) return;
  for (int c = 0; c < columnCount(); ++c) item->setForeground(c, color);
}

QColor CTreeListCtrl::GetItemTextColor(CTreeListItem* item) const {
  return item ? item->foreground(0).color() : QColor();
}

int CTreeListCtrl::GetCheck(CTreeListItem* item) const {
  return item ? FromQt(item->checkState(0)) : 0;
}

void CTreeListCtrl::SetCheck(CTreeListItem* item, int state) {
  if (!item) return;
  quiet_ = true;
  item->setData(0, kShownCheckRole, state);
  item->setCheckState(0, ToQt(state));
  quiet_ = false;
}

void CTreeListCtrl::SelectItem(CTreeListItem* item) {
  if (item) setCurrentItem(item);
}

void CTreeListCtrl::Expand(CTreeListItem* item, bool expand) {
  if (item) item->setExpanded(expand);
}

void CTreeListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && OnLButtonDblClk)
    OnLButtonDblClk(itemAt(event->position().toPoint()));
}

void CTreeListCtrl::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  CTreeListItem* item = itemAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && OnLButtonUp) OnLButtonUp(item);
  if (event->button() == Qt::RightButton) {
    if (item) setCurrentItem(item);
    if (OnRButtonUp) OnRButtonUp(item, event->globalPosition().toPoint());
  }
}

void CTreeListCtrl::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && OnEnter) {
    OnEnter(currentItem());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void CTreeListCtrl::ItemChanged(QTreeWidgetItem* item, int column) {
  if (quiet_ || column != 0 || !(style_ & kCheckBoxes)) return;
  int state = FromQt(item->checkState(0));
  if (item->data(0, kShownCheckRole).toInt() == state) return;
  quiet_ = true;
  item->setData(0, kShownCheckRole, state);
  quiet_ = false;
  if (OnCheck) OnCheck(item, state);
}

}  // namespace brevid::ui
