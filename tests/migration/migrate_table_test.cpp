// The migration engine over real SQLite files: statements, binding, the cut
// rule, progress and what stays in the new table when a row fails.
#include <gtest/gtest.h>

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

class Migration : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDb = dir.file("old.db");
    newDb = dir.file("new.db");
    test::makeSqlite(oldDb,
                     "create table src(id integer primary key, name varchar(10), memo text,"
                     " n integer, r real, d datetime, b blob, tag varchar(5));"
                     "insert into src values(1, '张三', 'first', 10, 1.5, '2020-01-02 03:04:05',"
                     " x'00ff', 'xxx');"
                     "insert into src values(2, 'O''Brien', null, null, null, null, null, 'yyy');"
                     "insert into src values(3, '一二三四五六七八九十', '', -3, -0.25,"
                     " '1999-12-31', x'', 'xxx');"
                     "create table \"order details\"(\"unit price\" real, qty integer);"
                     "insert into \"order details\" values(2.5, 4), (3.75, 1);");
    test::makeSqlite(newDb,
                     "create table dst(k integer primary key autoincrement, id integer,"
                     " name varchar(10), memo text, n integer, r real, d datetime, b blob,"
                     " short varchar(8), note varchar(20), \"first name\" varchar(20));"
                     "create table od(price real, qty integer);");
  }

  void openBoth(const std::string& newFile) {
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newFile);
  }

  // Runs one migration with the lines given; the progress values land in
  // `progress` and the table reads are counted.
  bool migrate(const std::vector<std::string>& lines, const std::string& filter = kDefaultFilterText,
               const std::string& oldTable = "src", const std::string& newTable = "dst") {
    if (!dm.ADOConnection2old.connected()) openBoth(newDb);
    MigrationRequest r;
    r.oldTable = [this, oldTable] {
      ++oldTableReads;
      return oldTable;
    };
    r.newTable = [this, newTable] {
      ++newTableReads;
      return newTable;
    };
    r.lines = lines;
    r.filter = filter;
    r.progress = [this](int32_t n) { progress.push_back(n); };
    return migrateTable(dm, r);
  }

  static std::string line(const std::string& oldField, const std::string& newField,
                          const std::string& oldTable = "src", const std::string& newTable = "dst") {
    return composeFieldMappingLine(oldTable, oldField, 8, newTable, newField);
  }

  Rows newRows(const std::string& sql) { return test::sqliteRows(newDb, sql); }

  test::TempDir dir;
  std::string oldDb, newDb;
  TDataModule2 dm;
  std::vector<int32_t> progress;
  int oldTableReads = 0, newTableReads = 0;
};

std::string errorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST_F(Migration, EmptyListReturnsFalseAndTouchesNothing) {
  // Neither database can be opened: any touch of one would raise.
  dm.ADOConnection2old.setConnectionString("Data Source=" + dir.file("missing.db"));
  MigrationRequest r;
  r.oldTable = [] () -> std::string { throw ListIndexError(-1); };
  r.newTable = r.oldTable;
  r.progress = [this](int32_t n) { progress.push_back(n); };
  EXPECT_FALSE(migrateTable(dm, r));
  EXPECT_EQ(dm.ADODataSetTmp.connection(), nullptr);
  EXPECT_FALSE(dm.ADOConnection2old.connected());
  EXPECT_TRUE(progress.empty());
}

TEST_F(Migration, CopiesEveryRowWithItsTypesAndLeavesTheComponentsAsSpecified) {
  ASSERT_TRUE(migrate({line("id", "id"), line("name", "name"), line("memo", "memo"),
                       line("n", "n"), line("r", "r"), line("d", "d"), line("b", "b")}));
  EXPECT_EQ(dm.ADODataSetTmp.commandText(), "select * from \"src\";");
  EXPECT_EQ(dm.ADOCommand1.commandText(),
            "insert into \"dst\"(\"id\",\"name\",\"memo\",\"n\",\"r\",\"d\",\"b\") "
            "values(:kh0,:kh1,:kh2,:kh3,:kh4,:kh5,:kh6)");
  EXPECT_EQ(dm.ADODataSettmpnew.commandText(), "select * from \"dst\";");
  EXPECT_FALSE(dm.ADODataSettmpnew.active());
  EXPECT_EQ(dm.ADODataSetTmp.connection(), &dm.ADOConnection2old);
  EXPECT_TRUE(dm.ADODataSetTmp.active());
  EXPECT_TRUE(dm.ADODataSetTmp.eof());
  ASSERT_EQ(dm.ADOCommand1.parameters().size(), 7u);
  EXPECT_EQ(dm.ADOCommand1.parameters()[0].name, "kh0");
  EXPECT_EQ(dm.ADOCommand1.parameters()[0].value, Value::fromInt(3)) << "the last row's values stay";
  EXPECT_EQ(progress, (std::vector<int32_t>{1, 2, 3}));

  EXPECT_EQ(newRows("select id, name, memo, n, r, d, hex(b), typeof(n), typeof(r), typeof(b)"
                    " from dst order by k"),
            (Rows{{"1", "张三", "first", "10", "1.5", "2020-01-02 03:04:05", "00FF", "integer",
                   "real", "blob"},
                  // Every null stays null, memo and long binary too.
                  {"2", "O'Brien", "<null>", "<null>", "<null>", "<null>", "", "null", "null", "null"},
                  {"3", "一二三四五六七八九十", "", "-3", "-0.25", "1999-12-31", "", "integer",
                   "real", "blob"}}));
}

TEST_F(Migration, StatementShapesForOneAndThreeLinesAndBlanksInNames) {
  ASSERT_TRUE(migrate({line("name", "name")}));
  EXPECT_EQ(dm.ADOCommand1.commandText(), "insert into \"dst\"(\"name\") values(:kh0)");
  ASSERT_TRUE(migrate({line("id", "id"), line("name", "first name"), line("tag", "note")}));
  EXPECT_EQ(dm.ADOCommand1.commandText(),
            "insert into \"dst\"(\"id\",\"first name\",\"note\") values(:kh0,:kh1,:kh2)");
  EXPECT_EQ(newRows("select \"first name\" from dst where \"first name\" is not null order by k"),
            (Rows{{"张三"}, {"O'Brien"}, {"一二三四五六七八九十"}}));

  // An old table whose name holds a blank.
  ASSERT_TRUE(migrate({line("unit price", "price", "order details", "od"), line("qty", "qty", "order details", "od")},
                      kDefaultFilterText, "order details", "od"));
  EXPECT_EQ(dm.ADODataSetTmp.commandText(), "select * from \"order details\";");
  EXPECT_EQ(newRows("select price, qty from od"), (Rows{{"2.5", "4"}, {"3.75", "1"}}));
}

TEST_F(Migration, DefaultFilterAndItsNearMisses) {
  const std::string exact = "where xxx=\"xxx\"";
  ASSERT_EQ(exact, kDefaultFilterText);
  ASSERT_TRUE(migrate({line("id", "id")}, exact));
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"3"}}));

  // Not the default text: each goes into the statement as a condition,
  // which src, without a column xxx, refuses.
  progress.clear();
  const std::string readingOld = "从老数据库“" + oldDb + "”读取老表的行时出错：";
  EXPECT_EQ(errorOf([&] { migrate({line("id", "id")}, "Where xxx=\"xxx\""); }),
            readingOld + "no such column: xxx");
  EXPECT_EQ(dm.ADODataSetTmp.commandText(), "select * from \"src\" Where xxx=\"xxx\";");
  EXPECT_EQ(errorOf([&] { migrate({line("id", "id")}, exact + " "); }),
            readingOld + "no such column: xxx");
  EXPECT_EQ(dm.ADODataSetTmp.commandText(), "select * from \"src\" where xxx=\"xxx\" ;");
  EXPECT_TRUE(progress.empty());

  // An empty filter is no condition at all, with a blank before the ";".
  progress.clear();
  ASSERT_TRUE(migrate({line("id", "id")}, ""));
  EXPECT_EQ(dm.ADODataSetTmp.commandText(), "select * from \"src\" ;");
  EXPECT_EQ(progress, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"6"}}));
}

TEST_F(Migration, FilterSelectsRowsAndABadOneFailsBeforeAnyInsert) {
  ASSERT_TRUE(migrate({line("id", "id")}, "where d > '2000-01-01 00:00:00' or id = 3"));
  EXPECT_EQ(newRows("select id from dst order by id"), (Rows{{"1"}, {"3"}}));
  progress.clear();
  EXPECT_EQ(errorOf([&] { migrate({line("id", "id")}, "where nope = 1"); }),
            "从老数据库“" + oldDb + "”读取老表的行时出错：no such column: nope");
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"2"}}));
}

TEST_F(Migration, FilterSelectingNoRowsBuildsAndReadsNothing) {
  ASSERT_TRUE(migrate({line("id", "id"), line("nope", "nope")}, "where id > 100"));
  EXPECT_EQ(oldTableReads, 1);
  EXPECT_EQ(newTableReads, 0) << "the new table is not even asked for";
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(dm.ADOCommand1.commandText(), "");
  EXPECT_EQ(dm.ADODataSettmpnew.commandText(), "");
  EXPECT_TRUE(dm.ADODataSetTmp.active());
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"0"}}));
}

TEST_F(Migration, DefaultValuesAreTrimmedTextCutAtTheirFirstDoubleArrow) {
  ASSERT_TRUE(migrate({line("id", "id"),
                       composeDefaultValueLine("a>>b", "dst", "note"),
                       composeDefaultValueLine("  x y  ", "dst", "name"),
                       composeDefaultValueLine("12.50", "dst", "n"),
                       composeDefaultValueLine("很长的默认值超过八个字符了", "dst", "short")},
                      "where id = 1"));
  // Default values are never cut; a number's text meets the column's affinity.
  EXPECT_EQ(newRows("select note, name, n, typeof(n), short from dst"),
            (Rows{{"a", "x y", "12.5", "real", "很长的默认值超过八个字符了"}}));
}

// A default into a number field goes as a number, also in exponent form; a
// number into a text field stays the text as typed.
TEST_F(Migration, NumberDefaultsAreBoundAsNumbersIntoNumberFields) {
  ASSERT_TRUE(migrate({line("id", "id"),
                       composeDefaultValueLine("1.5e1", "dst", "n"),
                       composeDefaultValueLine(" -0.50 ", "dst", "r"),
                       composeDefaultValueLine("0012", "dst", "note")},
                      "where id = 1"));
  EXPECT_EQ(newRows("select n, typeof(n), r, typeof(r), note, typeof(note) from dst"),
            (Rows{{"15", "integer", "-0.5", "real", "0012", "text"}}));
}

TEST_F(Migration, TextIsCutByCharactersOnlyIntoTextFieldsOfDeclaredLength) {
  test::makeSqlite(oldDb,
                   "create table cut(t10 varchar(10), memo text, num integer, c8 varchar(8),"
                   " emoji varchar(20), nul varchar(50));"
                   "insert into cut values('一二三四五六七八九十', 'abcdefghijkl', 123456789,"
                   " '八个字符正好八个', '😀😀😀😀😀😀😀😀😀', null);"
                   "insert into cut values('abc', null, null, 'a', 'a😀', null);");
  test::makeSqlite(newDb,
                   "create table c(a varchar(8), b varchar(5), c varchar(3), d varchar(8),"
                   " e char(4), f text, g integer, h varchar(20), i varchar(3), j nvarchar(2));");
  ASSERT_TRUE(migrate({line("t10", "a", "cut", "c"), line("memo", "b", "cut", "c"),
                       line("num", "c", "cut", "c"), line("c8", "d", "cut", "c"),
                       line("emoji", "e", "cut", "c"), line("t10", "f", "cut", "c"),
                       line("num", "g", "cut", "c"), line("nul", "h", "cut", "c"),
                       line("t10", "i", "cut", "c"), line("emoji", "j", "cut", "c")},
                      kDefaultFilterText, "cut", "c"));
  EXPECT_EQ(test::sqliteRows(newDb, "select * from c"),
            (Rows{{"一二三四五六七八", "abcde", "123456789", "八个字符正好八个", "😀😀😀😀",
                   "一二三四五六七八九十", "123456789", "<null>", "一二三", "😀😀"},
                  {"abc", "<null>", "<null>", "a", "a😀", "abc", "<null>", "<null>", "abc", "a😀"}}));
}

TEST_F(Migration, MissingOldFieldFailsAtTheFirstRowWithItsName) {
  std::string e = errorOf([&] { migrate({line("id", "id"), line("nope", "name")}); });
  EXPECT_EQ(e, "ADODataSetTmp: Field 'nope' not found");
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"0"}}));
  EXPECT_FALSE(dm.ADOConnection1new.inTransaction());
}

TEST_F(Migration, MissingNewFieldFailsWhileBuildingBeforeAnyInsert) {
  // The new field is looked up before the old one is.
  std::string e = errorOf([&] { migrate({line("id", "id"), line("nope", "gone")}); });
  EXPECT_EQ(e, "ADODataSettmpnew: Field 'gone' not found");
  EXPECT_FALSE(dm.ADODataSettmpnew.active());
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"0"}}));
}

TEST_F(Migration, MissingSelectionsRaiseTheListIndexErrorWhereTheyAreRead) {
  MigrationRequest r;
  r.lines = {line("id", "id")};
  r.filter = kDefaultFilterText;
  r.oldTable = []() -> std::string { throw ListIndexError(-1); };
  r.newTable = []() -> std::string { return "dst"; };
  openBoth(newDb);
  EXPECT_EQ(errorOf([&] { migrateTable(dm, r); }), "List index out of bounds (-1)");
  r.oldTable = [] { return std::string("src"); };
  r.newTable = []() -> std::string { throw ListIndexError(-1); };
  EXPECT_EQ(errorOf([&] { migrateTable(dm, r); }), "List index out of bounds (-1)");
  r.filter = "where id > 100";
  EXPECT_TRUE(migrateTable(dm, r)) << "without old rows the new table is never asked for";
}

TEST_F(Migration, DuplicateKeyAtRowKKeepsExactlyTheRowsBefore) {
  test::makeSqlite(newDb, "create table u(id integer unique, name varchar(10));"
                          "insert into u values(3, 'already');");
  std::string e = errorOf([&] { migrate({line("id", "id", "src", "u"), line("name", "name", "src", "u")},
                                        kDefaultFilterText, "src", "u"); });
  // The new database, the old row's number and the key's value go with the
  // engine's own words.
  EXPECT_EQ(e, "向新数据库“" + newDb + "”写入第 3 行（id = 3）时出错：UNIQUE constraint failed: u.id");
  EXPECT_EQ(newRows("select id, name from u order by rowid"),
            (Rows{{"3", "already"}, {"1", "张三"}, {"2", "O'Brien"}}));
  EXPECT_EQ(progress, (std::vector<int32_t>{1, 2}));
  EXPECT_FALSE(dm.ADOConnection1new.inTransaction());
  // Nothing is left pending: the next migration starts clean.
  ASSERT_TRUE(migrate({line("n", "id", "src", "u")}, "where id = 1", "src", "u"));
  EXPECT_EQ(newRows("select count(*) from u"), (Rows{{"4"}}));
}

// Columns without a declared length read as memo or long binary; their
// nulls arrive as nulls like every other, and a NOT NULL column refuses
// them at that row, keeping the rows before.
TEST_F(Migration, NullsArriveAsNullsOfEveryTypeAndANotNullColumnStopsAtThatRow) {
  test::makeSqlite(oldDb, "create table nulls(id integer primary key, t text, c clob, v varchar, b blob,"
                          " m memo, n integer);"
                          "insert into nulls values(1, 'a', 'b', 'c', x'01', 'd', 1);"
                          "insert into nulls values(2, null, null, null, null, null, null);"
                          "insert into nulls values(3, '', '', '', x'', '', 0);");
  test::makeSqlite(newDb, "create table open(id integer, t text, c clob, v varchar, b blob, m memo, n integer);"
                          "create table strict(id integer, t text not null, b blob);");
  const std::vector<std::string> cols = {"id", "t", "c", "v", "b", "m", "n"};
  std::vector<std::string> lines;
  for (const std::string& c : cols) lines.push_back(line(c, c, "nulls", "open"));
  ASSERT_TRUE(migrate(lines, kDefaultFilterText, "nulls", "open"));
  EXPECT_EQ(newRows("select id, typeof(t), typeof(c), typeof(v), typeof(b), typeof(m), typeof(n)"
                    " from open order by id"),
            (Rows{{"1", "text", "text", "text", "blob", "text", "integer"},
                  {"2", "null", "null", "null", "null", "null", "null"},
                  {"3", "text", "text", "text", "blob", "text", "integer"}}));

  std::string e = errorOf([&] {
    migrate({line("id", "id", "nulls", "strict"), line("t", "t", "nulls", "strict"),
             line("b", "b", "nulls", "strict")},
            kDefaultFilterText, "nulls", "strict");
  });
  EXPECT_EQ(e, "向新数据库“" + newDb + "”写入第 2 行时出错：NOT NULL constraint failed: strict.t");
  EXPECT_EQ(newRows("select id, t, hex(b) from strict"), (Rows{{"1", "a", "01"}}));
  EXPECT_EQ(progress.back(), 1);
}

TEST_F(Migration, ErrorAtTheFirstRowLeavesProgressUncalled) {
  test::makeSqlite(newDb, "create table nn(id integer not null);");
  std::string e = errorOf([&] { migrate({line("n", "id", "src", "nn")}, "where id = 2", "src", "nn"); });
  EXPECT_EQ(e, "向新数据库“" + newDb + "”写入第 1 行时出错：NOT NULL constraint failed: nn.id");
  EXPECT_TRUE(progress.empty());
}

TEST_F(Migration, RefusedCommitKeepsNothingAndSaysSo) {
  test::makeSqlite(newDb,
                   "create table parent(id integer primary key);"
                   "create table child(pid integer references parent(id)"
                   " deferrable initially deferred);");
  openBoth(newDb);
  dm.ADOConnection1new.execute("PRAGMA foreign_keys=ON");
  std::string e = errorOf([&] { migrate({line("id", "pid", "src", "child")}, kDefaultFilterText, "src", "child"); });
  EXPECT_EQ(e, "本次迁移的行均未写入新表：向新数据库“" + newDb +
                   "”提交时出错：FOREIGN KEY constraint failed");
  EXPECT_EQ(progress, (std::vector<int32_t>{1, 2, 3, 0}));
  EXPECT_EQ(newRows("select count(*) from child"), (Rows{{"0"}}));
  EXPECT_FALSE(dm.ADOConnection1new.inTransaction());
  // The connection is usable afterwards.
  dm.ADOConnection1new.execute("insert into parent values(1)");
  EXPECT_EQ(newRows("select count(*) from parent"), (Rows{{"1"}}));
}

TEST_F(Migration, QuotedNamesCannotInjectStatements) {
  test::makeSqlite(newDb, "create table \"we\"\"ird\"(\"a\"\"b\" varchar(10), \"c:d\" integer);");
  ASSERT_TRUE(migrate({line("name", "a\"b", "src", "we\"ird"), line("id", "c:d", "src", "we\"ird")},
                      kDefaultFilterText, "src", "we\"ird"));
  EXPECT_EQ(dm.ADOCommand1.commandText(),
            "insert into \"we\"\"ird\"(\"a\"\"b\",\"c:d\") values(:kh0,:kh1)");
  EXPECT_EQ(newRows("select count(*) from \"we\"\"ird\""), (Rows{{"3"}}));
  std::string e = errorOf([&] {
    migrate({line("id", "id\") values(1); drop table dst; --")});
  });
  EXPECT_EQ(e, "ADODataSettmpnew: Field 'id\") values(1); drop table dst; --' not found");
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"0"}}));
}

// Quotes of every kind and brackets in table and column names: the insert
// keeps one marker per line, and every row arrives.
TEST_F(Migration, NamesWithQuotesAndBracketsOfEveryKind) {
  test::makeSqlite(oldDb, "create table \"o'ld`[\"\"]\"(\"it's\" text, \"a`b\" integer, \"[c]\" text, \"d\"\"e\" text);"
                          "insert into \"o'ld`[\"\"]\" values('x', 1, 'y', 'z'), (null, 2, '', 'w');");
  test::makeSqlite(newDb, "create table \"n'e`w\"(\"it's\" text, \"a`b\" integer, \"[c]\" text, \"d\"\"e\" text);");
  const std::string oldTable = "o'ld`[\"]", newTable = "n'e`w";
  std::vector<std::string> lines;
  for (const char* f : {"it's", "a`b", "[c]", "d\"e"}) lines.push_back(line(f, f, oldTable, newTable));
  ASSERT_TRUE(migrate(lines, kDefaultFilterText, oldTable, newTable));
  EXPECT_EQ(dm.ADOCommand1.parameters().size(), 4u);
  EXPECT_EQ(newRows("select * from \"n'e`w\" order by 2"),
            (Rows{{"x", "1", "y", "z"}, {"<null>", "2", "", "w"}}));
}

// Old and new database are one SQLite file: the reader of the old rows is
// open on the file the whole time the inserts go in.
class SameFileMigration : public Migration {
 protected:
  void SetUp() override {
    Migration::SetUp();
    test::makeSqlite(oldDb,
                     "create table big(id integer primary key, t varchar(30), m text);"
                     "with recursive c(x) as (select 1 union all select x + 1 from c where x < 300000)"
                     " insert into big select x, '第' || x || '行的文字', case when x % 7 = 0 then null"
                     " else 'memo ' || x end from c;"
                     "create table copy(k integer primary key autoincrement, id integer unique,"
                     " t varchar(30), m text);");
    newDb = oldDb;
  }
};

TEST_F(SameFileMigration, LargeTableMigratesWithinOneFile) {
  ASSERT_TRUE(migrate({line("id", "id", "big", "copy"), line("t", "t", "big", "copy"),
                       line("m", "m", "big", "copy")},
                      kDefaultFilterText, "big", "copy"));
  ASSERT_EQ(progress.size(), 300000u);
  EXPECT_EQ(progress.back(), 300000);
  // Every seventh memo is null, and stays so.
  EXPECT_EQ(newRows("select count(*), sum(id), count(m) from copy"),
            (Rows{{"300000", "45000150000", "257143"}}));
  EXPECT_EQ(newRows("select count(*) from big join copy using(id) where big.t = copy.t"),
            (Rows{{"300000"}}));
}

TEST_F(SameFileMigration, FailureMidwayCommitsTheRowsBeforeIt) {
  test::makeSqlite(oldDb, "insert into copy(id) values(250001);");
  std::string e = errorOf([&] {
    migrate({line("id", "id", "big", "copy"), line("t", "t", "big", "copy")}, kDefaultFilterText,
            "big", "copy");
  });
  EXPECT_EQ(e, "向新数据库“" + oldDb +
                   "”写入第 250001 行（id = 250001）时出错：UNIQUE constraint failed: copy.id");
  EXPECT_EQ(progress.back(), 250000);
  EXPECT_EQ(newRows("select count(*), max(id) from copy where t is not null"),
            (Rows{{"250000", "250000"}}));
}
