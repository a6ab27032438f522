// The table migration engine. One parameterised insert (or update, or
// upsert, by the new table's primary key) per old row, all of one migration
// in a single transaction on the new connection; a failure at row k commits
// rows 1..k-1 and nothing else. With rows set aside, each refused row is
// undone alone and the others go on.
#include "migration/migrate_table.h"

#include <deque>
#include <exception>
#include <filesystem>
#include <memory>

#include "data/connection_string.h"
#include "data/data_module.h"
#include "data/error.h"
#include "data/error_context.h"
#include "data/text_util.h"
#include "mapping/default_value.h"
#include "mapping/mapping_line.h"

namespace vov {

namespace {

// How one mapping line finds its value for every row. The field set of the
// old rows does not change while they are read, so this is worked out once.
struct Binding {
  const Field* source = nullptr;  // null for a default-value line
  Value constant;                 // the default value, a number into a number field
  size_t cutAt = 0;               // cut text longer than this many characters; 0: never
};

// Where the migration stood when an engine failed, for the message.
enum class Step { Other, OpenOld, ReadOld, ReadNewFields, Begin, Insert, Commit, Check };

void placeFailure(Error& e, Step step, int64_t row, const std::string& keys,
                  const Connection& oldDb, const Connection& newDb) {
  const std::string k = std::to_string(row);
  switch (step) {
    case Step::Other:
      return;
    case Step::OpenOld:
      return placeEngineError(e, Side::Old, oldDb.connectionString(), "从", "读取老表的行时");
    case Step::ReadOld:
      return placeEngineError(e, Side::Old, oldDb.connectionString(), "从", "读取第 " + k + " 行时");
    case Step::ReadNewFields:
      return placeEngineError(e, Side::New, newDb.connectionString(), "从", "读取新表的字段时");
    case Step::Begin:
      return placeEngineError(e, Side::New, newDb.connectionString(), "在", "开始事务时");
    case Step::Insert:
      return placeEngineError(e, Side::New, newDb.connectionString(), "向",
                              "写入第 " + k + " 行" + (keys.empty() ? "" : "（" + keys + "）") + "时");
    case Step::Commit:
      return placeEngineError(e, Side::New, newDb.connectionString(), "向", "提交时");
    case Step::Check:
      return placeEngineError(e, Side::New, newDb.connectionString(), "在",
                              row ? "中检查第 " + k + " 行时" : std::string("中准备试运行时"));
  }
}

std::string insertStatement(Connection& c, const std::string& table,
                            const std::vector<std::string>& newFields) {
  std::string columns, markers;
  for (size_t i = 0; i < newFields.size(); ++i) {
    if (i) {
      columns += ',';
      markers += ',';
    }
    columns += c.quoteName(newFields[i]);
    markers += ":kh" + std::to_string(i);
  }
  return "insert into " + c.quoteName(table) + "(" + columns + ") values(" + markers + ")";
}

// The destination fields as the new table declares them, in line order.
// Raises "ADODataSettmpnew: Field '<f>' not found" for a missing one.
std::vector<FieldInfo> destinationFields(TDataModule2& dm, const std::string& table,
                                         const std::vector<std::string>& newFields) {
  DataSet& ds = dm.ADODataSettmpnew;
  ds.close();
  ds.setCommandText("select * from " + ds.connection()->quoteName(table) + ";");
  try {
    ds.open();
  } catch (Error& e) {
    placeFailure(e, Step::ReadNewFields, 0, std::string(), dm.ADOConnection2old,
                 dm.ADOConnection1new);
    throw;
  }
  std::vector<FieldInfo> infos;
  try {
    for (const std::string& f : newFields) infos.push_back(ds.fieldByName(f).info());
  } catch (...) {
    ds.close();
    throw;
  }
  ds.close();
  return infos;
}

// A text value is cut only into a text field of declared length, and only
// when it comes from a text field: numbers, dates and the like are handed to
// the engine whole, to convert or to refuse.
size_t cutLength(const FieldInfo& source, const FieldInfo& destination) {
  bool destinationHasLength = isTextType(destination.type) && destination.size > 0;
  if (!destinationHasLength || !isTextType(source.type)) return 0;
  return static_cast<size_t>(destination.size);
}

std::vector<Binding> resolveBindings(const DataSet& rows,
                                     const std::vector<std::string>& lines,
                                     const std::vector<FieldInfo>& destination) {
  std::vector<Binding> bindings(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    Binding& b = bindings[i];
    std::string oldField = parseMappingLine(lines[i], kOldField);
    if (oldField.empty()) {
      b.constant = defaultValueFor(parseMappingLine(lines[i], kLeftSide), destination[i].type);
      continue;
    }
    b.source = &rows.fieldByName(oldField);
    if (!b.source->info().unreadable.empty())
      throw Error("旧表字段“" + echo(oldField) + "”是 " + b.source->info().unreadable +
                  "，本程序无法读取它的值，不能迁移");
    b.cutAt = cutLength(b.source->info(), destination[i]);
  }
  return bindings;
}

// Bytes of the first `n` characters of UTF-8 text; npos when it has no more
// than `n` characters.
size_t cutPoint(const std::string& s, size_t n) {
  // A text no longer in bytes than the limit cannot be longer in characters.
  if (s.size() <= n) return std::string::npos;
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && chars++ == n) return i;
  return std::string::npos;
}

// True when the value was cut.
bool bind(const Binding& b, Value& param) {
  if (!b.source) {
    param = b.constant;
    return false;
  }
  const Value& v = b.source->value();
  if (b.cutAt && v.kind() == Value::Kind::Text) {
    size_t cut = cutPoint(v.str(), b.cutAt);
    if (cut != std::string::npos) {
      param.setText(v.str().data(), cut);
      return true;
    }
  }
  param = v;
  return false;
}

// Both connections on one SQLite file: while the old rows are read, the
// reader's lock keeps the writer from spilling pages into the file, and each
// attempt would sit out the busy time-out. The new rows then stay in memory
// until the commit, which comes after the reader has finished.
class SameFileGuard {
 public:
  SameFileGuard(Connection& oldDb, Connection& newDb) {
    const std::string oldFile = dataSourceOf(oldDb.connectionString());
    const std::string newFile = dataSourceOf(newDb.connectionString());
    std::error_code ec;
    if (detectEngine(newFile) != EngineKind::Sqlite ||
        !std::filesystem::equivalent(oldFile, newFile, ec))
      return;
    newDb.execute("PRAGMA cache_spill=OFF");
    db_ = &newDb;
  }
  ~SameFileGuard() {
    if (!db_) return;
    try {
      db_->execute("PRAGMA cache_spill=ON");
    } catch (const std::exception&) {
      // Only the memory use of later transactions depends on it.
    }
  }
  SameFileGuard(const SameFileGuard&) = delete;
  SameFileGuard& operator=(const SameFileGuard&) = delete;

 private:
  Connection* db_ = nullptr;
};

constexpr char kNothingKept[] = "本次迁移的行均未写入新表";

// None of the migration's rows stay: they go back, the counter goes to 0.
// A table that cannot undo its rows (`rowsStay`) keeps them and the count.
void undo(Connection& db, const MigrationRequest& request, int32_t counter,
          MigrationCounts& counts, bool rowsStay) {
  try {
    // A failed commit has already cleared the connection's own mark, and
    // the engine may still hold the transaction open.
    if (db.inTransaction()) db.rollback();
    else db.backend().rollback();
  } catch (const std::exception&) {
    // The engine ends a transaction it could not commit on its own.
  }
  if (rowsStay) return;
  counts.written = 0;
  counts.inserted = 0;
  counts.updated = 0;
  if (request.progress && counter != 0) request.progress(0);
}

// The statement that writes one row, its parameters' lines and the key.
struct WritePlan {
  RowWrite write;
  std::string text;
  std::vector<size_t> lineOf;    // the mapping line of each parameter
  std::vector<bool> countsCut;   // the first parameter of its line
};

const char* modeName(WriteMode mode) {
  switch (mode) {
    case WriteMode::Append: return "append";
    case WriteMode::Update: return "update";
    case WriteMode::Upsert: return "upsert";
  }
  return "";
}

WritePlan planWrite(Connection& newDb, WriteMode mode, const std::string& table,
                    const std::vector<std::string>& newFields) {
  WritePlan plan;
  plan.write.mode = mode;
  plan.write.table = table;
  plan.write.columns = newFields;
  if (mode == WriteMode::Append) {
    plan.text = insertStatement(newDb, table, newFields);
    return plan;
  }
  Backend& b = newDb.backend();
  const std::string how = std::string("按主键") + (mode == WriteMode::Update ? "更新" : "插入或更新") +
                          "（" + modeName(mode) + "）";
  if (!b.supportsWriteMode(mode)) throw Error("新数据库不支持" + how + "，只能追加行（append）");
  std::vector<std::string> key = b.primaryKey(table);
  if (key.empty()) throw Error("新表“" + echo(table) + "”没有主键，无法" + how);
  for (const std::string& k : key) {
    size_t found = newFields.size();
    for (size_t i = 0; i < newFields.size() && found == newFields.size(); ++i)
      if (newFields[i] == k) found = i;
    for (size_t i = 0; i < newFields.size() && found == newFields.size(); ++i)
      if (equalsIgnoreCase(newFields[i], k)) found = i;
    if (found == newFields.size())
      throw Error("新表“" + echo(table) + "”的主键字段“" + echo(k) + "”不在对应的字段中，无法" + how);
    plan.write.key.push_back(found);
  }
  std::vector<std::string> markers;
  for (size_t i = 0; i < newFields.size(); ++i) markers.push_back(":kh" + std::to_string(i));
  plan.text = b.keyedWriteStatement(plan.write, markers);
  return plan;
}

// Each parameter of the command names its line by its marker, ":kh<i>".
void mapParameters(const Command& command, size_t lines, WritePlan& plan) {
  const std::vector<Parameter>& params = command.parameters();
  std::vector<bool> used(lines, false);
  for (const Parameter& p : params) {
    size_t line = lines;
    if (p.name.compare(0, 2, "kh") == 0 && p.name.size() > 2 &&
        p.name.find_first_not_of("0123456789", 2) == std::string::npos && p.name.size() < 12)
      line = std::stoul(p.name.substr(2));
    if (line >= lines) {
      line = lines;
      break;
    }
    plan.lineOf.push_back(line);
    plan.countsCut.push_back(!used[line]);
    used[line] = true;
  }
  bool all = plan.lineOf.size() == params.size();
  for (bool u : used) all = all && u;
  if (!all || (plan.write.mode == WriteMode::Append && params.size() != lines))
    throw Error("插入语句“" + echo(command.commandText()) + "”的参数个数与映射行数不符");
}

// The values bound for the row in hand to the given lines, for the user to
// find the row by: "编号 = 3，年份 = 2001".
std::string valuesText(const std::vector<size_t>& lines, const WritePlan& plan,
                       const std::vector<Parameter>& params) {
  std::string s;
  for (size_t k : lines)
    for (size_t p = 0; p < params.size(); ++p)
      if (plan.lineOf[p] == k) {
        s += (s.empty() ? "" : "，") + echo(plan.write.columns[k]) + " = " +
             echo(params[p].value.isNull() ? "NULL" : params[p].value.toText());
        break;
      }
  return s;
}

std::string keyText(const WritePlan& plan, const std::vector<Parameter>& params) {
  return valuesText(plan.write.key, plan, params);
}

// The values of a key the engine reports violated: as the engine gives
// them, or as bound for the row in hand when it names only the columns
// ("t.id", with the table in front, as SQLite does).
std::string violatedKeyText(const StatementError& e, bool rowInHand, const WritePlan& plan,
                            const std::vector<Parameter>& params) {
  if (!e.keyValues.empty()) return echo(e.keyValues);
  if (!rowInHand) return std::string();
  auto names = [](const std::string& column, const std::string& field) {
    if (column.size() > field.size() && column[column.size() - field.size() - 1] == '.')
      return equalsIgnoreCase(column.substr(column.size() - field.size()), field);
    return equalsIgnoreCase(column, field);
  };
  std::vector<size_t> lines;
  for (const std::string& column : e.keyColumns)
    for (size_t i = 0; i < plan.write.columns.size(); ++i)
      if (names(column, plan.write.columns[i])) {
        lines.push_back(i);
        break;
      }
  return valuesText(lines, plan, params);
}

std::string refusalText(const std::string& message, const WritePlan& plan,
                        const std::vector<Parameter>& params) {
  if (message != kNoRowToUpdate) return message;
  return message + "（" + keyText(plan, params) + "）";
}

int64_t rowCount(Connection& db, const std::string& table) {
  std::unique_ptr<Cursor> c = db.backend().query("select count(*) from " + db.quoteName(table));
  std::vector<Value> row;
  if (!c->next(row) || row.empty()) throw Error("无法读出新表的行数");
  const Value& v = row[0];
  return v.kind() == Value::Kind::Int ? v.asInt() : std::stoll(v.toText());
}

// What became of each run: refused rows reported with their old values, and
// the values cut counted for the rows the new table took. A backend may
// settle runs late; their rows are kept until it has.
class RunLedger {
 public:
  RunLedger(const MigrationRequest& request, const DataSet& rows, MigrationCounts& counts)
      : request_(request), rows_(rows), counts_(counts) {}

  // A row that could not be set aside (its reject file failed) is not
  // counted as such: the failure stops the migration at it.
  void report(int64_t row, const std::string& message, const std::vector<Value>& values) {
    if (request_.rejected) request_.rejected(RejectedRow{row, message, rows_.fieldInfos(), values});
    ++counts_.rejected;
  }

  // The current old row's values.
  const std::vector<Value>& current() {
    current_.resize(static_cast<size_t>(rows_.fieldCount()));
    for (int i = 0; i < rows_.fieldCount(); ++i) current_[static_cast<size_t>(i)] = rows_.field(i).value();
    return current_;
  }

  // After the run of old row `row` (the current one; 0 after the last,
  // when only earlier runs may still settle) with `cuts` values cut.
  void ran(Command& command, int64_t row, int64_t cuts, const WritePlan& plan) {
    bool currentRefused = false;
    for (const RefusedRun& r : command.takeRefused()) {
      const int64_t refused = r.run + 1;
      if (refused == row) {
        currentRefused = true;
        report(refused, refusalText(r.message, plan, command.parameters()), current());
        continue;
      }
      for (const Pending& p : pending_)
        if (p.row == refused) {
          counts_.cut -= p.cuts;
          report(refused, r.message, p.values);
        }
    }
    if (row == 0) return;
    if (!currentRefused) counts_.cut += cuts;
    const int64_t inFlight = command.runsInFlight();
    if (inFlight > 0 && !currentRefused)
      pending_.push_back({row, cuts, request_.onRowError == OnRowError::Skip ? current() : std::vector<Value>()});
    while (static_cast<int64_t>(pending_.size()) > inFlight) pending_.pop_front();
  }

  // The run of old row `row` failed and the rows from it on are not in the
  // new table.
  void failedAt(int64_t row) {
    for (const Pending& p : pending_)
      if (p.row >= row) counts_.cut -= p.cuts;
    pending_.clear();
  }

 private:
  struct Pending {
    int64_t row;
    int64_t cuts;
    std::vector<Value> values;
  };
  const MigrationRequest& request_;
  const DataSet& rows_;
  MigrationCounts& counts_;
  std::vector<Value> current_;
  std::deque<Pending> pending_;
};

void splitWritten(MigrationCounts& c, WriteMode mode) {
  c.inserted = mode == WriteMode::Append ? c.written : mode == WriteMode::Update ? 0 : -1;
  c.updated = mode == WriteMode::Update ? c.written : mode == WriteMode::Append ? 0 : -1;
}

bool dryRun(TDataModule2& dm, const MigrationRequest& request, const WritePlan& plan,
            const std::vector<Binding>& bindings, MigrationCounts& counts) {
  DataSet& rows = dm.ADODataSetTmp;
  Command& insert = dm.ADOCommand1;
  Connection& oldDb = dm.ADOConnection2old;
  Connection& newDb = dm.ADOConnection1new;
  std::unique_ptr<RowCheck> check;
  try {
    // The engine checks the statement as it will run it, but never runs it.
    insert.prepare();
    check = newDb.backend().rowCheck(plan.write);
  } catch (Error& e) {
    placeFailure(e, Step::Check, 0, std::string(), oldDb, newDb);
    throw;
  }
  counts.checked = check != nullptr;
  RunLedger ledger(request, rows, counts);
  std::vector<Value> values(bindings.size());
  std::vector<Parameter>& params = insert.parameters();
  while (!rows.eof()) {
    int64_t cuts = 0;
    for (size_t i = 0; i < bindings.size(); ++i)
      if (bind(bindings[i], values[i])) ++cuts;
    ++counts.read;
    std::string refusal;
    try {
      if (check) refusal = check->check(values);
    } catch (Error& e) {
      placeFailure(e, Step::Check, counts.read, std::string(), oldDb, newDb);
      throw;
    }
    if (refusal.empty()) {
      ++counts.written;
      counts.cut += cuts;
    } else {
      for (size_t p = 0; p < params.size(); ++p) params[p].value = values[plan.lineOf[p]];
      ledger.report(counts.read, refusalText(refusal, plan, params), ledger.current());
    }
    splitWritten(counts, plan.write.mode);
    if (request.progress) request.progress(static_cast<int32_t>(counts.read));
    try {
      rows.next();
    } catch (Error& e) {
      placeFailure(e, Step::ReadOld, counts.read + 1, std::string(), oldDb, newDb);
      throw;
    }
  }
  return true;
}

}  // namespace

bool migrateTable(TDataModule2& dm, const MigrationRequest& request) {
  const std::vector<std::string>& lines = request.lines;
  if (lines.empty()) return false;
  MigrationCounts ownCounts;
  MigrationCounts& counts = request.counts ? *request.counts : ownCounts;
  counts = MigrationCounts();

  DataSet& rows = dm.ADODataSetTmp;
  Connection& oldDb = dm.ADOConnection2old;
  Connection& newDb = dm.ADOConnection1new;
  Command& insert = dm.ADOCommand1;

  rows.close();
  rows.setConnection(&oldDb);
  rows.setReadOnly(true);
  const std::string oldTable = oldDb.quoteName(request.oldTable());
  if (request.filter == kDefaultFilterText)
    rows.setCommandText("select * from " + oldTable + ";");
  else
    rows.setCommandText("select * from " + oldTable + " " + request.filter + ";");
  try {
    rows.open();
  } catch (Error& e) {
    placeFailure(e, Step::OpenOld, 0, std::string(), oldDb, newDb);
    throw;
  }
  if (rows.eof()) return true;

  const std::string newTable = request.newTable();
  std::vector<std::string> newFields;
  newFields.reserve(lines.size());
  for (const std::string& l : lines) newFields.push_back(parseMappingLine(l, kNewField));
  std::vector<FieldInfo> destination = destinationFields(dm, newTable, newFields);
  WritePlan plan = planWrite(newDb, request.mode, newTable, newFields);
  insert.setConnection(&newDb);
  insert.setCommandText(plan.text);
  std::vector<Binding> bindings = resolveBindings(rows, lines, destination);
  mapParameters(insert, bindings.size(), plan);
  const bool skip = request.onRowError == OnRowError::Skip;
  insert.setRunPolicy(RunPolicy{skip, request.mode == WriteMode::Update});
  if (request.dryRun) return dryRun(dm, request, plan, bindings, counts);
  // A policy the engine cannot keep is refused before anything is written.
  insert.prepare();

  // Said before anything is written, and again with any error.
  const std::string caveat = newDb.backend().transactionCaveat(newTable);
  if (!caveat.empty() && request.confirmCaveat && !request.confirmCaveat(caveat)) throw Abort();

  SameFileGuard sameFile(oldDb, newDb);
  try {
    newDb.beginTransaction();
  } catch (Error& e) {
    placeFailure(e, Step::Begin, 0, std::string(), oldDb, newDb);
    throw;
  }
  // An upsert's rows are told apart by how much the table grew.
  int64_t rowsBefore = -1;
  int32_t counter = 0;
  Step step = Step::Other;
  RunLedger ledger(request, rows, counts);
  try {
    if (request.mode == WriteMode::Upsert) rowsBefore = rowCount(newDb, newTable);
    std::vector<Parameter>& params = insert.parameters();
    const size_t n = params.size();
    while (!rows.eof()) {
      int64_t cuts = 0;
      for (size_t p = 0; p < n; ++p)
        if (bind(bindings[plan.lineOf[p]], params[p].value) && plan.countsCut[p]) ++cuts;
      ++counts.read;
      step = Step::Insert;
      insert.execute();
      ledger.ran(insert, counts.read, cuts, plan);
      ++counter;
      step = Step::Other;
      if (request.progress) request.progress(counter);
      step = Step::ReadOld;
      rows.next();
    }
    step = Step::Insert;
    insert.finish();
    ledger.ran(insert, 0, 0, plan);
  } catch (...) {
    std::exception_ptr failure = std::current_exception();
    // Runs still in flight end first; an earlier failure among them is the
    // one that stopped the migration.
    if (step != Step::Insert) {
      try {
        insert.finish();
        ledger.ran(insert, 0, 0, plan);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    int64_t kept = counter - counts.rejected;
    try {
      std::rethrow_exception(failure);
    } catch (StatementError& e) {
      kept = e.runsDone();
      // The failing row is the last one that counts as read.
      const int64_t failing = kept + counts.rejected + 1;
      const bool inHand = failing == counts.read;
      if (e.message() == kNoRowToUpdate && inHand)
        e.reword(refusalText(e.message(), plan, insert.parameters()));
      placeFailure(e, Step::Insert, failing,
                   violatedKeyText(e, inHand, plan, insert.parameters()), oldDb, newDb);
      ledger.failedAt(failing);
      counts.read = failing;
    } catch (Error& e) {
      placeFailure(e, step, step == Step::ReadOld ? counts.read + 1 : counts.read, std::string(),
                   oldDb, newDb);
    } catch (...) {
    }
    counts.written = kept;
    splitWritten(counts, request.mode);
    if (rowsBefore >= 0 && newDb.backend().inTransaction()) {
      try {
        counts.inserted = rowCount(newDb, newTable) - rowsBefore;
        counts.updated = counts.written - counts.inserted;
      } catch (const std::exception&) {
        // The transaction may be gone; the split stays unknown.
      }
    }
    // The first error stays the one shown; what became of the rows goes in
    // front of it when they did not stay as usual.
    auto nothingKept = [&failure, &caveat](const std::string& why) {
      try {
        std::rethrow_exception(failure);
      } catch (Error& e) {
        // A table that cannot undo its rows keeps them whatever happens.
        e.reword(caveat.empty() ? kNothingKept + why + "：" + e.message() : e.message());
      } catch (...) {
        if (caveat.empty()) failure = std::make_exception_ptr(Error(kNothingKept + why));
      }
    };
    if (!caveat.empty()) {
      try {
        std::rethrow_exception(failure);
      } catch (Error& e) {
        e.reword(e.message() + "\n" + caveat);
      } catch (...) {
      }
    }
    // The reader of the old rows may hold the very file the commit must
    // write (the same SQLite file on both sides).
    rows.close();
    if (!newDb.backend().inTransaction()) {
      undo(newDb, request, counter, counts, !caveat.empty());
      nothingKept("（新数据库已自行撤销整个事务）");
      std::rethrow_exception(failure);
    }
    try {
      newDb.commit();
    } catch (const CommitUncertain& e) {
      // Whether the rows before it were saved cannot be known; its message
      // says so, in front of the first error.
      try {
        std::rethrow_exception(failure);
      } catch (Error& first) {
        first.reword(e.message() + "：" + first.message());
      } catch (...) {
        failure = std::make_exception_ptr(Error(e.message()));
      }
      std::rethrow_exception(failure);
    } catch (const Error& e) {
      undo(newDb, request, counter, counts, !caveat.empty());
      nothingKept("（提交此前的行时也出错：" + echo(e.message(), kEngineTextChars) + "）");
      std::rethrow_exception(failure);
    }
    const int64_t shown = kept + counts.rejected;
    if (request.progress && shown != counter) request.progress(static_cast<int32_t>(shown));
    std::rethrow_exception(failure);
  }
  counts.written = counts.read - counts.rejected;
  splitWritten(counts, request.mode);
  if (rowsBefore >= 0) {
    counts.inserted = rowCount(newDb, newTable) - rowsBefore;
    counts.updated = counts.written - counts.inserted;
  }
  try {
    newDb.commit();
  } catch (CommitUncertain& e) {
    // The rows may or may not be saved: its message says so.
    placeFailure(e, Step::Commit, 0, std::string(), oldDb, newDb);
    throw;
  } catch (Error& e) {
    placeFailure(e, Step::Commit, 0, std::string(), oldDb, newDb);
    undo(newDb, request, counter, counts, !caveat.empty());
    e.reword(caveat.empty() ? kNothingKept + std::string("：") + e.message()
                            : e.message() + "\n" + caveat);
    throw;
  }
  return true;
}

}  // namespace vov
