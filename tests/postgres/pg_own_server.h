// A PostgreSQL server of a test's own, for tests that stop or kill it (the
// shared test server must keep running for the others). Started with the
// same script as the shared one, in a folder of its own; stopped, or what
// is left of it removed, when the object goes.
#ifndef VOVARIZE_TESTS_POSTGRES_PG_OWN_SERVER_H
#define VOVARIZE_TESTS_POSTGRES_PG_OWN_SERVER_H

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace vov::test {

class OwnPgServer {
 public:
  OwnPgServer();
  ~OwnPgServer();
  OwnPgServer(const OwnPgServer&) = delete;
  OwnPgServer& operator=(const OwnPgServer&) = delete;

  // postgresql://... of its "postgres" database, password included.
  const std::string& address() const { return address_; }
  // Runs SQL as the superuser and returns the rows ("<null>" for null); a
  // failure fails the test. Only while the server runs.
  std::vector<std::vector<std::string>> exec(const std::string& sql) const;
  // Sends `sig` to the server's main process and each of its children.
  void signalAll(int sig) const;

 private:
  TempDir dir_;
  std::string state_;
  std::string address_;
  std::string dataDir_;
};

}  // namespace vov::test

#endif
