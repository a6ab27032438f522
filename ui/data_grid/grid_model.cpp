// The grid's rows over a data set.
#include "ui/data_grid/grid_model.h"

#include <algorithm>
#include <climits>

#include "data/error.h"
#include "ui/data_grid/cell_value.h"
#include "ui/platform/dispatch.h"

namespace vov::ui {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}

GridModel::~GridModel() {
  if (dataSet_) dataSet_->removeStateListeners(this);
}

void GridModel::setDataSet(DataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->removeStateListeners(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->addStateListener(this, [this] { reload(); });
  reload();
}

void GridModel::reload() {
  beginResetModel();
  mode_ = Mode::Closed;
  fields_.clear();
  browser_ = nullptr;
  tableRows_ = 0;
  readOnlyReason_ = "没有打开的表";
  forwardRows_.clear();
  windows_.clear();
  readBroken_ = false;
  pending_ = Pending();
  currentRow_ = -1;
  std::string failure;
  if (dataSet_ && dataSet_->active()) {
    fields_ = dataSet_->fieldInfos();
    browser_ = dataSet_->browser();
    if (browser_) {
      mode_ = Mode::Browse;
      readOnlyReason_ = browser_->readOnlyReason();
      try {
        tableRows_ = browser_->rowCount();
      } catch (const std::exception& e) {
        readBroken_ = true;
        failure = e.what();
      }
    } else {
      // Rows read forward have no way back to their table.
      mode_ = Mode::Forward;
      readOnlyReason_ = "这些数据只能查看，不能在表格里修改";
    }
  }
  endResetModel();
  if (!failure.empty()) readFailed(failure);
}

int GridModel::tableRows() const {
  return static_cast<int>(std::min<int64_t>(tableRows_, INT_MAX - 1));
}

int GridModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  switch (mode_) {
    case Mode::Closed: return 0;
    case Mode::Browse: return tableRows() + (pending_.append ? 1 : 0);
    case Mode::Forward: return static_cast<int>(forwardRows_.size());
  }
  return 0;
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

// Reading happens while the view paints, where no box may open: the error
// is shown once the paint is over, and no further windows are read.
void GridModel::readFailed(const std::string& message) const {
  readBroken_ = true;
  QMetaObject::invokeMethod(
      const_cast<GridModel*>(this), [message] { runGuarded([&] { throw Error(message); }); },
      Qt::QueuedConnection);
}

const BrowseRow* GridModel::browseRow(int row) const {
  if (row < 0 || row >= tableRows()) return nullptr;
  const int64_t w = row / kWindowRows;
  auto it = windows_.find(w);
  if (it == windows_.end()) {
    if (readBroken_) return nullptr;
    Window fresh;
    try {
      browser_->fetch(w * kWindowRows, kWindowRows, fresh.rows);
    } catch (const std::exception& e) {
      readFailed(e.what());
      return nullptr;
    }
    if (windows_.size() >= kKeptWindows) {
      auto oldest = std::min_element(windows_.begin(), windows_.end(), [](auto& a, auto& b) {
        return a.second.lastUse < b.second.lastUse;
      });
      windows_.erase(oldest);
    }
    it = windows_.emplace(w, std::move(fresh)).first;
  }
  it->second.lastUse = ++useClock_;
  const size_t i = static_cast<size_t>(row - w * kWindowRows);
  return i < it->second.rows.size() ? &it->second.rows[i] : nullptr;
}

const std::vector<Value>* GridModel::rowValues(int row) const {
  if (mode_ == Mode::Forward)
    return row >= 0 && static_cast<size_t>(row) < forwardRows_.size()
               ? &forwardRows_[static_cast<size_t>(row)]
               : nullptr;
  if (mode_ != Mode::Browse) return nullptr;
  const BrowseRow* r = browseRow(row);
  return r ? &r->values : nullptr;
}

std::string GridModel::originalText(int row, int column) const {
  if (pending_.append && row == pending_.row) return std::string();
  const std::vector<Value>* values = rowValues(row);
  if (!values || static_cast<size_t>(column) >= values->size()) return std::string();
  // A column whose values the program cannot read says so in every cell.
  const std::string& unreadable = field(column).unreadable;
  if (!unreadable.empty()) return "（" + unreadable + "，无法显示）";
  return cellText((*values)[static_cast<size_t>(column)]);
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return QVariant();
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    if (index.row() == pending_.row) {
      auto typed = pending_.texts.find(index.column());
      if (typed != pending_.texts.end()) return qs(typed->second);
    }
    return qs(originalText(index.row(), index.column()));
  }
  if (role == Qt::TextAlignmentRole) {
    Qt::Alignment a = isNumberType(field(index.column()).type) ? Qt::AlignRight : Qt::AlignLeft;
    return QVariant::fromValue(a | Qt::AlignVCenter);
  }
  return QVariant();
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Horizontal)
    return section >= 0 && section < columnCount() ? qs(field(section).name) : QVariant();
  // The row indicator: the current row, a row being changed, a new row.
  if (section == pending_.row) return pending_.append ? QStringLiteral("*") : QStringLiteral("I");
  if (section == currentRow_) return QStringLiteral("\u25B6");
  return QVariant();
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
  if (readOnlyReason().empty() && !isBinaryField(field(index.column()))) f |= Qt::ItemIsEditable;
  return f;
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
    return false;
  const int row = index.row();
  // The grid writes a row before it moves on; a change reaching another
  // row first is refused rather than mixed into the pending one.
  if (pending_.row >= 0 && pending_.row != row) return false;
  const std::string text = value.toString().toStdString();
  if (pending_.row < 0) {
    const BrowseRow* r = browseRow(row);
    if (!r) return false;
    pending_.row = row;
    pending_.key = r->key;
  }
  if (text == originalText(row, index.column()))
    pending_.texts.erase(index.column());
  else
    pending_.texts[index.column()] = text;
  emit dataChanged(index, index);
  emit headerDataChanged(Qt::Vertical, row, row);
  return true;
}

int GridModel::appendRow() {
  const std::string why = readOnlyReason();
  if (!why.empty()) throw Error(why);
  // A new row that holds nothing stays the one new row; one that holds
  // values is written first, like any other pending row.
  if (pending_.append && pending_.texts.empty()) return pending_.row;
  post();
  const int row = tableRows();
  beginInsertRows(QModelIndex(), row, row);
  pending_ = Pending();
  pending_.row = row;
  pending_.append = true;
  endInsertRows();
  return row;
}

void GridModel::post() {
  if (pending_.row < 0 || removing_) return;
  if (pending_.append && pending_.texts.empty()) {
    cancel();
    return;
  }
  std::vector<std::pair<int, Value>> changes;
  for (const auto& [column, text] : pending_.texts)
    changes.emplace_back(column, cellValue(field(column), text));
  if (pending_.append) {
    browser_->insert(changes);
    ++tableRows_;
  } else if (!changes.empty()) {
    browser_->update(pending_.key, changes);
  }
  const int row = pending_.row;
  pending_ = Pending();
  emit headerDataChanged(Qt::Vertical, row, row);
  rowsChanged();
}

void GridModel::cancel() {
  const int row = pending_.row;
  if (row < 0 || removing_) return;
  if (pending_.append) {
    // Removing the row moves the view's current cell off it first, which
    // would otherwise write the row that is being forgotten.
    removing_ = true;
    beginRemoveRows(QModelIndex(), row, row);
    pending_ = Pending();
    endRemoveRows();
    removing_ = false;
    return;
  }
  pending_ = Pending();
  emit headerDataChanged(Qt::Vertical, row, row);
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void GridModel::removeRow(int row) {
  if (pending_.append && row == pending_.row) {
    cancel();
    return;
  }
  const std::string why = readOnlyReason();
  if (!why.empty()) throw Error(why);
  const BrowseRow* r = browseRow(row);
  if (!r) throw Error("找不到要删除的行");
  browser_->remove(r->key);
  beginRemoveRows(QModelIndex(), row, row);
  if (pending_.row == row) pending_ = Pending();
  else if (pending_.row > row) --pending_.row;
  --tableRows_;
  windows_.clear();
  endRemoveRows();
}

// A write may move rows (a changed key sorts elsewhere): every window is
// read again, and the view repaints what it shows.
void GridModel::rowsChanged() {
  windows_.clear();
  if (rowCount() > 0 && columnCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void GridModel::setCurrentRow(int row) {
  const int old = currentRow_;
  currentRow_ = row;
  if (old >= 0 && old < rowCount()) emit headerDataChanged(Qt::Vertical, old, old);
  if (row >= 0 && row < rowCount()) emit headerDataChanged(Qt::Vertical, row, row);
}

bool GridModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && mode_ == Mode::Forward && !readBroken_ && dataSet_->active() &&
         !dataSet_->eof();
}

void GridModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  std::vector<std::vector<Value>> batch;
  std::string failure;
  try {
    while (batch.size() < static_cast<size_t>(kWindowRows) && !dataSet_->eof()) {
      std::vector<Value> row;
      row.reserve(fields_.size());
      for (int i = 0; i < dataSet_->fieldCount(); ++i) row.push_back(dataSet_->field(i).value());
      batch.push_back(std::move(row));
      dataSet_->next();
    }
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (!batch.empty()) {
    const int first = static_cast<int>(forwardRows_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(batch.size()) - 1);
    for (auto& r : batch) forwardRows_.push_back(std::move(r));
    endInsertRows();
  }
  if (!failure.empty()) readFailed(failure);
}

size_t GridModel::heldRows() const {
  size_t n = forwardRows_.size();
  for (const auto& [w, window] : windows_) n += window.rows.size();
  return n;
}

}  // namespace vov::ui
