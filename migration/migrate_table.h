// The table migration engine: copies the rows of one old table into one new
// table according to mapping lines, one parameterised insert per old row.
#ifndef VOVARIZE_MIGRATION_MIGRATE_TABLE_H
#define VOVARIZE_MIGRATION_MIGRATE_TABLE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vov {

class TDataModule2;

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
  // Called with the row counter after each inserted row.
  std::function<void(int32_t)> progress;
};

// Returns false when there are no lines (nothing is touched), true when all
// selected old rows were copied. Errors are raised as exceptions; the rows
// inserted before the failing one stay in the new table.
bool migrateTable(TDataModule2& dm, const MigrationRequest& request);

}  // namespace vov

#endif
