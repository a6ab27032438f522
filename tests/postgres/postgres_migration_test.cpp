// The migration engine with PostgreSQL on either side: SQLite and Access
// (nwind.mdb) into PostgreSQL, PostgreSQL into SQLite, compared row by row,
// and the rows kept when a row fails.
#include <gtest/gtest.h>

#include "data/data_module.h"
#include "data/error.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/postgres/pg_fixture.h"
#include "tests/support/test_support.h"

using namespace vov;
using vov::test::text;

namespace {

class PgMigration : public test::PgTest {
 protected:
  // Migrates `oldTable` into `newTable` with one line per pair of fields
  // (and default values as "value >> new field" pairs with an empty old
  // field); returns the last row counter reported.
  int32_t migrate(const std::string& oldDb, const std::string& newDb, const std::string& oldTable,
                  const std::string& newTable,
                  const std::vector<std::pair<std::string, std::string>>& pairs,
                  const std::vector<std::pair<std::string, std::string>>& defaults = {}) {
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);
    MigrationRequest req;
    req.oldTable = [&] { return oldTable; };
    req.newTable = [&] { return newTable; };
    for (const auto& [from, to] : pairs)
      req.lines.push_back(composeFieldMappingLine(oldTable, from, 12, newTable, to));
    for (const auto& [value, to] : defaults)
      req.lines.push_back(composeDefaultValueLine(value, newTable, to));
    req.filter = kDefaultFilterText;
    int32_t counter = -1;
    req.progress = [&](int32_t n) { counter = n; };
    EXPECT_TRUE(migrateTable(dm, req));
    return counter;
  }

  // Every row of a table as the result set shows it.
  static std::vector<std::vector<Value>> rowsOf(Connection& c, const std::string& sql) {
    DataSet ds("ADODataSetTmp", &c);
    ds.setCommandText(sql);
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
        ASSERT_EQ(got[r][c], want[r][c]) << what << " row " << r << " column " << c << ": "
                                         << got[r][c].toText() << " / " << want[r][c].toText();
    }
  }

  TDataModule2 dm;
  test::TempDir dir;
};

// A PostgreSQL column that holds an Access field's values exactly.
std::string pgType(const FieldInfo& f) {
  switch (f.type) {
    case ftString:
    case ftWideString:
    case ftFixedChar: return f.size > 0 ? "varchar(" + std::to_string(f.size) + ")" : "text";
    case ftGuid: return "varchar(38)";
    case ftSmallint:
    case ftWord: return "smallint";
    case ftInteger:
    case ftAutoInc: return "integer";
    case ftLargeint: return "bigint";
    case ftBoolean: return "boolean";
    case ftFloat: return "float8";
    case ftCurrency: return "numeric(19,4)";
    case ftBCD: return "numeric";
    case ftDate:
    case ftTime:
    case ftDateTime: return "timestamp";
    case ftBytes:
    case ftVarBytes:
    case ftBlob: return "bytea";
    default: return "text";
  }
}

}  // namespace

TEST_F(PgMigration, SqliteIntoPostgresRowByRow) {
  const std::string file = dir.file("old.db");
  std::string sql =
      "create table \"Old Goods\"(id integer primary key, \"商品 名称\" varchar(20), price decimal(10,2),"
      " qty integer, weight real, added datetime, note text, pic blob); begin;";
  for (int i = 1; i <= 3000; ++i) {
    const std::string n = std::to_string(i);
    sql += "insert into \"Old Goods\" values(" + n + ", " +
           (i % 11 == 0 ? "null" : "'上海华东贸易有限公司 " + n + "'") + ", " + n + ".75, " +
           (i % 13 == 0 ? "null" : n) + ", " + n + ".5, '2022-0" + std::to_string(1 + i % 9) +
           "-1" + std::to_string(i % 10) + " 08:09:10', " + (i % 7 == 0 ? "null" : "'备注 ''" + n + "'''") +
           ", " + (i % 5 == 0 ? "null" : "x'00ff" + std::string(i % 2 ? "0a" : "5c") + "'") + ");";
  }
  test::makeSqlite(file, sql + "commit;");
  db.exec(
      "create table \"新 商品\"(编号 serial primary key, 旧编号 integer, 名称 varchar(8),"
      " 价格 numeric(10,2), 数量 integer, 重量 float8, 日期 timestamp, 备注 text, 图片 bytea,"
      " 来源 varchar(10))");
  const int32_t n = migrate(file, db.address(), "Old Goods", "新 商品",
                            {{"id", "旧编号"}, {"商品 名称", "名称"}, {"price", "价格"},
                             {"qty", "数量"}, {"weight", "重量"}, {"added", "日期"},
                             {"note", "备注"}, {"pic", "图片"}},
                            {{"老库", "来源"}});
  EXPECT_EQ(n, 3000);

  Connection oldDb("old");
  oldDb.setConnectionString(file);
  std::vector<std::vector<Value>> want = rowsOf(oldDb, "select * from \"Old Goods\" order by id");
  for (auto& row : want) {
    // The name is cut to the new field's 8 characters (8 Chinese ones of 3
    // bytes each), the decimal keeps its scale, the date text becomes a
    // date, and the default fills in.
    if (!row[1].isNull()) row[1] = text(row[1].str().substr(0, 8 * 3));
    row[2] = Value::fromDecimal(row[2].toText());
    DateTime dt;
    ASSERT_TRUE(DateTime::parse(row[5].str(), &dt));
    row[5] = Value::fromDateTime(dt);
    row.push_back(text("老库"));
  }
  std::vector<std::vector<Value>> got =
      rowsOf(dm.ADOConnection1new, "select 旧编号, 名称, 价格, 数量, 重量, 日期, 备注, 图片, 来源 from \"新 商品\" order by 编号");
  expectSameRows(got, want, "新 商品");
}

TEST_F(PgMigration, EveryTableOfTheAccessTestFilesIntoPostgres) {
  for (const char* name : {"nwind.mdb", "DateTestDatabase.mdb", "types_jet3.mdb",
                           "fixed_numeric_jet4.mdb", "unicode_comp_jet4.mdb",
                           "ASampleDatabase.accdb", "emoticons_ace14.accdb"}) {
    const std::string mdb = test::copyTestData(dir, std::string("access/") + name);
    Connection access("ADOConnection2old");
    access.setConnectionString(mdb);
    std::vector<std::string> tables;
    access.tableNames(tables);
    for (const std::string& table : tables) {
      SCOPED_TRACE(std::string(name) + ": " + table);
      std::vector<FieldInfo> fields = access.backend().tableFields(table);
      // A new key of its own, then every old field under the same name.
      const std::string newTable = std::string(name).substr(0, 5) + " " + table;
      std::string ddl = "create table " + conn.quoteName(newTable) + "(\"new id\" serial primary key";
      std::vector<std::pair<std::string, std::string>> pairs;
      std::string columns;
      for (const FieldInfo& f : fields) {
        ddl += ", " + conn.quoteName(f.name) + " " + pgType(f);
        pairs.emplace_back(f.name, f.name);
        columns += (columns.empty() ? "" : ", ") + conn.quoteName(f.name);
      }
      db.exec(ddl + ")");
      std::vector<std::vector<Value>> want = rowsOf(access, "select * from [" + table + "]");
      const int32_t n = migrate(mdb, db.address(), table, newTable, pairs);
      EXPECT_EQ(n, want.empty() ? -1 : static_cast<int32_t>(want.size()));
      expectSameRows(rowsOf(dm.ADOConnection1new, "select " + columns + " from " +
                                                      conn.quoteName(newTable) + " order by \"new id\""),
                     want, table);
    }
  }
}

TEST_F(PgMigration, PostgresIntoSqliteRowByRow) {
  db.exec(
      "create table \"源 表\"(id bigserial primary key, name varchar(30), amount numeric(12,3),"
      " ok boolean, at timestamp, r float8, memo text, raw bytea);"
      "insert into \"源 表\"(name, amount, ok, at, r, memo, raw)"
      " select case when g % 6 = 0 then null else '名字 ' || g end, g * 1.125, g % 3 = 0,"
      " timestamp '2019-05-06 07:08:09.5' + g * interval '1 minute', g * 0.1,"
      " case when g % 4 = 0 then null else 'memo ' || g end,"
      " case when g % 5 = 0 then null else decode(to_hex(g * 17), 'escape') end"
      " from generate_series(1, 2000) g");
  const std::string file = dir.file("new.db");
  test::makeSqlite(file,
                   "create table 目标(k integer primary key autoincrement, name varchar(30),"
                   " amount text, ok boolean, at datetime, r real, memo text, raw blob)");
  const int32_t n = migrate(db.address(), file, "源 表", "目标",
                            {{"name", "name"}, {"amount", "amount"}, {"ok", "ok"}, {"at", "at"},
                             {"r", "r"}, {"memo", "memo"}, {"raw", "raw"}});
  EXPECT_EQ(n, 2000);
  std::vector<std::vector<Value>> want =
      rowsOf(dm.ADOConnection2old, "select name, amount, ok, at, r, memo, raw from \"源 表\" order by id");
  auto got = test::sqliteRows(file, "select name, amount, ok, at, r, memo, raw from 目标 order by k");
  ASSERT_EQ(got.size(), want.size());
  for (size_t r = 0; r < want.size(); ++r)
    for (size_t c = 0; c < want[r].size(); ++c)
      ASSERT_EQ(got[r][c], want[r][c].isNull() ? "<null>" : want[r][c].toText())
          << "row " << r << " column " << c;
}

TEST_F(PgMigration, ADuplicateKeyAtRowKKeepsRowsOneToKMinusOne) {
  const std::string file = dir.file("dup.db");
  std::string sql = "create table src(code integer, name text); begin;";
  for (int i = 1; i <= 12000; ++i)
    sql += "insert into src values(" + std::to_string(i == 10500 ? 3 : i) + ", 'n" + std::to_string(i) + "');";
  test::makeSqlite(file, sql + "commit;");
  db.exec("create table dst(id serial primary key, code integer unique, name text)");
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, file);
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db.address());
  MigrationRequest req;
  req.oldTable = [] { return std::string("src"); };
  req.newTable = [] { return std::string("dst"); };
  req.lines = {composeFieldMappingLine("src", "code", -1, "dst", "code"),
               composeFieldMappingLine("src", "name", -1, "dst", "name")};
  req.filter = kDefaultFilterText;
  int32_t counter = 0;
  req.progress = [&](int32_t n) { counter = n; };
  try {
    migrateTable(dm, req);
    FAIL();
  } catch (const StatementError& e) {
    EXPECT_EQ(e.runsDone(), 10499);
    EXPECT_NE(std::string(e.what()).find("duplicate key value violates unique constraint"),
              std::string::npos);
  }
  EXPECT_EQ(counter, 10499);
  EXPECT_EQ(db.rows("select count(*), max(code), max(name) from dst where name = 'n' || code")[0],
            (std::vector<std::string>{"10499", "10499", "n9999"}));
}
