// Helpers of the Access tests: the sample files, and what the mdbtools
// programs (mdb-tables, mdb-schema, mdb-export) say about them. Those
// programs read the files independently of this project and serve as the
// oracle.
#ifndef VOVARIZE_TESTS_ACCESS_ACCESS_SUPPORT_H
#define VOVARIZE_TESTS_ACCESS_ACCESS_SUPPORT_H

#include <optional>
#include <string>
#include <vector>

#include "data/backend.h"

namespace vov::test {

// Paths of every file in tests/testdata/access/.
std::vector<std::string> accessFiles();

// The rows mdb-export prints for a table: each value as printed (dates as
// "%Y-%m-%d %H:%M:%S", binary data in hexadecimal), null as nullopt.
using ExportRow = std::vector<std::optional<std::string>>;
std::vector<ExportRow> exportRows(const std::string& file, const std::string& table);

// Every row a query returns.
std::vector<std::vector<Value>> readAll(Backend& backend, const std::string& sql);

std::string hexUpper(const std::string& bytes);

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// True when this process has no child left, running or dead.
bool noChildProcesses();

}  // namespace vov::test

#endif
