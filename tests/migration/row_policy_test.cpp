// The migration engine's job features over real SQLite files: rows set aside
// while the others go on, updates and upserts by the primary key, and a dry
// run that must predict exactly what a real run refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/data_module.h"
#include "data/error.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/support/row_policy_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

using Rows = std::vector<std::vector<std::string>>;

struct Reject {
  int64_t row;
  std::string message;
  std::vector<std::string> values;
  bool operator==(const Reject& o) const {
    return row == o.row && message == o.message && values == o.values;
  }
};

std::ostream& operator<<(std::ostream& os, const Reject& r) {
  os << r.row << " [" << r.message << "]";
  for (auto& v : r.values) os << " " << v;
  return os;
}

class RowPolicy : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDb = dir.file("old.db");
    newDb = dir.file("new.db");
    // Row 1, row 4 and row 6 (the last) carry values the new tables refuse.
    test::makeSqlite(oldDb,
                     "create table src(code varchar(8), name varchar(20), qty varchar(10));"
                     "insert into src values('1', null, '5');"
                     "insert into src values('2', '乙', '7');"
                     "insert into src values('3', '丙', '8');"
                     "insert into src values('4', '丁', 'many');"
                     "insert into src values('5', '戊', '9');"
                     "insert into src values('6', null, '1');");
    test::makeSqlite(newDb,
                     "create table dst(id integer primary key, name varchar(4) not null, qty integer);"
                     "create table strict_dst(id integer primary key, name text, qty integer) strict;"
                     "create table nokey(id integer, name text);");
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, newDb);
  }

  static std::vector<std::string> lines(const std::string& table) {
    return {composeFieldMappingLine("src", "code", 4, table, "id"),
            composeFieldMappingLine("src", "name", 4, table, "name"),
            composeFieldMappingLine("src", "qty", 4, table, "qty")};
  }

  MigrationCounts run(const std::string& table, WriteMode mode, OnRowError onError,
                      bool dry = false, std::vector<std::string> mapping = {}) {
    MigrationCounts counts;
    MigrationRequest r = test::policyRequest(table, mapping.empty() ? lines(table) : mapping, mode,
                                             onError, dry, &counts);
    rejects.clear();
    r.rejected = [this](const RejectedRow& row) {
      Reject x{row.row, row.message, {}};
      EXPECT_EQ(row.fields.size(), 3u);
      for (const Value& v : row.values) x.values.push_back(v.isNull() ? "<null>" : v.toText());
      rejects.push_back(x);
    };
    progress.clear();
    r.progress = [this](int32_t n) { progress.push_back(n); };
    migrateTable(dm, r);
    return counts;
  }

  std::string failure(const std::string& table, WriteMode mode, OnRowError onError,
                      std::vector<std::string> mapping = {}) {
    try {
      run(table, mode, onError, false, mapping);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no error)";
  }

  Rows newRows(const std::string& sql) { return test::sqliteRows(newDb, sql); }

  test::TempDir dir;
  std::string oldDb, newDb;
  TDataModule2 dm;
  std::vector<Reject> rejects;
  std::vector<int32_t> progress;
};

const Reject kRow1{1, "NOT NULL constraint failed: dst.name", {"1", "<null>", "5"}};
const Reject kRow6{6, "NOT NULL constraint failed: dst.name", {"6", "<null>", "1"}};

}  // namespace

TEST_F(RowPolicy, SkipSetsAsideTheFirstAndLastRowsAndKeepsExactlyTheOthers) {
  MigrationCounts c = run("dst", WriteMode::Append, OnRowError::Skip);
  EXPECT_EQ(rejects, (std::vector<Reject>{kRow1, kRow6}));
  EXPECT_EQ(newRows("select id, name, qty from dst order by id"),
            (Rows{{"2", "乙", "7"}, {"3", "丙", "8"}, {"4", "丁", "many"}, {"5", "戊", "9"}}));
  EXPECT_EQ(c.read, 6);
  EXPECT_EQ(c.written, 4);
  EXPECT_EQ(c.inserted, 4);
  EXPECT_EQ(c.updated, 0);
  EXPECT_EQ(c.rejected, 2);
  EXPECT_EQ(progress, (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));

  // Stop, as ever: the first refused row ends the migration, nothing kept.
  test::makeSqlite(newDb, "delete from dst;");
  EXPECT_EQ(failure("dst", WriteMode::Append, OnRowError::Stop),
            "向新数据库“" + newDb + "”写入第 1 行时出错：" + kRow1.message);
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"0"}}));
}

TEST_F(RowPolicy, SkipInAStrictTableRefusesAMiddleRowByItsType) {
  MigrationCounts c = run("strict_dst", WriteMode::Append, OnRowError::Skip);
  EXPECT_EQ(rejects, (std::vector<Reject>{
                         {4, "cannot store TEXT value in INTEGER column strict_dst.qty", {"4", "丁", "many"}}}));
  EXPECT_EQ(newRows("select group_concat(id) from strict_dst"), (Rows{{"1,2,3,5,6"}}));
  EXPECT_EQ(c.written, 5);
}

TEST_F(RowPolicy, SkipUndoesWhatATriggerWroteForARefusedRow) {
  // RAISE(FAIL) keeps what the trigger wrote before it: SQLite alone would
  // not undo the refused row's log entry.
  test::makeSqlite(newDb,
                   "create table log(id integer);"
                   "create table guarded(id integer primary key, name text, qty integer);"
                   "create trigger g before insert on guarded begin"
                   " insert into log values(new.id);"
                   " select raise(fail, 'qty must be a number') where new.qty glob '*[^0-9]*';"
                   " end;");
  run("guarded", WriteMode::Append, OnRowError::Skip);
  EXPECT_EQ(rejects.size(), 1u);
  EXPECT_EQ(rejects.at(0).row, 4);
  EXPECT_EQ(rejects.at(0).message, "qty must be a number");
  EXPECT_EQ(newRows("select group_concat(id) from guarded"), (Rows{{"1,2,3,5,6"}}));
  EXPECT_EQ(newRows("select group_concat(id) from log"), (Rows{{"1,2,3,5,6"}}))
      << "the refused row's trigger work is undone with it";
}

TEST_F(RowPolicy, AFailureThatEndsTheTransactionIsNoReject) {
  // ON CONFLICT ROLLBACK ends the whole transaction: no row can be skipped.
  test::makeSqlite(newDb,
                   "create table rb(id integer primary key, name text unique on conflict rollback,"
                   " qty text);"
                   "insert into rb values(100, '丁', null);");
  EXPECT_NE(failure("rb", WriteMode::Append, OnRowError::Skip), "(no error)");
  EXPECT_TRUE(rejects.empty());
  EXPECT_EQ(newRows("select group_concat(id) from rb"), (Rows{{"100"}}));
}

TEST_F(RowPolicy, UpdateFindsRowsByAKeyMappedFromTextAndRejectsRowsWithoutMatch) {
  test::makeSqlite(newDb, "insert into dst values(2, '旧', 0), (3, '旧', 0), (5, '旧', 0);");
  MigrationCounts c = run("dst", WriteMode::Update, OnRowError::Skip);
  const std::string none = kNoRowToUpdate;
  EXPECT_EQ(rejects, (std::vector<Reject>{{1, none + "（id = 1）", {"1", "<null>", "5"}},
                                          {4, none + "（id = 4）", {"4", "丁", "many"}},
                                          {6, none + "（id = 6）", {"6", "<null>", "1"}}}));
  EXPECT_EQ(newRows("select id, name, qty from dst order by id"),
            (Rows{{"2", "乙", "7"}, {"3", "丙", "8"}, {"5", "戊", "9"}}));
  EXPECT_EQ(c.updated, 3);
  EXPECT_EQ(c.inserted, 0);
  EXPECT_EQ(c.rejected, 3);
  EXPECT_EQ(dm.ADOCommand1.commandText(),
            "update \"dst\" set \"name\"=:kh1,\"qty\"=:kh2 where \"id\"=:kh0");

  // Stopping at the first row without a match keeps nothing after it.
  test::makeSqlite(newDb, "update dst set name = '旧';");
  EXPECT_EQ(failure("dst", WriteMode::Update, OnRowError::Stop),
            "向新数据库“" + newDb + "”写入第 1 行时出错：" + none + "（id = 1）");
  EXPECT_EQ(newRows("select count(*) from dst where name = '旧'"), (Rows{{"3"}}));
}

TEST_F(RowPolicy, UpsertInsertsOrUpdatesAndCountsEachKind) {
  test::makeSqlite(newDb, "insert into dst values(2, '旧', 0), (5, '旧', 0), (9, '留', 0);");
  MigrationCounts c = run("dst", WriteMode::Upsert, OnRowError::Skip);
  EXPECT_EQ(rejects, (std::vector<Reject>{kRow1, kRow6}));
  EXPECT_EQ(newRows("select id, name, qty from dst order by id"),
            (Rows{{"2", "乙", "7"}, {"3", "丙", "8"}, {"4", "丁", "many"}, {"5", "戊", "9"},
                  {"9", "留", "0"}}));
  EXPECT_EQ(c.inserted, 2);
  EXPECT_EQ(c.updated, 2);
  EXPECT_EQ(c.written, 4);
  EXPECT_EQ(dm.ADOCommand1.commandText(),
            "insert into \"dst\"(\"id\",\"name\",\"qty\") values(:kh0,:kh1,:kh2) on conflict(\"id\") "
            "do update set \"name\"=excluded.\"name\",\"qty\"=excluded.\"qty\"");

  // The same key twice among the old rows: inserted once, then updated.
  test::makeSqlite(oldDb, "update src set code = '3' where code = '2';");
  test::makeSqlite(newDb, "delete from dst;");
  c = run("dst", WriteMode::Upsert, OnRowError::Skip);
  EXPECT_EQ(c.inserted, 3);
  EXPECT_EQ(c.updated, 1);
  EXPECT_EQ(newRows("select name from dst where id = 3"), (Rows{{"丙"}}));
}

TEST_F(RowPolicy, KeyedModesNeedAPrimaryKeyAmongTheMappedFields) {
  EXPECT_EQ(failure("nokey", WriteMode::Update, OnRowError::Stop,
                    {composeFieldMappingLine("src", "code", 4, "nokey", "id")}),
            "新表“nokey”没有主键，无法按主键更新（update）");
  std::vector<std::string> noKey{composeFieldMappingLine("src", "name", 4, "dst", "name")};
  try {
    run("dst", WriteMode::Upsert, OnRowError::Stop, false, noKey);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "新表“dst”的主键字段“id”不在对应的字段中，无法按主键插入或更新（upsert）");
  }
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"0"}}));
}

TEST_F(RowPolicy, DryRunPredictsExactlyTheRejectsOfTheRealRunAndWritesNothing) {
  struct Case {
    std::string table;
    WriteMode mode;
    std::string before;  // run first on the new database
  };
  test::makeSqlite(newDb,
                   // An unmapped NOT NULL column without a default refuses every insert.
                   "create table wide(id integer primary key, name text, qty integer, must text not null);"
                   "create table defaulted(id integer primary key, name text, qty integer,"
                   " must text not null default 'x');"
                   // Not a rowid: the key stays text, and SQLite keeps it NOT NULL.
                   "create table textkey(id varchar(4) primary key, name varchar(2), qty integer)"
                   " without rowid;");
  for (const Case& k : {Case{"dst", WriteMode::Append, ""},
                        Case{"dst", WriteMode::Update, "delete from dst; insert into dst values(2, '旧', 0), (5, '旧', 0);"},
                        Case{"dst", WriteMode::Upsert, ""},
                        Case{"strict_dst", WriteMode::Append, ""},
                        Case{"wide", WriteMode::Append, ""},
                        Case{"defaulted", WriteMode::Upsert, ""},
                        Case{"textkey", WriteMode::Append, ""}}) {
    SCOPED_TRACE(k.table + " " + std::to_string(static_cast<int>(k.mode)));
    if (!k.before.empty()) test::makeSqlite(newDb, k.before);
    const std::string before = test::readFile(newDb);
    MigrationCounts dry = run(k.table, k.mode, OnRowError::Skip, true);
    std::vector<Reject> predicted = rejects;
    EXPECT_TRUE(dry.checked);
    EXPECT_EQ(test::readFile(newDb), before) << "a dry run writes nothing";
    MigrationCounts real = run(k.table, k.mode, OnRowError::Skip);
    EXPECT_EQ(predicted, rejects);
    EXPECT_EQ(dry.read, real.read);
    EXPECT_EQ(dry.written, real.written);
    EXPECT_EQ(dry.rejected, real.rejected);
  }
  // The check's copy of the table is gone, and the real table is written.
  run("dst", WriteMode::Upsert, OnRowError::Skip, true);
  std::unique_ptr<Cursor> temp =
      dm.ADOConnection1new.backend().query("select count(*) from sqlite_temp_master");
  std::vector<Value> row;
  ASSERT_TRUE(temp->next(row));
  EXPECT_EQ(row.at(0), Value::fromInt(0));
  test::makeSqlite(newDb, "delete from dst;");
  run("dst", WriteMode::Append, OnRowError::Skip);
  EXPECT_EQ(newRows("select count(*) from dst"), (Rows{{"4"}}));
}

TEST_F(RowPolicy, CutsAreCountedOncePerValue) {
  test::makeSqlite(newDb, "create table narrow(id integer primary key, name varchar(1), qty varchar(2));");
  MigrationCounts c = run("narrow", WriteMode::Append, OnRowError::Stop);
  // qty "many" cut to "ma"; the names are one character already.
  EXPECT_EQ(c.cut, 1);
  c = run("narrow", WriteMode::Update, OnRowError::Skip, true);
  EXPECT_EQ(c.cut, 1);
  EXPECT_EQ(rejects.size(), 0u);
}
