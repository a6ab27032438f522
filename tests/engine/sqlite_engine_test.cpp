// The engine components over real SQLite files.
#include <gtest/gtest.h>

#include <filesystem>

#include "data/connection_string.h"
#include "data/data_module.h"
#include "data/engine.h"
#include "data/error.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

class SqliteEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    db = dir.file("shop.db");
    test::makeSqlite(db,
                     "create table zeta(a varchar(5));"
                     "create table types("
                     "  id integer primary key autoincrement,"
                     "  v varchar(20), c char(3), nv nvarchar(7), vn varchar,"
                     "  t text, cl clob, m memo,"
                     "  i int, bi bigint, d decimal(10,2), n numeric(8,3), dn decimal(5),"
                     "  cur currency, mon money, g guid, u uniqueidentifier,"
                     "  bin binary(16), vb varbinary(200), bl blob,"
                     "  r real, dt datetime, b boolean, x);"
                     "create table \"Order Details\"(\"Unit Price\" real, qty integer);"
                     "create table 客户(编号 integer primary key, 名称 varchar(30) not null);"
                     "create table pk2(a integer, b integer, primary key(a, b));"
                     "create table bigkey(k bigint primary key, v);"
                     "create view v_zeta as select a from zeta;"
                     "create index ix on zeta(a);"
                     "insert into types(v, t, i, r, bl) values('abc', null, 42, 2.5, x'0102');"
                     "insert into types(v) values(null);"
                     "insert into 客户(名称) values('华东贸易');");
    conn.setConnectionString(buildConnectionString(db));
  }

  FieldInfo fieldOf(const std::string& table, const std::string& name) {
    for (auto& f : conn.backend().tableFields(table))
      if (f.name == name) return f;
    ADD_FAILURE() << "no field " << name;
    return FieldInfo();
  }

  test::TempDir dir;
  std::string db;
  Connection conn{"ADOConnection2old"};
};

}  // namespace

TEST_F(SqliteEngine, TablesAndViewsInCatalogueOrderWithoutSystemTables) {
  std::vector<std::string> list{"stale"};
  conn.tableNames(list);
  EXPECT_EQ(list, (std::vector<std::string>{"zeta", "types", "Order Details", "客户", "pk2",
                                            "bigkey", "v_zeta"}));
  EXPECT_TRUE(conn.connected()) << "listing connects a closed connection";
}

TEST_F(SqliteEngine, FieldNamesInColumnOrder) {
  std::vector<std::string> list;
  conn.fieldNames("Order Details", list);
  EXPECT_EQ(list, (std::vector<std::string>{"Unit Price", "qty"}));
  conn.fieldNames("客户", list);
  EXPECT_EQ(list, (std::vector<std::string>{"编号", "名称"}));
}

TEST_F(SqliteEngine, SizesAndTypesForEachDeclaredType) {
  struct Expect {
    const char* name;
    FieldType type;
    int size;
  } expect[] = {
      {"id", ftAutoInc, 0},    {"v", ftString, 20},     {"c", ftFixedChar, 3},
      {"nv", ftWideString, 7}, {"vn", ftMemo, 0},       {"t", ftMemo, 0},
      {"cl", ftMemo, 0},       {"m", ftMemo, 0},        {"i", ftInteger, 0},
      {"bi", ftLargeint, 0},   {"d", ftBCD, 2},         {"n", ftBCD, 3},
      {"dn", ftBCD, 0},        {"cur", ftCurrency, 4},  {"mon", ftCurrency, 4},
      {"g", ftGuid, 38},       {"u", ftGuid, 38},       {"bin", ftBytes, 16},
      {"vb", ftVarBytes, 200}, {"bl", ftBlob, 0},       {"r", ftFloat, 0},
      {"dt", ftDateTime, 0},   {"b", ftBoolean, 0},     {"x", ftUnknown, 0},
  };
  for (auto& e : expect) {
    FieldInfo f = fieldOf("types", e.name);
    EXPECT_EQ(f.type, e.type) << e.name;
    EXPECT_EQ(f.size, e.size) << e.name;
  }
  // Only a lone INTEGER primary key is the rowid alias.
  EXPECT_EQ(fieldOf("客户", "编号").type, ftAutoInc);
  EXPECT_EQ(fieldOf("pk2", "a").type, ftInteger);
  EXPECT_EQ(fieldOf("bigkey", "k").type, ftLargeint);
}

TEST_F(SqliteEngine, ResultSetKeepsStorageClassesAndAutoInc) {
  DataSet ds("ADODataSetTmp", &conn);
  ds.setCommandText("select * from types");
  ds.open();
  ASSERT_FALSE(ds.eof());
  EXPECT_EQ(ds.fieldByName("ID").dataType(), ftAutoInc) << "case is ignored, auto-increment seen";
  EXPECT_EQ(ds.fieldByName("v").size(), 20);
  EXPECT_EQ(ds.fieldByName("v").value(), Value::fromText("abc"));
  EXPECT_EQ(ds.fieldByName("i").value(), Value::fromInt(42));
  EXPECT_EQ(ds.fieldByName("r").value(), Value::fromReal(2.5));
  EXPECT_EQ(ds.fieldByName("bl").value(), Value::fromBytes("\x01\x02"));
  EXPECT_TRUE(ds.fieldByName("c").value().isNull());
  // A null memo is null, as every other null.
  EXPECT_TRUE(ds.fieldByName("t").value().isNull());
  ds.next();
  ASSERT_FALSE(ds.eof());
  EXPECT_TRUE(ds.fieldByName("v").value().isNull());
  EXPECT_TRUE(ds.fieldByName("bl").value().isNull()) << "null long binary stays null";
  ds.next();
  EXPECT_TRUE(ds.eof());
  ds.next();
  EXPECT_TRUE(ds.eof());
}

TEST_F(SqliteEngine, UnknownFieldNamesTheResultSet) {
  DataSet ds("ADODataSetTmp", &conn);
  ds.setCommandText("select * from zeta");
  ds.open();
  EXPECT_TRUE(ds.eof());
  try {
    ds.fieldByName("nope");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "ADODataSetTmp: Field 'nope' not found");
  }
}

TEST_F(SqliteEngine, NamesWithBlankAndChineseWorkQuoted) {
  DataSet ds("ADODataSet2old", &conn);
  TDataModule2::preview(ds, "Order Details");
  EXPECT_EQ(ds.commandText(), "select * from \"Order Details\"");
  EXPECT_EQ(ds.fieldCount(), 2);
  TDataModule2::preview(ds, "客户");
  EXPECT_EQ(ds.fieldByName("名称").value(), Value::fromText("华东贸易"));
  EXPECT_EQ(conn.quoteName("a\"b"), "\"a\"\"b\"");
}

TEST_F(SqliteEngine, BareNameWithBlankFailsWithTheEnginesMessage) {
  DataSet ds("ADODataSet2old", &conn);
  ds.setCommandText("select * from Order Details");
  EXPECT_THROW(ds.open(), Error);
  EXPECT_FALSE(ds.active());
}

TEST_F(SqliteEngine, FilterTextGoesToTheEngineUnscanned) {
  DataSet ds("ADODataSetTmp", &conn);
  ds.setCommandText("select * from types where v <> 'x:y' and v = \"abc\";");
  ds.open();
  EXPECT_EQ(ds.fieldByName("v").value(), Value::fromText("abc"));
}

TEST_F(SqliteEngine, ParameterisedCommand) {
  Command cmd("ADOCommand1", &conn);
  cmd.setCommandText("insert into 客户([名称]) values(:kh0)");
  EXPECT_EQ(cmd.engineText(), "insert into 客户([名称]) values(?)");
  ASSERT_EQ(cmd.parameters().size(), 1u);
  cmd.parameters()[0].value = Value::fromText("新星商行");
  cmd.execute();
  cmd.parameters()[0].value = Value();
  EXPECT_THROW(cmd.execute(), StatementError) << "not null";
  auto rows = test::sqliteRows(db, "select 名称 from 客户 order by 编号");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0], "新星商行");
}

TEST_F(SqliteEngine, StatementErrorCountsEarlierRuns) {
  Command cmd("ADOCommand1", &conn);
  cmd.setCommandText("insert into pk2(a, b) values(:a, :b)");
  conn.beginTransaction();
  for (int i = 0; i < 3; ++i) {
    cmd.parameters()[0].value = Value::fromInt(i);
    cmd.parameters()[1].value = Value::fromInt(0);
    cmd.execute();
  }
  cmd.parameters()[0].value = Value::fromInt(1);
  try {
    cmd.execute();
    FAIL();
  } catch (const StatementError& e) {
    EXPECT_EQ(e.runsDone(), 3);
  }
  conn.commit();
  EXPECT_EQ(test::sqliteRows(db, "select count(*) from pk2")[0][0], "3");
}

TEST(SqliteOpen, MissingAndForeignFilesFailAndCreateNothing) {
  test::TempDir dir;
  Connection c("ADOConnection2old");
  c.setConnectionString(buildConnectionString(dir.file("missing.db")));
  EXPECT_THROW(c.open(), Error);
  EXPECT_FALSE(c.connected());
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing.db")));
  std::vector<std::string> list{"kept"};
  EXPECT_THROW(c.tableNames(list), Error) << "later use retries the same string";
  EXPECT_EQ(list, std::vector<std::string>{"kept"});

  test::writeFile(dir.file("notes.db"), "just some text, not a database at all");
  c.setConnectionString(buildConnectionString(dir.file("notes.db")));
  EXPECT_THROW(c.open(), Error);
  EXPECT_EQ(test::readFile(dir.file("notes.db")), "just some text, not a database at all");

  // A file with the right header but damaged pages.
  std::string bad = std::string("SQLite format 3") + '\0' + std::string(200, '\x7f');
  test::writeFile(dir.file("bad.db"), bad);
  c.setConnectionString(buildConnectionString(dir.file("bad.db")));
  EXPECT_THROW(c.open(), Error);
}

TEST(SqliteOpen, DataModuleOpenSequence) {
  test::TempDir dir;
  test::makeSqlite(dir.file("a.db"), "create table t(x); insert into t values(1);");
  TDataModule2 dm;
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, dir.file("a.db"));
  TDataModule2::preview(dm.ADODataSet2old, "t");
  ASSERT_TRUE(dm.ADODataSet2old.active());
  // The same file on the new side; the old side is not touched.
  TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, dir.file("a.db"));
  EXPECT_TRUE(dm.ADODataSet2old.active());
  // A failed open leaves the side closed with the new string.
  EXPECT_THROW(TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, dir.file("no.db")),
               Error);
  EXPECT_FALSE(dm.ADODataSet2old.active());
  EXPECT_FALSE(dm.ADOConnection2old.connected());
  EXPECT_EQ(dataSourceOf(dm.ADOConnection2old.connectionString()), dir.file("no.db"));
  EXPECT_TRUE(dm.ADOConnection1new.connected());
}

TEST(SqliteOpen, PreviewBrowsesAWholeTableInWindows) {
  test::TempDir dir;
  test::makeSqlite(dir.file("a.db"),
                   "create table t(x varchar(5));"
                   "with recursive n(i) as (select 1 union all select i+1 from n where i < 1000)"
                   " insert into t select 'r' || i from n;"
                   "create table nokey(x primary key) without rowid;");
  TDataModule2 dm;
  TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, dir.file("a.db"));
  TDataModule2::preview(dm.ADODataSet2old, "t");
  TableBrowser* b = dm.ADODataSet2old.browser();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->rowCount(), 1000);
  std::vector<BrowseRow> rows;
  b->fetch(998, 10, rows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].values[0], Value::fromText("r1000"));
  rows.clear();
  b->fetch(0, 3, rows);
  b->fetch(3, 2, rows);  // follows on from the last window
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[4].values[0], Value::fromText("r5"));
  EXPECT_TRUE(b->readOnlyReason().empty());
  b->update(rows[0].key, {{0, Value::fromText("first")}});
  EXPECT_EQ(test::sqliteRows(dir.file("a.db"), "select x from t where rowid = 1")[0][0], "first");
  // The data set itself still walks the rows in order.
  int n = 0;
  for (; !dm.ADODataSet2old.eof(); dm.ADODataSet2old.next()) ++n;
  EXPECT_EQ(n, 1000);
}
