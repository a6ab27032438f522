// The data grid on QTableView.
#include "ui/data_grid/db_grid_eh.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>

#include "ui/data_grid/cell_value.h"
#include "ui/platform/dispatch.h"
#include "ui/platform/platform.h"

namespace vov::ui {

TDBGridEh::TDBGridEh(QWidget* parent) : QTableView(parent), model_(new GridModel(this)) {
  setModel(model_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  setTabKeyNavigation(true);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setStyleSheet(QStringLiteral("QTableView { gridline-color: green; }"));

  QPalette p = palette();
  p.setColor(QPalette::Active, QPalette::HighlightedText, Qt::white);
  // Without the focus no cell is highlighted.
  p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Base));
  p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Text));
  setPalette(p);

  const int rowHeight = fontMetrics().height() + 4;
  QHeaderView* rows = verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(rowHeight);
  rows->setDefaultSectionSize(rowHeight);
  rows->setDefaultAlignment(Qt::AlignCenter);
  rows->setFixedWidth(16);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setHighlightSections(false);

  connect(model_, &QAbstractItemModel::modelReset, this, [this] { sizeColumns(); });
  // An appended row that was left empty goes when the grid loses the focus.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    const bool wasHere = old && (old == this || isAncestorOf(old));
    const bool isHere = now && (now == this || isAncestorOf(now));
    if (wasHere && now && !isHere && model_->pendingIsAppend() && model_->pendingIsEmpty())
      model_->cancel();
  });
}

TDBGridEh::~TDBGridEh() { model_->setDataSet(nullptr); }

void TDBGridEh::setDataSource(DataSource* source) {
  source_ = source;
  model_->setDataSet(source ? source->dataSet : nullptr);
}

// Columns start wide enough for their title and a typical value of their
// type; the user resizes them by dragging the title borders.
void TDBGridEh::sizeColumns() {
  const QFontMetrics fm = fontMetrics();
  const int digit = fm.horizontalAdvance(QLatin1Char('0'));
  for (int c = 0; c < model_->columnCount(); ++c) {
    const FieldInfo& f = model_->field(c);
    int chars = 10;
    if (isTextType(f.type)) chars = f.size > 0 ? std::min(f.size, 24) : 24;
    else if (f.type == ftDate || f.type == ftDateTime) chars = 19;
    const int title = fm.horizontalAdvance(QString::fromStdString(f.name)) + 12;
    setColumnWidth(c, std::clamp(std::max(title, chars * digit + 8), 40, 240));
  }
}

std::string TDBGridEh::whyReadOnly(const QModelIndex& index) const {
  std::string why = model_->readOnlyReason();
  if (why.empty() && index.isValid() && isBinaryField(model_->field(index.column())))
    why = "字段“" + model_->field(index.column()).name + "”是二进制数据，不能在表格里修改";
  return why;
}

void TDBGridEh::refuse(const std::string& why) {
  messageBox(window(), why, "错误", MB_OK | MB_ICONWARNING);
}

bool TDBGridEh::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (index.isValid() && (editTriggers() & trigger).toInt() != 0 && state() != EditingState) {
    const std::string why = whyReadOnly(index);
    if (!why.empty()) {
      refuse(why);
      return false;
    }
  }
  return QTableView::edit(index, trigger, event);
}

void TDBGridEh::post() { model_->post(); }

void TDBGridEh::appendRow() {
  if (!model_->active()) return;
  const std::string why = model_->readOnlyReason();
  if (!why.empty()) return refuse(why);
  const int column = std::max(0, currentIndex().column());
  const int row = model_->appendRow();
  setCurrentIndex(model_->index(row, column));
  scrollTo(currentIndex());
}

void TDBGridEh::deleteCurrentRow() {
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return;
  const std::string why = model_->readOnlyReason();
  if (!why.empty()) return refuse(why);
  if (messageBox(window(), "确定要删除当前这一行数据吗？", "确认", MB_OKCANCEL | MB_ICONWARNING) !=
      IDOK)
    return;
  model_->removeRow(current.row());
  const int rows = model_->rowCount();
  if (rows > 0) setCurrentIndex(model_->index(std::min(current.row(), rows - 1), current.column()));
}

void TDBGridEh::cancelRow() {
  const QModelIndex current = currentIndex();
  model_->cancel();
  if (current.isValid() && current.row() >= model_->rowCount() && model_->rowCount() > 0)
    setCurrentIndex(model_->index(model_->rowCount() - 1, current.column()));
}

// The cell editor's text goes into the row and the editor closes, as when
// the user leaves the cell.
void TDBGridEh::finishEditing() {
  QWidget* editor = focusWidget();
  if (state() != EditingState || !editor || !viewport()->isAncestorOf(editor)) return;
  commitData(editor);
  closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void TDBGridEh::keyPressEvent(QKeyEvent* e) {
  const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
  const int key = e->key();
  // An empty table has no last row: Down starts its first.
  const bool onLastRow = currentIndex().isValid()
                             ? currentIndex().row() == model_->rowCount() - 1
                             : model_->active() && model_->rowCount() == 0;
  const bool appends = mods == Qt::NoModifier &&
                       (key == Qt::Key_Insert ||
                        (key == Qt::Key_Down && onLastRow && model_->readOnlyReason().empty()));
  if (appends) finishEditing();
  if (state() != EditingState) {
    if (key == Qt::Key_Delete && mods == Qt::ControlModifier) {
      runGuarded([this] { deleteCurrentRow(); });
      return;
    }
    if (appends) {
      // Down from a new row that holds nothing yet adds no second one.
      if (key == Qt::Key_Insert || !(model_->pendingIsAppend() && model_->pendingIsEmpty()))
        runGuarded([this] { appendRow(); });
      return;
    }
    if (key == Qt::Key_Tab && mods == Qt::NoModifier && onLastCell()) {
      tabIntoNewRow();
      return;
    }
    if (key == Qt::Key_Escape && mods == Qt::NoModifier && model_->pendingRow() >= 0) {
      cancelRow();
      return;
    }
  }
  QTableView::keyPressEvent(e);
}

bool TDBGridEh::onLastCell() const {
  const QModelIndex current = currentIndex();
  return current.isValid() && current.row() == model_->rowCount() - 1 &&
         current.column() == model_->columnCount() - 1 && model_->readOnlyReason().empty() &&
         !(model_->pendingIsAppend() && model_->pendingIsEmpty());
}

// Tab on the last cell of the last row writes the row and starts the next
// in its first cell.
bool TDBGridEh::tabIntoNewRow() {
  const int before = model_->rowCount();
  runGuarded([this] {
    const int row = model_->appendRow();
    setCurrentIndex(model_->index(row, 0));
    scrollTo(currentIndex());
  });
  return model_->rowCount() > before;
}

// The cell editor's Tab asks for the next cell here, after handing its text
// to the row.
void TDBGridEh::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  if (hint != QAbstractItemDelegate::EditNextItem || !onLastCell())
    return QTableView::closeEditor(editor, hint);
  QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
  if (tabIntoNewRow()) QTableView::edit(currentIndex());
}

void TDBGridEh::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  model_->setCurrentRow(current.row());
  if (previous.isValid() && previous.row() != current.row() &&
      previous.row() == model_->pendingRow())
    leaveRow(previous.row(), previous.column());
}

// Leaving a row writes it. When that fails the error is shown and the
// grid goes back to the row, which still holds what the user typed.
void TDBGridEh::leaveRow(int row, int column) {
  runGuarded([this] { model_->post(); });
  if (model_->pendingRow() != row) return;
  QMetaObject::invokeMethod(
      this,
      [this, row, column] {
        if (model_->pendingRow() == row) setCurrentIndex(model_->index(row, column));
      },
      Qt::QueuedConnection);
}

void TDBGridEh::contextMenuEvent(QContextMenuEvent* e) {
  if (!model_->active()) return;
  QMenu menu(this);
  QAction* append = menu.addAction(QStringLiteral("添加一行\tInsert"));
  QAction* remove = menu.addAction(QStringLiteral("删除当前行\tCtrl+Delete"));
  QAction* cancel = menu.addAction(QStringLiteral("放弃本行的修改\tEsc"));
  remove->setEnabled(currentIndex().isValid());
  cancel->setEnabled(model_->pendingRow() >= 0);
  QAction* chosen = menu.exec(e->globalPos());
  if (chosen == append) runGuarded([this] { appendRow(); });
  else if (chosen == remove) runGuarded([this] { deleteCurrentRow(); });
  else if (chosen == cancel) cancelRow();
}

}  // namespace vov::ui
