// A fresh database on the test server with a connection to it, for the
// PostgreSQL backend's tests.
#ifndef VOVARIZE_TESTS_POSTGRES_PG_FIXTURE_H
#define VOVARIZE_TESTS_POSTGRES_PG_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "data/backend.h"
#include "data/engine.h"
#include "tests/support/pg_test_server.h"

namespace vov::test {

class PgTest : public ::testing::Test {
 protected:
  PgTest() { conn.setConnectionString(db.address()); }

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
    return std::stoll(db.rows("select count(*) from " + table)[0][0]);
  }

  PgDatabase db;
  Connection conn{"ADOConnection1new"};
};

inline Value text(const std::string& s) { return Value::fromText(s); }
inline Value integer(int64_t i) { return Value::fromInt(i); }

}  // namespace vov::test

#endif
