// The SQLite backend over the SQLite C library.
#include "data/sqlite/sqlite_backend.h"

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "data/error.h"
#include "data/error_context.h"
#include "data/interrupt.h"
#include "data/simple_select.h"
#include "data/text_util.h"

namespace vov {

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string quote(const std::string& name) { return doubleQuotedName(name); }

// The type name and up to two numbers of a declared type such as
// "NUMERIC(10, 2)" or "varchar (20)".
struct DeclType {
  std::string base;
  int args = 0;
  long a = 0, b = 0;
};

DeclType parseDeclType(const std::string& decl) {
  DeclType t;
  std::string u = upper(decl);
  size_t paren = u.find('(');
  std::string base = u.substr(0, paren);
  // Collapse inner blanks ("VARYING  CHARACTER") and trim.
  std::string collapsed;
  for (char c : base) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!collapsed.empty() && collapsed.back() != ' ') collapsed += ' ';
    } else {
      collapsed += c;
    }
  }
  while (!collapsed.empty() && collapsed.back() == ' ') collapsed.pop_back();
  t.base = collapsed;
  if (paren != std::string::npos) {
    const char* p = u.c_str() + paren + 1;
    char* end = nullptr;
    long a = std::strtol(p, &end, 10);
    if (end != p) {
      t.args = 1;
      t.a = a;
      while (*end == ' ') ++end;
      if (*end == ',') {
        const char* q = end + 1;
        long b = std::strtol(q, &end, 10);
        if (end != q) {
          t.args = 2;
          t.b = b;
        }
      }
    }
  }
  return t;
}

bool contains(const std::string& s, const char* part) {
  return s.find(part) != std::string::npos;
}

int32_t clampSize(long v) {
  if (v < 0) return 0;
  if (v > 0x7FFFFFFF) return 0x7FFFFFFF;
  return static_cast<int32_t>(v);
}

}  // namespace

FieldInfo sqliteFieldInfo(const std::string& name, const std::string& declType,
                          bool rowidAlias) {
  FieldInfo f;
  f.name = name;
  if (rowidAlias) {
    f.type = ftAutoInc;
    return f;
  }
  DeclType t = parseDeclType(declType);
  const std::string& b = t.base;
  if (b == "VARCHAR" || b == "NVARCHAR" || b == "VARYING CHARACTER" ||
      b == "CHARACTER VARYING" || b == "NATIONAL VARYING CHARACTER") {
    if (t.args >= 1) {
      f.type = b[0] == 'N' ? ftWideString : ftString;
      f.size = clampSize(t.a);
    } else {
      f.type = ftMemo;
    }
  } else if (b == "CHAR" || b == "NCHAR" || b == "CHARACTER" ||
             b == "NATIVE CHARACTER" || b == "NATIONAL CHARACTER") {
    f.type = ftFixedChar;
    f.size = t.args >= 1 ? clampSize(t.a) : 1;
  } else if (b == "TEXT" || b == "CLOB" || b == "MEMO" || b == "LONGTEXT" ||
             b == "MEDIUMTEXT" || b == "NTEXT") {
    f.type = ftMemo;
  } else if (b == "DECIMAL" || b == "NUMERIC") {
    f.type = ftBCD;
    f.size = t.args == 2 ? clampSize(t.b) : 0;
  } else if (b == "CURRENCY" || b == "MONEY") {
    f.type = ftCurrency;
    f.size = 4;
  } else if (b == "GUID" || b == "UNIQUEIDENTIFIER") {
    f.type = ftGuid;
    f.size = 38;
  } else if (b == "BINARY" || b == "VARBINARY") {
    f.type = b == "BINARY" ? ftBytes : ftVarBytes;
    f.size = t.args >= 1 ? clampSize(t.a) : 0;
  } else if (b == "BOOLEAN" || b == "BOOL" || b == "BIT") {
    f.type = ftBoolean;
  } else if (b == "DATE") {
    f.type = ftDate;
  } else if (b == "TIME") {
    f.type = ftTime;
  } else if (b == "DATETIME" || b == "TIMESTAMP") {
    f.type = ftDateTime;
  } else if (b == "SMALLINT" || b == "TINYINT" || b == "INT2") {
    f.type = ftSmallint;
  } else if (b == "BIGINT" || b == "INT8" || b == "UNSIGNED BIG INT") {
    f.type = ftLargeint;
  } else if (contains(b, "INT")) {
    f.type = ftInteger;
  } else if (contains(b, "CHAR") || contains(b, "CLOB") || contains(b, "TEXT")) {
    f.type = ftMemo;
  } else if (b == "REAL" || contains(b, "DOUBLE") || contains(b, "FLOA")) {
    f.type = ftFloat;
  } else if (contains(b, "BLOB") || b == "IMAGE" || b == "LONGBINARY") {
    f.type = ftBlob;
  }
  return f;
}

namespace {

class SqliteBackend;

constexpr char kInUse[] = "数据库文件正被其他程序使用，请关闭那个程序后再试";
constexpr char kReadOnly[] =
    "数据库文件不能写入：文件或它所在的文件夹没有写入权限，或者文件系统只能读取";

// The engine's message; a lock another program holds is said plainly, and
// a stop the user asked for ends the command quietly.
[[noreturn]] void fail(sqlite3* db, const char* text = nullptr) {
  const int code = sqlite3_errcode(db);
  if ((code == SQLITE_INTERRUPT || code == SQLITE_BUSY) && interruptRequested()) throw Abort();
  std::string message = text ? text : sqlite3_errmsg(db);
  if (code == SQLITE_BUSY) throw Error(std::string(kInUse) + "（" + message + "）");
  if (code == SQLITE_READONLY) throw Error(std::string(kReadOnly) + "（" + message + "）");
  throw Error(message);
}

// How long one connection waits for locks that other programs hold.
// Outside a transaction each wait may last kLockWaitMs. Inside one, all
// waits together may: a writer whose file another program keeps reading
// would otherwise sit out the wait again for every page it has to move to
// the file. Once the time is spent, the transaction's pages stay in memory
// (up to kHeldPagesBytes), and a lock it cannot do without fails at once.
// The commit gets a fresh wait of its own.
constexpr int kLockWaitMs = 5000;
constexpr sqlite3_int64 kHeldPagesBytes = 256ll << 20;

struct LockWaits {
  bool inTransaction = false;
  int spentMs = 0;      // this transaction's, or this attempt's outside one
  bool gaveUp = false;  // a wait in this transaction ran out
  bool spillOff = false;
  bool reading = false;  // a cursor steps: a stop request may cut it short

  void fresh() {
    spentMs = 0;
    gaveUp = false;
  }
};

int onBusy(void* p, int count) {
  auto* w = static_cast<LockWaits*>(p);
  if (interruptRequested()) return 0;
  if (!w->inTransaction && count == 0) w->spentMs = 0;
  if (w->gaveUp || w->spentMs >= kLockWaitMs) {
    if (w->inTransaction) w->gaveUp = true;
    return 0;
  }
  const int ms = count < 10 ? 1 : count < 40 ? 5 : 20;
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  w->spentMs += ms;
  return 1;
}

// Long reads end when the user asks to stop; writes are never cut short,
// since an interrupted insert would take the whole transaction with it.
int onProgress(void* p) {
  return static_cast<LockWaits*>(p)->reading && interruptRequested() ? 1 : 0;
}

Value columnValue(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
      return Value::fromInt(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT:
      return Value::fromReal(sqlite3_column_double(st, i));
    case SQLITE_TEXT: {
      const char* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      return Value::fromText(std::string(p, static_cast<size_t>(sqlite3_column_bytes(st, i))));
    }
    case SQLITE_BLOB: {
      const char* p = static_cast<const char*>(sqlite3_column_blob(st, i));
      int n = sqlite3_column_bytes(st, i);
      return Value::fromBytes(p ? std::string(p, static_cast<size_t>(n)) : std::string());
    }
    default:
      return Value();
  }
}

void bindValue(sqlite3* db, sqlite3_stmt* st, int i, const Value& v) {
  int rc = SQLITE_OK;
  switch (v.kind()) {
    case Value::Kind::Null:
      rc = sqlite3_bind_null(st, i);
      break;
    case Value::Kind::Bool:
    case Value::Kind::Int:
      rc = sqlite3_bind_int64(st, i, v.asInt());
      break;
    case Value::Kind::Real:
      rc = sqlite3_bind_double(st, i, v.asReal());
      break;
    case Value::Kind::Decimal:
    case Value::Kind::Text:
      // The column's affinity turns a decimal's text into a number.
      rc = sqlite3_bind_text64(st, i, v.str().data(), v.str().size(), SQLITE_STATIC,
                               SQLITE_UTF8);
      break;
    case Value::Kind::Bytes:
      rc = sqlite3_bind_blob64(st, i, v.str().data(), v.str().size(), SQLITE_STATIC);
      break;
    case Value::Kind::DateTime: {
      std::string t = v.asDateTime().toText();
      rc = sqlite3_bind_text64(st, i, t.data(), t.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
  }
  if (rc != SQLITE_OK) fail(db);
}

// What follows a statement's end: blanks, comments and semicolons are
// nothing; anything else is a second statement, which would never run.
std::string secondStatement(const char* p) {
  for (;;) {
    while (*p == ';' || std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p[0] == '-' && p[1] == '-') {
      while (*p && *p != '\n') ++p;
    } else if (p[0] == '/' && p[1] == '*') {
      const char* end = std::strstr(p + 2, "*/");
      if (!end) return std::string();  // an open comment runs to the end
      p = end + 2;
    } else {
      return p;
    }
  }
}

enum class Kind {
  Own,        // the program's own statement
  Prepared,   // kept and run many times, its parameters bound each time
  Query,      // a query as the user wrote it: one statement, no parameters
};

class Stmt {
 public:
  Stmt(sqlite3* db, const std::string& sql, Kind kind = Kind::Own) : db_(db) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size() + 1),
                           kind == Kind::Prepared ? SQLITE_PREPARE_PERSISTENT : 0, &st_,
                           &tail) != SQLITE_OK)
      fail(db);
    if (!st_) throw Error("语句为空");
    if (kind != Kind::Query) return;
    std::string rest = secondStatement(tail);
    if (!rest.empty()) {
      sqlite3_finalize(st_);
      throw Error("筛选条件有误：分号后面不能再有语句（“" + echo(rest) + "”）");
    }
    if (sqlite3_bind_parameter_count(st_) > 0) {
      const char* name = sqlite3_bind_parameter_name(st_, 1);
      std::string shown = name ? name : "?";
      sqlite3_finalize(st_);
      throw Error("筛选条件有误：其中的“" + echo(shown) + "”是参数，没有可以代入的值");
    }
  }
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return st_; }
  // True on a row, false when done; raises on an error.
  bool step() {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(db_);
  }
  void reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

class SqliteCursor : public Cursor {
 public:
  SqliteCursor(std::unique_ptr<Stmt> st, std::vector<FieldInfo> fields, LockWaits* waits)
      : st_(std::move(st)), fields_(std::move(fields)), waits_(waits) {}
  const std::vector<FieldInfo>& fields() const override { return fields_; }
  bool next(std::vector<Value>& row) override {
    if (done_) return false;
    waits_->reading = true;
    bool more;
    try {
      more = st_->step();
    } catch (...) {
      waits_->reading = false;
      throw;
    }
    waits_->reading = false;
    if (!more) {
      done_ = true;
      return false;
    }
    const int n = static_cast<int>(fields_.size());
    row.resize(fields_.size());
    sqlite3_stmt* st = st_->get();
    for (int i = 0; i < n; ++i) {
      Value& v = row[static_cast<size_t>(i)];
      // Texts refill the last row's storage instead of allocating anew.
      if (sqlite3_column_type(st, i) == SQLITE_TEXT)
        v.setText(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                  static_cast<size_t>(sqlite3_column_bytes(st, i)));
      else
        v = columnValue(st, i);
    }
    return true;
  }

 private:
  std::unique_ptr<Stmt> st_;
  std::vector<FieldInfo> fields_;
  LockWaits* waits_;
  bool done_ = false;
};

// Errors about the row in hand, after which the transaction goes on.
bool refusesRow(int code) {
  return code == SQLITE_CONSTRAINT || code == SQLITE_MISMATCH || code == SQLITE_TOOBIG;
}

// SQLite undoes a failed statement on its own, except where a trigger or a
// conflict clause (FAIL, REPLACE) keeps part of what the statement did.
bool partialChangesPossible(sqlite3* db) {
  Stmt st(db,
          "select 1 from sqlite_master where type = 'trigger' "
          "or (type = 'table' and sql like '%on conflict%') limit 1");
  return st.step();
}

// The columns SQLite names in "UNIQUE constraint failed: t.a, t.b".
std::vector<std::string> violatedKey(const std::string& message) {
  static const std::string head = "UNIQUE constraint failed: ";
  std::vector<std::string> columns;
  if (message.compare(0, head.size(), head) != 0) return columns;
  size_t at = head.size();
  while (at < message.size()) {
    size_t comma = message.find(", ", at);
    if (comma == std::string::npos) comma = message.size();
    columns.push_back(message.substr(at, comma - at));
    at = comma + 2;
  }
  return columns;
}

class SqliteStatement : public Statement {
 public:
  SqliteStatement(sqlite3* db, const std::string& sql, LockWaits* waits)
      : db_(db), st_(db, sql, Kind::Prepared), waits_(waits) {}
  int parameterCount() const override { return sqlite3_bind_parameter_count(st_.get()); }

  bool setRunPolicy(const RunPolicy& policy) override {
    policy_ = policy;
    fence_.reset();
    if (policy.skipRefused && partialChangesPossible(db_))
      fence_ = std::make_unique<Fence>(db_);
    return true;
  }

  std::vector<RefusedRun> takeRefused() override { return std::move(refused_); }

  void execute(const std::vector<Value>& params) override {
    sqlite3_stmt* st = st_.get();
    sqlite3_reset(st);
    const int64_t run = issued_++;
    const bool inTransaction = !sqlite3_get_autocommit(db_);
    if (fence_) fence_->open();
    const int count = parameterCount();
    const int n = std::min(static_cast<int>(params.size()), count);
    try {
      if (waits_->gaveUp) holdPagesInMemory();
      for (int i = 0; i < n; ++i) bindValue(db_, st, i + 1, params[static_cast<size_t>(i)]);
      // Unfilled parameters must not keep pointers into the last run's values.
      for (int i = n; i < count; ++i) sqlite3_bind_null(st, i + 1);
      while (st_.step()) {
      }
    } catch (const Error& e) {
      const int code = sqlite3_errcode(db_);
      sqlite3_reset(st);
      const bool ended = inTransaction && sqlite3_get_autocommit(db_);
      if (fence_ && !ended) fence_->undo();
      if (policy_.skipRefused && !ended && refusesRow(code)) {
        refused_.push_back({run, e.what()});
        return;
      }
      StatementError failure(e.what(), runs_);
      failure.keyColumns = violatedKey(e.what());
      throw failure;
    }
    const bool changed = sqlite3_changes(db_) != 0;
    if (fence_) fence_->close();
    if (policy_.requireChange && !changed) {
      if (!policy_.skipRefused) throw StatementError(kNoRowToUpdate, runs_);
      refused_.push_back({run, kNoRowToUpdate});
      return;
    }
    ++runs_;
  }

 private:
  // Another program holds the file: the pages wait in memory for the
  // commit instead of each sitting out a lock wait, up to a bound.
  void holdPagesInMemory() {
    if (!waits_->spillOff) {
      char* err = nullptr;
      if (sqlite3_exec(db_, "PRAGMA cache_spill=OFF", nullptr, nullptr, &err) == SQLITE_OK)
        waits_->spillOff = true;
      sqlite3_free(err);
    }
    if (runs_ % 256 != 0) return;
    int used = 0, highest = 0;
    sqlite3_db_status(db_, SQLITE_DBSTATUS_CACHE_USED, &used, &highest, 0);
    if (used > kHeldPagesBytes)
      throw Error(std::string(kInUse) + "（其间要写入的行已在内存中积累了 " +
                  std::to_string(kHeldPagesBytes >> 20) + " MB，无法再等）");
  }

  // A savepoint around each run, for the databases that need one.
  class Fence {
   public:
    explicit Fence(sqlite3* db)
        : open_(db, "savepoint vov_row", Kind::Prepared),
          undo_(db, "rollback to vov_row", Kind::Prepared),
          close_(db, "release vov_row", Kind::Prepared) {}
    void open() { run(open_); }
    void undo() {
      run(undo_);
      run(close_);
    }
    void close() { run(close_); }

   private:
    static void run(Stmt& st) {
      st.step();
      st.reset();
    }
    Stmt open_, undo_, close_;
  };

  sqlite3* db_;
  Stmt st_;
  LockWaits* waits_;
  RunPolicy policy_;
  std::unique_ptr<Fence> fence_;
  std::vector<RefusedRun> refused_;
  int64_t runs_ = 0;    // runs that succeeded
  int64_t issued_ = 0;  // every run, refused ones included
};

class SqliteBrowser : public TableBrowser {
 public:
  SqliteBrowser(sqlite3* db, std::string table, std::vector<FieldInfo> fields,
                bool hasRowid, int rowidColumn)
      : db_(db),
        table_(std::move(table)),
        fields_(std::move(fields)),
        hasRowid_(hasRowid),
        rowidColumn_(rowidColumn) {}

  const std::vector<FieldInfo>& fields() const override { return fields_; }

  int64_t rowCount() override {
    Stmt st(db_, "select count(*) from " + quote(table_));
    st.step();
    return sqlite3_column_int64(st.get(), 0);
  }

  void fetch(int64_t first, int count, std::vector<BrowseRow>& out) override {
    // Reading on from where the last window ended needs no OFFSET scan.
    bool follow = hasRowid_ && first == nextPos_ && first > 0;
    std::string sql = hasRowid_ ? "select rowid, * from " + quote(table_) : "select 0, * from " + quote(table_);
    if (follow) sql += " where rowid > ?3";
    if (hasRowid_) sql += " order by rowid";
    sql += " limit ?1 offset ?2";
    Stmt st(db_, sql);
    sqlite3_bind_int(st.get(), 1, count);
    sqlite3_bind_int64(st.get(), 2, follow ? 0 : first);
    if (follow) sqlite3_bind_int64(st.get(), 3, lastRowid_);
    int64_t got = 0;
    while (st.step()) {
      BrowseRow r;
      if (hasRowid_) {
        lastRowid_ = sqlite3_column_int64(st.get(), 0);
        r.key.push_back(Value::fromInt(lastRowid_));
      }
      r.values.resize(fields_.size());
      for (size_t i = 0; i < fields_.size(); ++i)
        r.values[i] = columnValue(st.get(), static_cast<int>(i) + 1);
      out.push_back(std::move(r));
      ++got;
    }
    nextPos_ = got > 0 ? first + got : -1;
  }

  std::string readOnlyReason() const override {
    if (hasRowid_) return std::string();
    return "表“" + table_ + "”没有可以识别每一行的键（例如视图），只能查看，不能修改";
  }

  RowKey update(const RowKey& key, const std::vector<std::pair<int, Value>>& changes) override {
    requireWritable();
    if (changes.empty()) return key;
    std::string sql = "update " + quote(table_) + " set ";
    for (size_t i = 0; i < changes.size(); ++i) {
      if (i) sql += ", ";
      sql += quote(fields_.at(static_cast<size_t>(changes[i].first)).name) + " = ?";
    }
    sql += " where rowid = ?";
    Stmt st(db_, sql);
    int n = 1;
    for (auto& c : changes) bindValue(db_, st.get(), n++, c.second);
    bindValue(db_, st.get(), n, key.at(0));
    st.step();
    nextPos_ = -1;
    for (auto& c : changes)
      if (c.first == rowidColumn_ && !c.second.isNull()) {
        Stmt q(db_, "select rowid from " + quote(table_) + " where rowid = ?");
        bindValue(db_, q.get(), 1, c.second);
        if (q.step()) return RowKey{Value::fromInt(sqlite3_column_int64(q.get(), 0))};
      }
    return key;
  }

  RowKey insert(const std::vector<std::pair<int, Value>>& values) override {
    requireWritable();
    std::string sql = "insert into " + quote(table_);
    if (values.empty()) {
      sql += " default values";
    } else {
      std::string cols, marks;
      for (size_t i = 0; i < values.size(); ++i) {
        if (i) {
          cols += ", ";
          marks += ", ";
        }
        cols += quote(fields_.at(static_cast<size_t>(values[i].first)).name);
        marks += "?";
      }
      sql += " (" + cols + ") values (" + marks + ")";
    }
    Stmt st(db_, sql);
    int n = 1;
    for (auto& v : values) bindValue(db_, st.get(), n++, v.second);
    st.step();
    nextPos_ = -1;
    return RowKey{Value::fromInt(sqlite3_last_insert_rowid(db_))};
  }

  void remove(const RowKey& key) override {
    requireWritable();
    Stmt st(db_, "delete from " + quote(table_) + " where rowid = ?");
    bindValue(db_, st.get(), 1, key.at(0));
    st.step();
    nextPos_ = -1;
  }

 private:
  void requireWritable() const {
    std::string why = readOnlyReason();
    if (!why.empty()) throw Error(why);
  }

  sqlite3* db_;
  std::string table_;
  std::vector<FieldInfo> fields_;
  bool hasRowid_;
  int rowidColumn_;
  int64_t nextPos_ = -1;
  int64_t lastRowid_ = 0;
};

// Checks rows against a copy of the new table's columns in the temporary
// schema: the same declared types, NOT NULL, defaults, rowid alias and
// STRICT, so that SQLite itself converts and refuses each value as it would
// in the real table, and nothing reaches the database file. Other
// constraints (unique, check, foreign keys) need the table's rows and are
// not checked. The copy bears the table's own name, so that SQLite's
// messages read as they will in the real run; it lives only as long as the
// check.
class SqliteRowCheck : public RowCheck {
 public:
  static std::unique_ptr<RowCheck> make(sqlite3* db, const RowWrite& w) {
    std::string name;
    bool strict = false, withoutRowid = false;
    {
      Stmt st(db, "select name, strict, wr from pragma_table_list "
                  "where schema = 'main' and type = 'table' and name = ?1 collate nocase");
      sqlite3_bind_text(st.get(), 1, w.table.c_str(), -1, SQLITE_TRANSIENT);
      if (!st.step()) return nullptr;  // a view or no table: the statement tells
      name = columnValue(st.get(), 0).str();
      strict = sqlite3_column_int(st.get(), 1) != 0;
      withoutRowid = sqlite3_column_int(st.get(), 2) != 0;
    }
    struct Column {
      std::string name, decl, defaultValue;
      bool notNull, hasDefault;
      int pk;
    };
    std::vector<Column> columns;
    int pkCount = 0;
    {
      Stmt st(db, "select name, type, \"notnull\", dflt_value, pk from pragma_table_xinfo(?1) "
                  "where hidden = 0");
      sqlite3_bind_text(st.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      while (st.step()) {
        Column c{columnValue(st.get(), 0).str(), columnValue(st.get(), 1).str(),
                 columnValue(st.get(), 3).str(), sqlite3_column_int(st.get(), 2) != 0,
                 sqlite3_column_type(st.get(), 3) != SQLITE_NULL, sqlite3_column_int(st.get(), 4)};
        if (c.pk > 0) ++pkCount;
        columns.push_back(std::move(c));
      }
    }
    auto mapped = [&w](const std::string& column) {
      for (const std::string& c : w.columns)
        if (equalsIgnoreCase(c, column)) return true;
      return false;
    };
    std::string defs;
    for (const Column& c : columns) {
      // An update touches only the columns it sets.
      if (w.mode == WriteMode::Update && !mapped(c.name)) continue;
      bool alias = !withoutRowid && pkCount == 1 && c.pk == 1 && upper(c.decl) == "INTEGER";
      defs += (defs.empty() ? "" : ", ") + quote(c.name) + " " + c.decl;
      if (alias) defs += " primary key";
      if (c.notNull || (withoutRowid && c.pk > 0)) defs += " not null";
      if (c.hasDefault) defs += " default (" + c.defaultValue + ")";
    }
    std::string keyQuery;
    if (w.mode == WriteMode::Update) {
      keyQuery = "select 1 from main." + quote(name) + " where ";
      for (size_t j = 0; j < w.key.size(); ++j)
        keyQuery += (j ? " and " : "") + quote(w.columns[w.key[j]]) + " = ?" + std::to_string(j + 1);
    }
    std::string insert = "insert into temp." + quote(name) + "(";
    std::string marks;
    for (size_t i = 0; i < w.columns.size(); ++i) {
      insert += (i ? "," : "") + quote(w.columns[i]);
      marks += i ? ",?" : "?";
    }
    insert += ") values(" + marks + ")";
    return std::unique_ptr<RowCheck>(new SqliteRowCheck(
        db, name, "create temp table " + quote(name) + "(" + defs + ")" + (strict ? " strict" : ""),
        insert, keyQuery, w.key));
  }

  ~SqliteRowCheck() override {
    insert_.reset();
    clear_.reset();
    keyQuery_.reset();
    sqlite3_exec(db_, ("drop table if exists temp." + quote(name_)).c_str(), nullptr, nullptr,
                 nullptr);
  }

  std::string check(const std::vector<Value>& row) override {
    if (keyQuery_) {
      sqlite3_stmt* q = keyQuery_->get();
      for (size_t j = 0; j < key_.size(); ++j)
        bindValue(db_, q, static_cast<int>(j) + 1, row.at(key_[j]));
      bool found = keyQuery_->step();
      keyQuery_->reset();
      if (!found) return kNoRowToUpdate;
    }
    sqlite3_stmt* st = insert_->get();
    for (size_t i = 0; i < row.size(); ++i) bindValue(db_, st, static_cast<int>(i) + 1, row[i]);
    int rc = sqlite3_step(st);
    std::string refusal;
    if (rc != SQLITE_DONE) refusal = sqlite3_errmsg(db_);
    insert_->reset();
    if (rc == SQLITE_DONE) {
      clear_->step();
      clear_->reset();
    }
    return refusal;
  }

 private:
  SqliteRowCheck(sqlite3* db, std::string name, const std::string& create,
                 const std::string& insert, const std::string& keyQuery, std::vector<size_t> key)
      : db_(db), name_(std::move(name)), key_(std::move(key)) {
    char* err = nullptr;
    if (sqlite3_exec(db_, create.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errmsg(db_);
      sqlite3_free(err);
      throw Error(msg);
    }
    try {
      insert_ = std::make_unique<Stmt>(db_, insert);
      clear_ = std::make_unique<Stmt>(db_, "delete from temp." + quote(name_));
      if (!keyQuery.empty()) keyQuery_ = std::make_unique<Stmt>(db_, keyQuery);
    } catch (...) {
      insert_.reset();
      clear_.reset();
      sqlite3_exec(db_, ("drop table temp." + quote(name_)).c_str(), nullptr, nullptr, nullptr);
      throw;
    }
  }

  sqlite3* db_;
  std::string name_;
  std::vector<size_t> key_;
  std::unique_ptr<Stmt> insert_, clear_, keyQuery_;
};

class SqliteBackend : public Backend {
 public:
  explicit SqliteBackend(sqlite3* db) : db_(db) {
    sqlite3_busy_handler(db_, onBusy, &waits_);
    sqlite3_progress_handler(db_, 10000, onProgress, &waits_);
  }
  ~SqliteBackend() override { sqlite3_close_v2(db_); }

  std::string quoteName(const std::string& name) const override { return quote(name); }

  std::vector<std::string> tableNames() override {
    Stmt st(db_,
            "select name from sqlite_master where type in ('table','view') "
            "and name not like 'sqlite\\_%' escape '\\' order by rowid");
    std::vector<std::string> names;
    while (st.step()) names.push_back(columnValue(st.get(), 0).str());
    return names;
  }

  std::vector<FieldInfo> tableFields(const std::string& table) override {
    shapes_.erase(table);
    const TableShape& shape = tableShape(table);
    if (!shape.exists) throw Error("no such table: " + echo(table));
    return shape.fields;
  }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    return open(sql, false);
  }

  std::unique_ptr<Cursor> readQuery(const std::string& sql) override {
    return open(sql, true);
  }

  void execute(const std::string& sql) override {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errmsg(db_);
      sqlite3_free(err);
      fail(db_, msg.c_str());
    }
    shapes_.clear();  // the statement may have changed the schema
  }

  std::unique_ptr<Statement> prepare(const std::string& sql) override {
    return std::make_unique<SqliteStatement>(db_, sql, &waits_);
  }

  bool supportsWriteMode(WriteMode) const override { return true; }

  std::vector<std::string> primaryKey(const std::string& table) override {
    Stmt st(db_, "select name from pragma_table_info(?1) where pk > 0 order by pk");
    sqlite3_bind_text(st.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> key;
    while (st.step()) key.push_back(columnValue(st.get(), 0).str());
    return key;
  }

  std::unique_ptr<RowCheck> rowCheck(const RowWrite& w) override {
    shapes_.clear();  // the check's copy of the table shadows it meanwhile
    return SqliteRowCheck::make(db_, w);
  }

  void begin() override {
    execute("begin");
    waits_.inTransaction = true;
    waits_.fresh();
  }
  void commit() override {
    waits_.fresh();
    try {
      execute("commit");
    } catch (...) {
      settle();
      throw;
    }
    settle();
  }
  void rollback() override {
    try {
      if (!sqlite3_get_autocommit(db_)) execute("rollback");
      // A transaction the engine ended itself (a full disk) may leave its
      // journal behind for the next reader to play back; that reader is
      // this connection, now, and not another program opening the file
      // read-only.
      else execute("select count(*) from sqlite_master");
    } catch (...) {
      settle();
      throw;
    }
    settle();
  }
  bool inTransaction() override { return !sqlite3_get_autocommit(db_); }

  std::unique_ptr<TableBrowser> browse(const std::string& sql) override {
    SimpleSelect sel;
    if (!parseSimpleSelect(sql, &sel) || !sel.rest.empty()) return nullptr;
    shapes_.erase(sel.table);
    const TableShape& shape = tableShape(sel.table);
    if (!shape.exists) {
      // Let the engine word the error for a missing table.
      Stmt st(db_, sql);
      return nullptr;
    }
    return std::make_unique<SqliteBrowser>(db_, shape.name, shape.fields, shape.hasRowid,
                                           shape.rowidColumn);
  }

 private:
  std::unique_ptr<Cursor> open(const std::string& sql, bool readOnly) {
    shapes_.clear();
    auto st = std::make_unique<Stmt>(db_, sql, Kind::Query);
    sqlite3_stmt* s = st->get();
    if (readOnly && !sqlite3_stmt_readonly(s))
      throw Error("只读取数据的语句不能修改数据库：“" + echo(sql) + "”");
    const int n = sqlite3_column_count(s);
    std::vector<FieldInfo> fields;
    fields.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      const char* name = sqlite3_column_name(s, i);
      const char* table = sqlite3_column_table_name(s, i);
      const char* origin = sqlite3_column_origin_name(s, i);
      const char* decl = sqlite3_column_decltype(s, i);
      bool alias = false;
      if (table && origin) alias = tableShape(table).rowidAlias == origin;
      fields.push_back(sqliteFieldInfo(name ? name : "", decl ? decl : "", alias));
    }
    return std::make_unique<SqliteCursor>(std::move(st), std::move(fields), &waits_);
  }

  // After a commit or rollback, or a transaction the engine ended itself.
  void settle() {
    if (!sqlite3_get_autocommit(db_)) return;
    waits_.inTransaction = false;
    waits_.fresh();
    if (waits_.spillOff) {
      waits_.spillOff = false;
      sqlite3_exec(db_, "PRAGMA cache_spill=ON", nullptr, nullptr, nullptr);
    }
  }

  struct TableShape {
    bool exists = false;
    std::string name;  // as the catalogue spells it
    std::vector<FieldInfo> fields;
    std::string rowidAlias;  // column name, or empty
    int rowidColumn = -1;
    bool hasRowid = false;
  };

  const TableShape& tableShape(const std::string& table) {
    auto it = shapes_.find(table);
    if (it != shapes_.end()) return it->second;
    TableShape shape;
    std::string type, sqlText;
    {
      Stmt st(db_, "select type, name, sql from sqlite_master where name = ?1 collate nocase "
                   "and type in ('table','view')");
      sqlite3_bind_text(st.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
      if (st.step()) {
        shape.exists = true;
        type = columnValue(st.get(), 0).str();
        shape.name = columnValue(st.get(), 1).str();
        sqlText = upper(columnValue(st.get(), 2).str());
      }
    }
    if (shape.exists) {
      struct Col {
        std::string name, decl;
        int pk;
      };
      std::vector<Col> cols;
      int pkCount = 0;
      {
        Stmt st(db_, "select name, type, pk from pragma_table_info(?1)");
        sqlite3_bind_text(st.get(), 1, shape.name.c_str(), -1, SQLITE_TRANSIENT);
        while (st.step()) {
          Col c{columnValue(st.get(), 0).str(), columnValue(st.get(), 1).str(),
                sqlite3_column_int(st.get(), 2)};
          if (c.pk > 0) ++pkCount;
          cols.push_back(std::move(c));
        }
      }
      bool withoutRowid = sqlText.find("WITHOUT ROWID") != std::string::npos &&
                          sqlText.rfind(')') < sqlText.find("WITHOUT ROWID");
      shape.hasRowid = type == "table" && !withoutRowid;
      for (size_t i = 0; i < cols.size(); ++i) {
        // Only a lone "INTEGER" primary key becomes the rowid alias.
        bool alias = shape.hasRowid && pkCount == 1 && cols[i].pk == 1 &&
                     upper(cols[i].decl) == "INTEGER";
        if (alias) {
          shape.rowidAlias = cols[i].name;
          shape.rowidColumn = static_cast<int>(i);
        }
        shape.fields.push_back(sqliteFieldInfo(cols[i].name, cols[i].decl, alias));
      }
    }
    return shapes_.emplace(table, std::move(shape)).first->second;
  }

  sqlite3* db_;
  LockWaits waits_;
  std::map<std::string, TableShape> shapes_;
};

}  // namespace

namespace {

// A "file:" address for the open options only an address can carry.
std::string fileUri(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri;
}

// Opens and reads the schema, so that a damaged file fails here and not at
// the first query. On failure `db` is closed and `why` says why.
int openChecked(const std::string& name, int flags, sqlite3** db, std::string* why) {
  *db = nullptr;
  int rc = sqlite3_open_v2(name.c_str(), db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(*db, 0);
    sqlite3_busy_timeout(*db, kLockWaitMs);
    char* err = nullptr;
    rc = sqlite3_exec(*db, "select count(*) from sqlite_master", nullptr, nullptr, &err);
    if (rc != SQLITE_OK) *why = err ? err : sqlite3_errmsg(*db);
    sqlite3_free(err);
  } else {
    *why = *db ? sqlite3_errmsg(*db) : sqlite3_errstr(rc);
  }
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(*db);
    *db = nullptr;
  }
  return rc;
}

bool emptyOrMissing(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) != 0 || st.st_size == 0;
}

// A rollback journal that still starts with its header: a writer ended
// without finishing, and the file holds pages of that transaction until
// the journal is played back. (A committed journal kept for reuse has its
// header zeroed.)
bool hotJournal(const std::string& path) {
  static const unsigned char magic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
  FILE* f = std::fopen((path + "-journal").c_str(), "rb");
  if (!f) return false;
  unsigned char head[8];
  const bool hot = std::fread(head, 1, sizeof head, f) == sizeof head &&
                   std::memcmp(head, magic, sizeof magic) == 0;
  std::fclose(f);
  return hot;
}

}  // namespace

std::unique_ptr<Backend> openSqliteBackend(const std::string& path) {
  sqlite3* db = nullptr;
  std::string why;
  // No SQLITE_OPEN_CREATE: a missing file must never become an empty database.
  int rc = openChecked(path, SQLITE_OPEN_READWRITE, &db, &why);
  if (rc == SQLITE_READONLY || rc == SQLITE_CANTOPEN) {
    // A file in a folder this user may not write: in WAL mode even a reader
    // wants to create the files beside it, unless asked only to read.
    std::string ignored;
    if (openChecked(path, SQLITE_OPEN_READONLY, &db, &ignored) != SQLITE_OK &&
        emptyOrMissing(path + "-wal")) {
      // With no write-ahead log beside it the file alone holds every row,
      // and no writer can start one in this folder; unless an unfinished
      // transaction left its pages in it, which only its journal can undo.
      if (hotJournal(path))
        throw Error("无法打开数据库“" + echo(path, 4 * kEchoChars) +
                    "”：上次写入它的程序没有完成事务，要用旁边的日志文件“" +
                    echo(std::filesystem::path(path).filename().string()) +
                    "-journal”撤销，这只能在可以写入的文件夹中进行；请把这两个文件一起复制到可以写入的文件夹后再打开");
      openChecked(fileUri(path) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, &db,
                  &ignored);
    }
  }
  if (!db) throw Error("无法打开数据库“" + echo(path, 4 * kEchoChars) + "”：" + why);
  return std::make_unique<SqliteBackend>(db);
}

}  // namespace vov
