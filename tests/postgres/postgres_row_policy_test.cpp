// Rows set aside, updates and upserts by the primary key, and the dry run,
// with PostgreSQL as the new database and SQLite rows the server refuses in
// different ways.
#include <gtest/gtest.h>

#include "data/data_module.h"
#include "data/error.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/postgres/pg_fixture.h"
#include "tests/support/row_policy_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Row number and the first line of the message (the server's detail, such
// as the failing row, is not what a dry run can know).
using Refusal = std::pair<int64_t, std::string>;

class PgRowPolicy : public test::PgTest {
 protected:
  void SetUp() override {
    oldDb = dir.file("old.db");
    test::makeSqlite(oldDb, test::kRefusedRowsSql);
    db.exec("create table dst(id int primary key, name varchar(4) not null, qty int, born date,"
            " tag varchar(3))");
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db.address());
  }

  MigrationCounts run(WriteMode mode, OnRowError onError, bool dry = false) {
    MigrationCounts counts;
    MigrationRequest r = test::policyRequest("dst", test::srcToDstLines(), mode, onError, dry, &counts);
    refusals.clear();
    r.rejected = [this](const RejectedRow& row) {
      refusals.emplace_back(row.row, row.message.substr(0, row.message.find('\n')));
    };
    migrateTable(dm, r);
    return counts;
  }

  // The dry run first, then the real run: the same rows refused, for the
  // same reasons.
  MigrationCounts predictedThenReal(WriteMode mode) {
    MigrationCounts dry = run(mode, OnRowError::Skip, true);
    std::vector<Refusal> predicted = refusals;
    EXPECT_TRUE(dry.checked);
    MigrationCounts real = run(mode, OnRowError::Skip);
    EXPECT_EQ(predicted, refusals);
    EXPECT_EQ(dry.written, real.written);
    return real;
  }

  Rows ids() { return db.rows("select id from dst order by id"); }

  test::TempDir dir;
  std::string oldDb;
  TDataModule2 dm;
  std::vector<Refusal> refusals;
};

const std::string kNotNull = "null value in column \"name\" of relation \"dst\" violates not-null constraint";
const std::string kTooLong = "value too long for type character varying(3)";
const std::string kNotInt = "invalid input syntax for type integer: \"many\"";
const std::string kNotDate = "date/time field value out of range: \"2020-02-30\"";

}  // namespace

TEST_F(PgRowPolicy, SkipKeepsExactlyTheRowsTheServerTakes) {
  MigrationCounts c = predictedThenReal(WriteMode::Append);
  EXPECT_EQ(refusals, (std::vector<Refusal>{
                          {2, kNotNull}, {3, kTooLong}, {4, kNotInt}, {5, kNotDate}, {7, kTooLong}}));
  EXPECT_EQ(ids(), (Rows{{"1"}, {"6"}}));
  EXPECT_EQ(c.read, 7);
  EXPECT_EQ(c.inserted, 2);
  EXPECT_EQ(c.rejected, 5);

  // A key already there is refused by the real run, which a dry run cannot
  // know without the table's rows; the first row now too.
  db.exec("delete from dst where id = 1");
  run(WriteMode::Append, OnRowError::Skip, true);
  EXPECT_EQ(refusals.size(), 5u);
  run(WriteMode::Append, OnRowError::Skip);
  ASSERT_EQ(refusals.size(), 6u);
  EXPECT_EQ(refusals.at(4).first, 6);
  EXPECT_NE(refusals.at(4).second.find("duplicate key value violates unique constraint"),
            std::string::npos);
  EXPECT_EQ(ids(), (Rows{{"1"}, {"6"}}));
}

TEST_F(PgRowPolicy, UpdateByAKeyFromTextConvertsBeforeItLooksForTheRow) {
  db.exec("insert into dst values(1, '旧', 0, null, null), (6, '旧', 0, null, null)");
  // Enough rows found before the last that the server would plan the
  // statement once for all, and an unknown key with a value too long last.
  test::makeSqlite(oldDb,
                   "with recursive k(x) as (select 8 union all select x + 1 from k where x < 20)"
                   " insert into src select x, '庚', '2', '2020-01-09', x from k;"
                   "insert into src values('21', '辛', '3', '2020-01-10', 99999);");
  db.exec("insert into dst select x, '旧', 0, null, null from generate_series(8, 20) x");
  const std::string none = kNoRowToUpdate;
  MigrationCounts c = predictedThenReal(WriteMode::Update);
  // A value the column cannot hold is refused before the row is looked for,
  // also after the server has run the statement a few times.
  EXPECT_EQ(refusals, (std::vector<Refusal>{{2, none + "（id = 2）"},
                                            {3, kTooLong},
                                            {4, kNotInt},
                                            {5, kNotDate},
                                            {7, kTooLong},
                                            {21, kTooLong}}));
  EXPECT_EQ(db.rows("select id, name, qty from dst where id < 8 order by id"),
            (Rows{{"1", "甲", "5"}, {"6", "己", "1"}}));
  EXPECT_EQ(db.rows("select count(*) from dst where name = '庚'"), (Rows{{"13"}}));
  EXPECT_EQ(c.updated, 15);

  // Stopping at row 2 keeps the update of row 1.
  db.exec("update dst set name = '旧'");
  try {
    run(WriteMode::Update, OnRowError::Stop);
    ADD_FAILURE() << "no error";
  } catch (const StatementError& e) {
    // The engine's words come last, after where they were said.
    const std::string message = e.what(), tail = "”写入第 2 行时出错：" + none + "（id = 2）";
    EXPECT_EQ(message.rfind("向新数据库“postgresql://", 0), 0u) << message;
    EXPECT_TRUE(message.size() > tail.size() &&
                message.compare(message.size() - tail.size(), tail.size(), tail) == 0)
        << message;
    EXPECT_EQ(e.runsDone(), 1);
  }
  EXPECT_EQ(db.rows("select id, name from dst where id < 8 order by id"),
            (Rows{{"1", "甲"}, {"6", "旧"}}));
}

TEST_F(PgRowPolicy, UpsertInsertsOrUpdatesInBothErrorModes) {
  db.exec("insert into dst values(1, '旧', 0, null, null)");
  MigrationCounts c = predictedThenReal(WriteMode::Upsert);
  EXPECT_EQ(refusals.size(), 5u);
  EXPECT_EQ(db.rows("select id, name from dst order by id"), (Rows{{"1", "甲"}, {"6", "己"}}));
  EXPECT_EQ(c.inserted, 1);
  EXPECT_EQ(c.updated, 1);

  // Stop mode runs the upsert in the ordinary batches.
  db.exec("update dst set name = '旧'; insert into dst values(3, '旧', 0, null, null);");
  test::makeSqlite(oldDb, "delete from src where code not in ('1', '3', '6'); update src set n = 3;");
  c = run(WriteMode::Upsert, OnRowError::Stop);
  EXPECT_EQ(db.rows("select id, name from dst order by id"),
            (Rows{{"1", "甲"}, {"3", "丙"}, {"6", "己"}}));
  EXPECT_EQ(c.inserted, 0);
  EXPECT_EQ(c.updated, 3);
}
