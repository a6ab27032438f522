#include "tests/access_write/write_support.h"

#include <gtest/gtest.h>

#include "data/access/access_backend.h"
#include "data/access/format/checker.h"
#include "data/connection_string.h"
#include "data/engine.h"
#include "data/error.h"
#include "tests/support/test_support.h"

namespace vov::test {

std::string appendRows(const std::string& file, const std::string& table,
                       const std::vector<std::string>& columns,
                       const std::vector<std::vector<Value>>& rows) {
  Connection conn("ADOConnection1new");
  conn.setConnectionString(buildConnectionString(file));
  std::string cols, marks;
  for (size_t i = 0; i < columns.size(); ++i) {
    cols += (i ? "," : "") + conn.quoteName(columns[i]);
    marks += (i ? "," : "") + std::string(":kh") + std::to_string(i);
  }
  Command insert("ADOCommand1", &conn);
  insert.setCommandText("insert into " + conn.quoteName(table) + "(" + cols + ") values(" + marks + ")");
  std::string error;
  conn.beginTransaction();
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) insert.parameters()[i].value = row[i];
    try {
      insert.execute();
    } catch (const Error& e) {
      error = e.what();
      break;
    }
  }
  conn.commit();
  return error;
}

int64_t storedCount(const std::string& file, const std::string& table) {
  return std::stoll(runCommand("LC_ALL=C.UTF-8 mdb-count " + shellQuote(file) + " " + shellQuote(table)));
}

std::string checkerProblems(const std::string& file) {
  access::PageFile f(file, false);
  std::string s;
  for (const std::string& p : access::checkFile(f).problems) s += p + "\n";
  return s;
}

std::vector<std::vector<std::string>> readerRows(const std::string& file, const std::string& table) {
  auto backend = openAccessBackend(file);
  std::vector<std::vector<std::string>> out;
  for (const auto& row : readAll(*backend, "select * from [" + table + "]")) {
    std::vector<std::string> r;
    for (const Value& v : row) r.push_back(v.isNull() ? "<null>" : v.toText());
    out.push_back(r);
  }
  return out;
}

}  // namespace vov::test
