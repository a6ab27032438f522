// The migration engine under real faults: a full disk, another program on
// the new file, a damaged old file and filters that would not do what they
// say. Each must end in a message that names the cause and the place, and
// the rows must be where the message says.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "data/data_module.h"
#include "data/error.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

using Rows = std::vector<std::vector<std::string>>;

class Faults : public ::testing::Test {
 protected:
  // `rows` old rows of about 100 bytes each, and an empty new table.
  void makeFiles(int rows) {
    test::makeSqlite(oldDb,
                     "create table src(id integer primary key, t varchar(120));"
                     "with recursive c(x) as (select 1 union all select x + 1 from c where x < " +
                         std::to_string(rows) +
                         ") insert into src select x, printf('%0100d', x) from c;");
    test::makeSqlite(newDb, "create table dst(id integer unique, t varchar(120));");
  }

  // Runs a migration of src into dst; returns the error's message, or
  // "(no error)".
  std::string migrate(const std::string& filter = kDefaultFilterText) {
    if (!dm.ADOConnection2old.connected()) {
      TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
      TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);
    }
    MigrationRequest r;
    r.oldTable = [] { return std::string("src"); };
    r.newTable = [] { return std::string("dst"); };
    r.lines = {composeFieldMappingLine("src", "id", -1, "dst", "id"),
               composeFieldMappingLine("src", "t", -1, "dst", "t")};
    r.filter = filter;
    r.progress = [this](int32_t n) { last = n; };
    last = -1;
    try {
      migrateTable(dm, r);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no error)";
  }

  int64_t newCount() { return std::stoll(test::sqliteRows(newDb, "select count(*) from dst")[0][0]); }

  test::TempDir dir;
  std::string oldDb = dir.file("old.db"), newDb = dir.file("new.db");
  TDataModule2 dm;
  int32_t last = -1;
};

bool startsWith(const std::string& s, const std::string& head) {
  return s.compare(0, head.size(), head) == 0;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

// SQLite rolls the whole transaction back itself when the disk fills; the
// message used to be the commit's "no transaction is active".
TEST_F(Faults, AFullDiskShowsTheEnginesErrorAndThatNoRowStayed) {
  makeFiles(60000);
  std::string e;
  {
    test::FileSizeLimit limit(256 << 10);
    e = migrate();
  }
  EXPECT_EQ(e.find("no transaction"), std::string::npos) << e;
  EXPECT_TRUE(startsWith(e, "本次迁移的行均未写入新表（新数据库已自行撤销整个事务）：向新数据库“" +
                                newDb + "”写入第 "))
      << e;
  EXPECT_TRUE(endsWith(e, "database or disk is full") || endsWith(e, "disk I/O error")) << e;
  EXPECT_EQ(last, 0);
  EXPECT_EQ(newCount(), 0);
  EXPECT_FALSE(dm.ADOConnection1new.inTransaction());
  // With room again, the same connections migrate every row.
  EXPECT_EQ(migrate(), "(no error)");
  EXPECT_EQ(newCount(), 60000);
}

// A damaged old file names the old file and the row; the rows before it
// stay in the new table.
TEST_F(Faults, DamageInTheOldFileIsSaidToBeThere) {
  makeFiles(4000);
  {
    // A leaf page of the table, well inside it, no longer looks like one.
    FILE* f = std::fopen(oldDb.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 40 * 4096, SEEK_SET);
    std::fputc(0x7F, f);
    std::fclose(f);
  }
  std::string e = migrate();
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      e, m, std::regex("从老数据库“" + oldDb + "”读取第 ([0-9]+) 行时出错：database disk image is malformed")))
      << e;
  const int64_t k = std::stoll(m[1]);
  EXPECT_GT(k, 1);
  EXPECT_EQ(newCount(), k - 1);
  EXPECT_EQ(last, k - 1);
}

// Another program reading the new file the whole time: the rows wait in
// memory instead of each page sitting out the lock, and the commit, which
// cannot be done while the other reads, fails within seconds and says so.
TEST_F(Faults, AnotherProgramReadingTheNewFileStopsTheMigrationWithinSeconds) {
  makeFiles(100000);
  test::SqliteLockHolder reader(newDb, test::SqliteLockHolder::Read);
  std::string e = migrate();
  EXPECT_EQ(e, "本次迁移的行均未写入新表：向新数据库“" + newDb +
                   "”提交时出错：数据库文件正被其他程序使用，请关闭那个程序后再试（database is locked）");
  EXPECT_EQ(last, 0);
  EXPECT_EQ(newCount(), 0);
}

TEST_F(Faults, AReaderThatFinishesSoonLetsTheMigrationFinish) {
  makeFiles(100000);
  test::SqliteLockHolder reader(newDb, test::SqliteLockHolder::Read, 1500);
  EXPECT_EQ(migrate(), "(no error)");
  EXPECT_EQ(last, 100000);
  EXPECT_EQ(newCount(), 100000);
}

TEST_F(Faults, AnotherProgramWritingTheNewFileStopsAtTheFirstRow) {
  makeFiles(100);
  test::SqliteLockHolder writer(newDb, test::SqliteLockHolder::Write);
  EXPECT_EQ(migrate(), "向新数据库“" + newDb +
                           "”写入第 1 行时出错：数据库文件正被其他程序使用，请关闭那个程序后再试（database is locked）");
  EXPECT_EQ(last, -1);
}

// A name of a megabyte, from a hand-made list, is echoed cut to a
// readable length; the message keeps its spelled-out form.
TEST_F(Faults, HugeNamesAreEchoedCut) {
  makeFiles(3);
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);
  const std::string huge(1 << 20, 'n');
  for (bool oldSide : {true, false}) {
    MigrationRequest r;
    r.oldTable = [] { return std::string("src"); };
    r.newTable = [] { return std::string("dst"); };
    r.lines = {oldSide ? composeFieldMappingLine("src", huge, -1, "dst", "id")
                       : composeFieldMappingLine("src", "id", -1, "dst", huge)};
    r.filter = kDefaultFilterText;
    try {
      migrateTable(dm, r);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), std::string(oldSide ? "ADODataSetTmp" : "ADODataSettmpnew") +
                                           ": Field '" + std::string(100, 'n') + "…' not found");
    }
  }
}
