// ListBox on QListWidget.
#include "ui/platform/list_box.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "data/error.h"

namespace vov::ui {

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setUniformItemSizes(true);
}

int ListBox::itemIndex() const {
  const QList<QListWidgetItem*> sel = selectedItems();
  return sel.isEmpty() ? -1 : row(sel.first());
}

void ListBox::setItemIndex(int index) {
  if (index < 0 || index >= count()) {
    clearSelection();
    setCurrentRow(-1, QItemSelectionModel::Clear);
    return;
  }
  setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

std::string ListBox::item(int index) const {
  if (index < 0 || index >= count()) throw ListIndexError(index);
  return QListWidget::item(index)->text().toStdString();
}

std::vector<std::string> ListBox::items() const {
  std::vector<std::string> out;
  out.reserve(static_cast<size_t>(count()));
  for (int i = 0; i < count(); ++i) out.push_back(QListWidget::item(i)->text().toStdString());
  return out;
}

void ListBox::add(const std::string& text) { addItem(QString::fromStdString(text)); }

void ListBox::deleteItem(int index) {
  if (index < 0 || index >= count()) throw ListIndexError(index);
  const bool wasSelected = itemIndex() == index;
  delete takeItem(index);
  // Qt moves the current entry to a neighbour; the selection must not follow.
  if (wasSelected) setItemIndex(-1);
}

void ListBox::clearItems() {
  clear();
  setItemIndex(-1);
}

void ListBox::setItems(const std::vector<std::string>& texts) {
  clear();
  QStringList list;
  list.reserve(static_cast<int>(texts.size()));
  for (const auto& t : texts) list << QString::fromStdString(t);
  addItems(list);
  setItemIndex(-1);
}

int ListBox::indexOf(const std::string& text) const {
  const QString needle = QString::fromStdString(text);
  for (int i = 0; i < count(); ++i)
    if (QListWidget::item(i)->text().compare(needle, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

void ListBox::setHorizontalExtent(int pixels) { extent_ = pixels; }

void ListBox::pick(int index) {
  setItemIndex(index);
  emit picked();
}

void ListBox::mouseReleaseEvent(QMouseEvent* e) {
  QListWidget::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && itemAt(e->position().toPoint())) emit picked();
}

void ListBox::keyPressEvent(QKeyEvent* e) {
  const int before = itemIndex();
  QListWidget::keyPressEvent(e);
  // Keyboard moves change the current entry; make it the selected one too.
  if (currentRow() >= 0 && itemIndex() != currentRow()) setItemIndex(currentRow());
  if (itemIndex() != before && itemIndex() >= 0) emit picked();
}

}  // namespace vov::ui
