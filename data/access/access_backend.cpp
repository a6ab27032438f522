// The Access backend. Every read starts a reader process (reader_process.h)
// that streams one answer: the table list, a table's fields, or its rows.
// Filters are tested here (access_filter.h). Rows are appended by the
// parameterised insert through a write session (access_writer.h), which
// works on a copy and replaces the file only at the commit; every other
// statement that would change the file is refused before anything happens.
#include "data/access/access_backend.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "data/access/access_filter.h"
#include "data/access/access_writer.h"
#include "data/access/mdb_wire.h"
#include "data/access/reader_process.h"
#include "data/error.h"
#include "data/error_context.h"
#include "data/simple_select.h"
#include "data/text_util.h"

namespace vov {

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Matches `word` (lower case) at s[i] as a whole word; moves past it.
bool keyword(const std::string& s, size_t& i, const char* word) {
  size_t j = i;
  for (const char* w = word; *w; ++w, ++j)
    if (j >= s.size() || std::tolower(static_cast<unsigned char>(s[j])) != *w) return false;
  if (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) return false;
  i = j;
  return true;
}

void skipBlanks(const std::string& s, size_t& i) {
  while (i < s.size() && blank(s[i])) ++i;
}

[[noreturn]] void unsupported(const std::string& sql) {
  throw Error("Access 文件只能这样查询：select * from 表名 [where 条件]；无法执行“" + echo(sql) + "”");
}

struct Select {
  std::string table;
  std::string condition;  // empty: every row
};

// Reads "select * from <table> [where <condition>] [;]". A bare table name
// may hold blanks ("select * from Order Details"): the catalogue decides.
Select parseSelect(const std::string& sql, const std::vector<std::string>& tables) {
  SimpleSelect simple;
  if (!parseSimpleSelect(sql, &simple, &tables)) unsupported(sql);
  Select sel;
  sel.table = simple.table;
  if (!simple.rest.empty()) {
    size_t i = 0;
    if (!keyword(simple.rest, i, "where"))
      throw Error("Access 文件的查询只支持 where 筛选条件，无法理解“" + echo(simple.rest) + "”");
    sel.condition = simple.rest.substr(i);
    if (sel.condition.find_first_not_of(" \t\r\n") == std::string::npos)
      throw Error("筛选条件有误：where 后面缺少条件");
  }
  return sel;
}

// Whether a statement only reads. "select ... into" makes a table.
bool onlyReads(const std::string& sql) {
  size_t i = 0;
  skipBlanks(sql, i);
  if (!keyword(sql, i, "select")) return false;
  skipBlanks(sql, i);
  if (i < sql.size() && sql[i] == '*') ++i;
  skipBlanks(sql, i);
  return !keyword(sql, i, "into");
}

[[noreturn]] void readOnly() { throw Error(kAccessReadOnlyMessage); }

// Where each named column stands in the table's columns.
std::vector<size_t> columnPositions(const access::TableDef& def, const std::string& table,
                                    const std::vector<std::string>& names) {
  std::vector<size_t> positions;
  for (const std::string& name : names) {
    const access::Column* c = def.column(name);
    if (!c) throw Error("表“" + table + "”没有字段“" + name + "”");
    const size_t pos = static_cast<size_t>(c - def.columns.data());
    if (std::find(positions.begin(), positions.end(), pos) != positions.end())
      throw Error("插入语句中字段“" + name + "”出现了两次");
    positions.push_back(pos);
  }
  return positions;
}

// A dry run's rows, checked as the insert would write them.
class AccessRowCheck : public RowCheck {
 public:
  AccessRowCheck(const std::string& file, const RowWrite& w)
      : check_(file, w.table), positions_(columnPositions(check_.def(), w.table, w.columns)) {}

  std::string check(const std::vector<Value>& row) override {
    values_.assign(check_.def().columns.size(), nullptr);
    for (size_t i = 0; i < positions_.size() && i < row.size(); ++i) values_[positions_[i]] = &row[i];
    return check_.check(values_);
  }

 private:
  AccessValueCheck check_;
  std::vector<size_t> positions_;
  std::vector<const Value*> values_;
};

// A bracketed or bare name at s[i]; bare names end at `stops`.
bool readName(const std::string& s, size_t& i, const char* stops, std::string* out) {
  skipBlanks(s, i);
  if (i < s.size() && s[i] == '[') {
    size_t end = s.find(']', i + 1);
    if (end == std::string::npos) return false;
    *out = s.substr(i + 1, end - i - 1);
    i = end + 1;
    return !out->empty();
  }
  size_t start = i;
  while (i < s.size() && !std::strchr(stops, s[i])) ++i;
  size_t end = i;
  while (end > start && blank(s[end - 1])) --end;
  *out = s.substr(start, end - start);
  return !out->empty();
}

bool expectChar(const std::string& s, size_t& i, char c) {
  skipBlanks(s, i);
  if (i >= s.size() || s[i] != c) return false;
  ++i;
  return true;
}

struct Insert {
  std::string table;
  std::vector<std::string> columns;
};

// "insert into <table> (<column>, ...) values (?, ...)": the statement the
// migration sends, with names bracketed or bare.
bool parseInsert(const std::string& sql, Insert* out) {
  size_t i = 0;
  skipBlanks(sql, i);
  if (!keyword(sql, i, "insert")) return false;
  skipBlanks(sql, i);
  if (!keyword(sql, i, "into")) return false;
  if (!readName(sql, i, "(", &out->table) || !expectChar(sql, i, '(')) return false;
  for (;;) {
    std::string col;
    if (!readName(sql, i, ",)", &col)) return false;
    out->columns.push_back(col);
    if (expectChar(sql, i, ')')) break;
    if (!expectChar(sql, i, ',')) return false;
  }
  skipBlanks(sql, i);
  if (!keyword(sql, i, "values") || !expectChar(sql, i, '(')) return false;
  for (size_t k = 0; k < out->columns.size(); ++k) {
    if (k && !expectChar(sql, i, ',')) return false;
    if (!expectChar(sql, i, '?')) return false;
  }
  if (!expectChar(sql, i, ')')) return false;
  skipBlanks(sql, i);
  if (i < sql.size() && sql[i] == ';') ++i;
  skipBlanks(sql, i);
  return i == sql.size();
}

bool startsWithInsert(const std::string& sql) {
  size_t i = 0;
  skipBlanks(sql, i);
  return keyword(sql, i, "insert");
}

// Reads the rows message that comes next into `row`; false at the end.
bool readRow(ReaderProcess& reader, size_t width, std::vector<Value>& row) {
  uint8_t tag = reader.next();
  if (tag == mdbwire::kEnd) {
    reader.finish();
    return false;
  }
  if (tag != mdbwire::kRow) reader.broken("读取程序的输出不符合约定");
  row.resize(width);
  for (Value& v : row) reader.value(v);
  return true;
}

class AccessCursor : public Cursor {
 public:
  AccessCursor(std::unique_ptr<ReaderProcess> reader, std::vector<FieldInfo> fields,
               std::unique_ptr<AccessFilter> filter)
      : reader_(std::move(reader)), fields_(std::move(fields)), filter_(std::move(filter)) {}

  const std::vector<FieldInfo>& fields() const override { return fields_; }

  bool next(std::vector<Value>& row) override {
    while (reader_) {
      if (!readRow(*reader_, fields_.size(), row)) {
        reader_.reset();
        break;
      }
      if (!filter_ || filter_->matches(row)) return true;
    }
    return false;
  }

 private:
  std::unique_ptr<ReaderProcess> reader_;
  std::vector<FieldInfo> fields_;
  std::unique_ptr<AccessFilter> filter_;
};

// Windows of a table for the data grid. One reader streams forward from
// the last window; a window before it, or far beyond, starts a new reader
// that skips to it without decoding the rows it passes.
class AccessBrowser : public TableBrowser {
 public:
  AccessBrowser(std::string file, std::string table, std::vector<FieldInfo> fields)
      : file_(std::move(file)), table_(std::move(table)), fields_(std::move(fields)) {}

  const std::vector<FieldInfo>& fields() const override { return fields_; }

  int64_t rowCount() override {
    if (count_ < 0) {
      ReaderProcess reader("count", file_, {table_});
      reader.expect(mdbwire::kCount);
      int64_t n = static_cast<int64_t>(reader.u64());
      reader.expect(mdbwire::kEnd);
      count_ = n;
    }
    return count_;
  }

  void fetch(int64_t first, int count, std::vector<BrowseRow>& out) override {
    if (first < 0 || count <= 0) return;
    if (!reader_ || first < pos_ || first - pos_ > kSkipByReading) {
      if (endSeen_ >= 0 && first >= endSeen_) return;
      reader_ = std::make_unique<ReaderProcess>("rows", file_, std::vector<std::string>{table_, std::to_string(first)});
      reader_->expect(mdbwire::kFields);
      if (reader_->fields().size() != fields_.size()) reader_->broken("表的字段在读取时改变了");
      pos_ = first;
    }
    std::vector<Value> row;
    while (reader_ && pos_ < first + count) {
      if (!readRow(*reader_, fields_.size(), row)) {
        reader_.reset();
        endSeen_ = pos_;
        break;
      }
      if (pos_++ < first) continue;
      out.push_back(BrowseRow{RowKey{Value::fromInt(pos_ - 1)}, std::move(row)});
      row = {};
    }
  }

  std::string readOnlyReason() const override { return kAccessReadOnlyMessage; }

  RowKey update(const RowKey&, const std::vector<std::pair<int, Value>>&) override { readOnly(); }
  RowKey insert(const std::vector<std::pair<int, Value>>&) override { readOnly(); }
  void remove(const RowKey&) override { readOnly(); }

 private:
  // Reading on past this many rows costs about as much as starting anew.
  static constexpr int64_t kSkipByReading = 2000;

  std::string file_;
  std::string table_;
  std::vector<FieldInfo> fields_;
  int64_t count_ = -1;
  std::unique_ptr<ReaderProcess> reader_;
  int64_t pos_ = 0;       // the row the reader delivers next
  int64_t endSeen_ = -1;  // rows in the table, once a reader reached the end
};

class AccessBackend : public Backend {
 public:
  explicit AccessBackend(std::string file) : file_(std::move(file)) {}

  // Jet quotes names in brackets; a name cannot contain "]".
  std::string quoteName(const std::string& name) const override { return "[" + name + "]"; }

  std::vector<std::string> tableNames() override {
    ReaderProcess reader("tables", file_);
    std::vector<std::string> names;
    for (uint8_t tag; (tag = reader.next()) != mdbwire::kEnd;) {
      if (tag != mdbwire::kTable) reader.broken("读取程序的输出不符合约定");
      names.push_back(reader.text());
    }
    reader.finish();
    tables_ = names;
    return names;
  }

  std::vector<FieldInfo> tableFields(const std::string& table) override {
    ReaderProcess reader("fields", file_, {table});
    reader.expect(mdbwire::kFields);
    std::vector<FieldInfo> fields = reader.fields();
    reader.expect(mdbwire::kEnd);
    return fields;
  }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    if (!onlyReads(sql)) readOnly();
    Select sel = parseSelect(sql, tables_);
    auto reader = std::make_unique<ReaderProcess>("rows", file_, std::vector<std::string>{sel.table});
    reader->expect(mdbwire::kFields);
    std::vector<FieldInfo> fields = reader->fields();
    std::unique_ptr<AccessFilter> filter;
    if (!sel.condition.empty()) filter = std::make_unique<AccessFilter>(sel.condition, fields);
    return std::make_unique<AccessCursor>(std::move(reader), std::move(fields), std::move(filter));
  }

  void execute(const std::string& sql) override {
    if (!onlyReads(sql)) readOnly();
    query(sql);
  }

  std::unique_ptr<Statement> prepare(const std::string& sql) override;

  // The copy is made at the first row, so a transaction without rows
  // costs nothing.
  void begin() override { inTransaction_ = true; }
  void commit() override {
    inTransaction_ = false;
    std::unique_ptr<AccessWriteSession> s = std::move(session_);
    if (s) s->commit();
  }
  void rollback() override {
    inTransaction_ = false;
    std::unique_ptr<AccessWriteSession> s = std::move(session_);
    if (s) s->rollback();
  }

  AccessWriteSession& session() {
    if (!session_) {
      session_ = std::make_unique<AccessWriteSession>(file_);
      ++sessions_;
    }
    return *session_;
  }
  // Counts sessions, so a statement knows when its table writer is gone.
  uint64_t sessionNumber() const { return sessions_; }
  bool inTransaction() const { return inTransaction_; }

  // Only the values: keys and relationships depend on the rows written
  // before, which a dry run does not write.
  std::unique_ptr<RowCheck> rowCheck(const RowWrite& w) override {
    if (w.mode != WriteMode::Append) return nullptr;
    return std::make_unique<AccessRowCheck>(file_, w);
  }

  std::unique_ptr<TableBrowser> browse(const std::string& sql) override {
    if (!onlyReads(sql)) return nullptr;
    Select sel = parseSelect(sql, tables_);
    if (!sel.condition.empty()) return nullptr;
    return std::make_unique<AccessBrowser>(file_, sel.table, tableFields(sel.table));
  }

 private:
  std::string file_;
  std::vector<std::string> tables_;  // as last listed, to read bare names
  bool inTransaction_ = false;
  std::unique_ptr<AccessWriteSession> session_;
  uint64_t sessions_ = 0;
};

// One row per run of the migration's insert. The columns are resolved
// against the table's definition at the first run.
class AccessInsert : public Statement {
 public:
  AccessInsert(AccessBackend& backend, Insert insert)
      : backend_(backend), insert_(std::move(insert)) {}

  int parameterCount() const override { return static_cast<int>(insert_.columns.size()); }

  // Refused rows are refused before any of their bytes is written, so
  // skipping them needs no undo.
  bool setRunPolicy(const RunPolicy& policy) override {
    if (policy.requireChange) return false;
    policy_ = policy;
    return true;
  }
  std::vector<RefusedRun> takeRefused() override { return std::move(refused_); }

  void execute(const std::vector<Value>& params) override {
    const bool own = !backend_.inTransaction();
    try {
      // The session lives until the commit; a new one brings a new writer.
      AccessWriteSession& session = backend_.session();
      if (backend_.sessionNumber() != session_) {
        table_ = &session.table(insert_.table);
        session_ = backend_.sessionNumber();
      }
      access::TableWriter& table = *table_;
      if (positions_.empty()) positions_ = columnPositions(table.def(), insert_.table, insert_.columns);
      if (params.size() != positions_.size())
        throw Error("插入语句的参数个数与字段个数不符");
      values_.assign(table.def().columns.size(), nullptr);
      for (size_t i = 0; i < positions_.size(); ++i) values_[positions_[i]] = &params[i];
      try {
        table.append(values_);
      } catch (const access::RowRefused& e) {
        if (!policy_.skipRefused) throw;
        refused_.push_back(RefusedRun{runs_++, e.what()});
        if (own) backend_.commit();
        return;
      } catch (const access::FormatError& e) {
        // Part of the row may be on its pages: the copy is lost.
        backend_.session().markBroken(std::string("写入时发现文件结构有问题：") + e.what());
        throw;
      }
      ++done_;
      ++runs_;
      if (own) backend_.commit();
    } catch (const Error& e) {
      if (own) backend_.rollback();
      throw StatementError(e.what(), done_);
    }
  }

 private:
  AccessBackend& backend_;
  Insert insert_;
  uint64_t session_ = 0;  // the backend's session table_ belongs to
  access::TableWriter* table_ = nullptr;
  std::vector<size_t> positions_;  // in the table's columns, by parameter
  std::vector<const Value*> values_;
  int64_t done_ = 0;  // runs that wrote their row
  int64_t runs_ = 0;  // every run, refused ones too
  RunPolicy policy_;
  std::vector<RefusedRun> refused_;
};

std::unique_ptr<Statement> AccessBackend::prepare(const std::string& sql) {
  if (!startsWithInsert(sql)) readOnly();
  Insert insert;
  if (!parseInsert(sql, &insert))
    throw Error("Access 文件只能这样追加行：insert into 表名(字段, …) values(?, …)；无法执行“" + echo(sql) + "”");
  return std::make_unique<AccessInsert>(*this, std::move(insert));
}

}  // namespace

std::unique_ptr<Backend> openAccessBackend(const std::string& path) {
  auto backend = std::make_unique<AccessBackend>(path);
  backend->tableNames();  // a file that cannot be read fails here, at open
  return backend;
}

}  // namespace vov
