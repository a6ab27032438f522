// A MariaDB server that stops answering (its process stopped with SIGSTOP)
// at connect, under a migration and under a query: each wait ends after the
// server time-out with a message that says so, and Ctrl-C ends vovarize-batch
// within a second. Also the batch command's warning for a table without
// transactions. These tests run on a server of their own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "data/data_module.h"
#include "data/error.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/support/mariadb_test_server.h"
#include "tests/support/test_support.h"

extern char** environ;

using namespace vov;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kBatch = std::string(VOV_BIN_DIR) + "/vovarize-batch";
const char kSilent[] = "秒没有应答（服务器停止响应或网络中断）";

// The server time-out is read once per process: this program's waits give
// up after two seconds.
const bool kShortTimeOut = setenv("VOVARIZE_SERVER_TIMEOUT_S", "2", 1) == 0;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

class MariaFaults : public ::testing::Test {
 protected:
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }

  // The server starts with the first test, not in SetUpTestSuite: after a
  // failure there gtest skips the tests, and ctest counts them as skipped.
  void SetUp() override {
    ASSERT_TRUE(kShortTimeOut);
    if (!server && !startTried) {
      startTried = true;
      server = new test::PrivateMariaServer();
    }
    ASSERT_NE(server, nullptr) << "the server of these tests did not start";
    db = std::make_unique<test::MariaDatabase>(server->address());
    oldDb = dir.file("old.db");
    test::makeSqlite(oldDb,
                     "create table src(id integer, t text);"
                     "with recursive g(i) as (select 1 union all select i + 1 from g where i < 50000)"
                     " insert into src select i, 'row ' || i from g;");
    db->exec("CREATE TABLE dst(id INT PRIMARY KEY, t VARCHAR(20))");
  }

  void TearDown() override {
    if (server) wake();
    db.reset();
  }

  void stop() { ASSERT_EQ(kill(server->pid(), SIGSTOP), 0); }
  void wake() { kill(server->pid(), SIGCONT); }

  static test::PrivateMariaServer* server;
  static bool startTried;
  std::unique_ptr<test::MariaDatabase> db;
  test::TempDir dir;
  std::string oldDb;
};

test::PrivateMariaServer* MariaFaults::server = nullptr;
bool MariaFaults::startTried = false;

}  // namespace

TEST_F(MariaFaults, AStoppedServerAtConnectIsReportedAfterTheTimeOut) {
  stop();
  Connection c("ADOConnection1new");
  c.setConnectionString(db->address());
  const auto start = Clock::now();
  try {
    c.open();
    FAIL() << "connected to a stopped server";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(std::string("已有 2 ") + kSilent), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).find(test::mariaPassword(db->address())), std::string::npos);
  }
  const double took = secondsSince(start);
  EXPECT_GE(took, 1.9);
  EXPECT_LT(took, 6.0);
}

TEST_F(MariaFaults, AServerStoppedMidMigrationEndsItAfterTheTimeOutWithNothingSaid) {
  TDataModule2 dm;
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db->address());
  MigrationRequest req;
  req.oldTable = [] { return std::string("src"); };
  req.newTable = [] { return std::string("dst"); };
  req.lines = {composeFieldMappingLine("src", "id", -1, "dst", "id"),
               composeFieldMappingLine("src", "t", -1, "dst", "t")};
  req.filter = kDefaultFilterText;
  Clock::time_point stopped;
  req.progress = [&](int32_t n) {
    if (n == 20000) {
      stop();
      stopped = Clock::now();
    }
  };
  std::string message;
  try {
    migrateTable(dm, req);
  } catch (const Error& e) {
    message = e.what();
  }
  const double took = secondsSince(stopped);
  EXPECT_NE(message.find(kSilent), std::string::npos) << message;
  EXPECT_NE(message.find("均未写入"), std::string::npos) << message;
  EXPECT_LT(took, 8.0);
  // Awake again, the server has undone the transaction.
  wake();
  EXPECT_EQ(db->rows("SELECT COUNT(*) FROM dst")[0][0], "0");
}

TEST_F(MariaFaults, AServerStoppedUnderAQueryEndsItAfterTheTimeOut) {
  db->exec("INSERT INTO dst SELECT seq, CONCAT('row ', seq) FROM seq_1_to_200000");
  Connection c("ADOConnection2old");
  c.setConnectionString(db->address());
  DataSet rows("ADODataSetTmp", &c);
  rows.setCommandText("select * from dst");
  rows.open();
  stop();
  const auto start = Clock::now();
  std::string message;
  try {
    while (!rows.eof()) rows.next();
  } catch (const Error& e) {
    message = e.what();
  }
  EXPECT_NE(message.find(kSilent), std::string::npos) << message;
  EXPECT_LT(secondsSince(start), 6.0);
}

TEST_F(MariaFaults, CtrlCEndsTheBatchWithinASecondWhileTheServerIsStopped) {
  test::writeFile(dir.file("map.txt"), "src->id >> dst->id\r\nsrc->t >> dst->t\r\n");
  const std::string errFile = dir.file("err.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> words{kBatch, "--old", oldDb, "--new", db->address(), "--map",
                                 dir.file("map.txt")};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  // A long time-out: only Ctrl-C can end the wait soon.
  std::vector<std::string> env{"VOVARIZE_SERVER_TIMEOUT_S=600"};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("VOVARIZE_SERVER_TIMEOUT_S=", 0) != 0) env.push_back(*e);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, kBatch.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Stopped once rows go in.
  for (int i = 0; i < 400; ++i) {
    if (db->rows("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB = '" + db->name() +
                 "' AND INFO LIKE 'insert into%'")[0][0] != "0")
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto start = Clock::now();
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  const double took = secondsSince(start);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_LT(took, 1.5);
  const std::string err = test::readFile(errFile);
  EXPECT_NE(err.find("中断"), std::string::npos) << err;
  EXPECT_EQ(err.find(test::mariaPassword(db->address())), std::string::npos) << err;
  wake();
  EXPECT_EQ(db->rows("SELECT COUNT(*) FROM dst")[0][0], "0");
}

TEST_F(MariaFaults, TheBatchWarnsOfATableWithoutTransactionsAndGoesOn) {
  db->exec("CREATE TABLE plain(id INT, t VARCHAR(20)) ENGINE=MyISAM");
  test::writeFile(dir.file("map.txt"), "src->id >> plain->id\r\nsrc->t >> plain->t\r\n");
  test::CommandResult r = test::runShell(kBatch + " --old " + test::shellQuote(oldDb) + " --new " +
                                         test::shellQuote(db->address()) + " --map " +
                                         test::shellQuote(dir.file("map.txt")));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err,
            "注意：新表“plain”的存储引擎 MyISAM 不支持事务：迁移中出错或中断时，"
            "已写入新表的行会留在表中，无法撤销。\n");
  EXPECT_EQ(db->rows("SELECT COUNT(*), SUM(id) FROM plain")[0],
            (std::vector<std::string>{"50000", "1250025000"}));
}
