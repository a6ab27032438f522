// The table migration engine. One parameterised insert per old row, all of
// one migration in a single transaction on the new connection; a failure at
// row k commits rows 1..k-1 and nothing else.
#include "migration/migrate_table.h"

#include <exception>
#include <filesystem>

#include "data/connection_string.h"
#include "data/data_module.h"
#include "data/error.h"
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
  ds.open();
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

void bind(const Binding& b, Value& param) {
  if (!b.source) {
    param = b.constant;
    return;
  }
  const Value& v = b.source->value();
  if (b.cutAt && v.kind() == Value::Kind::Text) {
    size_t cut = cutPoint(v.str(), b.cutAt);
    if (cut != std::string::npos) {
      param.setText(v.str().data(), cut);
      return;
    }
  }
  param = v;
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

// Commits the rows inserted so far. When the engine refuses, none of them
// stay: the counter goes back to 0 and the error says so.
void commitOrUndo(Connection& db, const MigrationRequest& request, int32_t counter) {
  try {
    db.commit();
  } catch (const std::exception& e) {
    try {
      db.backend().rollback();
    } catch (const std::exception&) {
      // The engine ends a transaction it could not commit on its own.
    }
    if (request.progress && counter != 0) request.progress(0);
    throw Error(std::string("提交失败，本次迁移的行均未写入新表：") + e.what());
  }
}

}  // namespace

bool migrateTable(TDataModule2& dm, const MigrationRequest& request) {
  const std::vector<std::string>& lines = request.lines;
  if (lines.empty()) return false;

  DataSet& rows = dm.ADODataSetTmp;
  Connection& oldDb = dm.ADOConnection2old;
  Connection& newDb = dm.ADOConnection1new;
  Command& insert = dm.ADOCommand1;

  rows.close();
  rows.setConnection(&oldDb);
  const std::string oldTable = oldDb.quoteName(request.oldTable());
  if (request.filter == kDefaultFilterText)
    rows.setCommandText("select * from " + oldTable + ";");
  else
    rows.setCommandText("select * from " + oldTable + " " + request.filter + ";");
  rows.open();
  if (rows.eof()) return true;

  const std::string newTable = request.newTable();
  std::vector<std::string> newFields;
  newFields.reserve(lines.size());
  for (const std::string& l : lines) newFields.push_back(parseMappingLine(l, kNewField));
  std::vector<FieldInfo> destination = destinationFields(dm, newTable, newFields);
  insert.setConnection(&newDb);
  insert.setCommandText(insertStatement(newDb, newTable, newFields));
  std::vector<Binding> bindings = resolveBindings(rows, lines, destination);

  if (insert.parameters().size() != bindings.size())
    throw Error("插入语句“" + insert.commandText() + "”的参数个数与映射行数不符");

  SameFileGuard sameFile(oldDb, newDb);
  newDb.beginTransaction();
  int32_t counter = 0;
  bool finishing = false;
  try {
    std::vector<Parameter>& params = insert.parameters();
    while (!rows.eof()) {
      for (size_t i = 0; i < bindings.size(); ++i) bind(bindings[i], params[i].value);
      insert.execute();
      ++counter;
      if (request.progress) request.progress(counter);
      rows.next();
    }
    finishing = true;
    insert.finish();
  } catch (...) {
    std::exception_ptr failure = std::current_exception();
    // Runs still in flight end first; an earlier failure among them is the
    // one that stopped the migration.
    if (!finishing) {
      try {
        insert.finish();
      } catch (...) {
        failure = std::current_exception();
      }
    }
    int64_t kept = counter;
    try {
      std::rethrow_exception(failure);
    } catch (const StatementError& e) {
      kept = e.runsDone();
    } catch (...) {
    }
    // The reader of the old rows may hold the very file the commit must
    // write (the same SQLite file on both sides).
    rows.close();
    commitOrUndo(newDb, request, counter);
    if (request.progress && kept != counter) request.progress(static_cast<int32_t>(kept));
    std::rethrow_exception(failure);
  }
  commitOrUndo(newDb, request, counter);
  return true;
}

}  // namespace vov
