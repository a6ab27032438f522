// Exporting an old table to a CSV file through the export statement.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "data/connection_string.h"
#include "data/engine.h"
#include "data/error.h"
#include "data/interrupt.h"
#include "migration/export_table.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

class Export : public ::testing::Test {
 protected:
  void SetUp() override {
    db = dir.file("old.db");
    test::makeSqlite(db,
                     "create table \"order details\"(id integer primary key, name varchar(10),"
                     " price real, qty integer, note text);"
                     "insert into \"order details\" values(1, '张\"三\"', 2.5, 4, 'a,b');"
                     "insert into \"order details\" values(2, null, null, null, null);"
                     "insert into \"order details\" values(3, '', -0.5, 0, '');");
    conn.setConnectionString(buildConnectionString(db));
  }

  std::vector<std::string> filesInDir() {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir dir;
  std::string db;
  Connection conn{"ADOConnection2old"};
};

const char kExpectedCsv[] =
    "\"id\",\"name\",\"price\",\"qty\",\"note\"\r\n"
    "1,\"张\"\"三\"\"\",2.5,4,\"a,b\"\r\n"
    "2,,,,\r\n"
    "3,\"\",-0.5,0,\"\"\r\n";

}  // namespace

TEST(ExportPath, SplitsAfterTheLastSlashOnly) {
  ExportPath p = splitExportPath("/home/u/数据/订单.TXT");
  EXPECT_EQ(p.folder, "/home/u/数据/");
  EXPECT_EQ(p.file, "订单.TXT");
  p = splitExportPath("/out.TXT");
  EXPECT_EQ(p.folder, "/");
  EXPECT_EQ(p.file, "out.TXT");
  p = splitExportPath("out.TXT");
  EXPECT_EQ(p.folder, "");
  EXPECT_EQ(p.file, "out.TXT");
#ifndef _WIN32
  // Here a backslash or a colon is part of a file name.
  p = splitExportPath("/tmp/a\\b c:d.TXT");
  EXPECT_EQ(p.folder, "/tmp/");
  EXPECT_EQ(p.file, "a\\b c:d.TXT");
#else
  p = splitExportPath("C:\\data\\订单.TXT");
  EXPECT_EQ(p.folder, "C:\\data\\");
  EXPECT_EQ(p.file, "订单.TXT");
  p = splitExportPath("C:r.TXT");
  EXPECT_EQ(p.folder, "C:");
  EXPECT_EQ(p.file, "r.TXT");
#endif
}

TEST_F(Export, StatementQuotesTheTableAndKeepsTheFileNameAsItIs) {
  EXPECT_EQ(exportStatement(conn, "order details", "/d/my file.TXT"),
            "Select * Into [Text;Database=/d/].my file.TXT From \"order details\"");
}

TEST_F(Export, WritesCsvAndReplacesAnExistingFile) {
  std::string target = dir.file("导出 结果.TXT");
  test::writeFile(target, "an older and much longer content that must disappear entirely");
  exportTable(conn, "order details", target);
  // Nulls, also of the memo, are written as nothing, unlike empty texts.
  EXPECT_EQ(test::readFile(target), kExpectedCsv);
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"old.db", "导出 结果.TXT"}));
}

TEST_F(Export, TableNamesHoldingFromAndQuotesExportWhole) {
  test::makeSqlite(db, "create table \"a from b\"(x integer); insert into \"a from b\" values(1);"
                       "create table \"q\"\"t\"(y text); insert into \"q\"\"t\" values('z');");
  exportTable(conn, "a from b", dir.file("x from y.TXT"));
  EXPECT_EQ(test::readFile(dir.file("x from y.TXT")), "\"x\"\r\n1\r\n");
  exportTable(conn, "q\"t", dir.file("q.TXT"));
  EXPECT_EQ(test::readFile(dir.file("q.TXT")), "\"y\"\r\n\"z\"\r\n");
}

TEST_F(Export, TheFileCarriesExactlyTheChosenName) {
  const std::string folder = dir.file("d].e [f] 目录");
  std::filesystem::create_directory(folder);
  for (const char* name : {"a].b.TXT", "[x] 订单 ].b.TXT", "].TXT"}) {
    exportTable(conn, "order details", folder + "/" + name);
    EXPECT_EQ(test::readFile(folder + "/" + name), kExpectedCsv) << name;
  }
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"[x] 订单 ].b.TXT", "].TXT", "a].b.TXT"}));
}

TEST_F(Export, FailuresLeaveNoFileBehind) {
  EXPECT_THROW(exportTable(conn, "order details", dir.file("missing/out.TXT")), Error);
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));

  std::string target = dir.file("keep.TXT");
  test::writeFile(target, "old content");
  try {
    exportTable(conn, "no such table", target);
    FAIL() << "a missing table must fail";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "从老数据库“" + db + "”读取表“no such table”时出错：no such table: no such table");
  }
  EXPECT_EQ(test::readFile(target), "old content");

  EXPECT_THROW(exportTable(conn, "order details", dir.path() + "/"), Error);
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"keep.TXT", "old.db"}));
}

// A write that fails midway (a file-size limit standing in for a full disk)
// used to free the file twice and end the program.
TEST_F(Export, AFullDiskFailsWithTheReasonAndLeavesTheOldFileAlone) {
  std::string target = dir.file("keep.TXT");
  test::writeFile(target, "old content");
  std::string message;
  {
    test::FileSizeLimit full(30);
    try {
      exportTable(conn, "order details", target);
    } catch (const FileError& e) {
      message = e.what();
    }
  }
  EXPECT_EQ(message, "无法写入文件“" + target + "”：文件超过了系统允许的大小");
  EXPECT_EQ(test::readFile(target), "old content");
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"keep.TXT", "old.db"}));
}

TEST_F(Export, AStopRequestLeavesNoFile) {
  requestInterrupt();
  EXPECT_THROW(exportTable(conn, "order details", dir.file("out.TXT")), Abort);
  clearInterrupt();
  EXPECT_EQ(filesInDir(), (std::vector<std::string>{"old.db"}));
}
