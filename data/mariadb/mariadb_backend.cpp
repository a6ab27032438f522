// The MySQL/MariaDB backend: catalogue, streamed queries, prepared
// statements and the grid's row access by primary key.
#include "data/mariadb/mariadb_backend.h"

#include <deque>

#include "data/error.h"
#include "data/mariadb/maria_connection.h"
#include "data/mariadb/maria_row_check.h"
#include "data/mariadb/maria_statement.h"
#include "data/mariadb/maria_stmt.h"
#include "data/mariadb/maria_text.h"
#include "data/simple_select.h"

namespace vov {

namespace {

using maria::Conn;
using maria::ParamRows;
using maria::Stmt;

// Rows of one query, read from the server as they are asked for. When
// another user needs the connection before the last row is read, the rest
// is read into memory.
class MariaCursor : public Cursor, public maria::ConnUser {
 public:
  MariaCursor(std::shared_ptr<Conn> conn, std::unique_ptr<Stmt> stmt, bool ownTransaction)
      : conn_(std::move(conn)), stmt_(std::move(stmt)), ownTransaction_(ownTransaction) {}

  // Rows not read yet may be long in coming (or many): the server is asked
  // to stop the query rather than read to its end. A query that ended
  // meanwhile is not harmed, nor is the next statement.
  ~MariaCursor() override {
    if (stmt_->streaming()) {
      conn_->stopRunningStatement();
      stmt_->discardRest();
    }
    end();
  }

  const std::vector<FieldInfo>& fields() const override { return stmt_->fields(); }

  bool next(std::vector<Value>& row) override {
    if (!buffered_.empty()) {
      row = std::move(buffered_.front());
      buffered_.pop_front();
      return true;
    }
    if (!failure_.empty()) {
      std::string why = std::move(failure_);
      failure_.clear();
      throw Error(why);
    }
    if (!stmt_->streaming()) return false;
    try {
      if (stmt_->fetch(row)) return true;
    } catch (const Error&) {
      end();
      throw;
    }
    end();
    return false;
  }

  void release() noexcept override {
    try {
      std::vector<Value> row;
      while (stmt_->fetch(row)) buffered_.push_back(row);
    } catch (const std::exception& e) {
      failure_ = e.what();
    }
    end();
  }

 private:
  // The read-only transaction ends with the rows.
  void end() noexcept {
    if (ownTransaction_) {
      ownTransaction_ = false;
      try {
        conn_->exec("COMMIT");
      } catch (const std::exception&) {
        // Nothing was written in it; a lost connection ends it as well.
      }
    }
    conn_->yield(this);
  }

  std::shared_ptr<Conn> conn_;
  std::unique_ptr<Stmt> stmt_;
  bool ownTransaction_;
  std::deque<std::vector<Value>> buffered_;
  std::string failure_;
};

struct Relation {
  std::string name;
  bool view = false;
};

const char kTableKinds[] = "('BASE TABLE', 'VIEW', 'SYSTEM VERSIONED')";

// A table or view of the database by its name: the exact name first, else
// one that differs only in letter case.
bool findRelation(Conn& conn, const std::string& name, Relation* out) {
  const std::string lit = conn.literal(name);
  std::vector<Conn::TextRow> r = conn.rows(
      std::string("SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES "
                  "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_TYPE IN ") +
      kTableKinds + " AND LOWER(TABLE_NAME) = LOWER(" + lit + ") ORDER BY BINARY TABLE_NAME = " +
      lit + " DESC LIMIT 1");
  if (r.empty() || !r[0][0]) return false;
  out->name = *r[0][0];
  out->view = r[0][1] && *r[0][1] == "VIEW";
  return true;
}

// The primary key's columns of a table of the database, in key order.
std::vector<std::string> primaryKeyColumns(Conn& conn, const std::string& table) {
  std::vector<std::string> key;
  for (const Conn::TextRow& row : conn.rows(
           "SELECT COLUMN_NAME FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = DATABASE() "
           "AND BINARY TABLE_NAME = " + conn.literal(table) +
           " AND INDEX_NAME = 'PRIMARY' ORDER BY SEQ_IN_INDEX"))
    if (row[0]) key.push_back(*row[0]);
  return key;
}

// Runs `sql` once with `params`; the rows it returns, if any.
std::vector<std::vector<Value>> runOnce(const std::shared_ptr<Conn>& conn, const std::string& sql,
                                        const std::vector<Value>& params,
                                        unsigned long long* affected = nullptr,
                                        unsigned long long* insertId = nullptr) {
  Stmt st(conn, sql);
  ParamRows p(st.parameterCount());
  p.add(params);
  st.bind(p, 0, 1);
  st.execute();
  if (affected) *affected = st.affectedRows();
  if (insertId) *insertId = st.insertId();
  return st.fetchAll();
}

// Whole-table access for the grid. Rows are ordered and identified by the
// primary key; without one the table can only be read.
class MariaBrowser : public TableBrowser {
 public:
  MariaBrowser(std::shared_ptr<Conn> conn, const Relation& rel, std::vector<FieldInfo> fields,
               std::vector<int> keys, int autoKey)
      : conn_(std::move(conn)),
        quoted_(maria::quoteIdent(rel.name)),
        fields_(std::move(fields)),
        keys_(std::move(keys)),
        autoKey_(autoKey) {
    if (rel.view) readOnly_ = "“" + rel.name + "”是视图，只能查看，不能修改";
    else if (keys_.empty())
      readOnly_ = "表“" + rel.name + "”没有主键，无法确定要修改的是哪一行，只能查看，不能修改";
  }

  const std::vector<FieldInfo>& fields() const override { return fields_; }
  std::string readOnlyReason() const override { return readOnly_; }

  int64_t rowCount() override {
    conn_->claim(nullptr);
    std::vector<Conn::TextRow> r = conn_->rows("SELECT COUNT(*) FROM " + quoted_);
    return r.empty() || !r[0][0] ? 0 : std::stoll(*r[0][0]);
  }

  void fetch(int64_t first, int count, std::vector<BrowseRow>& out) override {
    conn_->claim(nullptr);
    std::string sql = "SELECT * FROM " + quoted_;
    std::vector<Value> params;
    // Reading on from where the last window ended needs no OFFSET scan.
    const bool follow = !keys_.empty() && first > 0 && first == nextPos_;
    if (follow) sql += " WHERE " + after(0, params);
    if (!keys_.empty()) {
      sql += " ORDER BY ";
      for (size_t i = 0; i < keys_.size(); ++i) sql += (i ? ", " : "") + column(keys_[i]);
    }
    sql += " LIMIT " + std::to_string(count);
    if (!follow) sql += " OFFSET " + std::to_string(first);
    std::vector<std::vector<Value>> rows = runOnce(conn_, sql, params);
    for (std::vector<Value>& values : rows) {
      BrowseRow b;
      b.values = std::move(values);
      for (int k : keys_) b.key.push_back(b.values[static_cast<size_t>(k)]);
      out.push_back(std::move(b));
    }
    if (!rows.empty() && !keys_.empty()) lastKey_ = out.back().key;
    nextPos_ = rows.empty() ? -1 : first + static_cast<int64_t>(rows.size());
  }

  RowKey update(const RowKey& key, const std::vector<std::pair<int, Value>>& changes) override {
    requireWritable();
    if (changes.empty()) return key;
    std::vector<Value> params;
    std::string sql = "UPDATE " + quoted_ + " SET ";
    RowKey after = key;
    for (size_t i = 0; i < changes.size(); ++i) {
      sql += (i ? ", " : "") + column(changes[i].first) + " = ?";
      params.push_back(changes[i].second);
      for (size_t k = 0; k < keys_.size(); ++k)
        if (keys_[k] == changes[i].first && k < after.size()) after[k] = changes[i].second;
    }
    sql += whereKey(key, params);
    unsigned long long found = 0;
    runChange(sql, params, &found);
    if (found == 0) throw Error("要修改的行已不存在（可能已被别人删除或修改了主键）");
    return storedKey(after);
  }

  RowKey insert(const std::vector<std::pair<int, Value>>& values) override {
    requireWritable();
    std::vector<Value> params;
    std::string cols, marks;
    RowKey key(keys_.size());
    std::vector<bool> given(keys_.size(), false);
    for (size_t i = 0; i < values.size(); ++i) {
      cols += (i ? ", " : "") + column(values[i].first);
      marks += i ? ", ?" : "?";
      params.push_back(values[i].second);
      for (size_t k = 0; k < keys_.size(); ++k)
        if (keys_[k] == values[i].first) {
          key[k] = values[i].second;
          given[k] = true;
        }
    }
    std::string sql = "INSERT INTO " + quoted_ + " (" + cols + ") VALUES (" + marks + ")";
    // MariaDB names the new row's key itself; MySQL leaves it to be put
    // together from the values and the auto-increment number.
    const bool returning = conn_->isMariaDb() && mysql_get_server_version(conn_->my()) >= 100500;
    if (returning) {
      sql += " RETURNING ";
      for (size_t k = 0; k < keys_.size(); ++k) sql += (k ? ", " : "") + column(keys_[k]);
    }
    unsigned long long id = 0;
    std::vector<std::vector<Value>> rows = runChange(sql, params, nullptr, &id);
    if (returning) {
      if (rows.empty()) throw Error("新行没有写入");
      return rows[0];
    }
    for (size_t k = 0; k < keys_.size(); ++k)
      if (!given[k] && keys_[k] == autoKey_) key[k] = Value::fromInt(static_cast<int64_t>(id));
    return storedKey(key);
  }

  void remove(const RowKey& key) override {
    requireWritable();
    std::vector<Value> params;
    unsigned long long found = 0;
    runChange("DELETE FROM " + quoted_ + whereKey(key, params), params, &found);
    if (found == 0) throw Error("要删除的行已不存在（可能已被别人删除或修改了主键）");
  }

 private:
  std::string column(int field) const {
    return maria::quoteIdent(fields_.at(static_cast<size_t>(field)).name);
  }

  // Rows after the last one read, in key order: k1 > v1, or k1 = v1 and
  // the rest after the rest.
  std::string after(size_t k, std::vector<Value>& params) const {
    const std::string c = column(keys_[k]);
    params.push_back(lastKey_[k]);
    if (k + 1 == keys_.size()) return c + " > ?";
    std::string s = "(" + c + " > ? OR (" + c + " = ? AND ";
    params.push_back(lastKey_[k]);
    return s + after(k + 1, params) + "))";
  }

  std::string whereKey(const RowKey& key, std::vector<Value>& params) const {
    if (key.size() != keys_.size()) throw Error("行的主键不完整，无法确定要修改的行");
    std::string w = " WHERE ";
    for (size_t i = 0; i < keys_.size(); ++i) {
      params.push_back(key[i]);
      w += (i ? " AND " : "") + column(keys_[i]) + " = ?";
    }
    return w;
  }

  // The key as the table holds it (a typed "7" is the number 7).
  RowKey storedKey(const RowKey& key) {
    std::vector<Value> params;
    std::string sql = "SELECT ";
    for (size_t k = 0; k < keys_.size(); ++k) sql += (k ? ", " : "") + column(keys_[k]);
    sql += " FROM " + quoted_ + whereKey(key, params);
    std::vector<std::vector<Value>> rows = runOnce(conn_, sql, params);
    return rows.empty() ? key : rows[0];
  }

  std::vector<std::vector<Value>> runChange(const std::string& sql, const std::vector<Value>& params,
                                            unsigned long long* affected,
                                            unsigned long long* insertId = nullptr) {
    conn_->claim(nullptr);
    nextPos_ = -1;
    return runOnce(conn_, sql, params, affected, insertId);
  }

  void requireWritable() const {
    if (!readOnly_.empty()) throw Error(readOnly_);
  }

  std::shared_ptr<Conn> conn_;
  std::string quoted_;
  std::vector<FieldInfo> fields_;
  std::vector<int> keys_;  // field positions of the primary key, in key order
  int autoKey_;            // the auto-increment field's position, or -1
  std::string readOnly_;
  int64_t nextPos_ = -1;
  RowKey lastKey_;
};

class MariaDbBackend : public Backend {
 public:
  explicit MariaDbBackend(std::shared_ptr<Conn> conn) : conn_(std::move(conn)) {}

  std::string quoteName(const std::string& name) const override { return maria::quoteIdent(name); }

  // In the order the server's own listing (SHOW TABLES) gives; the
  // catalogue table alone follows the data directory's order.
  std::vector<std::string> tableNames() override {
    conn_->claim(nullptr);
    std::vector<Conn::TextRow> r = conn_->rows(
        std::string("SELECT TABLE_NAME FROM information_schema.TABLES "
                    "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_TYPE IN ") +
        kTableKinds + " ORDER BY BINARY TABLE_NAME");
    std::vector<std::string> names;
    for (const Conn::TextRow& row : r)
      if (row[0]) names.push_back(*row[0]);
    return names;
  }

  std::vector<FieldInfo> tableFields(const std::string& table) override {
    conn_->claim(nullptr);
    Relation rel;
    if (!findRelation(*conn_, table, &rel))
      throw Error("MySQL/MariaDB 数据库中没有表或视图“" + table + "”");
    Stmt st(conn_, "SELECT * FROM " + maria::quoteIdent(rel.name));
    return st.fields();
  }

  std::unique_ptr<Cursor> query(const std::string& sql) override { return open(sql, false); }

  // Rows read in a read-only transaction cannot write by accident (a filter
  // calling a function that changes data, say).
  std::unique_ptr<Cursor> readQuery(const std::string& sql) override { return open(sql, true); }

  void execute(const std::string& sql) override {
    conn_->claim(nullptr);
    conn_->exec(sql);
  }

  std::unique_ptr<Statement> prepare(const std::string& sql) override {
    return maria::prepareStatement(conn_, sql);
  }

  void begin() override {
    conn_->claim(nullptr);
    conn_->exec("START TRANSACTION");
    conn_->setInProgramTransaction(true);
  }

  void commit() override {
    conn_->claim(nullptr);
    if (conn_->transactionDropped()) {
      conn_->setInProgramTransaction(false);
      try {
        conn_->throwPending(nullptr);
      } catch (const StatementError&) {
      }
      throw Error("提交失败：MySQL/MariaDB 服务器已经撤销了整个事务，没有保存任何更改");
    }
    conn_->setInProgramTransaction(false);
    conn_->exec("COMMIT");
    // A failure that surfaced only now: the runs before it are committed.
    conn_->throwPending(nullptr);
  }

  void rollback() override {
    conn_->claim(nullptr);
    conn_->setInProgramTransaction(false);
    try {
      conn_->throwPending(nullptr);
    } catch (const StatementError&) {
      // Everything is being undone; the failure no longer matters.
    }
    if (!conn_->lost()) conn_->exec("ROLLBACK");
  }

  bool supportsWriteMode(WriteMode) const override { return true; }

  std::vector<std::string> primaryKey(const std::string& table) override {
    conn_->claim(nullptr);
    Relation rel;
    if (!findRelation(*conn_, table, &rel) || rel.view) return {};
    return primaryKeyColumns(*conn_, rel.name);
  }

  // An upsert is MariaDB's own "on duplicate key update", which takes any
  // unique key of the table, not only the primary one, as the row's key.
  std::string keyedWriteStatement(const RowWrite& w,
                                  const std::vector<std::string>& markers) const override {
    if (w.mode != WriteMode::Upsert) return Backend::keyedWriteStatement(w, markers);
    std::string columns, values, updates;
    for (size_t i = 0; i < w.columns.size(); ++i) {
      const std::string c = quoteName(w.columns[i]);
      columns += (i ? "," : "") + c;
      values += (i ? "," : "") + markers[i];
      bool key = false;
      for (size_t k : w.key) key = key || k == i;
      if (!key) updates += (updates.empty() ? "" : ",") + c + "=VALUES(" + c + ")";
    }
    // Only key columns: the row stays as it is.
    if (updates.empty() && !w.key.empty()) {
      const std::string c = quoteName(w.columns[w.key.front()]);
      updates = c + "=" + c;
    }
    return "insert into " + quoteName(w.table) + "(" + columns + ") values(" + values +
           ") on duplicate key update " + updates;
  }

  std::unique_ptr<RowCheck> rowCheck(const RowWrite& w) override {
    conn_->claim(nullptr);
    Relation rel;
    if (!findRelation(*conn_, w.table, &rel) || rel.view) return nullptr;
    return maria::makeRowCheck(conn_, rel.name, w);
  }

  std::string transactionCaveat(const std::string& table) override {
    conn_->claim(nullptr);
    Relation rel;
    if (!findRelation(*conn_, table, &rel) || rel.view) return std::string();
    std::vector<Conn::TextRow> r = conn_->rows(
        "SELECT t.ENGINE, e.TRANSACTIONS FROM information_schema.TABLES t "
        "LEFT JOIN information_schema.ENGINES e ON e.ENGINE = t.ENGINE "
        "WHERE t.TABLE_SCHEMA = DATABASE() AND BINARY t.TABLE_NAME = " + conn_->literal(rel.name));
    if (r.empty() || !r[0][0] || (r[0][1] && *r[0][1] == "YES")) return std::string();
    return "新表“" + rel.name + "”的存储引擎 " + *r[0][0] +
           " 不支持事务：迁移中出错或中断时，已写入新表的行会留在表中，无法撤销";
  }

  bool inTransaction() override { return !conn_->lost() && !conn_->transactionDropped(); }

  std::unique_ptr<TableBrowser> browse(const std::string& sql) override {
    SimpleSelect sel;
    if (!parseSimpleSelect(sql, &sel) || !sel.rest.empty()) return nullptr;
    conn_->claim(nullptr);
    Relation rel;
    // A missing table is left to the query, for the server's own words.
    if (!findRelation(*conn_, sel.table, &rel)) return nullptr;
    std::vector<FieldInfo> fields;
    {
      Stmt st(conn_, "SELECT * FROM " + maria::quoteIdent(rel.name));
      fields = st.fields();
    }
    std::vector<int> keys;
    for (const std::string& column : primaryKeyColumns(*conn_, rel.name))
      for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name == column) keys.push_back(static_cast<int>(i));
    int autoKey = -1;
    for (size_t i = 0; i < fields.size(); ++i)
      if (fields[i].type == ftAutoInc) autoKey = static_cast<int>(i);
    return std::make_unique<MariaBrowser>(conn_, rel, std::move(fields), std::move(keys), autoKey);
  }

 private:
  std::unique_ptr<Cursor> open(const std::string& sql, bool readOnly) {
    conn_->claim(nullptr);
    auto st = std::make_unique<Stmt>(conn_, sql);
    if (st->parameterCount() > 0)
      throw Error("语句中有 " + std::to_string(st->parameterCount()) +
                  " 个参数（?）没有值，MySQL/MariaDB 无法执行");
    bool own = false;
    if (readOnly && !conn_->inTransaction()) {
      conn_->exec("START TRANSACTION READ ONLY");
      own = true;
    }
    try {
      st->execute();
    } catch (const Error&) {
      if (own) {
        try {
          conn_->exec("ROLLBACK");
        } catch (const Error&) {
        }
      }
      throw;
    }
    auto cursor = std::make_unique<MariaCursor>(conn_, std::move(st), own);
    conn_->claim(cursor.get());
    return cursor;
  }

  std::shared_ptr<Conn> conn_;
};

}  // namespace

std::unique_ptr<Backend> openMariaDbBackend(const std::string& address) {
  return std::make_unique<MariaDbBackend>(Conn::open(address));
}

}  // namespace vov
