// Helpers of the Access writing tests: appending rows through the engine
// components as the migration does, and reading a file back with every
// independent reader there is (mdb-export, mdb-count, the program's own
// reader, the format checker).
#ifndef VOVARIZE_TESTS_ACCESS_WRITE_WRITE_SUPPORT_H
#define VOVARIZE_TESTS_ACCESS_WRITE_WRITE_SUPPORT_H

#include <functional>
#include <string>
#include <vector>

#include "data/value.h"
#include "tests/access/access_support.h"

namespace vov::test {

// Runs "insert into [table](...) values(...)" once per row inside one
// transaction, commits, and returns the error message of the first row
// that failed ("" when none did). Rows before a failure are committed.
std::string appendRows(const std::string& file, const std::string& table,
                       const std::vector<std::string>& columns,
                       const std::vector<std::vector<Value>>& rows);

// mdb-count's answer (the stored row count).
int64_t storedCount(const std::string& file, const std::string& table);

// The checker's problems, joined ("" when none).
std::string checkerProblems(const std::string& file);

// Every row of the table as the program's own reader gives it, each value
// as Value::toText, null as "<null>".
std::vector<std::vector<std::string>> readerRows(const std::string& file, const std::string& table);

}  // namespace vov::test

#endif
