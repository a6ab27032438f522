// The user's file is never changed in place: rollbacks, refusals, failures
// and kills leave it as it was; a commit keeps it as <name>.bak.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "data/access/access_backend.h"
#include "data/access/format/catalog.h"
#include "data/access/format/table_def.h"
#include "data/access/format/usage_map.h"
#include "data/connection_string.h"
#include "data/engine.h"
#include "data/error.h"
#include "tests/access_write/write_support.h"
#include "tests/support/test_support.h"

namespace vov::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> folder(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<Value> aRow(int i) {
  return {Value::fromInt(i), Value(), Value(), Value(), Value::fromText("memo"), Value::fromText("t")};
}
const std::vector<std::string> kCols = {"IDCol", "DateTimeCol", "DateCol", "TimeCol", "LongTextCol",
                                        "ShortTextCol"};

TEST(AccessWriteSafety, RollbackLeavesTheFileAndTheFolderAsTheyWere) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  const std::string before = readFile(path);
  Connection conn("ADOConnection1new");
  conn.setConnectionString(buildConnectionString(path));
  Command insert("ADOCommand1", &conn);
  insert.setCommandText("insert into [DateTest]([IDCol]) values(:kh0)");
  conn.beginTransaction();
  insert.parameters()[0].value = Value::fromInt(5);
  insert.execute();
  conn.rollback();
  EXPECT_EQ(readFile(path), before);
  EXPECT_EQ(folder(dir), std::vector<std::string>{"DateTestDatabase.mdb"});
  // Closing the connection in the middle of a transaction rolls back too.
  conn.beginTransaction();
  insert.execute();
  conn.close();
  EXPECT_EQ(readFile(path), before);
  EXPECT_EQ(folder(dir), std::vector<std::string>{"DateTestDatabase.mdb"});
}

TEST(AccessWriteSafety, CommitKeepsThePreviousFileAsBakWithItsPermissions) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const std::string first = readFile(path);
  ASSERT_EQ(appendRows(path, "DateTest", kCols, {aRow(100)}), "");
  EXPECT_EQ(readFile(path + ".bak"), first);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  const std::string second = readFile(path);
  ASSERT_EQ(appendRows(path, "DateTest", kCols, {aRow(101)}), "");
  EXPECT_EQ(readFile(path + ".bak"), second);  // the newest previous file
  EXPECT_EQ(folder(dir), (std::vector<std::string>{"DateTestDatabase.mdb", "DateTestDatabase.mdb.bak"}));
  EXPECT_EQ(storedCount(path, "DateTest"), 8);
}

// Rows written through a link arrive in the file it leads to; the copy
// used to be renamed over the link, leaving the linked file without them.
TEST(AccessWriteSafety, ALinkKeepsLeadingToTheWrittenFile) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  const std::string link = dir.file("link.mdb");
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  ASSERT_EQ(appendRows(link, "DateTest", kCols, {aRow(100)}), "");
  EXPECT_EQ(storedCount(path, "DateTest"), 7);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(folder(dir), (std::vector<std::string>{"DateTestDatabase.mdb", "DateTestDatabase.mdb.bak",
                                                   "link.mdb"}));
}

TEST(AccessWriteSafety, RefusalsComeBeforeAnythingIsWritten) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  const std::string before = readFile(path);
  writeFile(dir.file("DateTestDatabase.ldb"), "");
  std::string error = appendRows(path, "DateTest", kCols, {aRow(1)});
  EXPECT_NE(error.find("正由 Access 打开"), std::string::npos) << error;
  EXPECT_NE(error.find("DateTestDatabase.ldb"), std::string::npos) << error;
  fs::remove(dir.file("DateTestDatabase.ldb"));

  EXPECT_NE(appendRows(path, "NoSuchTable", {"a"}, {{Value::fromInt(1)}}).find("找不到表"), std::string::npos);
  EXPECT_NE(appendRows(path, "DateTest", {"Nope"}, {{Value::fromInt(1)}}).find("没有字段“Nope”"),
            std::string::npos);
  EXPECT_NE(appendRows(path, "MSysObjects", {"Id"}, {{Value::fromInt(1)}}).find("系统表"), std::string::npos);
  EXPECT_EQ(readFile(path), before);

  const std::string jet3 = copyTestData(dir, "access/nwind.mdb");
  const std::string jet3Before = readFile(jet3);
  EXPECT_NE(appendRows(jet3, "Shippers", {"CompanyName"}, {{Value::fromText("x")}}).find("Access 97"),
            std::string::npos);
  EXPECT_EQ(readFile(jet3), jet3Before);

  // A file the checker finds fault with is not written at all.
  std::string damaged = before;
  {
    access::PageFile f(path, false);
    const access::TableDef def = access::readTableDef(f, access::findTable(f, "DateTest").definitionPage());
    const uint32_t page = access::UsageMap::read(f, def.ownedPages).pages().at(0);
    damaged[page * 4096 + 2] = '\x01';  // its free-space count
  }
  const std::string bad = dir.file("bad.mdb");
  writeFile(bad, damaged);
  EXPECT_NE(appendRows(bad, "DateTest", kCols, {aRow(1)}).find("结构有问题"), std::string::npos);
  EXPECT_EQ(readFile(bad), damaged);
  EXPECT_FALSE(fs::exists(bad + ".bak"));
}

// A writer killed while it appends or at any moment of its commit leaves
// the original whole, or (once its rename is done) the new file with the
// original as .bak; never a half-written file or a copy beside them.
TEST(AccessWriteSafety, AKillDuringTheAppendOrTheCommitLeavesNothingHalfDone) {
  constexpr int kRows = 40000;
  int killedInCommit = 0;
  for (int delayMs : {-1, 0, 40, 120, 300, 800}) {  // -1: during the append
    SCOPED_TRACE(delayMs);
    TempDir dir;
    const std::string path = copyTestData(dir, "access/bench_jet4.mdb");
    const std::string before = readFile(path);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      Connection conn("ADOConnection1new");
      conn.setConnectionString(buildConnectionString(path));
      Command insert("ADOCommand1", &conn);
      insert.setCommandText(
          "insert into [订单明细]([客户代码],[客户名称],[备注],[数量]) values(:kh0,:kh1,:kh2,:kh3)");
      conn.beginTransaction();
      for (int i = 0; delayMs < 0 || i < kRows; ++i) {
        insert.parameters()[0].value = Value::fromText("C" + std::to_string(i % 977));
        insert.parameters()[1].value = Value::fromText("客户" + std::to_string(i));
        insert.parameters()[2].value = Value::fromText(std::string(i % 3 ? 20 : 3000, 'm'));
        insert.parameters()[3].value = Value::fromInt(i);
        insert.execute();
        if (delayMs < 0 && i == 2000 && ::write(ready[1], "a", 1) != 1) _exit(3);
      }
      if (::write(ready[1], "c", 1) != 1) _exit(3);
      conn.commit();
      _exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    if (delayMs > 0) usleep(delayMs * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;

    const std::string file = fs::path(path).filename().string();
    for (const std::string& n : folder(dir))
      EXPECT_TRUE(n == file || n == file + ".bak") << "left beside the file: " << n;
    if (fs::exists(path + ".bak")) {
      EXPECT_EQ(readFile(path + ".bak"), before);
    }
    if (readFile(path) == before) {
      if (delayMs >= 0) ++killedInCommit;
      continue;
    }
    // The rename was done: the whole new file is there.
    EXPECT_EQ(checkerProblems(path), "");
    EXPECT_EQ(storedCount(path, "订单明细"), kRows);
  }
  EXPECT_GE(killedInCommit, 1);
}

}  // namespace
}  // namespace vov::test

namespace vov::test {
namespace {

// Calculated fields hold what Access computes: such a table is refused
// before anything is written, naming the field.
TEST(AccessWriteSafety, TablesWithCalculatedFieldsAreRefusedByName) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/calcfields_ace14.accdb");
  const std::string before = readFile(path);
  const std::string error = appendRows(path, "Table1", {"FirstName"}, {{Value::fromText("Clark")}});
  EXPECT_NE(error.find("计算字段"), std::string::npos) << error;
  EXPECT_NE(error.find("LastFirst"), std::string::npos) << error;
  EXPECT_EQ(readFile(path), before);
  EXPECT_EQ(folder(dir), std::vector<std::string>{"calcfields_ace14.accdb"});
}

}  // namespace
}  // namespace vov::test
