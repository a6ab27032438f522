// A PostgreSQL server that stops answering or dies, each test with a server
// of its own: no wait lasts for ever, Ctrl-C ends the batch command at once,
// and every message carries the real reason and what became of the rows.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "data/data_module.h"
#include "data/error.h"
#include "data/postgres/pg_connection.h"
#include "mapping/mapping_file.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/postgres/pg_own_server.h"
#include "tests/support/test_support.h"

using namespace vov;
using Clock = std::chrono::steady_clock;

namespace {

// Short, so that the tests of the time-out end soon; set before any wait
// reads it.
const bool kShortTimeout = setenv("VOVARIZE_SERVER_TIMEOUT_S", "2", 1) == 0;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Texts of libpq's own state machine, which say nothing to a user.
void expectNoLibpqInternals(const std::string& message) {
  for (const char* internal : {"pipeline mode", "another command is already in progress",
                               "no COPY in progress", "synchronous command"})
    EXPECT_EQ(message.find(internal), std::string::npos) << message;
}

class PgFault : public ::testing::Test {
 protected:
  PgFault() { EXPECT_TRUE(kShortTimeout); }

  // `rows` old rows, which take the server `pause` seconds every 100 rows.
  void prepare(int rows, double pause) {
    server.exec(
        "create function slow() returns trigger language plpgsql as $$ begin"
        " if new.id % 100 = 0 then perform pg_sleep(" + std::to_string(pause) + "); end if;"
        " return new; end $$;"
        "create table dst(id int primary key, t text);"
        "create trigger slow before insert on dst for each row execute function slow()");
    test::makeSqlite(source,
                     "create table src(id integer primary key, t varchar(20));"
                     "with recursive g(i) as (select 1 union all select i + 1 from g where i < " +
                         std::to_string(rows) + ") insert into src select i, 'row ' || i from g");
    saveMappingList({composeFieldMappingLine("src", "id", 2, "dst", "id"),
                     composeFieldMappingLine("src", "t", 2, "dst", "t")},
                    map);
  }

  // Starts vovarize-batch with `args`; `timeout` is its
  // VOVARIZE_SERVER_TIMEOUT_S, none for the default.
  pid_t startBatch(const char* timeout, const std::vector<std::string>& args) {
    const std::string bin = std::string(VOV_BIN_DIR) + "/vovarize-batch";
    std::vector<char*> argv{const_cast<char*>(bin.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      if (timeout) setenv("VOVARIZE_SERVER_TIMEOUT_S", timeout, 1);
      else unsetenv("VOVARIZE_SERVER_TIMEOUT_S");
      if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(99);
      execv(bin.c_str(), argv.data());
      _exit(98);
    }
    return pid;
  }
  // Migrating src into the server's dst (or `newTable`).
  pid_t startBatch(const char* timeout, const std::string& newTable = "dst") {
    return startBatch(timeout, {"--old", source, "--new", server.address(), "--map", map, "--new-table", newTable});
  }

  // Waits until the batch has reported rows (the migration is under way).
  void awaitProgress() {
    const Clock::time_point start = Clock::now();
    while (test::readFile(out).find("处理进度：") == std::string::npos) {
      ASSERT_LT(secondsSince(start), 30) << "the migration did not start";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  // The batch's exit code, waiting at most `limit` seconds (then it is
  // killed and the test fails).
  int awaitExit(pid_t pid, double limit) {
    const Clock::time_point start = Clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (secondsSince(start) > limit) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "vovarize-batch still ran after " << limit << " s";
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // After the server runs again, nothing of the stopped migration stays.
  void expectNoRowsOnceResumed() {
    server.signalAll(SIGCONT);
    const Clock::time_point start = Clock::now();
    while (server.exec("select count(*) from pg_stat_activity where application_name = 'vovarize'")[0][0] != "0") {
      ASSERT_LT(secondsSince(start), 30) << "the server kept the abandoned connection";
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(server.exec("select count(*) from dst")[0][0], "0");
  }

  test::OwnPgServer server;
  test::TempDir dir;
  std::string source = dir.file("src.db"), map = dir.file("map.txt");
  std::string out = dir.file("out.txt"), err = dir.file("err.txt");
};

}  // namespace

TEST_F(PgFault, AServerStoppedMidMigrationEndsItAfterTheTimeOut) {
  prepare(40000, 0.02);
  // Into the table the rows go as COPY; into a view over it, as inserts.
  server.exec("create view dst_view as select * from dst");
  for (const char* table : {"dst", "dst_view"}) {
    SCOPED_TRACE(table);
    pid_t pid = startBatch("2", table);
    awaitProgress();
    server.signalAll(SIGSTOP);
    const Clock::time_point stopped = Clock::now();
    EXPECT_EQ(awaitExit(pid, 15), 1);
    EXPECT_GT(secondsSince(stopped), 1.5);
    const std::string message = test::readFile(err);
    EXPECT_NE(message.find("服务器已有 2 秒没有应答"), std::string::npos) << message;
    EXPECT_NE(message.find("均未写入新表"), std::string::npos) << message;
    expectNoLibpqInternals(message);
    expectNoRowsOnceResumed();
  }
}

TEST_F(PgFault, AnOldDatabaseStoppedMidReadEndsTheMigrationAfterTheTimeOut) {
  // The old rows come from the server, slowly; the new table is SQLite's.
  server.exec("create table src(id int primary key, t text);"
              "insert into src select g, 'row ' || g from generate_series(1, 40000) g");
  const std::string target = dir.file("new.db");
  test::makeSqlite(target, "create table dst(id integer primary key, t text)");
  saveMappingList({composeFieldMappingLine("src", "id", 2, "dst", "id"),
                   composeFieldMappingLine("src", "t", 2, "dst", "t")},
                  map);
  pid_t pid = startBatch("2", {"--old", server.address(), "--new", target, "--map", map, "--filter",
                               "where id % 50 <> 0 or pg_sleep(0.01) is not null"});
  awaitProgress();
  server.signalAll(SIGSTOP);
  const Clock::time_point stopped = Clock::now();
  EXPECT_EQ(awaitExit(pid, 15), 1);
  EXPECT_GT(secondsSince(stopped), 1.5);
  const std::string message = test::readFile(err);
  EXPECT_NE(message.find("老数据库"), std::string::npos) << message;
  EXPECT_NE(message.find("服务器已有 2 秒没有应答"), std::string::npos) << message;
  expectNoLibpqInternals(message);
  // The rows before the one it could not read stay, as the counter says.
  const size_t at = message.find("读取第 ");
  ASSERT_NE(at, std::string::npos) << message;
  const long k = std::atol(message.c_str() + at + std::strlen("读取第 "));
  EXPECT_GT(k, 1) << message;
  EXPECT_EQ(test::sqliteRows(target, "select count(*), coalesce(max(id), 0) from dst")[0],
            (std::vector<std::string>{std::to_string(k - 1), std::to_string(k - 1)}));
  const std::string progress = test::readFile(out);
  EXPECT_NE(progress.find("处理进度：" + std::to_string(k - 1) + "\n"), std::string::npos) << progress;
  server.signalAll(SIGCONT);
}

TEST_F(PgFault, CtrlCEndsTheBatchWhileTheServerIsStopped) {
  // With the default time-out of 30 s only the interrupt can end it soon.
  prepare(40000, 0.02);
  pid_t pid = startBatch(nullptr);
  awaitProgress();
  server.signalAll(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Clock::time_point interrupted = Clock::now();
  kill(pid, SIGINT);
  EXPECT_EQ(awaitExit(pid, 10), 1);
  EXPECT_LT(secondsSince(interrupted), 3);
  const std::string message = test::readFile(err);
  EXPECT_NE(message.find("中断"), std::string::npos) << message;
  expectNoLibpqInternals(message);
  expectNoRowsOnceResumed();
}

TEST_F(PgFault, CtrlCWithTheServerAnsweringKeepsTheRowsBefore) {
  // A batch takes the server well under the half second an interrupted
  // wait still grants it.
  prepare(300000, 0.001);
  pid_t pid = startBatch(nullptr);
  awaitProgress();
  const Clock::time_point interrupted = Clock::now();
  kill(pid, SIGINT);
  EXPECT_EQ(awaitExit(pid, 10), 1);
  EXPECT_LT(secondsSince(interrupted), 3);
  const std::string message = test::readFile(err);
  const size_t at = message.find("已插入的 ");
  ASSERT_NE(at, std::string::npos) << message;
  const std::string kept = message.substr(at + std::string("已插入的 ").size());
  EXPECT_EQ(server.exec("select count(*) from dst")[0][0], kept.substr(0, kept.find(' ')));
  EXPECT_NE(server.exec("select count(*) from dst")[0][0], "0");
}

TEST_F(PgFault, AnExportFromAServerStoppedMidReadLeavesNoFile) {
  server.exec("create table src(id int primary key, t text);"
              "insert into src select g, 'row ' || g from generate_series(1, 40000) g;"
              "create view slow_src as select * from src where id % 50 <> 0 or pg_sleep(0.01) is not null");
  const std::string file = dir.file("slow_src.csv");
  pid_t pid = startBatch("2", {"--old", server.address(), "--export", "slow_src", "--to", file});
  const Clock::time_point start = Clock::now();
  while (server.exec("select count(*) from pg_stat_activity where application_name = 'vovarize'"
                     " and state = 'active' and query like 'fetch%'")[0][0] != "1") {
    ASSERT_LT(secondsSince(start), 30) << "the export did not start";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  server.signalAll(SIGSTOP);
  const Clock::time_point stopped = Clock::now();
  EXPECT_EQ(awaitExit(pid, 15), 1);
  EXPECT_GT(secondsSince(stopped), 1.5);
  const std::string message = test::readFile(err);
  EXPECT_NE(message.find("服务器已有 2 秒没有应答"), std::string::npos) << message;
  expectNoLibpqInternals(message);
  // Neither the file nor a part of it is left.
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"err.txt", "out.txt"}));
  server.signalAll(SIGCONT);
}

TEST_F(PgFault, CtrlCDuringACommitSaysItsOutcomeIsUnknown) {
  // The commit runs a deferred check far longer than the grace an
  // interrupted wait grants; the default time-out is far longer still.
  prepare(3, 0);
  server.exec(
      "create function slow_check() returns trigger language plpgsql as $$ begin"
      " perform pg_sleep(4); return null; end $$;"
      "create constraint trigger slow_check after insert on dst deferrable initially deferred"
      " for each row when (new.id = 1) execute function slow_check()");
  pid_t pid = startBatch(nullptr);
  const Clock::time_point start = Clock::now();
  while (server.exec("select count(*) from pg_stat_activity where application_name = 'vovarize'"
                     " and state = 'active' and query = 'commit'")[0][0] != "1") {
    ASSERT_LT(secondsSince(start), 30) << "the commit did not start";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Clock::time_point interrupted = Clock::now();
  kill(pid, SIGINT);
  EXPECT_EQ(awaitExit(pid, 10), 1);
  EXPECT_LT(secondsSince(interrupted), 2.5);
  const std::string message = test::readFile(err);
  EXPECT_NE(message.find("无法确定"), std::string::npos) << message;
  // Neither "the rows stay" nor "no row was written" would be true.
  EXPECT_EQ(message.find("保留在新表中"), std::string::npos) << message;
  EXPECT_EQ(message.find("均未写入"), std::string::npos) << message;
  expectNoLibpqInternals(message);
  // The server, left alone, finishes the commit.
  while (server.exec("select count(*) from dst")[0][0] != "3") {
    ASSERT_LT(secondsSince(start), 30);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

TEST_F(PgFault, AStoppedServerRefusesTheConnectionAfterTheTimeOut) {
  prepare(10, 0);
  server.signalAll(SIGSTOP);
  const Clock::time_point start = Clock::now();
  pid_t pid = startBatch("2");
  EXPECT_EQ(awaitExit(pid, 15), 1);
  EXPECT_GT(secondsSince(start), 1.5);
  const std::string message = test::readFile(err);
  EXPECT_NE(message.find("无法连接 PostgreSQL 服务器"), std::string::npos) << message;
  EXPECT_NE(message.find("没有应答"), std::string::npos) << message;
  EXPECT_EQ(message.find(server.address().substr(17, server.address().find('@') - 17)), std::string::npos);
  server.signalAll(SIGCONT);
}

TEST_F(PgFault, AKilledServerNamesTheReasonInEveryLaterMessage) {
  prepare(40000, 0.02);
  pid_t pid = startBatch(nullptr);
  awaitProgress();
  server.signalAll(SIGKILL);
  EXPECT_EQ(awaitExit(pid, 15), 1);
  const std::string message = test::readFile(err);
  // libpq's words for the socket's end: "server closed the connection
  // unexpectedly" or "Connection reset by peer".
  const size_t at = message.find(pg::kConnectionLost);
  ASSERT_NE(at, std::string::npos) << message;
  EXPECT_NE(message.find("onnection", at + std::strlen(pg::kConnectionLost)), std::string::npos) << message;
  // The server undoes an open transaction when it starts again.
  EXPECT_NE(message.find("均未写入新表"), std::string::npos) << message;
  expectNoLibpqInternals(message);
}

TEST_F(PgFault, InProcessALostConnectionKeepsItsReason) {
  prepare(10, 0);
  Connection c("ADOConnection1new");
  c.setConnectionString(server.address());
  Command cmd("ADOCommand1", &c);
  cmd.setCommandText("insert into dst(id, t) values(:a, :b)");
  c.beginTransaction();
  std::string first;
  for (int i = 1; i <= 40000 && first.empty(); ++i) {
    cmd.parameters()[0].value = Value::fromInt(i);
    cmd.parameters()[1].value = Value::fromText("x");
    try {
      cmd.execute();
      if (i == 15000) server.signalAll(SIGKILL);
    } catch (const StatementError& e) {
      first = e.what();
    }
  }
  if (first.empty()) {
    try {
      cmd.finish();
    } catch (const StatementError& e) {
      first = e.what();
    }
  }
  EXPECT_EQ(first.rfind(pg::kConnectionLost, 0), 0u) << first;
  expectNoLibpqInternals(first);
  for (auto call : {+[](Connection& c) { c.commit(); },
                    +[](Connection& c) { c.backend().query("select 1"); },
                    +[](Connection& c) { c.backend().execute("select 1"); }}) {
    try {
      call(c);
      ADD_FAILURE() << "a lost connection answered";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), first);
    }
  }
}

TEST_F(PgFault, InProcessAQueryOnAStoppedServerEnds) {
  prepare(10, 0);
  Connection c("ADOConnection2old");
  c.setConnectionString(server.address());
  c.open();
  server.signalAll(SIGSTOP);
  const Clock::time_point start = Clock::now();
  try {
    DataSet ds("ADODataSetTmp", &c);
    ds.setCommandText("select * from dst");
    ds.open();
    ADD_FAILURE() << "a stopped server answered";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("服务器已有 2 秒没有应答"), std::string::npos) << e.what();
  }
  EXPECT_LT(secondsSince(start), 10);
  server.signalAll(SIGCONT);
}

TEST_F(PgFault, ACommitLeftUnansweredSaysItsOutcomeIsUnknown) {
  // The commit runs a deferred check that takes longer than the time-out.
  server.exec(
      "create function slow_check() returns trigger language plpgsql as $$ begin"
      " perform pg_sleep(4); return null; end $$;"
      "create table few(id int, t text);"
      "create constraint trigger slow_check after insert on few deferrable initially deferred"
      " for each row when (new.id = 1) execute function slow_check()");
  test::makeSqlite(dir.file("few.db"), "create table src(id integer, t varchar(5));"
                                        "insert into src values (1, 'a'), (2, 'b'), (3, 'c')");
  TDataModule2 dm;
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, dir.file("few.db"));
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, server.address());
  MigrationRequest req;
  req.oldTable = [] { return std::string("src"); };
  req.newTable = [] { return std::string("few"); };
  req.lines = {composeFieldMappingLine("src", "id", 2, "few", "id"),
               composeFieldMappingLine("src", "t", 2, "few", "t")};
  req.filter = kDefaultFilterText;
  req.progress = [](int32_t) {};
  try {
    migrateTable(dm, req);
    FAIL() << "the commit was answered";
  } catch (const CommitUncertain& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find("没有应答"), std::string::npos) << m;
    EXPECT_NE(m.find("无法确定"), std::string::npos) << m;
    EXPECT_EQ(m.find("均未写入"), std::string::npos) << m;
  }
  // And indeed: the server finishes the commit on its own.
  const Clock::time_point start = Clock::now();
  while (server.exec("select count(*) from few")[0][0] != "3") {
    ASSERT_LT(secondsSince(start), 15);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
