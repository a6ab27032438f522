// The mapping window with an Access file as the new database: rows from
// SQLite go into copies of Access-written files, are read back by
// mdb-export and the format checker, and a refused row stops the run with
// the rows before it kept.
#include <QPushButton>

#include <filesystem>

#include "tests/access/access_support.h"
#include "tests/access_write/write_support.h"
#include "tests/mapping_window/mapping_window_fixture.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_support.h"

using namespace vov;
using ui::DialogSeam;

namespace {

constexpr unsigned kDone = ui::MB_OK | ui::MB_ICONINFORMATION | ui::MB_SYSTEMMODAL;

class MappingWindowIntoAccess : public test::MappingWindowTest {
 protected:
  void map(const std::string& oldField, const std::string& newField) {
    selectOldField(oldField);
    selectNewField(newField);
    f3->Button1->click();
  }
};

}  // namespace

// 2,000 orders into 订单明细 of both formats: the AutoNumber key grows its
// index over several pages, every seventh memo is NULL.
TEST_F(MappingWindowIntoAccess, OrdersArriveInBothFormats) {
  const std::string db = dir.file("old.db");
  std::string sql =
      "create table orders(code text, name text, note text, qty integer, price real, "
      "weight real, day text, paid integer); begin;";
  for (int i = 0; i < 2000; ++i)
    sql += "insert into orders values('C" + std::to_string(i % 97) + "', '客户" + std::to_string(i) +
           "', " + (i % 7 ? "'备注 " + std::to_string(i) + "'" : std::string("null")) + ", " +
           std::to_string(i) + ", " + std::to_string(i) + ".25, 1.5, '2024-05-0" +
           std::to_string(1 + i % 9) + " 10:00:00', " + std::to_string(i % 2) + ");";
  test::makeSqlite(db, sql + "commit;");
  for (const char* file : {"access/bench_jet4.mdb", "access/bench_ace14.accdb"}) {
    SCOPED_TRACE(file);
    const std::string target = test::copyTestData(dir, file);
    const std::string before = test::readFile(target);
    openAndShow(db, target);
    pickOld("orders");
    pickNew("订单明细");
    map("code", "客户代码");
    map("name", "客户名称");
    map("note", "备注");
    map("qty", "数量");
    map("price", "单价");
    map("weight", "重量");
    map("day", "日期");
    map("paid", "已付");
    DialogSeam::clear();
    f3->Button5->click();
    expectOneBox("迁移完毕", "ok", kDone);

    EXPECT_EQ(test::checkerProblems(target), "");
    EXPECT_EQ(test::storedCount(target, "订单明细"), 2000);
    EXPECT_EQ(test::readFile(target + ".bak"), before);
    const std::vector<test::ExportRow> rows = test::exportRows(target, "订单明细");
    ASSERT_EQ(rows.size(), 2000u);
    for (int i : {0, 7, 1999}) {
      SCOPED_TRACE(i);
      EXPECT_EQ(rows[i][0], std::to_string(i + 1));  // the AutoNumber
      EXPECT_EQ(rows[i][2], "客户" + std::to_string(i));
      EXPECT_EQ(rows[i][3], i % 7 ? std::optional<std::string>("备注 " + std::to_string(i))
                                  : std::nullopt);
      EXPECT_EQ(rows[i][4], std::to_string(i));
    }
    f3->hide();
  }
}

// types_ace14.accdb Table1 holds the keys "a" and "abcdefg": the third row
// repeats one, so the run stops there and the two rows before it stay.
TEST_F(MappingWindowIntoAccess, ADuplicateKeyStopsAtItsRowWithTheRowsBeforeKept) {
  const std::string db = dir.file("old.db");
  test::makeSqlite(db,
                   "create table t(a text, b text, i integer);"
                   "insert into t values('k1', 'one', 1), ('k2', null, 0), ('ABCDEFG', 'dup', 1),"
                   " ('k4', 'four', 1);");
  const std::string target = test::copyTestData(dir, "access/types_ace14.accdb");
  openAndShow(db, target);
  pickOld("t");
  pickNew("Table1");
  map("a", "A");
  map("b", "B");
  map("i", "I");
  DialogSeam::clear();
  f3->Button5->click();
  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].text.find("第 3 行"), std::string::npos) << shown[0].text;
  EXPECT_NE(shown[0].text.find("不允许重复的值"), std::string::npos) << shown[0].text;
  const std::vector<test::ExportRow> rows = test::exportRows(target, "Table1");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[2][0], "k1");
  EXPECT_EQ(rows[3][0], "k2");
  EXPECT_EQ(test::checkerProblems(target), "");
}
