// The interface every database engine backend implements (SQLite, Access,
// PostgreSQL). The component layer in engine.h is built on it; nothing
// above the data layer talks to a backend directly.
//
// Statements arrive in the backend's own SQL. Parameterised statements use
// "?" for each positional parameter (the component layer has already turned
// the program's ":name" markers into "?").
#ifndef VOVARIZE_DATA_BACKEND_H
#define VOVARIZE_DATA_BACKEND_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/field_type.h"
#include "data/value.h"

namespace vov {

// How the migration writes its rows: the plain insert; an update that finds
// the row by the table's primary key; or an insert that, when a row with the
// same key is there, updates that row instead.
enum class WriteMode { Append, Update, Upsert };

// How a statement treats runs that fail one by one.
struct RunPolicy {
  // A run the engine refuses for its values (a constraint, a value it cannot
  // convert or store) is undone alone and reported by takeRefused(); later
  // runs go on. A failure that is not about the row (the disk, the
  // connection, a transaction the engine ended itself) is raised as ever.
  bool skipRefused = false;
  // A run that changes no row fails, or is refused, with kNoRowToUpdate.
  bool requireChange = false;
};

// The refusal of an update whose key finds no row.
extern const char kNoRowToUpdate[];

struct RefusedRun {
  int64_t run;          // from 0, counting every execute() of the statement
  std::string message;  // the engine's own words
};

// Rows of one query, read forward and never held whole.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<FieldInfo>& fields() const = 0;
  // Reads the next row into `row` (one value per field); false at the end.
  virtual bool next(std::vector<Value>& row) = 0;
};

// A prepared statement with positional parameters.
class Statement {
 public:
  virtual ~Statement() = default;
  virtual int parameterCount() const = 0;
  // Runs the statement once. A failure is raised as a StatementError that
  // says how many runs of this statement succeeded before the failing one.
  // A backend may keep runs in flight inside a transaction; the failure of
  // an earlier run then surfaces from a later execute() or from finish(),
  // and a commit after it keeps exactly the runs that succeeded.
  virtual void execute(const std::vector<Value>& params) = 0;
  // Waits until every run is done.
  virtual void finish() {}

  // Set before the first run; false when this engine cannot work that way.
  virtual bool setRunPolicy(const RunPolicy& policy) {
    return !policy.skipRefused && !policy.requireChange;
  }
  // Runs refused since the last call, oldest first, each already undone.
  virtual std::vector<RefusedRun> takeRefused() { return {}; }
  // Runs handed to execute() whose outcome is not known yet; a refusal
  // among them is reported once they are.
  virtual int64_t runsInFlight() const { return 0; }
};

// What a dry run learns of one row without writing it.
class RowCheck {
 public:
  virtual ~RowCheck() = default;
  // Empty when the engine would take the row as far as it can tell without
  // writing; otherwise the refusal in the engine's words (kNoRowToUpdate for
  // an update whose key finds no row). `row` holds one value per column.
  virtual std::string check(const std::vector<Value>& row) = 0;
};

// One row written into `table`: `columns` take one value each, `key` holds
// the positions in `columns` of the table's primary key (update, upsert).
struct RowWrite {
  WriteMode mode = WriteMode::Append;
  std::string table;
  std::vector<std::string> columns;
  std::vector<size_t> key;
};

// Identifies one row of a table for editing: the rowid for SQLite, the
// primary key values for PostgreSQL.
using RowKey = std::vector<Value>;

struct BrowseRow {
  RowKey key;
  std::vector<Value> values;
};

// Random access to the rows of one whole table, for the data grid: rows are
// read in windows as the user scrolls, and can be changed in place.
class TableBrowser {
 public:
  virtual ~TableBrowser() = default;
  virtual const std::vector<FieldInfo>& fields() const = 0;
  virtual int64_t rowCount() = 0;
  // Appends to `out` up to `count` rows starting at row `first` (from 0),
  // in the table's order.
  virtual void fetch(int64_t first, int count, std::vector<BrowseRow>& out) = 0;
  // Empty when rows can be changed; otherwise why not, for the user.
  virtual std::string readOnlyReason() const = 0;
  // Each change is (field position, new value). They return the row's key
  // afterwards, which an update of a key column may change.
  virtual RowKey update(const RowKey& key,
                        const std::vector<std::pair<int, Value>>& changes) = 0;
  virtual RowKey insert(const std::vector<std::pair<int, Value>>& values) = 0;
  virtual void remove(const RowKey& key) = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // `name` quoted as this engine needs it in a statement.
  virtual std::string quoteName(const std::string& name) const = 0;

  // User tables and views in catalogue order, without system tables.
  virtual std::vector<std::string> tableNames() = 0;
  // The table's columns in their order.
  virtual std::vector<FieldInfo> tableFields(const std::string& table) = 0;

  virtual std::unique_ptr<Cursor> query(const std::string& sql) = 0;
  // The same for rows that are only to be read (the old rows of a migration
  // or an export): an engine that can keep the statement from writing (a
  // read-only transaction, a read-only statement check) does, and refuses
  // one that would write.
  virtual std::unique_ptr<Cursor> readQuery(const std::string& sql) { return query(sql); }
  // Runs a statement without parameters and drops any result.
  virtual void execute(const std::string& sql) = 0;
  virtual std::unique_ptr<Statement> prepare(const std::string& sql) = 0;

  // False for a mode this engine cannot write rows in.
  virtual bool supportsWriteMode(WriteMode mode) const { return mode == WriteMode::Append; }
  // The columns of the table's primary key in key order; empty without one.
  virtual std::vector<std::string> primaryKey(const std::string& table) {
    (void)table;
    return {};
  }
  // The statement for one row of `w` (update or upsert), `markers[i]` the
  // parameter marker of `w.columns[i]`. This one is the update and the
  // "on conflict (...) do update" upsert of standard SQL.
  virtual std::string keyedWriteStatement(const RowWrite& w,
                                          const std::vector<std::string>& markers) const;
  // Checks rows for `w` as far as the engine can tell without writing;
  // nullptr when it can tell nothing.
  virtual std::unique_ptr<RowCheck> rowCheck(const RowWrite& w) {
    (void)w;
    return nullptr;
  }

  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  // Empty when a rollback undoes the rows written into `table`; otherwise
  // what the user must know before writing (a table of an engine without
  // transactions keeps every row written, also after an error).
  virtual std::string transactionCaveat(const std::string& table) {
    (void)table;
    return std::string();
  }
  // Whether the transaction begin() started still stands. An engine may end
  // it on its own after a grave error (a full disk, an I/O error, no memory,
  // a lost connection), and with it every change made in it.
  virtual bool inTransaction() { return true; }

  // A browser when `sql` reads one whole table ("select * from <table>",
  // the name bare or quoted, an optional ";"), else nullptr.
  virtual std::unique_ptr<TableBrowser> browse(const std::string& sql) {
    (void)sql;
    return nullptr;
  }
};

// Opens the backend for a connection string (see connection_string.h).
// Raises vov::Error with a message for the user when it cannot.
std::unique_ptr<Backend> openBackend(const std::string& connectionString);

}  // namespace vov

#endif
