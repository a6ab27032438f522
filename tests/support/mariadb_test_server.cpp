#include "tests/support/mariadb_test_server.h"

#include <gtest/gtest.h>
#include <mysql.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>

#include "tests/support/test_support.h"

namespace vov::test {

namespace {

std::string firstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Runs SQL on the database of `address`; returns the rows of the last
// statement, or records a test failure.
std::vector<std::vector<std::string>> runOn(const std::string& address, const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  MYSQL* m = mysql_init(nullptr);
  mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  const size_t slash = address.find('/', address.rfind('@'));
  const std::string db = address.substr(slash + 1, address.find('?') - slash - 1);
  if (!mysql_real_connect(m, "localhost", "vov", mariaPassword(address).c_str(), db.c_str(), 0,
                          mariaSocket(address).c_str(), CLIENT_MULTI_STATEMENTS)) {
    ADD_FAILURE() << "cannot connect to the test server: " << mysql_error(m);
    mysql_close(m);
    return rows;
  }
  if (mysql_real_query(m, sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << sql << ": " << mysql_error(m);
    mysql_close(m);
    return rows;
  }
  for (;;) {
    if (MYSQL_RES* res = mysql_store_result(m)) {
      rows.clear();
      const unsigned n = mysql_num_fields(res);
      while (MYSQL_ROW row = mysql_fetch_row(res)) {
        unsigned long* len = mysql_fetch_lengths(res);
        std::vector<std::string> r;
        for (unsigned i = 0; i < n; ++i) r.push_back(row[i] ? std::string(row[i], len[i]) : "<null>");
        rows.push_back(std::move(r));
      }
      mysql_free_result(res);
    } else if (mysql_field_count(m) != 0) {
      ADD_FAILURE() << sql << ": " << mysql_error(m);
      break;
    }
    const int more = mysql_next_result(m);
    if (more > 0) ADD_FAILURE() << sql << ": " << mysql_error(m);
    if (more != 0) break;
  }
  mysql_close(m);
  return rows;
}

std::string uniqueName(const char* prefix) {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::string(prefix) + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" +
         std::to_string(now % 1000000);
}

// The address of another database on the same server.
std::string withDatabase(const std::string& address, const std::string& db) {
  const size_t slash = address.find('/', address.rfind('@'));
  return address.substr(0, slash + 1) + db + address.substr(address.find('?'));
}

}  // namespace

std::string mariaServerAddress() {
  std::string address = firstLine(VOV_MARIADB_ADDRESS_FILE);
  if (address.empty())
    throw std::runtime_error(
        "no MariaDB test server: run the tests through ctest, whose mariadb_server fixture "
        "starts it (" VOV_MARIADB_ADDRESS_FILE " is missing)");
  return address;
}

std::string mariaPassword(const std::string& address) {
  const size_t colon = address.find(':', address.find("://") + 3);
  return address.substr(colon + 1, address.rfind('@') - colon - 1);
}

std::string mariaSocket(const std::string& address) {
  return address.substr(address.find("socket=") + 7);
}

MariaDatabase::MariaDatabase() : MariaDatabase(mariaServerAddress()) {}

MariaDatabase::MariaDatabase(const std::string& serverAddress) : server_(serverAddress) {
  name_ = uniqueName("vt_");
  address_ = withDatabase(server_, name_);
  runOn(server_, "CREATE DATABASE " + name_ + " CHARACTER SET utf8mb4");
}

MariaDatabase::~MariaDatabase() { runOn(server_, "DROP DATABASE IF EXISTS " + name_); }

void MariaDatabase::exec(const std::string& sql) const { runOn(address_, sql); }

std::vector<std::vector<std::string>> MariaDatabase::rows(const std::string& sql) const {
  return runOn(address_, sql);
}

PrivateMariaServer::PrivateMariaServer() {
  static TempDir states;
  state_ = states.file(uniqueName("server_"));
  runCommand("bash " + shellQuote(VOV_MARIADB_SERVER_SCRIPT) + " start " + shellQuote(state_) +
             " " + std::to_string(getpid()) + " >/dev/null");
  address_ = firstLine(state_ + "/address");
  pid_ = std::stoi(firstLine(firstLine(state_ + "/dir") + "/mariadbd.pid"));
}

PrivateMariaServer::~PrivateMariaServer() {
  runCommand("bash " + shellQuote(VOV_MARIADB_SERVER_SCRIPT) + " stop " + shellQuote(state_));
}

}  // namespace vov::test
