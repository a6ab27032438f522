// Prepared statements, parameter binding and row reading for MySQL/MariaDB.
#include "data/mariadb/maria_stmt.h"

#include "data/error.h"

namespace vov::maria {

// ------------------------------------------------------------- ParamRows

size_t ParamRows::measure(const std::vector<Value>& values) const {
  size_t n = 9 * static_cast<size_t>(perRun_);
  for (int i = 0; i < perRun_ && static_cast<size_t>(i) < values.size(); ++i) {
    const Value& v = values[static_cast<size_t>(i)];
    if (v.kind() == Value::Kind::Decimal || v.kind() == Value::Kind::Text ||
        v.kind() == Value::Kind::Bytes)
      n += v.str().size();
  }
  return n;
}

void ParamRows::add(const std::vector<Value>& values) {
  for (int i = 0; i < perRun_; ++i) {
    const size_t k = static_cast<size_t>(i);
    const Value null;
    const Value& v = k < values.size() ? values[k] : null;
    Slot s{MYSQL_TYPE_NULL, 0, 0};
    switch (v.kind()) {
      case Value::Kind::Null:
        break;
      case Value::Kind::Bool:
      case Value::Kind::Int:
        s.type = MYSQL_TYPE_LONGLONG;
        s.at = ints_.size();
        ints_.push_back(v.kind() == Value::Kind::Bool ? (v.asBool() ? 1 : 0) : v.asInt());
        break;
      case Value::Kind::Real:
        s.type = MYSQL_TYPE_DOUBLE;
        s.at = reals_.size();
        reals_.push_back(v.asReal());
        break;
      case Value::Kind::DateTime:
        s.type = MYSQL_TYPE_DATETIME;
        s.at = times_.size();
        times_.push_back(timeFromValue(v.asDateTime()));
        break;
      case Value::Kind::Decimal:
      case Value::Kind::Text:
      case Value::Kind::Bytes:
        // Bytes go as a blob, which the server takes as binary; text is
        // read in the connection's character set.
        s.type = v.kind() == Value::Kind::Decimal ? MYSQL_TYPE_NEWDECIMAL
                 : v.kind() == Value::Kind::Text  ? MYSQL_TYPE_STRING
                                                  : MYSQL_TYPE_BLOB;
        s.at = text_.size();
        s.length = v.str().size();
        text_ += v.str();
        bytes_ += s.length;
        break;
    }
    bytes_ += 9;
    slots_.push_back(s);
  }
  ++runs_;
}

void ParamRows::clear() {
  slots_.clear();
  ints_.clear();
  reals_.clear();
  times_.clear();
  text_.clear();
  bytes_ = 0;
  runs_ = 0;
}

void ParamRows::bind(int first, int count, std::vector<MYSQL_BIND>& binds) {
  const size_t from = static_cast<size_t>(first) * static_cast<size_t>(perRun_);
  const size_t n = static_cast<size_t>(count) * static_cast<size_t>(perRun_);
  binds.assign(n, MYSQL_BIND{});
  for (size_t k = 0; k < n; ++k) {
    const Slot& s = slots_[from + k];
    MYSQL_BIND& b = binds[k];
    b.buffer_type = s.type;
    switch (s.type) {
      case MYSQL_TYPE_LONGLONG: b.buffer = &ints_[s.at]; break;
      case MYSQL_TYPE_DOUBLE: b.buffer = &reals_[s.at]; break;
      case MYSQL_TYPE_DATETIME: b.buffer = &times_[s.at]; break;
      case MYSQL_TYPE_NULL: break;
      default:
        b.buffer = text_.data() + s.at;
        b.buffer_length = s.length;
        break;
    }
  }
}

// ------------------------------------------------------------------ Stmt

Stmt::Stmt(std::shared_ptr<Conn> conn, const std::string& sql) : conn_(std::move(conn)) {
  if (conn_->lost()) conn_->fail();
  stmt_ = mysql_stmt_init(conn_->my());
  if (!stmt_) throw Error("MySQL/MariaDB 连接内存不足");
  int ret = 0;
  conn_->complete(mysql_stmt_prepare_start(&ret, stmt_, sql.data(), sql.size()),
                  [&](int ready) { return mysql_stmt_prepare_cont(&ret, stmt_, ready); });
  if (ret != 0) {
    std::string why = failure();
    my_bool closed = 0;
    conn_->complete(mysql_stmt_close_start(&closed, stmt_),
                    [&](int ready) { return mysql_stmt_close_cont(&closed, stmt_, ready); });
    stmt_ = nullptr;
    throw Error(why);
  }
  meta_ = mysql_stmt_result_metadata(stmt_);
  if (meta_) setUpResult();
}

Stmt::~Stmt() {
  if (!stmt_) return;
  discardRest();
  if (meta_) mysql_free_result(meta_);
  my_bool closed = 0;
  conn_->complete(mysql_stmt_close_start(&closed, stmt_),
                  [&](int ready) { return mysql_stmt_close_cont(&closed, stmt_, ready); });
}

void Stmt::setUpResult() {
  const unsigned n = mysql_num_fields(meta_);
  MYSQL_FIELD* f = mysql_fetch_fields(meta_);
  columns_.assign(f, f + n);
  fields_.clear();
  for (unsigned i = 0; i < n; ++i) fields_.push_back(fieldInfoFor(f[i]));
  cells_.assign(n, Cell{});
  results_.assign(n, MYSQL_BIND{});
  for (unsigned i = 0; i < n; ++i) {
    Cell& c = cells_[i];
    MYSQL_BIND& b = results_[i];
    b.is_null = &c.isNull;
    b.error = &c.error;
    b.length = &c.length;
    switch (f[i].type) {
      case MYSQL_TYPE_TINY:
      case MYSQL_TYPE_SHORT:
      case MYSQL_TYPE_INT24:
      case MYSQL_TYPE_LONG:
      case MYSQL_TYPE_LONGLONG:
      case MYSQL_TYPE_YEAR:
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &c.number;
        b.is_unsigned = (f[i].flags & UNSIGNED_FLAG) != 0;
        break;
      case MYSQL_TYPE_FLOAT:
        b.buffer_type = MYSQL_TYPE_FLOAT;
        b.buffer = &c.single;
        break;
      case MYSQL_TYPE_DOUBLE:
        b.buffer_type = MYSQL_TYPE_DOUBLE;
        b.buffer = &c.real;
        break;
      case MYSQL_TYPE_DATE:
      case MYSQL_TYPE_NEWDATE:
      case MYSQL_TYPE_TIME:
      case MYSQL_TYPE_DATETIME:
      case MYSQL_TYPE_TIMESTAMP:
        b.buffer_type = f[i].type == MYSQL_TYPE_NEWDATE ? MYSQL_TYPE_DATE : f[i].type;
        b.buffer = &c.time;
        break;
      default:
        // Text, bytes and decimals arrive as they are; a longer value than
        // the buffer holds is read again whole (see fetch).
        c.bytes.resize(256);
        b.buffer_type = MYSQL_TYPE_BLOB;
        b.buffer = c.bytes.data();
        b.buffer_length = c.bytes.size();
        break;
    }
  }
  if (mysql_stmt_bind_result(stmt_, results_.data())) throw Error(failure());
}

void Stmt::bind(ParamRows& rows, int first, int count) {
  rows.bind(first, count, params_);
  if (mysql_stmt_bind_param(stmt_, params_.data())) throw Error(failure());
}

int Stmt::startExecute() {
  executeResult_ = 0;
  return mysql_stmt_execute_start(&executeResult_, stmt_);
}

int Stmt::continueExecute(int ready) { return mysql_stmt_execute_cont(&executeResult_, stmt_, ready); }

bool Stmt::finishExecute(int status) {
  conn_->complete(status, [&](int ready) { return continueExecute(ready); });
  const bool ok = executeResult_ == 0;
  // Some statements (an insert returning its key) tell their columns only
  // when they run.
  if (ok && !meta_ && mysql_stmt_field_count(stmt_) > 0) {
    meta_ = mysql_stmt_result_metadata(stmt_);
    if (meta_) setUpResult();
  }
  streaming_ = ok && meta_ != nullptr;
  return ok;
}

void Stmt::execute() {
  if (conn_->lost()) conn_->fail();
  if (!finishExecute(startExecute())) throw Error(failure());
}

bool Stmt::fetch(std::vector<Value>& row) {
  if (!streaming_) return false;
  int ret = 0;
  conn_->complete(mysql_stmt_fetch_start(&ret, stmt_),
                  [&](int ready) { return mysql_stmt_fetch_cont(&ret, stmt_, ready); });
  if (ret == MYSQL_NO_DATA) {
    streaming_ = false;
    return false;
  }
  if (ret == 1) {
    streaming_ = false;
    throw Error(failure());
  }
  if (ret == MYSQL_DATA_TRUNCATED) {
    for (size_t i = 0; i < cells_.size(); ++i) {
      Cell& c = cells_[i];
      MYSQL_BIND& b = results_[i];
      if (b.buffer_type != MYSQL_TYPE_BLOB || c.isNull || c.length <= b.buffer_length) continue;
      c.bytes.resize(c.length);
      b.buffer = c.bytes.data();
      b.buffer_length = c.bytes.size();
      if (mysql_stmt_fetch_column(stmt_, &b, static_cast<unsigned>(i), 0))
        throw Error(failure());
    }
    if (mysql_stmt_bind_result(stmt_, results_.data())) throw Error(failure());
  }
  convert(row);
  return true;
}

void Stmt::convert(std::vector<Value>& row) {
  row.resize(cells_.size());
  for (size_t i = 0; i < cells_.size(); ++i) {
    const Cell& c = cells_[i];
    const MYSQL_FIELD& f = columns_[i];
    if (c.isNull) {
      row[i] = Value();
      continue;
    }
    switch (f.type) {
      case MYSQL_TYPE_TINY:
      case MYSQL_TYPE_SHORT:
      case MYSQL_TYPE_INT24:
      case MYSQL_TYPE_LONG:
      case MYSQL_TYPE_LONGLONG:
      case MYSQL_TYPE_YEAR:
        row[i] = valueFromInteger(c.number, (f.flags & UNSIGNED_FLAG) != 0);
        break;
      case MYSQL_TYPE_BIT: {
        // The bits arrive as big-endian bytes.
        uint64_t bits = 0;
        for (unsigned long k = 0; k < c.length && k < 8; ++k)
          bits = bits << 8 | static_cast<unsigned char>(c.bytes[k]);
        row[i] = valueFromBits(bits, f.length);
        break;
      }
      case MYSQL_TYPE_FLOAT:
        row[i] = Value::fromReal(floatAsDouble(c.single));
        break;
      case MYSQL_TYPE_DOUBLE:
        row[i] = Value::fromReal(c.real);
        break;
      case MYSQL_TYPE_DATE:
      case MYSQL_TYPE_NEWDATE:
      case MYSQL_TYPE_TIME:
      case MYSQL_TYPE_DATETIME:
      case MYSQL_TYPE_TIMESTAMP:
        row[i] = valueFromTime(c.time, f.type, f.decimals);
        break;
      case MYSQL_TYPE_DECIMAL:
      case MYSQL_TYPE_NEWDECIMAL:
        row[i] = Value::fromDecimal(c.bytes.substr(0, c.length));
        break;
      default: {
        const bool text = f.type == MYSQL_TYPE_JSON || f.charsetnr != 63;
        if (text) row[i].setText(c.bytes.data(), c.length);
        else row[i] = Value::fromBytes(c.bytes.substr(0, c.length));
        break;
      }
    }
  }
}

std::vector<std::vector<Value>> Stmt::fetchAll() {
  std::vector<std::vector<Value>> rows;
  std::vector<Value> row;
  while (fetch(row)) rows.push_back(row);
  return rows;
}

void Stmt::discardRest() noexcept {
  if (!streaming_) return;
  try {
    std::vector<Value> row;
    while (fetch(row)) {
    }
  } catch (const std::exception&) {
    streaming_ = false;
  }
}

}  // namespace vov::maria
