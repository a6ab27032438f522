// The throwaway PostgreSQL server of a test run. ctest starts it before any
// test declared with vov_add_test(... NEEDS_POSTGRES) and stops it after the
// last one (tests/postgres/pg_test_server.sh); a test never assumes a server
// it did not start this way.
#ifndef VOVARIZE_TESTS_SUPPORT_PG_TEST_SERVER_H
#define VOVARIZE_TESTS_SUPPORT_PG_TEST_SERVER_H

#include <string>
#include <vector>

namespace vov::test {

// The address of the server's "postgres" database, password included.
// Throws when no test server runs (the test was not started by ctest).
std::string testServerAddress();

// Runs SQL (several statements allowed) on `address` and returns the rows,
// each value in the server's text form ("<null>" for null); a failure fails
// the test.
std::vector<std::vector<std::string>> runSql(const std::string& address, const std::string& sql);

// A fresh, empty database on the test server, dropped with everything in it
// when the object goes. Each test takes its own, so tests run side by side.
class PgDatabase {
 public:
  PgDatabase();
  ~PgDatabase();
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;

  // postgresql://... of this database, password included.
  const std::string& address() const { return address_; }
  const std::string& name() const { return name_; }

  // Runs SQL (several statements allowed) as the server's superuser; a
  // failure fails the test.
  void exec(const std::string& sql) const;
  // Every row of a query, each value in the server's text form ("<null>"
  // for null).
  std::vector<std::vector<std::string>> rows(const std::string& sql) const;

 private:
  std::string name_;
  std::string address_;
};

}  // namespace vov::test

#endif
