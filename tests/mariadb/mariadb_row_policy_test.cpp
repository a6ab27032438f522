// Rows set aside, updates and upserts by the primary key, and the dry run,
// with MariaDB as the new database and SQLite rows the server refuses in
// different ways.
#include <gtest/gtest.h>

#include "data/data_module.h"
#include "data/error.h"
#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"
#include "tests/mariadb/maria_fixture.h"
#include "tests/support/row_policy_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

using Rows = std::vector<std::vector<std::string>>;
using Refusal = std::pair<int64_t, std::string>;

class MariaRowPolicy : public test::MariaTest {
 protected:
  void SetUp() override {
    oldDb = dir.file("old.db");
    test::makeSqlite(oldDb,
                     std::string(test::kRefusedRowsSql) +
                         "insert into src values('6', '庚', '2', '2020-01-09', 8);");
    db.exec("CREATE TABLE dst(id INT PRIMARY KEY, name VARCHAR(4) NOT NULL, qty INT, born DATE,"
            " tag VARCHAR(3))");
    TDataModule2::openSide(dm.ADOConnection2old, dm.ADODataSet2old, oldDb);
    TDataModule2::openSide(dm.ADOConnection1new, dm.ADODataSet1new, db.address());
  }

  MigrationCounts run(WriteMode mode, OnRowError onError, bool dry = false) {
    MigrationCounts counts;
    MigrationRequest r = test::policyRequest("dst", test::srcToDstLines(), mode, onError, dry, &counts);
    refusals.clear();
    r.rejected = [this](const RejectedRow& row) { refusals.emplace_back(row.row, row.message); };
    migrateTable(dm, r);
    return counts;
  }

  // The dry run first, then the real run: the same rows refused, for the
  // same reasons.
  MigrationCounts predictedThenReal(WriteMode mode) {
    MigrationCounts dry = run(mode, OnRowError::Skip, true);
    std::vector<Refusal> predicted = refusals;
    EXPECT_TRUE(dry.checked);
    EXPECT_EQ(count("dst"), before);
    MigrationCounts real = run(mode, OnRowError::Skip);
    EXPECT_EQ(predicted, refusals);
    EXPECT_EQ(dry.written, real.written);
    return real;
  }

  std::string column(const std::string& name) const {
    return "`" + db.name() + "`.`dst`.`" + name + "` at row 1";
  }

  Rows rowsOfDst() { return db.rows("SELECT id, name, qty FROM dst ORDER BY id"); }

  test::TempDir dir;
  std::string oldDb;
  TDataModule2 dm;
  std::vector<Refusal> refusals;
  int64_t before = 0;
};

const std::string kNotNull = "Column 'name' cannot be null";
const std::string kTooLong = "Data too long for column 'tag' at row 1";

}  // namespace

TEST_F(MariaRowPolicy, SkipKeepsExactlyTheRowsTheServerTakes) {
  MigrationCounts c = predictedThenReal(WriteMode::Append);
  EXPECT_EQ(refusals, (std::vector<Refusal>{
                          {2, kNotNull},
                          {3, kTooLong},
                          {4, "Incorrect integer value: 'many' for column " + column("qty")},
                          {5, "Incorrect date value: '2020-02-30' for column " + column("born")},
                          {7, kNotNull},
                          {8, "Duplicate entry '6' for key 'PRIMARY'"}}));
  EXPECT_EQ(rowsOfDst(), (Rows{{"1", "甲", "5"}, {"6", "己", "1"}}));
  EXPECT_EQ(c.read, 8);
  EXPECT_EQ(c.inserted, 2);
  EXPECT_EQ(c.rejected, 6);
}

TEST_F(MariaRowPolicy, SkipInsideLargeBatchesSetsAsideOnlyTheRefusedRows) {
  std::string sql = "delete from src; begin;";
  for (int i = 1; i <= 3500; ++i)
    sql += "insert into src values('" + std::to_string(i % 100) + "', '名', '" +
           (i % 997 == 0 ? std::string("bad") : std::to_string(i)) + "', '2020-01-01', " +
           std::to_string(i) + ");";
  test::makeSqlite(oldDb, sql + "commit;");
  db.exec("ALTER TABLE dst DROP PRIMARY KEY, MODIFY id INT, MODIFY tag VARCHAR(10),"
          " ADD UNIQUE KEY (qty)");
  db.exec("INSERT INTO dst VALUES (0, 'x', 2500, NULL, NULL)");
  auto rowsOf = [](const std::vector<Refusal>& refused) {
    std::vector<int64_t> rows;
    for (const Refusal& r : refused) rows.push_back(r.first);
    return rows;
  };
  run(WriteMode::Append, OnRowError::Skip, true);
  EXPECT_EQ(rowsOf(refusals), (std::vector<int64_t>{997, 1994, 2991}));
  EXPECT_EQ(count("dst"), 1);
  // The real run also meets the row already in the table, which a dry run
  // does not look at.
  MigrationCounts c = run(WriteMode::Append, OnRowError::Skip);
  EXPECT_EQ(rowsOf(refusals), (std::vector<int64_t>{997, 1994, 2500, 2991}));
  EXPECT_EQ(refusals[2].second, "Duplicate entry '2500' for key 'qty'");
  EXPECT_EQ(c.written, 3496);
  EXPECT_EQ(count("dst"), 1 + 3496);
  EXPECT_EQ(db.rows("SELECT COUNT(*) FROM dst WHERE qty IN (997, 1994, 2991)")[0][0], "0");
}

TEST_F(MariaRowPolicy, UpdateByTheKeyAndRowsWithNoMatch) {
  db.exec("INSERT INTO dst VALUES(1, '旧', 0, NULL, NULL), (6, '旧', 0, NULL, NULL)");
  before = 2;
  MigrationCounts c = predictedThenReal(WriteMode::Update);
  // MariaDB looks for the row before it converts the values: rows without
  // a match are refused for that, whatever their values.
  std::vector<int64_t> refused;
  for (const Refusal& r : refusals) {
    refused.push_back(r.first);
    EXPECT_EQ(r.second.rfind(kNoRowToUpdate, 0), 0u) << r.second;
  }
  EXPECT_EQ(refused, (std::vector<int64_t>{2, 3, 4, 5, 7}));
  // The last row updates row 6 again.
  EXPECT_EQ(rowsOfDst(), (Rows{{"1", "甲", "5"}, {"6", "庚", "2"}}));
  EXPECT_EQ(c.updated, 3);

  // Stopping at row 2 keeps the update of row 1.
  db.exec("UPDATE dst SET name = '旧'");
  try {
    run(WriteMode::Update, OnRowError::Stop);
    ADD_FAILURE() << "no error";
  } catch (const StatementError& e) {
    EXPECT_NE(std::string(e.what()).find(kNoRowToUpdate), std::string::npos) << e.what();
    EXPECT_EQ(e.runsDone(), 1);
  }
  EXPECT_EQ(rowsOfDst(), (Rows{{"1", "甲", "5"}, {"6", "旧", "2"}}));
}

TEST_F(MariaRowPolicy, UpsertInsertsOrUpdatesInBothErrorModes) {
  db.exec("INSERT INTO dst VALUES(1, '旧', 0, NULL, NULL)");
  before = 1;
  MigrationCounts c = predictedThenReal(WriteMode::Upsert);
  // Row 8 now updates the row 6 inserted.
  EXPECT_EQ(refusals.size(), 5u);
  EXPECT_EQ(rowsOfDst(), (Rows{{"1", "甲", "5"}, {"6", "庚", "2"}}));
  EXPECT_EQ(c.inserted, 1);
  EXPECT_EQ(c.updated, 2);

  db.exec("UPDATE dst SET name = '旧'; INSERT INTO dst VALUES(3, '旧', 0, NULL, NULL);");
  test::makeSqlite(oldDb, "delete from src where code not in ('1', '3') or name = '庚'; update src set n = 3;");
  c = run(WriteMode::Upsert, OnRowError::Stop);
  EXPECT_EQ(rowsOfDst(), (Rows{{"1", "甲", "5"}, {"3", "丙", "8"}, {"6", "旧", "2"}}));
  EXPECT_EQ(c.inserted, 0);
  EXPECT_EQ(c.updated, 2);
}
