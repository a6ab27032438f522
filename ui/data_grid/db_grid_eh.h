// The data grid: shows the rows of the data set behind a DataSource and
// lets the user change, append and delete them in place. One column per
// field, titled with the field's name; a row indicator at the left; green
// grid lines; the current cell white on the highlight colour.
//
// Keys: typing or F2 edits a cell, Tab moves between cells, leaving a row
// writes its changes, Esc forgets them (a new row goes, unwritten), Insert
// (or Down on the last row, or Tab on its last cell) writes the row in hand
// and starts a new one, Ctrl+Delete deletes the current row after a
// confirmation. The row indicator marks the current row, a changed row
// not yet written ("I") and a new row not yet written ("*").
#ifndef VOVARIZE_UI_DATA_GRID_DB_GRID_EH_H
#define VOVARIZE_UI_DATA_GRID_DB_GRID_EH_H

#include <QTableView>

#include <string>

#include "data/data_module.h"
#include "ui/data_grid/grid_model.h"

namespace vov::ui {

class TDBGridEh : public QTableView {
  Q_OBJECT

 public:
  explicit TDBGridEh(QWidget* parent = nullptr);
  ~TDBGridEh() override;

  void setDataSource(DataSource* source);
  DataSource* dataSource() const { return source_; }
  GridModel* gridModel() const { return model_; }

  // Writes the row being changed now; called before its data set closes.
  // Raises the engine's error and keeps the typed values on failure.
  void post();

  // The user's row commands; each explains itself in a message box when
  // the rows cannot be changed, and raises the engine's error on failure.
  void appendRow();
  void deleteCurrentRow();
  void cancelRow();

 protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void keyPressEvent(QKeyEvent* e) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  // Why the cell cannot be changed, empty when it can.
  std::string whyReadOnly(const QModelIndex& index) const;
  void refuse(const std::string& why);
  void leaveRow(int row, int column);
  void finishEditing();
  bool onLastCell() const;
  bool tabIntoNewRow();
  void sizeColumns();

  GridModel* model_;
  DataSource* source_ = nullptr;
};

}  // namespace vov::ui

#endif
