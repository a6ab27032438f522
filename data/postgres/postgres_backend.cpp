// The PostgreSQL backend over libpq: catalogue, streamed queries, prepared
// statements and the grid's row access by primary key.
#include "data/postgres/postgres_backend.h"

#include <algorithm>

#include "data/error.h"
#include "data/postgres/pg_connection.h"
#include "data/postgres/pg_row_check.h"
#include "data/postgres/pg_statement.h"
#include "data/postgres/pg_text.h"
#include "data/simple_select.h"

namespace vov {

namespace {

using pg::Conn;
using pg::Result;

std::vector<unsigned> columnTypes(const PGresult* r) {
  std::vector<unsigned> types;
  for (int i = 0; i < PQnfields(r); ++i) types.push_back(PQftype(r, i));
  return types;
}

void readRow(const PGresult* r, int row, const std::vector<unsigned>& types, size_t first,
             std::vector<Value>& out) {
  out.resize(types.size() - first);
  for (size_t i = first; i < types.size(); ++i) {
    const int c = static_cast<int>(i);
    out[i - first] = PQgetisnull(r, row, c)
                         ? Value()
                         : pg::valueFromText(types[i], PQgetvalue(r, row, c), PQgetlength(r, row, c));
  }
}

// Rows of one query through a server-side cursor, fetched a window at a
// time. Outside a transaction the cursor runs in a transaction of its own,
// read-only for rows that are only read (the old rows of a migration, an
// export), so that no function the statement calls can change the database.
// The cursor is declared WITH HOLD: when another user needs the connection
// before the last row is read, that transaction ends and the server keeps
// the rest of the rows for the cursor.
class PgCursor : public Cursor, public pg::ConnUser {
 public:
  PgCursor(std::shared_ptr<Conn> conn, std::vector<FieldInfo> fields, std::vector<unsigned> types,
           std::string name, bool ownTransaction)
      : conn_(std::move(conn)),
        fields_(std::move(fields)),
        types_(std::move(types)),
        name_(std::move(name)),
        ownTransaction_(ownTransaction) {}

  ~PgCursor() override {
    try {
      close(false);
    } catch (const std::exception&) {
      // The cursor and its transaction end with the session at the latest.
    }
    conn_->yield(this);
  }

  const std::vector<FieldInfo>& fields() const override { return fields_; }

  bool next(std::vector<Value>& row) override {
    while (!window_ || pos_ >= PQntuples(window_.get())) {
      if (done_) return false;
      fetch();
    }
    readRow(window_.get(), pos_++, types_, 0, row);
    return true;
  }

  void release() noexcept override {
    if (!ownTransaction_ || closed_) return;
    ownTransaction_ = false;
    try {
      conn_->exec("commit");
    } catch (const std::exception& e) {
      failure_ = e.what();
    }
  }

 private:
  void fetch() {
    if (!failure_.empty()) {
      done_ = true;
      throw Error(failure_);
    }
    conn_->claim(this);
    window_.reset();
    pos_ = 0;
    try {
      window_ = conn_->exec("fetch forward " + std::to_string(count_) + " from " + name_);
    } catch (const Error&) {
      done_ = true;
      close(false);
      throw;
    }
    const int rows = PQntuples(window_.get());
    if (rows < count_) {
      done_ = true;
      close(true);
    }
    // Windows of about a megabyte, whatever the width of the rows.
    if (rows > 0) {
      const size_t perRow = PQresultMemorySize(window_.get()) / static_cast<size_t>(rows) + 1;
      count_ = static_cast<int>(std::clamp<size_t>((1u << 20) / perRow, 16, 8192));
    }
  }

  // Ends the cursor and its own transaction, if any.
  void close(bool atEnd) {
    if (closed_) return;
    closed_ = true;
    if (conn_->lost()) return;
    conn_->claim(this);
    if (ownTransaction_) {
      ownTransaction_ = false;
      conn_->exec(atEnd ? "close " + name_ + "; commit" : "rollback");
    } else {
      conn_->exec("close " + name_);
    }
  }

  std::shared_ptr<Conn> conn_;
  std::vector<FieldInfo> fields_;
  std::vector<unsigned> types_;
  std::string name_;
  bool ownTransaction_;
  bool done_ = false;
  bool closed_ = false;
  int count_ = 256;
  Result window_;
  int pos_ = 0;
  std::string failure_;
};

struct Relation {
  std::string oid;
  std::string name;
  char kind = 'r';
};

// A table or view of the search path by its name: the exact name first,
// else one that differs only in letter case.
bool findRelation(Conn& conn, const std::string& name, Relation* out) {
  Result r = conn.run(
      "select c.oid, c.relname, c.relkind from pg_catalog.pg_class c "
      "where c.relkind in ('r', 'v', 'm', 'p', 'f') and pg_catalog.pg_table_is_visible(c.oid) "
      "and lower(c.relname) = lower($1) order by c.relname = $1 desc, c.oid limit 1",
      {Value::fromText(name)});
  if (PQntuples(r.get()) == 0) return false;
  out->oid = PQgetvalue(r.get(), 0, 0);
  out->name = PQgetvalue(r.get(), 0, 1);
  out->kind = PQgetvalue(r.get(), 0, 2)[0];
  return true;
}

// The primary key's columns in key order; `relation` is an oid or a quoted
// name as a statement would write it.
std::vector<std::string> primaryKeyColumns(Conn& conn, const std::string& relation) {
  Result r = conn.run(
      "select a.attname from pg_catalog.pg_index i "
      "join pg_catalog.pg_attribute a on a.attrelid = i.indrelid and a.attnum = any (i.indkey) "
      "where i.indrelid = $1::regclass and i.indisprimary "
      "order by pg_catalog.array_position(i.indkey::int2[], a.attnum)",
      {Value::fromText(relation)});
  std::vector<std::string> names;
  for (int row = 0; row < PQntuples(r.get()); ++row) names.emplace_back(PQgetvalue(r.get(), row, 0));
  return names;
}

std::vector<FieldInfo> describe(Conn& conn, const std::string& sql, std::vector<unsigned>* types) {
  Result d = conn.prepare("", sql);
  if (types) *types = columnTypes(d.get());
  return conn.describeFields(d.get());
}

// Whole-table access for the grid. Rows are ordered and identified by the
// primary key; without one the table can only be read.
class PgBrowser : public TableBrowser {
 public:
  PgBrowser(std::shared_ptr<Conn> conn, const Relation& rel, std::vector<FieldInfo> fields,
            std::vector<int> keys)
      : conn_(std::move(conn)),
        rel_(rel),
        quoted_(pg::quoteIdent(rel.name)),
        fields_(std::move(fields)),
        keys_(std::move(keys)) {
    if (rel.kind == 'v') readOnly_ = "“" + rel.name + "”是视图，只能查看，不能修改";
    else if (rel.kind == 'm') readOnly_ = "“" + rel.name + "”是物化视图，只能查看，不能修改";
    else if (keys_.empty())
      readOnly_ = "表“" + rel.name + "”没有主键，无法确定要修改的是哪一行，只能查看，不能修改";
  }

  const std::vector<FieldInfo>& fields() const override { return fields_; }
  std::string readOnlyReason() const override { return readOnly_; }

  int64_t rowCount() override {
    conn_->claim(nullptr);
    Result r = conn_->exec("select count(*) from " + quoted_);
    return std::stoll(PQgetvalue(r.get(), 0, 0));
  }

  void fetch(int64_t first, int count, std::vector<BrowseRow>& out) override {
    conn_->claim(nullptr);
    std::string keyList;
    for (int k : keys_) keyList += (keyList.empty() ? "" : ", ") + column(k);
    std::string sql = "select * from " + quoted_;
    std::vector<Value> params;
    // Reading on from where the last window ended needs no OFFSET scan.
    const bool follow = !keys_.empty() && first > 0 && first == nextPos_;
    if (follow) {
      sql += " where (" + keyList + ") > (";
      for (size_t i = 0; i < keys_.size(); ++i) sql += (i ? ", $" : "$") + std::to_string(i + 1);
      sql += ")";
      params = lastKey_;
    }
    if (!keys_.empty()) sql += " order by " + keyList;
    else if (rel_.kind == 'r') sql += " order by ctid";
    sql += " limit " + std::to_string(count);
    if (!follow) sql += " offset " + std::to_string(first);
    Result r;
    conn_->fenced([&] { r = conn_->run(sql, params); });
    const std::vector<unsigned> types = columnTypes(r.get());
    const int rows = PQntuples(r.get());
    for (int row = 0; row < rows; ++row) {
      BrowseRow b;
      readRow(r.get(), row, types, 0, b.values);
      for (int k : keys_) b.key.push_back(b.values[static_cast<size_t>(k)]);
      out.push_back(std::move(b));
    }
    if (rows > 0 && !keys_.empty()) lastKey_ = out.back().key;
    nextPos_ = rows > 0 ? first + rows : -1;
  }

  RowKey update(const RowKey& key, const std::vector<std::pair<int, Value>>& changes) override {
    requireWritable();
    if (changes.empty()) return key;
    std::vector<Value> params;
    std::string sql = "update " + quoted_ + " set ";
    for (size_t i = 0; i < changes.size(); ++i) {
      sql += (i ? ", " : "") + column(changes[i].first) + " = $" + std::to_string(i + 1);
      params.push_back(changes[i].second);
    }
    sql += whereKey(key, params) + returningKey();
    RowKey after = keyOf(runChange(sql, params), "要修改的行已不存在（可能已被别人删除或修改了主键）");
    return after;
  }

  RowKey insert(const std::vector<std::pair<int, Value>>& values) override {
    requireWritable();
    std::vector<Value> params;
    std::string sql = "insert into " + quoted_;
    if (values.empty()) {
      sql += " default values";
    } else {
      std::string cols, marks;
      for (size_t i = 0; i < values.size(); ++i) {
        cols += (i ? ", " : "") + column(values[i].first);
        marks += (i ? ", $" : "$") + std::to_string(i + 1);
        params.push_back(values[i].second);
      }
      sql += " (" + cols + ") values (" + marks + ")";
    }
    return keyOf(runChange(sql + returningKey(), params), "新行没有写入");
  }

  void remove(const RowKey& key) override {
    requireWritable();
    std::vector<Value> params;
    Result r = runChange("delete from " + quoted_ + whereKey(key, params), params);
    if (std::string(PQcmdTuples(r.get())) == "0")
      throw Error("要删除的行已不存在（可能已被别人删除或修改了主键）");
  }

 private:
  std::string column(int field) const {
    return pg::quoteIdent(fields_.at(static_cast<size_t>(field)).name);
  }

  std::string whereKey(const RowKey& key, std::vector<Value>& params) const {
    if (key.size() != keys_.size()) throw Error("行的主键不完整，无法确定要修改的行");
    std::string w = " where ";
    for (size_t i = 0; i < keys_.size(); ++i) {
      params.push_back(key[i]);
      w += (i ? " and " : "") + column(keys_[i]) + " = $" + std::to_string(params.size());
    }
    return w;
  }

  std::string returningKey() const {
    std::string s = " returning ";
    for (size_t i = 0; i < keys_.size(); ++i) s += (i ? ", " : "") + column(keys_[i]);
    return s;
  }

  Result runChange(const std::string& sql, const std::vector<Value>& params) {
    conn_->claim(nullptr);
    nextPos_ = -1;
    Result r;
    conn_->fenced([&] { r = conn_->run(sql, params); });
    return r;
  }

  static RowKey keyOf(const Result& r, const char* missing) {
    if (PQntuples(r.get()) == 0) throw Error(missing);
    RowKey key;
    readRow(r.get(), 0, columnTypes(r.get()), 0, key);
    return key;
  }

  void requireWritable() const {
    if (!readOnly_.empty()) throw Error(readOnly_);
  }

  std::shared_ptr<Conn> conn_;
  Relation rel_;
  std::string quoted_;
  std::vector<FieldInfo> fields_;
  std::vector<int> keys_;  // field positions of the primary key, in key order
  std::string readOnly_;
  int64_t nextPos_ = -1;
  RowKey lastKey_;
};

class PostgresBackend : public Backend {
 public:
  explicit PostgresBackend(std::shared_ptr<Conn> conn) : conn_(std::move(conn)) {}

  std::string quoteName(const std::string& name) const override { return pg::quoteIdent(name); }

  std::vector<std::string> tableNames() override {
    conn_->claim(nullptr);
    Result r = conn_->exec(
        "select c.relname from pg_catalog.pg_class c "
        "join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
        "where c.relkind in ('r', 'v', 'm', 'p', 'f') and not c.relispartition "
        "and n.nspname = any (pg_catalog.current_schemas(false)) "
        "and n.nspname not in ('pg_catalog', 'information_schema') "
        "and n.nspname not like 'pg\\_toast%' and n.nspname not like 'pg\\_temp%' "
        "and pg_catalog.pg_table_is_visible(c.oid) "
        "order by pg_catalog.array_position(pg_catalog.current_schemas(false), n.nspname), c.oid");
    std::vector<std::string> names;
    for (int i = 0; i < PQntuples(r.get()); ++i) names.emplace_back(PQgetvalue(r.get(), i, 0));
    return names;
  }

  std::vector<FieldInfo> tableFields(const std::string& table) override {
    conn_->claim(nullptr);
    std::vector<FieldInfo> fields;
    conn_->fenced([&] {
      Relation rel;
      if (!findRelation(*conn_, table, &rel))
        throw Error("PostgreSQL 数据库中没有表或视图“" + table + "”");
      fields = describe(*conn_, "select * from " + pg::quoteIdent(rel.name), nullptr);
    });
    return fields;
  }

  std::unique_ptr<Cursor> query(const std::string& sql) override { return open(sql, false); }

  // Outside a transaction the rows are read in a read-only one, so that no
  // function the statement calls can change the database.
  std::unique_ptr<Cursor> readQuery(const std::string& sql) override { return open(sql, true); }

  std::unique_ptr<Cursor> open(const std::string& sql, bool readOnly) {
    conn_->claim(nullptr);
    std::vector<FieldInfo> fields;
    std::vector<unsigned> types;
    conn_->fenced([&] { fields = describe(*conn_, sql, &types); });
    const bool own = !conn_->inTransaction();
    const std::string name = conn_->nextName("vov_c");
    // One statement only, as the description above already made sure: the
    // extended protocol runs no second one.
    const std::string declare = "declare " + name + " no scroll cursor with hold for " + sql;
    auto run = [&] {
      conn_->sent(PQsendQueryParams(conn_->pg(), declare.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
      Result r = conn_->nextResult();
      conn_->drain();
      if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) conn_->fail(r.get());
    };
    if (own) {
      conn_->exec(readOnly ? "begin transaction read only" : "begin");
      try {
        run();
      } catch (const Error&) {
        if (!conn_->lost()) conn_->exec("rollback");
        throw;
      }
    } else {
      conn_->fenced(run);
    }
    auto cursor = std::make_unique<PgCursor>(conn_, std::move(fields), std::move(types), name, own);
    conn_->claim(cursor.get());
    return cursor;
  }

  void execute(const std::string& sql) override {
    conn_->claim(nullptr);
    conn_->exec(sql);
  }

  std::unique_ptr<Statement> prepare(const std::string& sql) override {
    return pg::prepareStatement(conn_, sql);
  }

  bool supportsWriteMode(WriteMode) const override { return true; }

  std::vector<std::string> primaryKey(const std::string& table) override {
    conn_->claim(nullptr);
    std::vector<std::string> key;
    conn_->fenced([&] { key = primaryKeyColumns(*conn_, pg::quoteIdent(table)); });
    return key;
  }

  std::unique_ptr<RowCheck> rowCheck(const RowWrite& w) override {
    conn_->claim(nullptr);
    return pg::makeRowCheck(conn_, w);
  }

  void begin() override {
    conn_->claim(nullptr);
    conn_->exec("begin");
  }

  void commit() override {
    conn_->claim(nullptr);
    // A server that went away before the commit was sent saved nothing.
    conn_->probe();
    Result r;
    try {
      r = conn_->exec("commit");
    } catch (const Error& e) {
      if (!conn_->lost()) throw;
      throw CommitUncertain("提交时" + std::string(e.what()) +
                            "；无法确定服务器是否已保存本次的更改，请在服务器恢复后检查新表");
    }
    // After an error the server answers a commit with a rollback.
    if (std::string(PQcmdStatus(r.get())) == "ROLLBACK") {
      try {
        conn_->throwPending(nullptr);
      } catch (const StatementError&) {
      }
      throw Error("提交失败：事务中出现过错误，PostgreSQL 服务器撤销了整个事务，没有保存任何更改");
    }
    // A failure that surfaced only now: the runs before it are committed.
    conn_->throwPending(nullptr);
  }

  void rollback() override {
    conn_->claim(nullptr);
    try {
      conn_->throwPending(nullptr);
    } catch (const StatementError&) {
      // Everything is being undone; the failure no longer matters.
    }
    // A lost connection's transaction is undone by the server.
    if (!conn_->lost() && conn_->inTransaction()) conn_->exec("rollback");
  }

  // A transaction in which a statement failed outside any savepoint keeps
  // none of its changes; nor does one whose connection is lost.
  bool inTransaction() override {
    return !conn_->lost() && PQtransactionStatus(conn_->pg()) != PQTRANS_INERROR &&
           PQtransactionStatus(conn_->pg()) != PQTRANS_IDLE;
  }

  std::unique_ptr<TableBrowser> browse(const std::string& sql) override {
    SimpleSelect sel;
    if (!parseSimpleSelect(sql, &sel) || !sel.rest.empty()) return nullptr;
    conn_->claim(nullptr);
    std::unique_ptr<TableBrowser> browser;
    conn_->fenced([&] {
      Relation rel;
      // A missing table is left to the query, for the server's own words.
      if (!findRelation(*conn_, sel.table, &rel)) return;
      std::vector<FieldInfo> fields = describe(*conn_, "select * from " + pg::quoteIdent(rel.name), nullptr);
      std::vector<int> keys;
      for (const std::string& column : primaryKeyColumns(*conn_, rel.oid))
        for (size_t i = 0; i < fields.size(); ++i)
          if (fields[i].name == column) keys.push_back(static_cast<int>(i));
      browser = std::make_unique<PgBrowser>(conn_, rel, std::move(fields), std::move(keys));
    });
    return browser;
  }

 private:
  std::shared_ptr<Conn> conn_;
};

}  // namespace

std::unique_ptr<Backend> openPostgresBackend(const std::string& address) {
  return std::make_unique<PostgresBackend>(Conn::open(address));
}

}  // namespace vov
