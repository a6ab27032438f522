// Filters that would not do what they say, on every engine an old database
// can be: a second statement after a semicolon (which would never run, or
// worse, run), and parameters that nothing fills (which would silently be
// null). Each is refused before any row moves, with a message that names
// the old database, and the old table is untouched.
#include <gtest/gtest.h>

#include "data/data_module.h"
#include "data/error.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "data/connection_string.h"
#include "tests/support/mariadb_test_server.h"
#include "tests/support/pg_test_server.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

const char* const kHostile[] = {
    "where id = 1; drop table src",
    "where id = 1; delete from src",
    "where id = :p",
    "where id = ?",
    "where id = $1",
};

class HostileFilters : public ::testing::Test {
 protected:
  void SetUp() override { test::makeSqlite(newDb, "create table dst(id integer);"); }

  // The message of a migration from `oldDb`'s table src (field id) with
  // `filter`, or "(no error)".
  std::string migrate(const std::string& oldDb, const std::string& filter,
                      const std::string& table = "src", const std::string& field = "id") {
    TDataModule2 dm;
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);
    MigrationRequest r;
    r.oldTable = [table] { return table; };
    r.newTable = [] { return std::string("dst"); };
    r.lines = {composeFieldMappingLine(table, field, -1, "dst", "id")};
    r.filter = filter;
    try {
      migrateTable(dm, r);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no error)";
  }

  void expectRefused(const std::string& oldDb, const std::string& shownAs,
                     const std::string& table = "src", const std::string& field = "id") {
    for (std::string filter : kHostile) {
      if (size_t at = filter.find("src"); at != std::string::npos) filter.replace(at, 3, table);
      filter.replace(filter.find("id"), 2, field);
      SCOPED_TRACE(filter);
      const std::string e = migrate(oldDb, filter, table, field);
      EXPECT_EQ(e.rfind("从老数据库“" + shownAs, 0), 0u) << e;
      EXPECT_EQ(test::sqliteRows(newDb, "select count(*) from dst")[0][0], "0");
    }
  }

  test::TempDir dir;
  std::string newDb = dir.file("new.db");
};

}  // namespace

TEST_F(HostileFilters, SqliteRefusesThem) {
  const std::string oldDb = dir.file("old.db");
  test::makeSqlite(oldDb, "create table src(id integer); insert into src values(1), (2);");
  expectRefused(oldDb, oldDb);
  EXPECT_EQ(test::sqliteRows(oldDb, "select count(*) from src")[0][0], "2");
  const std::string where = "从老数据库“" + oldDb + "”读取老表的行时出错：筛选条件有误：";
  EXPECT_EQ(migrate(oldDb, kHostile[0]), where + "分号后面不能再有语句（“drop table src;”）");
  EXPECT_EQ(migrate(oldDb, kHostile[2]), where + "其中的“:p”是参数，没有可以代入的值");
  EXPECT_EQ(migrate(oldDb, kHostile[3]), where + "其中的“?”是参数，没有可以代入的值");
  // Semicolons, blanks and comments after the condition are nothing.
  EXPECT_EQ(migrate(oldDb, "where id = 1; -- fine\n; /* also */"), "(no error)");
  EXPECT_EQ(test::sqliteRows(newDb, "select count(*) from dst")[0][0], "1");
}

TEST_F(HostileFilters, AccessRefusesThem) {
  const std::string oldDb = test::copyTestData(dir, "access/nwind.mdb");
  const std::string before = test::readFile(oldDb);
  // The field is a number, so that only the hostile part can be refused.
  expectRefused(oldDb, oldDb, "Order Details", "OrderID");
  EXPECT_EQ(test::readFile(oldDb), before);
}

TEST_F(HostileFilters, PostgresRefusesThem) {
  test::PgDatabase pg;
  pg.exec("create table src(id int); insert into src values (1), (2);");
  const std::string shown = pg.address().substr(0, pg.address().find(':', 13) + 1) + "***@";
  expectRefused(pg.address(), shown);
  EXPECT_EQ(pg.rows("select count(*) from src"), (std::vector<std::vector<std::string>>{{"2"}}));
}

TEST_F(HostileFilters, MariaDbRefusesThem) {
  test::MariaDatabase maria;
  maria.exec("CREATE TABLE src(id INT); INSERT INTO src VALUES (1), (2)");
  expectRefused(maria.address(), withoutPassword(maria.address()) + "”");
  EXPECT_EQ(maria.rows("SELECT COUNT(*) FROM src"), (std::vector<std::vector<std::string>>{{"2"}}));
}
