// Nulls of every kind of column between SQLite and PostgreSQL: long text,
// JSON, XML and binary columns keep their nulls both ways, and a NOT NULL
// column stops the migration at the first null with the rows before kept.
#include <gtest/gtest.h>

#include "data/data_module.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/postgres/pg_fixture.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

class PgNulls : public test::PgTest {
 protected:
  void migrate(const std::string& oldDb, const std::string& newDb, const std::string& oldTable,
               const std::string& newTable, const std::vector<std::string>& fields) {
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);
    MigrationRequest req;
    req.oldTable = [=] { return oldTable; };
    req.newTable = [=] { return newTable; };
    for (const std::string& f : fields) req.lines.push_back(composeFieldMappingLine(oldTable, f, 8, newTable, f));
    req.filter = "order by id";
    ASSERT_TRUE(migrateTable(dm, req));
  }

  TDataModule2 dm;
  test::TempDir dir;
};

const std::vector<std::string> kFields = {"id", "t", "j", "jb", "x", "b"};

}  // namespace

TEST_F(PgNulls, SqliteNullsIntoTextJsonXmlAndByteaColumns) {
  const std::string file = dir.file("old.db");
  test::makeSqlite(file, "create table src(id integer primary key, t text, j clob, jb text, x text, b blob);"
                         "insert into src values(1, 'a', '{\"a\":1}', '[1]', '<a/>', x'00');"
                         "insert into src values(2, null, null, null, null, null);"
                         "insert into src values(3, '', '{}', '{}', '<b/>', x'');");
  db.exec("create table dst(id integer, t text, j json, jb jsonb, x xml, b bytea);"
          "create table strict(id integer, t text, j json, jb jsonb not null, x xml, b bytea)");
  migrate(file, db.address(), "src", "dst", kFields);
  EXPECT_EQ(db.rows("select id, t is null, j is null, jb is null, x is null, b is null from dst order by id"),
            (std::vector<std::vector<std::string>>{{"1", "f", "f", "f", "f", "f"},
                                                  {"2", "t", "t", "t", "t", "t"},
                                                  {"3", "f", "f", "f", "f", "f"}}));
  dm.ADOConnection1new.close();
  EXPECT_THROW(migrate(file, db.address(), "src", "strict", kFields), std::exception);
  EXPECT_EQ(db.rows("select id from strict"), (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST_F(PgNulls, PostgresNullsIntoSqlite) {
  db.exec("create table src(id integer primary key, t text, j json, jb jsonb, x xml, b bytea);"
          "insert into src values(1, 'a', '{\"a\":1}', '[1]', '<a/>', '\\x00'),"
          " (2, null, null, null, null, null), (3, '', '{}', '{}', '<b/>', '')");
  const std::string file = dir.file("new.db");
  test::makeSqlite(file, "create table dst(id integer, t text, j text, jb text, x text, b blob);"
                         "create table strict(id integer, t text, j text, jb text, x text not null, b blob);");
  migrate(db.address(), file, "src", "dst", kFields);
  EXPECT_EQ(test::sqliteRows(file, "select id, typeof(t), typeof(j), typeof(jb), typeof(x), typeof(b)"
                                   " from dst order by id"),
            (std::vector<std::vector<std::string>>{{"1", "text", "text", "text", "text", "blob"},
                                                  {"2", "null", "null", "null", "null", "null"},
                                                  {"3", "text", "text", "text", "text", "blob"}}));
  dm.ADOConnection1new.close();
  EXPECT_THROW(migrate(db.address(), file, "src", "strict", kFields), std::exception);
  EXPECT_EQ(test::sqliteRows(file, "select id from strict"), (std::vector<std::vector<std::string>>{{"1"}}));
}

// Quotes of every kind and brackets in PostgreSQL names, both ways.
TEST_F(PgNulls, NamesWithQuotesAndBracketsOfEveryKind) {
  db.exec("create table \"n'e`w[]\"(\"it's\" text, \"a`b\" integer, \"[c]\" text, \"d\"\"e\" text)");
  const std::string file = dir.file("old.db");
  test::makeSqlite(file, "create table \"o'ld\"(\"it's\" text, \"a`b\" integer, \"[c]\" text, \"d\"\"e\" text, id integer);"
                         "insert into \"o'ld\" values('x', 1, 'y', 'z', 1), (null, 2, '', 'w', 2);");
  migrate(file, db.address(), "o'ld", "n'e`w[]", {"it's", "a`b", "[c]", "d\"e"});
  EXPECT_EQ(db.rows("select coalesce(\"it's\", '-'), \"a`b\", \"[c]\", \"d\"\"e\" from \"n'e`w[]\" order by 2"),
            (std::vector<std::vector<std::string>>{{"x", "1", "y", "z"}, {"-", "2", "", "w"}}));
}
