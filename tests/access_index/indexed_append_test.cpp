// Rows appended through the migration's insert to tables with indexes, in
// copies of Access files: every index walked and matched row by row
// afterwards, the rows read back by mdb-export, refusals at the right row.
#include <gtest/gtest.h>

#include "data/access/access_writer.h"
#include "data/access/format/catalog.h"
#include "data/access/format/index_check.h"
#include "data/access/format/index_page.h"
#include "data/access/format/table_def.h"
#include "tests/access_write/write_support.h"
#include "tests/support/test_support.h"

namespace vov::test {
namespace {

using access::IndexReport;
using Row = std::vector<Value>;

Value text(const std::string& s) { return Value::fromText(s); }

// Every index of the table, checked against its rows.
std::vector<IndexReport> indexReports(const std::string& file, const std::string& table) {
  access::PageFile f(file, false);
  const access::TableDef def =
      access::readTableDef(f, access::findTable(f, table).definitionPage());
  return access::checkTableIndexes(f, def, table);
}

const IndexReport& report(const std::vector<IndexReport>& all, const std::string& name) {
  for (const IndexReport& r : all)
    if (r.name == name) return r;
  throw std::runtime_error("no index " + name);
}

bool rootIsNode(const std::string& file, const std::string& table) {
  access::PageFile f(file, false);
  const access::TableDef def =
      access::readTableDef(f, access::findTable(f, table).definitionPage());
  return f.get(def.realIndexes.at(0).firstPage)->bytes[0] == access::indexpage::kNode;
}

TEST(IndexedAppend, ThousandsOfRowsSplitTheIndexInBothFormats) {
  for (const char* file : {"access/bench_jet4.mdb", "access/bench_ace14.accdb"}) {
    SCOPED_TRACE(file);
    TempDir dir;
    const std::string path = copyTestData(dir, file);
    std::vector<Row> rows;
    for (int i = 0; i < 20000; ++i)
      rows.push_back({text("C" + std::to_string(i % 977)), text("客户" + std::to_string(i)),
                      i % 7 ? text("备注") : Value::null(), Value::fromInt(i)});
    ASSERT_EQ(appendRows(path, "订单明细", {"客户代码", "客户名称", "备注", "数量"}, rows), "");
    const auto reports = indexReports(path, "订单明细");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].entries, 20000u);
    EXPECT_EQ(reports[0].keysCompared, 20000u);
    EXPECT_EQ(reports[0].storedCount, 20000u);
    EXPECT_TRUE(rootIsNode(path, "订单明细"));
    EXPECT_EQ(checkerProblems(path), "");
    EXPECT_EQ(storedCount(path, "订单明细"), 20000);
  }
}

TEST(IndexedAppend, ADuplicateKeyStopsAtItsRowAndKeepsTheRowsBefore) {
  // types_ace14.accdb Table1: primary key on text A, holding "a" and "abcdefg".
  TempDir dir;
  const std::string path = copyTestData(dir, "access/types_ace14.accdb");
  const std::vector<std::string> columns = {"A", "B", "I"};
  const std::vector<Row> rows = {{text("k1"), text("one"), Value::fromBool(true)},
                                 {text("k2"), Value::null(), Value::fromBool(false)},
                                 {text("ABCDEFG"), text("dup"), Value::fromBool(true)},
                                 {text("k4"), text("four"), Value::fromBool(true)}};
  const std::string error = appendRows(path, "Table1", columns, rows);
  EXPECT_NE(error.find("表“Table1”的索引“PrimaryKey”不允许重复的值"), std::string::npos) << error;
  const std::vector<ExportRow> after = exportRows(path, "Table1");
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[2][0], "k1");
  EXPECT_EQ(after[3][0], "k2");
  const auto reports = indexReports(path, "Table1");
  EXPECT_EQ(report(reports, "PrimaryKey").keysCompared, 4u);
  EXPECT_EQ(report(reports, "PrimaryKey").storedCount, 4u);
  EXPECT_EQ(report(reports, "B").keysCompared, 4u);  // k2's NULL has its entry
  EXPECT_EQ(checkerProblems(path), "");
}

TEST(IndexedAppend, TextKeysInBothOrdersWithNullsAndIgnoredNulls) {
  // TableIgnoreNulls2_temp: primary key on text "row", DataIndex on
  // (data1, data2) leaving rows out whose two columns are NULL.
  const std::vector<std::string> columns = {"row", "data1", "data2"};
  {
    TempDir dir;
    const std::string path = copyTestData(dir, "access/indexprops_jet4.mdb");
    const std::vector<Row> rows = {
        {text("O'Neil-Smith"), text("Ärger über Öl"), Value::fromInt(-5)},
        {text("row 10"), Value::null(), Value::null()},
        {text("Row 2"), text("{braces} & [brackets]"), Value::null()},
        {text("zebra #9"), Value::null(), Value::fromInt(2147483647)}};
    ASSERT_EQ(appendRows(path, "TableIgnoreNulls2_temp", columns, rows), "");
    const auto reports = indexReports(path, "TableIgnoreNulls2_temp");
    EXPECT_EQ(report(reports, "PrimaryKey").keysCompared, 4u);
    EXPECT_EQ(report(reports, "DataIndex").entries, 3u);
    EXPECT_EQ(report(reports, "DataIndex").keysCompared, 3u);
    EXPECT_EQ(checkerProblems(path), "");
  }
  {
    // The General order has no verified code for "z": that row is refused
    // with its character named, the rows before it stay.
    TempDir dir;
    const std::string path = copyTestData(dir, "access/indexprops_ace14.accdb");
    const std::vector<Row> rows = {{text("Row 1"), text("stuff"), Value::fromInt(1)},
                                   {text("row_2.x"), Value::null(), Value::fromInt(2)},
                                   {text("zebra"), Value::null(), Value::null()}};
    const std::string error = appendRows(path, "TableIgnoreNulls2_temp", columns, rows);
    EXPECT_NE(error.find("字符“z”（U+007A）"), std::string::npos) << error;
    EXPECT_NE(error.find("列“row”"), std::string::npos) << error;
    const auto reports = indexReports(path, "TableIgnoreNulls2_temp");
    EXPECT_EQ(report(reports, "PrimaryKey").keysCompared, 2u);
    EXPECT_EQ(report(reports, "DataIndex").keysCompared, 2u);
    EXPECT_EQ(exportRows(path, "TableIgnoreNulls2_temp").size(), 2u);
    EXPECT_EQ(checkerProblems(path), "");
  }
}

TEST(IndexedAppend, GrowsADescendingIndexAccessSpreadOverPages) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/compindex_ace14.accdb");
  std::vector<Row> rows;
  for (int i = 0; i < 3000; ++i)
    rows.push_back({i % 100 == 0 ? Value::null() : Value::fromInt((i * 7919) % 20000 - 3000),
                    text("new"), text("row")});
  ASSERT_EQ(appendRows(path, "Table1", {"CD_AGENTE", "RS_AGENTE", "DC_AGENTE"}, rows), "");
  const auto reports = indexReports(path, "Table1");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].keysCompared, 3512u);
  EXPECT_EQ(checkerProblems(path), "");
  EXPECT_EQ(exportRows(path, "Table1").size(), 3512u);
}

TEST(IndexedAppend, EveryIndexOfATableWithSeveral) {
  // indexes_jet4.mdb Table1: its own index and primary key on id, and
  // the indexes of two relationships on otherfk1 and otherfk2.
  TempDir dir;
  const std::string path = copyTestData(dir, "access/indexes_jet4.mdb");
  std::vector<Row> rows;
  for (int i = 4; i < 1500; ++i)
    rows.push_back({Value::fromInt(i), Value::fromInt(i % 3), Value::fromInt(10 + i % 4),
                    text("baz" + std::to_string(i))});
  ASSERT_EQ(appendRows(path, "Table1", {"id", "otherfk1", "otherfk2", "data"}, rows), "");
  const auto reports = indexReports(path, "Table1");
  ASSERT_EQ(reports.size(), 4u);
  for (const IndexReport& r : reports) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.keysCompared, 1500u);
  }
  EXPECT_EQ(checkerProblems(path), "");
}

TEST(IndexedAppend, RelationshipsWantTheirParentRow) {
  // indexes_jet4.mdb: Table1.otherfk1 refers to Table2.id (ids 0 to 2),
  // Table1.otherfk2 to Table3.id (10 to 13), both with enforced integrity.
  const std::vector<std::string> columns = {"id", "otherfk1", "otherfk2", "data"};
  TempDir dir;
  const std::string path = copyTestData(dir, "access/indexes_jet4.mdb");
  const std::vector<Row> rows = {
      {Value::fromInt(20), Value::fromInt(2), Value::fromInt(13), text("fine")},
      {Value::fromInt(21), Value::null(), Value::null(), text("no parent needed")},
      {Value::fromInt(22), Value::fromInt(99), Value::fromInt(10), text("orphan")},
      {Value::fromInt(23), Value::fromInt(1), Value::fromInt(11), text("after")}};
  const std::string error = appendRows(path, "Table1", columns, rows);
  EXPECT_NE(error.find("关系“Table2Table1”要求表“Table2”中有相关的记录"), std::string::npos)
      << error;
  EXPECT_EQ(exportRows(path, "Table1").size(), 6u);

  // A parent row added in the same session counts.
  {
    AccessWriteSession session(path);
    const Value id = Value::fromInt(77), data = text("new parent");
    session.table("Table2").append({&id, &data});
    const Value child = Value::fromInt(24), other = Value::fromInt(77), third = Value::fromInt(12),
                note = text("child of a new parent");
    session.table("Table1").append({&child, &other, &third, &note, nullptr});
    session.commit();
  }
  EXPECT_EQ(exportRows(path, "Table1").size(), 7u);
  for (const char* table : {"Table1", "Table2"})
    for (const IndexReport& r : indexReports(path, table)) EXPECT_EQ(r.entries, r.keysCompared);
  EXPECT_EQ(checkerProblems(path), "");
}

// The checker looks each entry's row up and counts the rows, so a row
// whose entry Access wrote is gone must still be found and named.
TEST(IndexedAppend, ARowWhoseEntryIsGoneIsNamed) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/compindex_ace14.accdb");
  std::string named;
  {
    access::PageFile f(path, true);
    const access::TableDef def =
        access::readTableDef(f, access::findTable(f, "Table1").definitionPage());
    uint32_t leaf = def.realIndexes.at(0).firstPage;
    access::IndexPage p;
    for (;;) {
      access::PageRef page = f.get(leaf);
      ASSERT_EQ(access::IndexPage::parse(page->bytes.data(), f.pageSize(), &p), nullptr);
      if (p.leaf()) break;
      leaf = p.child(0);
    }
    const std::string_view e = p.entry(3);
    const auto* ptr = reinterpret_cast<const uint8_t*>(e.data()) + e.size() - 4;
    named = "第 " + std::to_string(ptr[0] << 16 | ptr[1] << 8 | ptr[2]) + " 页第 " +
            std::to_string(ptr[3]) + " 行没有索引条目";
    p.erase(3);
    access::PageRef page = f.get(leaf);
    p.serialize(page->bytes.data(), f.pageSize(), def.page);
    f.touch(page);
    f.flush(false);
  }
  try {
    indexReports(path, "Table1");
    ADD_FAILURE() << "the missing entry was not noticed";
  } catch (const access::FormatError& e) {
    EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
  }
  EXPECT_NE(checkerProblems(path).find(named), std::string::npos);
}

}  // namespace
}  // namespace vov::test
