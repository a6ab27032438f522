// The migration engine with MySQL/MariaDB on either side: SQLite and Access
// files into MariaDB and back, compared row by row (Access with what
// mdb-export reads), the rows kept when a row fails, and the export.
#include <gtest/gtest.h>

#include <cmath>

#include "data/data_module.h"
#include "data/error.h"
#include "data/mariadb/maria_connection.h"
#include "data/text_util.h"
#include "mapping/mapping_line.h"
#include "migration/export_table.h"
#include "migration/migrate_table.h"
#include "tests/access/access_support.h"
#include "tests/mariadb/maria_fixture.h"
#include "tests/support/test_support.h"

using namespace vov;
using vov::test::integer;
using vov::test::text;

namespace {

using Rows = std::vector<std::vector<Value>>;

class MariaMigration : public test::MariaTest {
 protected:
  // A request for `oldTable` into `newTable` with one line per pair of
  // fields and default values as (value, new field) pairs.
  MigrationRequest request(const std::string& oldTable, const std::string& newTable,
                           const std::vector<std::pair<std::string, std::string>>& pairs,
                           const std::vector<std::pair<std::string, std::string>>& defaults = {}) {
    MigrationRequest req;
    req.oldTable = [oldTable] { return oldTable; };
    req.newTable = [newTable] { return newTable; };
    for (const auto& [from, to] : pairs)
      req.lines.push_back(composeFieldMappingLine(oldTable, from, 12, newTable, to));
    for (const auto& [value, to] : defaults)
      req.lines.push_back(composeDefaultValueLine(value, newTable, to));
    req.filter = kDefaultFilterText;
    req.progress = [this](int32_t n) { counter = n; };
    return req;
  }

  // Opens both sides and migrates; returns the last row counter reported.
  int32_t migrate(const std::string& oldDb, const std::string& newDb, const MigrationRequest& req) {
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);
    counter = -1;
    EXPECT_TRUE(migrateTable(dm, req));
    return counter;
  }

  // Every row of a query as the result set shows it.
  static Rows rowsOf(Connection& c, const std::string& sql) {
    DataSet ds("ADODataSetTmp", &c);
    ds.setCommandText(sql);
    ds.open();
    Rows rows;
    for (; !ds.eof(); ds.next()) {
      rows.emplace_back();
      for (int i = 0; i < ds.fieldCount(); ++i) rows.back().push_back(ds.field(i).value());
    }
    return rows;
  }

  static void expectSameRows(const Rows& got, const Rows& want, const std::string& what) {
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
  int32_t counter = -1;
};

// A MariaDB column that holds an Access field's values exactly.
std::string mariaType(const FieldInfo& f) {
  switch (f.type) {
    case ftString:
    case ftWideString:
    case ftFixedChar: return f.size > 0 ? "VARCHAR(" + std::to_string(f.size) + ")" : "LONGTEXT";
    case ftGuid: return "VARCHAR(38)";
    case ftSmallint:
    case ftWord: return "SMALLINT";
    case ftInteger:
    case ftAutoInc: return "INT";
    case ftLargeint: return "BIGINT";
    case ftBoolean: return "BIT(1)";
    case ftFloat: return "DOUBLE";
    case ftCurrency: return "DECIMAL(19,4)";
    case ftBCD: return "DECIMAL(28," + std::to_string(f.size) + ")";
    case ftDate:
    case ftTime:
    case ftDateTime: return "DATETIME(6)";
    case ftBytes:
    case ftVarBytes:
    case ftBlob: return "LONGBLOB";
    default: return "LONGTEXT";
  }
}

// mdb-export turns each half of a UTF-16 surrogate pair into "?".
std::string asMdbExportShowsText(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (static_cast<unsigned char>(utf8[i]) >= 0xf0) {
      out += "??";
      i += 3;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

// A value as mdb-export prints it (see tests/access/access_support.h).
bool sameAsMdbExport(const Value& v, const std::optional<std::string>& theirs) {
  // It shows an empty text as a null.
  if (!theirs) return v.isNull() || (v.kind() == Value::Kind::Text && v.str().empty());
  switch (v.kind()) {
    case Value::Kind::Real:
    case Value::Kind::Decimal: {
      const double a = std::strtod(v.toText().c_str(), nullptr);
      const double b = std::strtod(theirs->c_str(), nullptr);
      return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b));
    }
    case Value::Kind::Bytes: return test::hexUpper(v.str()) == *theirs;
    case Value::Kind::Bool: return (v.asBool() ? "1" : "0") == *theirs;
    default: return asMdbExportShowsText(v.toText()) == *theirs;
  }
}

}  // namespace

TEST_F(MariaMigration, SqliteIntoMariaDbRowByRow) {
  const std::string file = dir.file("old.db");
  std::string sql =
      "create table \"Old Goods\"(id integer primary key, \"商品 名称\" varchar(20), price decimal(10,2),"
      " qty integer, weight real, added datetime, note text, pic blob); begin;";
  for (int i = 1; i <= 3000; ++i) {
    const std::string n = std::to_string(i);
    sql += "insert into \"Old Goods\" values(" + n + ", " +
           (i % 11 == 0 ? "null" : "'上海华东贸易有限公司😀 " + n + "'") + ", " + n + ".75, " +
           (i % 13 == 0 ? "null" : n) + ", " + n + ".5, '2022-0" + std::to_string(1 + i % 9) +
           "-1" + std::to_string(i % 10) + " 08:09:10', " + (i % 7 == 0 ? "null" : "'备注 ''" + n + "'''") +
           ", " + (i % 5 == 0 ? "null" : "x'00ff" + std::string(i % 2 ? "0a" : "5c") + "'") + ");";
  }
  test::makeSqlite(file, sql + "commit;");
  db.exec(
      "CREATE TABLE `新 商品`(编号 INT AUTO_INCREMENT PRIMARY KEY, 旧编号 INT, 名称 VARCHAR(8),"
      " 价格 DECIMAL(10,2), 数量 INT, 重量 DOUBLE, 日期 DATETIME, 备注 TEXT, 图片 BLOB,"
      " 来源 VARCHAR(10))");
  const int32_t n = migrate(file, db.address(),
                            request("Old Goods", "新 商品",
                                    {{"id", "旧编号"}, {"商品 名称", "名称"}, {"price", "价格"},
                                     {"qty", "数量"}, {"weight", "重量"}, {"added", "日期"},
                                     {"note", "备注"}, {"pic", "图片"}},
                                    {{"老库", "来源"}}));
  EXPECT_EQ(n, 3000);

  Connection oldDb("old");
  oldDb.setConnectionString(file);
  Rows want = rowsOf(oldDb, "select * from \"Old Goods\" order by id");
  for (auto& row : want) {
    // The name is cut to the new field's 8 characters, the decimal keeps
    // its scale, the date text becomes a date, and the default fills in.
    if (!row[1].isNull()) row[1] = text(utf8Prefix(row[1].str(), 8));
    row[2] = Value::fromDecimal(row[2].toText());
    DateTime dt;
    ASSERT_TRUE(DateTime::parse(row[5].str(), &dt));
    row[5] = Value::fromDateTime(dt);
    row.push_back(text("老库"));
  }
  Rows got = rowsOf(dm.ADOConnection1new,
                    "select 旧编号, 名称, 价格, 数量, 重量, 日期, 备注, 图片, 来源 from `新 商品` order by 编号");
  expectSameRows(got, want, "新 商品");
  EXPECT_EQ(db.rows("SELECT 名称 FROM `新 商品` WHERE 旧编号 = 1")[0][0], "上海华东贸易有限");
}

TEST_F(MariaMigration, EveryTableOfTheAccessTestFilesIntoMariaDb) {
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
      std::string ddl = "CREATE TABLE " + conn.quoteName(newTable) + "(`new id` INT AUTO_INCREMENT PRIMARY KEY";
      std::vector<std::pair<std::string, std::string>> pairs;
      std::string columns;
      for (const FieldInfo& f : fields) {
        ddl += ", " + conn.quoteName(f.name) + " " + mariaType(f);
        pairs.emplace_back(f.name, f.name);
        columns += (columns.empty() ? "" : ", ") + conn.quoteName(f.name);
      }
      // Wide tables of many text columns pass InnoDB's row-size check only
      // when it warns instead of refusing.
      db.exec("SET SESSION innodb_strict_mode = 0; " + ddl + ")");
      Rows want = rowsOf(access, "select * from [" + table + "]");
      const int32_t n = migrate(mdb, db.address(), request(table, newTable, pairs));
      EXPECT_EQ(n, want.empty() ? -1 : static_cast<int32_t>(want.size()));
      const std::string select =
          "select " + columns + " from " + conn.quoteName(newTable) + " order by `new id`";
      Rows got = rowsOf(dm.ADOConnection1new, select);
      expectSameRows(got, want, table);
      // And what an independent reader of the file says.
      if (std::string(name) != "nwind.mdb") continue;
      std::vector<test::ExportRow> oracle = test::exportRows(mdb, table);
      ASSERT_EQ(oracle.size(), got.size());
      for (size_t r = 0; r < got.size(); ++r)
        for (size_t c = 0; c < got[r].size(); ++c)
          ASSERT_TRUE(sameAsMdbExport(got[r][c], oracle[r][c]))
              << table << " row " << r << " column " << c << ": " << got[r][c].toText() << " / "
              << oracle[r][c].value_or("<null>");
    }
  }
}

TEST_F(MariaMigration, MariaDbIntoSqliteRowByRow) {
  db.exec(
      "CREATE TABLE `源 表`(id BIGINT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(30),"
      " amount DECIMAL(12,3), ok BOOLEAN, at DATETIME(1), r DOUBLE, memo TEXT, raw BLOB,"
      " big BIGINT UNSIGNED);"
      "INSERT INTO `源 表`(name, amount, ok, at, r, memo, raw, big)"
      " SELECT IF(seq % 6 = 0, NULL, CONCAT('名字 ', seq)), seq * 1.125, seq % 3 = 0,"
      " TIMESTAMP'2019-05-06 07:08:09.5' + INTERVAL seq MINUTE, seq * 0.1,"
      " IF(seq % 4 = 0, NULL, CONCAT('memo ', seq)), IF(seq % 5 = 0, NULL, UNHEX(HEX(seq * 17))),"
      " 18446744073709551615 - seq FROM seq_1_to_2000");
  const std::string file = dir.file("new.db");
  test::makeSqlite(file,
                   "create table 目标(k integer primary key autoincrement, name varchar(30),"
                   " amount text, ok boolean, at datetime, r real, memo text, raw blob, big text)");
  const int32_t n = migrate(db.address(), file,
                            request("源 表", "目标",
                                    {{"name", "name"}, {"amount", "amount"}, {"ok", "ok"},
                                     {"at", "at"}, {"r", "r"}, {"memo", "memo"}, {"raw", "raw"},
                                     {"big", "big"}}));
  EXPECT_EQ(n, 2000);
  Rows want = rowsOf(dm.ADOConnection2old,
                     "select name, amount, ok, at, r, memo, raw, big from `源 表` order by id");
  auto got = test::sqliteRows(file, "select name, amount, ok, at, r, memo, raw, big from 目标 order by k");
  ASSERT_EQ(got.size(), want.size());
  for (size_t r = 0; r < want.size(); ++r)
    for (size_t c = 0; c < want[r].size(); ++c)
      ASSERT_EQ(got[r][c], want[r][c].isNull() ? "<null>" : want[r][c].toText())
          << "row " << r << " column " << c;
  EXPECT_EQ(got[0][7], "18446744073709551614");
  EXPECT_EQ(got[0][3], "2019-05-06 07:09:09.5");
}

TEST_F(MariaMigration, MariaDbIntoAccessFilesRowByRow) {
  db.exec(
      "CREATE TABLE 订单(id INT AUTO_INCREMENT PRIMARY KEY, code VARCHAR(20), name VARCHAR(50),"
      " memo TEXT, qty INT UNSIGNED, price DECIMAL(19,4), weight FLOAT, day DATETIME(3),"
      " paid BIT(1));"
      "INSERT INTO 订单(code, name, memo, qty, price, weight, day, paid)"
      " SELECT CONCAT('C', seq), IF(seq % 9 = 0, NULL, CONCAT('华东贸易😀 ', seq)),"
      " IF(seq % 7 = 0, NULL, REPEAT(CONCAT('备注 ', seq, ' '), seq % 400)), seq * 3,"
      " seq * 1.0625 - 500, seq * 0.1, TIMESTAMP'2020-02-29 23:59:58' + INTERVAL seq HOUR,"
      " seq % 2 FROM seq_1_to_2500");
  for (const char* name : {"access/bench_jet4.mdb", "access/bench_ace14.accdb"}) {
    SCOPED_TRACE(name);
    const std::string mdb = test::copyTestData(dir, name);
    const int32_t n = migrate(db.address(), mdb,
                              request("订单", "订单明细",
                                      {{"code", "客户代码"}, {"name", "客户名称"}, {"memo", "备注"},
                                       {"qty", "数量"}, {"price", "单价"}, {"weight", "重量"},
                                       {"day", "日期"}, {"paid", "已付"}}));
    EXPECT_EQ(n, 2500);
    Rows want = rowsOf(dm.ADOConnection2old,
                       "select code, name, memo, qty, price, weight, day, paid from 订单 order by id");
    Connection access("check");
    access.setConnectionString(mdb);
    // 编号, then the fields in the order of the old ones.
    Rows got = rowsOf(access, "select * from [订单明细]");
    ASSERT_EQ(got.size(), want.size());
    std::vector<test::ExportRow> oracle = test::exportRows(mdb, "订单明细");
    ASSERT_EQ(oracle.size(), want.size());
    for (size_t r = 0; r < want.size(); ++r)
      for (size_t c = 0; c < want[r].size(); ++c) {
        const Value& g = got[r][c + 1];
        ASSERT_EQ(g, want[r][c]) << "row " << r << " column " << c << ": " << g.toText() << " / "
                                 << want[r][c].toText();
        ASSERT_TRUE(sameAsMdbExport(g, oracle[r][c + 1]))
            << "row " << r << " column " << c << ": " << g.toText() << " / "
            << oracle[r][c + 1].value_or("<null>");
      }
  }
}

TEST_F(MariaMigration, ADuplicateKeyAtRowKKeepsRowsOneToKMinusOne) {
  const std::string file = dir.file("dup.db");
  std::string sql = "create table src(code integer, name text); begin;";
  for (int i = 1; i <= 12000; ++i)
    sql += "insert into src values(" + std::to_string(i == 10500 ? 3 : i) + ", 'n" + std::to_string(i) + "');";
  test::makeSqlite(file, sql + "commit;");
  db.exec("CREATE TABLE dst(id INT AUTO_INCREMENT PRIMARY KEY, code INT UNIQUE, name TEXT)");
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, file);
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db.address());
  try {
    migrateTable(dm, request("src", "dst", {{"code", "code"}, {"name", "name"}}));
    FAIL();
  } catch (const StatementError& e) {
    EXPECT_EQ(e.runsDone(), 10499);
    EXPECT_NE(std::string(e.what()).find("Duplicate entry '3' for key 'code'"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(counter, 10499);
  EXPECT_EQ(db.rows("SELECT COUNT(*), MAX(code), MAX(name) FROM dst WHERE name = CONCAT('n', code)")[0],
            (std::vector<std::string>{"10499", "10499", "n9999"}));
}

TEST_F(MariaMigration, AStrictModeErrorAtRowKKeepsRowsOneToKMinusOne) {
  const std::string file = dir.file("dates.db");
  std::string sql = "create table src(id integer, day text, amount real); begin;";
  for (int i = 1; i <= 2500; ++i)
    sql += "insert into src values(" + std::to_string(i) + ", '" +
           (i == 1777 ? std::string("2021-02-30") : "2021-03-" + std::to_string(1 + i % 28)) +
           "', " + std::to_string(i) + ".5);";
  test::makeSqlite(file, sql + "commit;");
  // A table without a transactional engine keeps exactly as many rows.
  for (const char* engine : {"InnoDB", "MyISAM"}) {
    SCOPED_TRACE(engine);
    const std::string table = std::string("dst_") + engine;
    db.exec("CREATE TABLE " + table + "(id INT, day DATE, amount DECIMAL(8,1)) ENGINE=" + engine);
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, file);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db.address());
    MigrationRequest req = request("src", table, {{"id", "id"}, {"day", "day"}, {"amount", "amount"}});
    std::vector<std::string> caveats;
    req.confirmCaveat = [&caveats](const std::string& c) {
      caveats.push_back(c);
      return true;
    };
    try {
      migrateTable(dm, req);
      FAIL();
    } catch (const StatementError& e) {
      EXPECT_EQ(e.runsDone(), 1776);
      const std::string message = e.what();
      EXPECT_NE(message.find("Incorrect date value: '2021-02-30' for column"), std::string::npos)
          << message;
      // Told before the first row, and again with the error.
      if (std::string(engine) == "MyISAM") {
        ASSERT_EQ(caveats.size(), 1u);
        EXPECT_EQ(caveats[0], "新表“dst_MyISAM”的存储引擎 MyISAM 不支持事务：迁移中出错或中断时，"
                              "已写入新表的行会留在表中，无法撤销");
        EXPECT_EQ(message.substr(message.size() - caveats[0].size()), caveats[0]);
      } else {
        EXPECT_TRUE(caveats.empty());
        EXPECT_EQ(message.find("不支持事务"), std::string::npos);
      }
    }
    EXPECT_EQ(counter, 1776);
    EXPECT_EQ(db.rows("SELECT COUNT(*), MAX(id), SUM(amount) FROM " + table)[0],
              (std::vector<std::string>{"1776", "1776", "1578864.0"}));
  }
}

TEST_F(MariaMigration, NullStaysNullInEveryTypeBothWays) {
  const std::string file = dir.file("nulls.db");
  test::makeSqlite(file,
                   "create table src(i integer, r real, d decimal(8,2), t varchar(10), m text,"
                   " b blob, dt datetime, bo boolean);"
                   "insert into src values(null, null, null, null, null, null, null, null);");
  db.exec(
      "CREATE TABLE dst(i INT, r DOUBLE, d DECIMAL(8,2), t VARCHAR(10), m TEXT, b BLOB,"
      " dt DATETIME, bo BOOLEAN, j JSON, e ENUM('a'), tm TIME, y YEAR, bi BIT(3), bu BIGINT UNSIGNED,"
      " lt LONGTEXT, vb VARBINARY(4))");
  const int32_t n = migrate(file, db.address(),
                            request("src", "dst",
                                    {{"i", "i"}, {"r", "r"}, {"d", "d"}, {"t", "t"}, {"m", "m"},
                                     {"b", "b"}, {"dt", "dt"}, {"bo", "bo"}, {"m", "j"},
                                     {"t", "e"}, {"d", "tm"}, {"r", "y"}, {"bo", "bi"},
                                     {"i", "bu"}, {"m", "lt"}, {"b", "vb"}}));
  EXPECT_EQ(n, 1);
  EXPECT_EQ(db.rows("SELECT * FROM dst")[0], std::vector<std::string>(16, "<null>"));
  // Read back, through the backend and the result sets alike.
  Rows back = readAll("select * from dst");
  ASSERT_EQ(back.size(), 1u);
  for (size_t c = 0; c < back[0].size(); ++c) EXPECT_TRUE(back[0][c].isNull()) << c;
  Rows shown = rowsOf(dm.ADOConnection1new, "select * from dst");
  ASSERT_EQ(shown.size(), 1u);
  for (size_t c = 0; c < shown[0].size(); ++c) EXPECT_TRUE(shown[0][c].isNull()) << c;
  // And out again into SQLite.
  const std::string out = dir.file("out.db");
  test::makeSqlite(out, "create table back(i, m, b, j, lt, vb)");
  migrate(db.address(), out,
          request("dst", "back", {{"i", "i"}, {"m", "m"}, {"b", "b"}, {"j", "j"}, {"lt", "lt"},
                                  {"vb", "vb"}}));
  EXPECT_EQ(test::sqliteRows(out, "select * from back"),
            (std::vector<std::vector<std::string>>{std::vector<std::string>(6, "<null>")}));
}

TEST_F(MariaMigration, TheExportOfAMariaDbTable) {
  db.exec(
      "CREATE TABLE `出 货`(id INT PRIMARY KEY, name VARCHAR(20), price DECIMAL(8,2), at DATETIME,"
      " raw VARBINARY(4), note TEXT);"
      "INSERT INTO `出 货` VALUES (1, '华东, \"总\"', 12.50, '2024-05-01 08:00:00', x'00ff', NULL),"
      " (2, NULL, -0.25, NULL, NULL, '多行\n备注')");
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, db.address());
  const std::string target = dir.file("出货 表.TXT");
  exportTable(dm.ADOConnection2old, "出 货", target);
  EXPECT_EQ(test::readFile(target),
            "\"id\",\"name\",\"price\",\"at\",\"raw\",\"note\"\r\n"
            "1,\"华东, \"\"总\"\"\",12.50,2024-05-01 08:00:00,\"00FF\",\r\n"
            "2,,-0.25,,,\"多行\n备注\"\r\n");
}

TEST_F(MariaMigration, TheOldRowsAreOnlyRead) {
  db.exec(
      "CREATE TABLE z(a INT); INSERT INTO z VALUES (1), (2);"
      "CREATE FUNCTION zap() RETURNS INT MODIFIES SQL DATA BEGIN DELETE FROM z; RETURN 1; END");
  const std::string file = dir.file("new.db");
  test::makeSqlite(file, "create table t(a integer)");
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, db.address());
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, file);
  MigrationRequest req = request("z", "t", {{"a", "a"}});
  req.filter = "where zap() > 0";
  try {
    migrateTable(dm, req);
    FAIL() << "the filter ran its function";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("READ ONLY"), std::string::npos) << e.what();
  }
  EXPECT_EQ(count("z"), 2);
  EXPECT_EQ(test::sqliteRows(file, "select count(*) from t")[0][0], "0");
}

TEST_F(MariaMigration, ALostConnectionLeavesTheRowsOfATableWithoutTransactionsAndSaysSo) {
  const std::string file = dir.file("many.db");
  test::makeSqlite(file,
                   "create table src(id integer);"
                   "with recursive g(i) as (select 1 union all select i + 1 from g where i < 6000)"
                   " insert into src select i from g;");
  db.exec("CREATE TABLE kept(id INT) ENGINE=MyISAM; CREATE TABLE undone(id INT) ENGINE=InnoDB");
  for (const char* table : {"kept", "undone"}) {
    SCOPED_TRACE(table);
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, file);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db.address());
    MigrationRequest req = request("src", table, {{"id", "id"}});
    req.progress = [&](int32_t n) {
      counter = n;
      if (n != 3000) return;
      for (const auto& row : db.rows("SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" +
                                     db.name() + "' AND ID <> CONNECTION_ID()"))
        db.exec("KILL " + row[0]);
    };
    std::string message;
    try {
      migrateTable(dm, req);
    } catch (const Error& e) {
      message = e.what();
    }
    EXPECT_NE(message.find(maria::kConnectionLost), std::string::npos) << message;
    const int64_t rows = count(table);
    if (std::string(table) == "kept") {
      EXPECT_GE(rows, 2000);
      EXPECT_EQ(message.find("均未写入"), std::string::npos) << message;
      EXPECT_NE(message.find("已写入新表的行会留在表中"), std::string::npos) << message;
    } else {
      EXPECT_EQ(rows, 0);
      EXPECT_NE(message.find("均未写入"), std::string::npos) << message;
    }
  }
}
