// The vovarize-batch command end to end: hand-written mapping list files,
// real SQLite files, exit codes and what it prints.
#include <gtest/gtest.h>
#include <iconv.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "tests/support/test_support.h"

extern char** environ;

using namespace vov;

namespace {

using Rows = std::vector<std::vector<std::string>>;

using Result = test::CommandResult;


std::string toGbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string out(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* dst = &out[0];
  size_t outLeft = out.size();
  size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  EXPECT_NE(rc, static_cast<size_t>(-1));
  out.resize(out.size() - outLeft);
  return out;
}

class Batch : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDb = dir.file("老库.db");
    newDb = dir.file("new.db");
    test::makeSqlite(oldDb,
                     "create table 客户(编号 integer primary key, 名称 varchar(20), 城市 varchar(10));"
                     "insert into 客户 values(1, '华东贸易有限公司', '上海');"
                     "insert into 客户 values(2, 'O''Neil & Co', null);"
                     "insert into 客户 values(3, '北方', '哈尔滨');"
                     "create table other(a integer);"
                     "insert into other values(7);");
    test::makeSqlite(newDb,
                     "create table 顾客(id integer primary key autoincrement, 编号 integer unique,"
                     " 姓名 varchar(4), 城市 varchar(10), 来源 varchar(10));"
                     "create table t2(a integer, b varchar(5));");
  }

  Result run(const std::vector<std::string>& args) { return test::runBatch(args); }

  Result migrate(const std::string& mapBytes, std::vector<std::string> extra = {}) {
    test::writeFile(mapFile, mapBytes);
    std::vector<std::string> args{"--old", oldDb, "--new", newDb, "--map", mapFile};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }

  Rows newRows(const std::string& sql) { return test::sqliteRows(newDb, sql); }

  test::TempDir dir;
  std::string oldDb, newDb;
  std::string mapFile = dir.file("映射.TXT");
};

// Three lines as the mapping window saves them, the old field names filled
// to the name column width.
const char* const kLines[] = {
    "客户->编号   >> 顾客->编号",
    "客户->名称   >> 顾客->姓名",
    " 老系统  >> 顾客->来源",
};

std::string joined(const std::string& brk) {
  std::string s;
  for (const char* l : kLines) s += std::string(l) + brk;
  return s;
}

const Rows kMigrated{{"1", "华东贸易", "老系统"}, {"2", "O'Ne", "老系统"}, {"3", "北方", "老系统"}};

// The last count with the time, then the report table.
bool endsWithSummary(const std::string& out, int rows) {
  std::regex re("处理进度：" + std::to_string(rows) + "完毕！用时[0-9]+毫秒\n\n老表  新表 [^\n]*\n[^\n]*\n$");
  return std::regex_search(out, re);
}

}  // namespace

TEST_F(Batch, GbkFileWithCrLfBreaksMigratesIntoTheTablesOfItsFirstLine) {
  Result r = migrate(toGbk(joined("\r\n")));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(endsWithSummary(r.out, 3)) << r.out;
  EXPECT_NE(r.out.find("处理进度：1\n"), std::string::npos) << "the first count shows at once";
  EXPECT_EQ(newRows("select 编号, 姓名, 来源 from 顾客 order by id"), kMigrated);
}

TEST_F(Batch, CrAndLfBreaksAndAMissingFinalBreakReadAlike) {
  for (const char* brk : {"\r", "\n"}) {
    test::makeSqlite(newDb, "delete from 顾客;");
    std::string text = joined(brk);
    text.pop_back();
    Result r = migrate(text);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(newRows("select 编号, 姓名, 来源 from 顾客 order by id"), kMigrated);
  }
}

TEST_F(Batch, FilterAndTableOptionsOverrideTheDefaults) {
  Result r = migrate(joined("\r\n"), {"--filter", "where 城市 is not null"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(endsWithSummary(r.out, 2)) << r.out;
  EXPECT_EQ(newRows("select 编号 from 顾客 order by id"), (Rows{{"1"}, {"3"}}));

  // The table names of the lines themselves are not what the engine reads.
  r = migrate("x->a >> y->a\r\n 默认值 >> y->b\r\n", {"--old-table", "other", "--new-table", "t2"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(newRows("select a, b from t2"), (Rows{{"7", "默认值"}}));

  // A filter selecting nothing is still a finished migration.
  r = migrate(joined("\n"), {"--filter", "where 1 = 0"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(endsWithSummary(r.out, 0)) << r.out;
}

TEST_F(Batch, ErrorsPrintTheErrorBoxTextAndExitOne) {
  Result r = migrate("客户->无此字段 >> 顾客->姓名\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "ADODataSetTmp: Field '无此字段' not found.\n");
  EXPECT_EQ(r.out.find("处理进度"), std::string::npos) << r.out;

  // A duplicate key at the third row: the first two stay and are counted.
  test::makeSqlite(newDb, "insert into 顾客(编号) values(3);");
  r = migrate(joined("\r\n"));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "向新数据库“" + newDb + "”写入第 3 行（编号 = 3）时出错：UNIQUE constraint failed: 顾客.编号.\n");
  EXPECT_TRUE(std::regex_search(r.out, std::regex("处理进度：2\n\n老表"))) << r.out;
  EXPECT_EQ(newRows("select count(*) from 顾客"), (Rows{{"3"}}));

  r = migrate(" 只有默认值 >> 顾客->来源\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "映射列表文件没有写明老表，请用 --old-table 指定.\n");

  r = migrate("");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "映射列表文件“" + mapFile + "”中没有映射行.\n");

  test::writeFile(mapFile, joined("\n"));
  r = run({"--old", dir.file("nope.db"), "--new", newDb, "--map", mapFile});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "找不到数据库文件“" + dir.file("nope.db") + "”.\n");
}

TEST_F(Batch, WrongArgumentsPrintTheUsageAndExitTwo) {
  const std::vector<std::vector<std::string>> wrong{
      {},
      {"--old", oldDb},
      {"--old", oldDb, "--new", newDb},
      {"--old", oldDb, "--new", newDb, "--map"},
      {"--old", oldDb, "--new", newDb, "--map", mapFile, "--bogus", "1"},
      {"--old", oldDb, "--old", oldDb, "--new", newDb, "--map", mapFile},
      {"--old", oldDb, "--export", "客户"},
      {"--old", oldDb, "--export", "客户", "--to", "x", "--map", mapFile},
      {"--old", oldDb, "--new", newDb, "--map", mapFile, "stray"},
  };
  for (const auto& args : wrong) {
    Result r = run(args);
    EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args);
    EXPECT_NE(r.err.find("用法："), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  Result help = run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("用法：", 0), 0u);
}

TEST_F(Batch, ExportsATableAndFailsCleanlyIntoAMissingFolder) {
  std::string target = dir.file("客户 导出.TXT");
  Result r = run({"--old", oldDb, "--export", "客户", "--to=" + target});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("^导出完成！用时[0-9]+毫秒\n$"))) << r.out;
  EXPECT_EQ(test::readFile(target),
            "\"编号\",\"名称\",\"城市\"\r\n"
            "1,\"华东贸易有限公司\",\"上海\"\r\n"
            "2,\"O'Neil & Co\",\r\n"
            "3,\"北方\",\"哈尔滨\"\r\n");

  r = run({"--old", oldDb, "--export", "客户", "--to", dir.file("无/x.TXT")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("无法创建文件“" + dir.file("无/x.TXT") + "”", 0), 0u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("无")));
}

TEST_F(Batch, CtrlCStopsAfterTheRowInHandAndKeepsTheRowsBefore) {
  test::makeSqlite(oldDb,
                   "create table big(id integer primary key, t varchar(20));"
                   "with recursive c(x) as (select 1 union all select x + 1 from c where x < 300000)"
                   " insert into big select x, 'row ' || x from c;");
  test::makeSqlite(newDb, "create table copy(id integer, t varchar(20));");
  test::writeFile(mapFile, "big->id >> copy->id\nbig->t >> copy->t\n");

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::string bin = std::string(VOV_BIN_DIR) + "/vovarize-batch";
  std::vector<std::string> words{bin, "--old", oldDb, "--new", newDb, "--map", mapFile};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  // The first count shows after the first row; the interrupt comes then.
  std::string printed;
  char buf[4096];
  ssize_t n;
  bool sent = false;
  while ((n = read(out[0], buf, sizeof buf)) > 0) {
    printed.append(buf, static_cast<size_t>(n));
    if (!sent && printed.find('\n') != std::string::npos) {
      kill(pid, SIGINT);
      sent = true;
    }
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);

  Rows count = newRows("select count(*), coalesce(max(id), 0) from copy");
  long kept = std::stol(count[0][0]);
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 300000) << "the interrupt came too late to test anything";
  EXPECT_EQ(count[0][1], count[0][0]) << "the rows before the interrupt, no others";
  EXPECT_TRUE(std::regex_search(printed, std::regex("处理进度：" + count[0][0] + "\n\n老表"))) << printed;
  EXPECT_EQ(test::readFile(dir.file("stderr.txt")),
            "迁移已中断，已插入的 " + count[0][0] + " 行保留在新表中.\n");
}
