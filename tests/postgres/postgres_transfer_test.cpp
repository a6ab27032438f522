// PostgreSQL as the old database: the text export of a PostgreSQL table,
// and its rows carried into SQLite through the components the migration
// drives (postgres_migration_test.cpp runs the migration engine itself).
#include <gtest/gtest.h>

#include <fstream>

#include "data/connection_string.h"
#include "data/error.h"
#include "tests/postgres/pg_fixture.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

class PgTransfer : public test::PgTest {
 protected:
  // Copies every row of `from` on `src` into `to` on `dst` (same columns,
  // same order), one insert per row inside one transaction.
  static int64_t copyRows(Connection& src, const std::string& from, Connection& dst,
                          const std::string& to) {
    DataSet rows("ADODataSetTmp", &src);
    rows.setCommandText("select * from " + src.quoteName(from) + ";");
    rows.open();
    std::string cols, marks;
    for (int i = 0; i < rows.fieldCount(); ++i) {
      cols += (i ? "," : "") + dst.quoteName(rows.field(i).fieldName());
      marks += (i ? ",:kh" : ":kh") + std::to_string(i);
    }
    Command cmd("ADOCommand1", &dst);
    cmd.setCommandText("insert into " + dst.quoteName(to) + "(" + cols + ") values(" + marks + ")");
    dst.beginTransaction();
    int64_t n = 0;
    for (; !rows.eof(); rows.next(), ++n) {
      for (int i = 0; i < rows.fieldCount(); ++i) cmd.parameters()[static_cast<size_t>(i)].value = rows.field(i).value();
      cmd.execute();
    }
    cmd.finish();
    dst.commit();
    return n;
  }

  test::TempDir dir;
};

}  // namespace

TEST_F(PgTransfer, ExportOfAPostgresTable) {
  db.exec(
      "create table \"Sales 2024\"(id serial, name varchar(10), amount numeric(8,2),"
      " d timestamp, ok boolean, memo text, raw bytea, r float8);"
      "insert into \"Sales 2024\"(name, amount, d, ok, memo, raw, r) values"
      " ('甲 \"乙\"', 12.5, '2024-01-02 03:04:05', true, 'line1' || chr(10) || 'line2', '\\x0aff', 0.25),"
      " (null, null, null, null, null, null, null)");
  conn.execute("Select * Into [Text;Database=" + dir.path() + "/].sales.csv From " +
               conn.quoteName("Sales 2024"));
  EXPECT_EQ(test::readFile(dir.file("sales.csv")),
            "\"id\",\"name\",\"amount\",\"d\",\"ok\",\"memo\",\"raw\",\"r\"\r\n"
            "1,\"甲 \"\"乙\"\"\",12.50,2024-01-02 03:04:05,1,\"line1\nline2\",\"0AFF\",0.25\r\n"
            "2,,,,,,,\r\n");
  // A missing table fails with the server's words and leaves no file.
  EXPECT_THROW(conn.execute("Select * Into [Text;Database=" + dir.path() + "/].none.csv From " +
                            conn.quoteName("none")),
               Error);
  EXPECT_FALSE(std::ifstream(dir.file("none.csv")).good());
}

TEST_F(PgTransfer, PostgresToSqlite) {
  db.exec(
      "create table src(id serial primary key, name varchar(20), price numeric(10,4),"
      " qty int, r float8, ok boolean, d timestamp, memo text, pic bytea);"
      "insert into src(name, price, qty, r, ok, d, memo, pic)"
      " select case when g % 5 = 0 then null else '名称' || g end, g * 1.25, g, g / 3.0,"
      " g % 2 = 0, timestamp '2020-01-01' + g * interval '1 hour',"
      " case when g % 7 = 0 then null else repeat('备注', g % 4) end,"
      " case when g % 3 = 0 then null else decode(lpad(to_hex(g), 8, '0'), 'hex') end"
      " from generate_series(1, 3000) g");
  const std::string file = dir.file("new.db");
  test::makeSqlite(file,
                   "create table dst(id integer primary key, name varchar(20), price decimal(10,4),"
                   " qty int, r real, ok boolean, d datetime, memo text, pic blob)");
  Connection sqlite("ADOConnection1new");
  sqlite.setConnectionString(buildConnectionString(file));
  Connection pg("ADOConnection2old");
  pg.setConnectionString(db.address());
  EXPECT_EQ(copyRows(pg, "src", sqlite, "dst"), 3000);

  auto got = test::sqliteRows(file, "select * from dst order by id");
  auto want = readAll("select * from src order by id");
  ASSERT_EQ(got.size(), want.size());
  for (size_t r = 0; r < want.size(); ++r) {
    for (size_t c = 0; c < want[r].size(); ++c) {
      std::string w = want[r][c].isNull() ? "<null>" : want[r][c].toText();
      // SQLite keeps a decimal column's value as a number.
      if (c == 2) w = Value::fromReal(std::stod(w)).toText();
      ASSERT_EQ(got[r][c], w) << "row " << r << " column " << c;
    }
  }
}
