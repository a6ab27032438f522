// The SQLite backend where files and requests are not as they should be:
// a WAL file in a folder nobody may write, statements that would write
// where only reading was asked for, and a stop requested during a long read.
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "data/connection_string.h"
#include "data/engine.h"
#include "data/error.h"
#include "data/interrupt.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

// Runs `fn` in a child process and returns the text it produced. As root,
// who may write any folder, the child first becomes nobody.
std::string asNonRoot(const std::function<std::string()>& fn) {
  int p[2];
  if (pipe(p) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    std::string out;
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      out = "cannot become nobody";
    else
      out = fn();
    ssize_t ignored = write(p[1], out.data(), out.size());
    (void)ignored;
    _exit(0);
  }
  close(p[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(p[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(p[0]);
  waitpid(pid, nullptr, 0);
  return out;
}

// Every row of `sql` on a connection to `path`, "a|b;" each, or the error.
std::string readAll(const std::string& path, const std::string& sql) {
  try {
    Connection c("ADOConnection2old");
    c.setConnectionString(buildConnectionString(path));
    DataSet ds("ADODataSetTmp", &c);
    ds.setCommandText(sql);
    ds.open();
    std::string out;
    for (; !ds.eof(); ds.next()) {
      for (int i = 0; i < ds.fieldCount(); ++i) out += (i ? "|" : "") + ds.field(i).value().toText();
      out += ";";
    }
    return out;
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what();
  }
}

class ReadOnlyFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    // nobody must reach the folder, and may not write in it.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  }
  void TearDown() override { chmod(folder.c_str(), 0755); }

  test::TempDir dir;
  std::string folder = dir.file("只读");
  std::string db = folder + "/wal.db";
};

}  // namespace

TEST_F(ReadOnlyFolder, AWalFileThatWasClosedCleanlyIsRead) {
  test::makeSqlite(db, "pragma journal_mode=wal; create table t(a, b);"
                       "insert into t values(1, '一'), (2, '二');");
  ASSERT_FALSE(std::filesystem::exists(db + "-wal"));
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  EXPECT_EQ(asNonRoot([&] { return readAll(db, "select * from t"); }), "1|一;2|二;");
}

// A writer that died left its log and index beside the file: the rows in
// the log are part of the database and must be read too.
TEST_F(ReadOnlyFolder, AWalFileWithItsLogLeftBehindIsReadWhole) {
  test::makeSqlite(db, "pragma journal_mode=wal; create table t(a); insert into t values(1);");
  pid_t writer = fork();
  if (writer == 0) {
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_exec(h, "pragma wal_autocheckpoint=0; insert into t values(2), (3);", nullptr, nullptr,
                 nullptr);
    raise(SIGKILL);
  }
  waitpid(writer, nullptr, 0);
  ASSERT_TRUE(std::filesystem::exists(db + "-wal"));
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  EXPECT_EQ(asNonRoot([&] { return readAll(db, "select a from t order by a"); }), "1;2;3;");
}

// A writer that died inside a transaction left pages of it in the file and
// its journal beside it: read without playing the journal back, the file
// would show changes that were never committed.
TEST_F(ReadOnlyFolder, AnUnfinishedTransactionIsNotReadAsIfItWereDone) {
  test::makeSqlite(db, "create table t(a, b); with recursive c(x) as (select 1 union all"
                       " select x + 1 from c where x < 5000) insert into t select x, randomblob(200) from c;");
  pid_t writer = fork();
  if (writer == 0) {
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_exec(h, "pragma cache_size=10; begin; update t set a = -a;", nullptr, nullptr, nullptr);
    raise(SIGKILL);
  }
  waitpid(writer, nullptr, 0);
  ASSERT_GT(std::filesystem::file_size(db + "-journal"), 0u);
  // Not the owner's to write either, as for nobody when the tests run as root.
  ASSERT_EQ(chmod(db.c_str(), 0444), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  EXPECT_EQ(asNonRoot([&] { return readAll(db, "select count(*) from t where a < 0"); }),
            "error: 无法打开数据库“" + db +
                "”：上次写入它的程序没有完成事务，要用旁边的日志文件“wal.db-journal”撤销，"
                "这只能在可以写入的文件夹中进行；请把这两个文件一起复制到可以写入的文件夹后再打开");
  // Where the journal can be played back, the committed rows are read.
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  ASSERT_EQ(chmod(db.c_str(), 0644), 0);
  EXPECT_EQ(readAll(db, "select count(*) from t where a < 0"), "0;");
}

namespace {

// What opening `path` says, or "(opened)".
std::string openMessage(const std::string& path) {
  try {
    Connection c("ADOConnection2old");
    c.setConnectionString(buildConnectionString(path));
    c.open();
    return "(opened)";
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace

// A pipe nobody writes to, a device and a folder are said to be no
// database at once (a pipe used to wait forever for a writer); a file this
// user may not read is said to be that, not missing.
TEST(DatabasePaths, WhatIsNoDatabaseFileOrCannotBeReadIsSaidToBe) {
  test::TempDir dir;
  const std::string fifo = dir.file("pipe.db");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), dir.path()})
    EXPECT_EQ(openMessage(path), "“" + path + "”不是可以打开的数据库文件（支持 Access 和 SQLite 文件）");
  EXPECT_EQ(openMessage(dir.file("missing.db")), "找不到数据库文件“" + dir.file("missing.db") + "”");

  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string locked = dir.file("locked.db"), readOnly = dir.file("readonly.db");
  test::makeSqlite(locked, "create table t(a);");
  test::makeSqlite(readOnly, "create table t(a);");
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  EXPECT_EQ(asNonRoot([&] { return openMessage(locked); }),
            "无法打开数据库文件“" + locked + "”：没有权限");
  // A file that can only be read opens, and a write says why it cannot be.
  EXPECT_EQ(asNonRoot([&] {
              try {
                Connection c("ADOConnection1new");
                c.setConnectionString(buildConnectionString(readOnly));
                c.execute("insert into t values(1)");
                return std::string("(written)");
              } catch (const std::exception& e) {
                return std::string(e.what());
              }
            }),
            "数据库文件不能写入：文件或它所在的文件夹没有写入权限，或者文件系统只能读取"
            "（attempt to write a readonly database）");
}

// One old database with a table t of one row.
class SqliteOld : public ::testing::Test {
 protected:
  void SetUp() override {
    test::makeSqlite(db, "create table t(a); insert into t values(1);");
    c.setConnectionString(buildConnectionString(db));
  }
  test::TempDir dir;
  std::string db = dir.file("old.db");
  Connection c{"ADOConnection2old"};
};

TEST_F(SqliteOld, AReadOnlyQueryThatWouldWriteIsRefused) {
  try {
    c.backend().readQuery("delete from t returning a");
    FAIL() << "a delete ran where only reading was asked for";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "只读取数据的语句不能修改数据库：“delete from t returning a”");
  }
  EXPECT_NE(c.backend().readQuery("select * from t"), nullptr);
  EXPECT_EQ(test::sqliteRows(db, "select count(*) from t")[0][0], "1");
}

// A stop asked for while one step of a read runs long (here a count over
// a billion generated rows) ends that step, and the read with it.
TEST_F(SqliteOld, ALongReadStopsWhenAStopIsRequested) {
  std::unique_ptr<Cursor> cur = c.backend().readQuery(
      "with recursive n(x) as (select 1 union all select x + 1 from n where x < 1000000000)"
      " select count(*) from n");
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    requestInterrupt();
  });
  std::vector<Value> row;
  EXPECT_THROW(cur->next(row), Abort);
  stopper.join();
  clearInterrupt();
  // The connection is usable afterwards.
  EXPECT_NE(c.backend().readQuery("select 1"), nullptr);
}
