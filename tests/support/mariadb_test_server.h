// The throwaway MariaDB server of a test run. ctest starts it before any
// test declared with vov_add_test(... NEEDS_MARIADB) and stops it after the
// last one (tests/mariadb/mariadb_test_server.sh); a test never assumes a
// server it did not start this way.
#ifndef VOVARIZE_TESTS_SUPPORT_MARIADB_TEST_SERVER_H
#define VOVARIZE_TESTS_SUPPORT_MARIADB_TEST_SERVER_H

#include <string>
#include <vector>

namespace vov::test {

// The address of the server's "vov" database, password included. Throws
// when no test server runs (the test was not started by ctest).
std::string mariaServerAddress();

// The parts of a test server address.
std::string mariaPassword(const std::string& address);
std::string mariaSocket(const std::string& address);

// A fresh, empty utf8mb4 database on a test server, dropped with
// everything in it when the object goes. Each test takes its own, so tests
// run side by side.
class MariaDatabase {
 public:
  // On the run's server, or on the server of `serverAddress`.
  MariaDatabase();
  explicit MariaDatabase(const std::string& serverAddress);
  ~MariaDatabase();
  MariaDatabase(const MariaDatabase&) = delete;
  MariaDatabase& operator=(const MariaDatabase&) = delete;

  // mysql://... of this database, password included.
  const std::string& address() const { return address_; }
  const std::string& name() const { return name_; }

  // Runs SQL (several statements allowed) through the connector's own
  // text protocol, apart from the backend under test; a failure fails the
  // test.
  void exec(const std::string& sql) const;
  // Every row of a query, each value in the server's text form ("<null>"
  // for null).
  std::vector<std::vector<std::string>> rows(const std::string& sql) const;

 private:
  std::string server_;
  std::string name_;
  std::string address_;
};

// A MariaDB server of its own, for a test that stops or kills it. Started
// and stopped by the same script as the run's server.
class PrivateMariaServer {
 public:
  PrivateMariaServer();
  ~PrivateMariaServer();
  PrivateMariaServer(const PrivateMariaServer&) = delete;
  PrivateMariaServer& operator=(const PrivateMariaServer&) = delete;
  const std::string& address() const { return address_; }
  int pid() const { return pid_; }

 private:
  std::string state_;
  std::string address_;
  int pid_ = 0;
};

}  // namespace vov::test

#endif
