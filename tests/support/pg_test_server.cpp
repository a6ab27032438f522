#include "tests/support/pg_test_server.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>

namespace vov::test {

std::string testServerAddress() {
  std::ifstream in(VOV_PG_ADDRESS_FILE);
  std::string address;
  if (!std::getline(in, address) || address.empty())
    throw std::runtime_error(
        "no PostgreSQL test server: run the tests through ctest, whose pg_server fixture "
        "starts it (" VOV_PG_ADDRESS_FILE " is missing)");
  return address;
}

std::vector<std::vector<std::string>> runSql(const std::string& address, const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  PGconn* c = PQconnectdb(address.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    ADD_FAILURE() << "cannot connect to the PostgreSQL server of the test: " << PQerrorMessage(c);
    PQfinish(c);
    return rows;
  }
  PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
  PGresult* r = PQexec(c, sql.c_str());
  ExecStatusType st = PQresultStatus(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    ADD_FAILURE() << sql << ": " << PQresultErrorMessage(r);
  } else {
    for (int i = 0; i < PQntuples(r); ++i) {
      std::vector<std::string> row;
      for (int j = 0; j < PQnfields(r); ++j)
        row.push_back(PQgetisnull(r, i, j) ? "<null>" : PQgetvalue(r, i, j));
      rows.push_back(std::move(row));
    }
  }
  PQclear(r);
  PQfinish(c);
  return rows;
}

PgDatabase::PgDatabase() {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  name_ = "vt_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" +
          std::to_string(now % 1000000);
  const std::string server = testServerAddress();
  const std::string marker = "/postgres?";
  const size_t at = server.find(marker);
  if (at == std::string::npos) throw std::runtime_error("unexpected test server address");
  address_ = server.substr(0, at) + "/" + name_ + "?" + server.substr(at + marker.size());
  runSql(server, "create database " + name_);
}

PgDatabase::~PgDatabase() { runSql(testServerAddress(), "drop database if exists " + name_ + " with (force)"); }

void PgDatabase::exec(const std::string& sql) const { runSql(address_, sql); }

std::vector<std::vector<std::string>> PgDatabase::rows(const std::string& sql) const {
  return runSql(address_, sql);
}

}  // namespace vov::test
