// The table migration engine: copies the rows of one old table into one new
// table according to mapping lines, one parameterised insert per old row
// (or an update or upsert by the new table's primary key).
#ifndef VOVARIZE_MIGRATION_MIGRATE_TABLE_H
#define VOVARIZE_MIGRATION_MIGRATE_TABLE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "data/backend.h"

namespace vov {

class TDataModule2;

// What becomes of a row the new database refuses: it stops the migration
// (the rows before it stay), or it is set aside and the others go on.
enum class OnRowError { Stop, Skip };

// A row set aside (skip), or one a dry run finds the new database would
// refuse.
struct RejectedRow {
  int64_t row;                             // old row number, from 1, in read order
  const std::string& message;              // the engine's words
  const std::vector<FieldInfo>& fields;    // the old rows' fields
  const std::vector<Value>& values;        // this old row's values
};

// Kept up to date while the migration runs, and right after it ends or
// fails.
struct MigrationCounts {
  int64_t read = 0;      // old rows read
  int64_t written = 0;   // rows the new table took (or would take, in a dry run)
  int64_t inserted = 0;  // of them inserted; -1 when it cannot be told
  int64_t updated = 0;   // of them updated; -1 when it cannot be told
  int64_t rejected = 0;
  int64_t cut = 0;       // values cut to their field's length
  // False when a dry run's engine could tell nothing of the rows.
  bool checked = true;
};

// The filter text the mapping window starts with; exactly this text means
// "no filter".
constexpr const char kDefaultFilterText[] = "where xxx=\"xxx\"";

struct MigrationRequest {
  // Read when the engine needs them (the old table when it opens the old
  // rows, the new table when it builds the insert), so that a missing
  // selection fails at that point with the list's index error.
  std::function<std::string()> oldTable;
  std::function<std::string()> newTable;
  std::vector<std::string> lines;  // mapping lines, in list order
  std::string filter;              // as typed, not trimmed
  // Called with the row counter after each row.
  std::function<void(int32_t)> progress;

  WriteMode mode = WriteMode::Append;
  OnRowError onRowError = OnRowError::Stop;
  // Reads and binds every old row and checks it against the new table as
  // far as its engine can tell without writing; nothing is written.
  bool dryRun = false;
  // Asked before the first row is written into a table that cannot undo
  // its rows (Backend::transactionCaveat says why); false stops the
  // migration there, silently. Unset: the migration goes on.
  std::function<bool(const std::string& caveat)> confirmCaveat;
  // Each row set aside or found refused, in row order.
  std::function<void(const RejectedRow&)> rejected;
  MigrationCounts* counts = nullptr;
};

// Returns false when there are no lines (nothing is touched), true when all
// selected old rows were copied (or checked). Errors are raised as
// exceptions; the rows written before the failing one stay in the new table.
bool migrateTable(TDataModule2& dm, const MigrationRequest& request);

}  // namespace vov

#endif
