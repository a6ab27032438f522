// A fresh database on the MariaDB test server with a connection to it, for
// the MySQL/MariaDB backend's tests.
#ifndef VOVARIZE_TESTS_MARIADB_MARIA_FIXTURE_H
#define VOVARIZE_TESTS_MARIADB_MARIA_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "data/backend.h"
#include "data/engine.h"
#include "tests/support/mariadb_test_server.h"

namespace vov::test {

class MariaTest : public ::testing::Test {
 protected:
  MariaTest() { conn.setConnectionString(db.address()); }

  Backend& backend() { return conn.backend(); }

  // Every row of a query through the backend.
  std::vector<std::vector<Value>> readAll(const std::string& sql) {
    std::vector<std::vector<Value>> rows;
    std::unique_ptr<Cursor> cur = backend().query(sql);
    std::vector<Value> row;
    while (cur->next(row)) rows.push_back(row);
    return rows;
  }

  int64_t count(const std::string& table) {
    return std::stoll(db.rows("SELECT COUNT(*) FROM " + table)[0][0]);
  }

  MariaDatabase db;
  Connection conn{"ADOConnection1new"};
};

inline Value text(const std::string& s) { return Value::fromText(s); }
inline Value integer(int64_t i) { return Value::fromInt(i); }

}  // namespace vov::test

#endif
