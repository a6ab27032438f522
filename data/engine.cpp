// Connection, DataSet and Command over the backend interface.
#include "data/engine.h"

#include <algorithm>

#include "data/error.h"
#include "data/error_context.h"
#include "data/markers.h"
#include "data/text_driver.h"
#include "data/text_util.h"

namespace vov {

// ---------------------------------------------------------------- Connection

Connection::Connection(std::string name) : name_(std::move(name)) {}

Connection::~Connection() { close(); }

void Connection::setConnectionString(const std::string& s) {
  if (s == connectionString_) return;
  close();
  connectionString_ = s;
}

void Connection::open() {
  if (backend_) return;
  backend_ = openBackend(connectionString_);
}

void Connection::close() {
  if (!backend_) return;
  // Dependents hold cursors and statements of this backend: they go first.
  auto listeners = closeListeners_;
  for (auto& l : listeners) l.fn();
  if (inTransaction_) {
    inTransaction_ = false;
    try {
      backend_->rollback();
    } catch (const Error&) {
      // The connection is going away; the engine ends the transaction.
    }
  }
  backend_.reset();
}

Backend& Connection::backend() {
  open();
  return *backend_;
}

void Connection::tableNames(std::vector<std::string>& list) {
  std::vector<std::string> names = backend().tableNames();
  list = std::move(names);
}

void Connection::fieldNames(const std::string& table, std::vector<std::string>& list) {
  std::vector<FieldInfo> fields = backend().tableFields(table);
  list.clear();
  for (auto& f : fields) list.push_back(f.name);
}

void Connection::execute(const std::string& sql) {
  Backend& b = backend();
  TextExport job;
  if (parseTextExport(sql, &job)) {
    runTextExport(b, job);
    return;
  }
  b.execute(sql);
}

std::string Connection::quoteName(const std::string& name) {
  return backend().quoteName(name);
}

void Connection::beginTransaction() {
  backend().begin();
  inTransaction_ = true;
}

void Connection::commit() {
  if (!inTransaction_) return;
  inTransaction_ = false;
  backend().commit();
}

void Connection::rollback() {
  if (!inTransaction_) return;
  inTransaction_ = false;
  backend().rollback();
}

void Connection::addCloseListener(void* owner, std::function<void()> fn) {
  closeListeners_.push_back({owner, std::move(fn)});
}

void Connection::removeCloseListeners(void* owner) {
  closeListeners_.erase(
      std::remove_if(closeListeners_.begin(), closeListeners_.end(),
                     [owner](const Listener& l) { return l.owner == owner; }),
      closeListeners_.end());
}

// ------------------------------------------------------------------- DataSet

DataSet::DataSet(std::string name, Connection* connection)
    : name_(std::move(name)), connection_(nullptr) {
  setConnection(connection);
}

DataSet::~DataSet() {
  close();
  if (connection_) connection_->removeCloseListeners(this);
}

void DataSet::setConnection(Connection* c) {
  if (c == connection_) return;
  close();
  if (connection_) connection_->removeCloseListeners(this);
  connection_ = c;
  if (connection_) connection_->addCloseListener(this, [this] { close(); });
}

void DataSet::setCommandText(const std::string& sql) {
  if (sql == commandText_) return;
  close();
  commandText_ = sql;
}

void DataSet::open() {
  if (active_) return;
  if (!connection_) throw Error(name_ + ": Missing Connection or ConnectionString");
  Backend& b = connection_->backend();
  if (browsable_) browser_ = b.browse(commandText_);
  if (browser_) {
    infos_ = browser_->fields();
  } else {
    cursor_ = readOnly_ ? b.readQuery(commandText_) : b.query(commandText_);
    infos_ = cursor_->fields();
  }
  row_.assign(infos_.size(), Value());
  fields_.clear();
  fields_.reserve(infos_.size());
  for (size_t i = 0; i < infos_.size(); ++i) fields_.emplace_back(infos_[i], &row_[i]);
  browsePos_ = 0;
  browseWindow_.clear();
  browseIndex_ = 0;
  active_ = true;
  eof_ = false;
  try {
    readRow();
  } catch (...) {
    close();
    throw;
  }
  notify();
}

void DataSet::close() {
  if (!active_) return;
  active_ = false;
  eof_ = true;
  cursor_.reset();
  browser_.reset();
  browseWindow_.clear();
  fields_.clear();
  row_.clear();
  infos_.clear();
  notify();
}

void DataSet::next() {
  if (!active_ || eof_) return;
  readRow();
}

void DataSet::readRow() {
  if (cursor_) {
    if (!cursor_->next(row_)) {
      eof_ = true;
      row_.assign(infos_.size(), Value());
      return;
    }
    if (row_.size() != infos_.size())
      throw Error(name_ + ": the engine returned a row of the wrong width");
  } else {
    if (browseIndex_ >= browseWindow_.size()) {
      browsePos_ += static_cast<int64_t>(browseWindow_.size());
      browseWindow_.clear();
      browseIndex_ = 0;
      browser_->fetch(browsePos_, 256, browseWindow_);
      if (browseWindow_.empty()) {
        eof_ = true;
        row_.assign(infos_.size(), Value());
        return;
      }
    }
    std::vector<Value>& src = browseWindow_[browseIndex_++].values;
    for (size_t i = 0; i < row_.size() && i < src.size(); ++i) row_[i] = std::move(src[i]);
  }
}

const Field& DataSet::field(int i) const {
  if (i < 0 || i >= fieldCount()) throw ListIndexError(i);
  return fields_[static_cast<size_t>(i)];
}

const Field* DataSet::findField(const std::string& fieldName) const {
  for (const Field& f : fields_)
    if (equalsIgnoreCase(f.fieldName(), fieldName)) return &f;
  return nullptr;
}

const Field& DataSet::fieldByName(const std::string& fieldName) const {
  const Field* f = findField(fieldName);
  if (!f) throw Error(name_ + ": Field '" + echo(fieldName) + "' not found");
  return *f;
}

void DataSet::addStateListener(void* owner, std::function<void()> fn) {
  listeners_.push_back({owner, std::move(fn)});
}

void DataSet::removeStateListeners(void* owner) {
  listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                  [owner](const Listener& l) { return l.owner == owner; }),
                   listeners_.end());
}

void DataSet::notify() {
  auto copy = listeners_;
  for (auto& l : copy) l.fn();
}

// ------------------------------------------------------------------- Command

Command::Command(std::string name, Connection* connection)
    : name_(std::move(name)), connection_(nullptr) {
  setConnection(connection);
}

Command::~Command() {
  prepared_.reset();
  if (connection_) connection_->removeCloseListeners(this);
}

void Command::setConnection(Connection* c) {
  if (c == connection_) return;
  prepared_.reset();
  if (connection_) connection_->removeCloseListeners(this);
  connection_ = c;
  if (connection_) connection_->addCloseListener(this, [this] { prepared_.reset(); });
}

void Command::setCommandText(const std::string& text) {
  prepared_.reset();
  commandText_ = text;
  MarkerScan scan = scanMarkers(text);
  engineText_ = std::move(scan.text);
  params_.clear();
  for (auto& n : scan.names) params_.push_back({std::move(n), Value()});
}

void Command::prepare() {
  if (prepared_) return;
  if (!connection_) throw Error(name_ + ": Missing Connection or ConnectionString");
  std::unique_ptr<Statement> st = connection_->backend().prepare(engineText_);
  if (!st->setRunPolicy(policy_))
    throw Error(policy_.skipRefused ? "这个新数据库还不能跳过被拒绝的行而继续写入其余的行，只能在出错的行处停止"
                                    : "这个新数据库还不能报告一行是否找到并改动了");
  prepared_ = std::move(st);
}

void Command::setRunPolicy(const RunPolicy& policy) {
  if (policy.skipRefused == policy_.skipRefused && policy.requireChange == policy_.requireChange)
    return;
  prepared_.reset();
  policy_ = policy;
}

std::vector<RefusedRun> Command::takeRefused() {
  return prepared_ ? prepared_->takeRefused() : std::vector<RefusedRun>();
}

int64_t Command::runsInFlight() const { return prepared_ ? prepared_->runsInFlight() : 0; }

void Command::execute() {
  prepare();
  // The values are lent to the statement and given back, so a row's texts
  // are never copied on their way to the engine.
  bindBuffer_.resize(params_.size());
  for (size_t i = 0; i < params_.size(); ++i) bindBuffer_[i] = std::move(params_[i].value);
  auto giveBack = [this] {
    for (size_t i = 0; i < params_.size(); ++i) params_[i].value = std::move(bindBuffer_[i]);
  };
  try {
    prepared_->execute(bindBuffer_);
  } catch (...) {
    giveBack();
    throw;
  }
  giveBack();
}

void Command::finish() {
  if (prepared_) prepared_->finish();
}

}  // namespace vov
