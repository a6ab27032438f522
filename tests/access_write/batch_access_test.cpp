// vovarize-batch with an Access file as the new database: the same mapping
// list files and outcomes as with the other engines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>

#include "tests/access_write/write_support.h"
#include "tests/support/test_support.h"

namespace vov::test {
namespace {

struct BatchRun {
  int code = -1;
  std::string out;
};

BatchRun batch(const std::vector<std::string>& args) {
  std::string cmd = std::string(VOV_BIN_DIR) + "/vovarize-batch";
  for (const std::string& a : args) cmd += " " + shellQuote(a);
  cmd += " 2>&1";
  BatchRun r;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class AccessBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDb = dir.file("旧库.db");
    newDb = copyTestData(dir, "access/DateTestDatabase.mdb");
    writeFile(mapFile,
              "单据->编号   >> DateTest->IDCol\n"
              "单据->时间   >> DateTest->DateTimeCol\n"
              "单据->说明   >> DateTest->LongTextCol\n"
              "单据->名称   >> DateTest->ShortTextCol\n");
  }
  TempDir dir;
  std::string oldDb, newDb;
  std::string mapFile = dir.file("映射.txt");
};

TEST_F(AccessBatch, RowsFromSqliteArriveInTheAccessTable) {
  makeSqlite(oldDb,
             "create table 单据(编号 integer, 时间 varchar(30), 说明 text, 名称 varchar(40));"
             "insert into 单据 values(1, '2023-07-01 08:30:00', '第一行', '华东');"
             "insert into 单据 values(2, null, null, null);"
             "insert into 单据 values(3, '2023-07-03', '" + std::string(3000, 'z') + "', 'Ünïcode');");
  const BatchRun r = batch({"--old", oldDb, "--new", newDb, "--map", mapFile});
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(checkerProblems(newDb), "");
  EXPECT_TRUE(std::filesystem::exists(newDb + ".bak"));
  const auto rows = exportRows(newDb, "DateTest");
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[6], (ExportRow{"1", "2023-07-01 08:30:00", std::nullopt, std::nullopt, "第一行", "华东"}));
  EXPECT_EQ(rows[7], (ExportRow{"2", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_EQ(rows[8], (ExportRow{"3", "2023-07-03 00:00:00", std::nullopt, std::nullopt,
                                std::string(3000, 'z'), "Ünïcode"}));
  EXPECT_EQ(storedCount(newDb, "DateTest"), 9);
}

TEST_F(AccessBatch, ARefusedRowStopsTheRunAndKeepsTheRowsBeforeIt) {
  makeSqlite(oldDb,
             "create table 单据(编号 integer, 时间 varchar(30), 说明 text, 名称 varchar(40));"
             "insert into 单据 values(1, '2023-07-01', 'a', 'x');"
             "insert into 单据 values(2, '2023-07-02', 'b', 'y');"
             "insert into 单据 values(3, '七月三日', 'c', 'z');"
             "insert into 单据 values(4, '2023-07-04', 'd', 'w');");
  const BatchRun r = batch({"--old", oldDb, "--new", newDb, "--map", mapFile});
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("七月三日"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("DateTimeCol"), std::string::npos) << r.out;
  EXPECT_EQ(checkerProblems(newDb), "");
  const auto rows = exportRows(newDb, "DateTest");
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[7][0], "2");
}

}  // namespace
}  // namespace vov::test
