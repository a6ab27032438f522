// The rows of one data set as the grid sees them. A whole table is read
// through the data set's table browser a window of rows at a time, as the
// view asks for them, and only a bounded number of windows is kept; any
// other statement is read forward as the user scrolls, and is read-only.
//
// Changes are collected for one row at a time (the pending row) and written
// when the grid leaves that row; a failed write keeps the typed texts.
#ifndef VOVARIZE_UI_DATA_GRID_GRID_MODEL_H
#define VOVARIZE_UI_DATA_GRID_GRID_MODEL_H

#include <QAbstractTableModel>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/engine.h"

namespace vov::ui {

class GridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kWindowRows = 200;
  static constexpr size_t kKeptWindows = 40;

  explicit GridModel(QObject* parent = nullptr);
  ~GridModel() override;

  // Follows the data set: filled when it opens, empty when it closes.
  void setDataSet(DataSet* dataSet);
  DataSet* dataSet() const { return dataSet_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  bool active() const { return mode_ != Mode::Closed; }
  const FieldInfo& field(int column) const { return fields_.at(static_cast<size_t>(column)); }
  // Why the rows cannot be changed; empty when they can.
  const std::string& readOnlyReason() const { return readOnlyReason_; }

  // The row with unwritten changes, or -1.
  int pendingRow() const { return pending_.row; }
  bool pendingIsAppend() const { return pending_.append; }
  bool pendingIsEmpty() const { return pending_.texts.empty(); }

  // Adds an empty row at the end (writing the pending row first, a new row
  // with values too) and returns its index; an empty new row is returned
  // as it is.
  int appendRow();
  // Writes the pending row. On failure raises the error and keeps the row
  // as typed; an appended row left empty is dropped instead of written.
  void post();
  // Forgets the pending row's changes (an appended row goes away).
  void cancel();
  // Deletes row `row` from its table.
  void removeRow(int row);

  // The row the grid stands on, marked in the row indicator.
  void setCurrentRow(int row);

  // Rows held in memory (for the benchmark).
  size_t heldRows() const;

 private:
  enum class Mode { Closed, Browse, Forward };
  struct Window {
    std::vector<BrowseRow> rows;
    uint64_t lastUse = 0;
  };
  struct Pending {
    int row = -1;
    bool append = false;
    RowKey key;
    std::map<int, std::string> texts;  // column -> text as typed
  };

  void reload();
  int tableRows() const;
  const BrowseRow* browseRow(int row) const;
  const std::vector<Value>* rowValues(int row) const;
  std::string originalText(int row, int column) const;
  void readFailed(const std::string& message) const;
  void rowsChanged();

  DataSet* dataSet_ = nullptr;
  Mode mode_ = Mode::Closed;
  std::vector<FieldInfo> fields_;
  TableBrowser* browser_ = nullptr;
  int64_t tableRows_ = 0;
  std::string readOnlyReason_;
  std::vector<std::vector<Value>> forwardRows_;
  mutable std::unordered_map<int64_t, Window> windows_;
  mutable uint64_t useClock_ = 0;
  mutable bool readBroken_ = false;
  Pending pending_;
  bool removing_ = false;  // the pending new row is being taken out
  int currentRow_ = -1;
};

}  // namespace vov::ui

#endif
