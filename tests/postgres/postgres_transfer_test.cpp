// PostgreSQL beside the other engines: the text export of a PostgreSQL
// table, and rows carried between PostgreSQL, SQLite and Access through the
// components the migration drives, compared row by row.
#include <gtest/gtest.h>

#include <fstream>

#include "data/connection_string.h"
#include "data/error.h"
#include "tests/postgres/pg_fixture.h"
#include "tests/support/test_support.h"

using namespace vov;
using vov::test::integer;
using vov::test::text;

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

  // Rows as the result set shows them (memo nulls read as empty text).
  static std::vector<std::vector<Value>> dataSetRows(Connection& c, const std::string& table) {
    DataSet ds("ADODataSetTmp", &c);
    ds.setCommandText("select * from " + c.quoteName(table));
    ds.open();
    std::vector<std::vector<Value>> rows;
    for (; !ds.eof(); ds.next()) {
      rows.emplace_back();
      for (int i = 0; i < ds.fieldCount(); ++i) rows.back().push_back(ds.field(i).value());
    }
    return rows;
  }

  static void expectSameRows(const std::vector<std::vector<Value>>& got,
                             const std::vector<std::vector<Value>>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t r = 0; r < want.size(); ++r) {
      ASSERT_EQ(got[r].size(), want[r].size()) << what;
      for (size_t c = 0; c < want[r].size(); ++c)
        EXPECT_EQ(got[r][c], want[r][c]) << what << " row " << r << " column " << c << ": "
                                          << got[r][c].toText() << " / " << want[r][c].toText();
    }
  }

  // PostgreSQL column types for the fields of another engine's table.
  static std::string pgType(const FieldInfo& f) {
    switch (f.type) {
      case ftString:
      case ftWideString: return f.size > 0 ? "varchar(" + std::to_string(f.size) + ")" : "text";
      case ftFixedChar: return "char(" + std::to_string(f.size > 0 ? f.size : 1) + ")";
      case ftSmallint: return "smallint";
      case ftWord:
      case ftInteger:
      case ftAutoInc: return "integer";
      case ftLargeint: return "bigint";
      case ftBoolean: return "boolean";
      case ftFloat: return "float8";
      case ftCurrency: return "numeric(19,4)";
      case ftBCD: return "numeric";
      case ftDate:
      case ftDateTime: return "timestamp";
      case ftTime: return "time";
      case ftBytes:
      case ftVarBytes:
      case ftBlob: return "bytea";
      default: return "text";
    }
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
      // Memo and long binary nulls read as empty.
      if ((c == 7 || c == 8) && want[r][c].isNull()) w = "";
      // SQLite keeps a decimal column's value as a number.
      if (c == 2) w = Value::fromReal(std::stod(w)).toText();
      ASSERT_EQ(got[r][c], w) << "row " << r << " column " << c;
    }
  }
}

TEST_F(PgTransfer, SqliteToPostgres) {
  const std::string file = dir.file("old.db");
  std::string sql =
      "create table \"Old Items\"(id integer primary key, 名称 varchar(20), price decimal(10,2),"
      " r real, d datetime, memo text, b blob); begin;";
  for (int i = 1; i <= 2500; ++i) {
    std::string n = std::to_string(i);
    sql += "insert into \"Old Items\" values(" + n + ", " +
           (i % 9 == 0 ? "null" : "'名称 " + n + "'") + ", '" + n + ".25', " + n + ".5, '2021-03-0" +
           std::to_string(1 + i % 9) + " 10:20:30', " + (i % 7 == 0 ? "null" : "'x''y\\z " + n + "'") +
           ", x'00" + (i % 2 ? "ff" : "0a") + "');";
  }
  test::makeSqlite(file, sql + "commit;");
  db.exec(
      "create table \"New Items\"(id integer primary key, 名称 varchar(20), price numeric(10,2),"
      " r float8, d timestamp, memo text, b bytea)");
  Connection sqlite("ADOConnection2old");
  sqlite.setConnectionString(buildConnectionString(file));
  EXPECT_EQ(copyRows(sqlite, "Old Items", conn, "New Items"), 2500);

  std::vector<std::vector<Value>> want = dataSetRows(sqlite, "Old Items");
  std::vector<std::vector<Value>> got = readAll("select * from \"New Items\" order by id");
  // SQLite gives the decimal text back as a number and the date as text.
  for (auto& row : want) {
    row[2] = Value::fromDecimal(row[2].toText());
    DateTime dt;
    ASSERT_TRUE(DateTime::parse(row[4].str(), &dt));
    row[4] = Value::fromDateTime(dt);
  }
  expectSameRows(got, want, "Old Items");
}

TEST_F(PgTransfer, AccessToPostgresEveryTableOfNwind) {
  const std::string mdb = test::copyTestData(dir, "access/nwind.mdb");
  Connection access("ADOConnection2old");
  access.setConnectionString(buildConnectionString(mdb));
  std::vector<std::string> tables;
  access.tableNames(tables);
  ASSERT_GE(tables.size(), 8u);
  for (const std::string& table : tables) {
    std::vector<FieldInfo> fields = access.backend().tableFields(table);
    std::string ddl = "create table " + conn.quoteName(table) + "(";
    for (size_t i = 0; i < fields.size(); ++i)
      ddl += (i ? ", " : "") + conn.quoteName(fields[i].name) + " " + pgType(fields[i]);
    db.exec(ddl + ")");
    const int64_t n = copyRows(access, table, conn, table);
    std::vector<std::vector<Value>> want = dataSetRows(access, table);
    EXPECT_EQ(n, static_cast<int64_t>(want.size()));
    expectSameRows(readAll("select * from " + conn.quoteName(table)), want, table);
  }
}
