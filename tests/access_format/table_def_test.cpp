// Table definitions and rows of every Jet 4 and ACE test file, read by the
// format layer and compared with what libmdb (through the reader process)
// and mdb-count say about the same tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "data/access/access_backend.h"
#include "data/access/format/catalog.h"
#include "data/access/format/row.h"
#include "data/access/format/table_def.h"
#include "tests/access/access_support.h"
#include "tests/support/test_support.h"

namespace vov::access {
namespace {

using test::accessFiles;

bool writableFormat(const std::string& path) {
  PageFile f(path, false);
  return f.format().version() != Version::Jet3;
}

int64_t mdbCount(const std::string& file, const std::string& table) {
  return std::stoll(test::runCommand("LC_ALL=C.UTF-8 mdb-count " + test::shellQuote(file) + " " +
                                     test::shellQuote(table)));
}

TEST(TableDefs, ColumnsAndCountsOfEveryTableAgreeWithLibmdb) {
  int tables = 0;
  for (const std::string& path : accessFiles()) {
    if (!writableFormat(path)) continue;
    SCOPED_TRACE(path);
    auto backend = openAccessBackend(path);
    PageFile file(path, false);
    for (const std::string& name : backend->tableNames()) {
      SCOPED_TRACE(name);
      const CatalogEntry entry = findTable(file, name);
      EXPECT_EQ(entry.name, name);
      const TableDef def = readTableDef(file, entry.definitionPage());
      // libmdb lists columns by column number.
      std::vector<Column> cols = def.columns;
      std::sort(cols.begin(), cols.end(),
                [](const Column& a, const Column& b) { return a.number < b.number; });
      const std::vector<FieldInfo> fields = backend->tableFields(name);
      ASSERT_EQ(cols.size(), fields.size());
      for (size_t i = 0; i < cols.size(); ++i) {
        EXPECT_EQ(cols[i].name, fields[i].name);
        if (cols[i].type == kColText) {
          EXPECT_EQ(cols[i].length / 2, fields[i].size);
        }
        if (cols[i].type == kColNumeric) {
          EXPECT_EQ(cols[i].scale(), fields[i].size);
        }
        EXPECT_EQ(cols[i].type == kColLong && cols[i].autoNumber(), fields[i].type == ftAutoInc)
            << cols[i].name;
      }
      // The stored count can lag behind the rows (the shared
      // calcfields_ace14.accdb stores 3 for 4 rows); mdb-count reports the
      // stored one.
      EXPECT_EQ(def.rowCount, mdbCount(path, name));
      const int64_t count = static_cast<int64_t>(test::exportRows(path, name).size());
      int64_t scanned = 0;
      std::vector<FieldSpan> spans;
      scanRows(file, def, [&](RowPointer, const uint8_t* row, uint32_t len) {
        EXPECT_TRUE(crackRow(def, row, len, &spans));
        ++scanned;
      });
      EXPECT_EQ(scanned, count);
      ++tables;
    }
  }
  EXPECT_GE(tables, 25);
}

// What the test files were made to show, read from their
// definitions: flags, index kinds, shared and descending indexes.
TEST(TableDefs, FlagsAndIndexesAsAccessWroteThem) {
  PageFile types(test::testData("access/types_ace14.accdb"), false);
  {
    const TableDef def = readTableDef(types, findTable(types, "Table1").definitionPage());
    EXPECT_TRUE(def.column("A")->compressed());
    EXPECT_FALSE(def.column("B")->compressed());
    EXPECT_EQ(def.column("A")->length, 100);
    EXPECT_TRUE(def.column("E")->fixed());
    EXPECT_FALSE(def.column("A")->fixed());
    const LogicalIndex* pk = nullptr;
    for (const LogicalIndex& l : def.indexes)
      if (l.kind == kIndexKindPrimaryKey) pk = &l;
    ASSERT_NE(pk, nullptr);
    EXPECT_EQ(pk->name, "PrimaryKey");
    EXPECT_TRUE(def.realIndexes[pk->realIndex].unique());
    EXPECT_EQ(def.realIndexes[pk->realIndex].entryCount, 2u);
    const TableDef t3 = readTableDef(types, findTable(types, "Table3").definitionPage());
    EXPECT_TRUE(t3.column("a")->autoNumber());
    const TableDef t4 = readTableDef(types, findTable(types, "Table4").definitionPage());
    EXPECT_TRUE(t4.column("data")->autoGuid());
  }
  PageFile num(test::testData("access/fixed_numeric_jet4.mdb"), false);
  {
    const TableDef def = readTableDef(num, findTable(num, "test").definitionPage());
    int decimals = 0;
    for (const Column& c : def.columns)
      if (c.type == kColNumeric) {
        ++decimals;
        EXPECT_GE(c.precision(), c.scale());
        EXPECT_LE(c.precision(), 28);
      }
    EXPECT_GT(decimals, 0);
  }
  PageFile idx(test::testData("access/indexes_jet4.mdb"), false);
  {
    const TableDef def = readTableDef(idx, findTable(idx, "Table2").definitionPage());
    ASSERT_EQ(def.indexes.size(), 3u);
    ASSERT_EQ(def.realIndexes.size(), 2u);
    std::map<uint32_t, int> sharing;
    for (const LogicalIndex& l : def.indexes) ++sharing[l.realIndex];
    EXPECT_EQ(std::max_element(sharing.begin(), sharing.end(),
                               [](auto& a, auto& b) { return a.second < b.second; })
                  ->second,
              2);
  }
  PageFile props(test::testData("access/indexprops_jet4.mdb"), false);
  {
    const TableDef def =
        readTableDef(props, findTable(props, "TableIgnoreNulls1").definitionPage());
    const LogicalIndex* data = nullptr;
    for (const LogicalIndex& l : def.indexes)
      if (l.name == "DataIndex") data = &l;
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(def.realIndexes[data->realIndex].ignoreNulls());
    EXPECT_LT(def.realIndexes[data->realIndex].entryCount, def.rowCount);
  }
  // A definition spread over two pages (89 columns).
  {
    const TableDef def = readTableDef(types, findTable(types, "Table2").definitionPage());
    EXPECT_EQ(def.pages.size(), 2u);
    EXPECT_EQ(def.columns.size(), 89u);
    EXPECT_EQ(def.columns.back().name, "column89");
    EXPECT_EQ(def.indexes.size(), 5u);
  }
  PageFile jet3(test::testData("access/nwind.mdb"), false);
  EXPECT_EQ(jet3.format().version(), Version::Jet3);
  EXPECT_FALSE(jet3.format().whyNotWritable().empty());
}

TEST(TableDefs, DamagedDefinitionsFailWithAMessage) {
  test::TempDir dir;
  const std::string path = test::copyTestData(dir, "access/types_ace14.accdb");
  {
    PageFile file(path, false);
    EXPECT_THROW(readTableDef(file, 1), FormatError);          // a data page
    EXPECT_THROW(readTableDef(file, 1u << 20), FormatError);   // past the end
  }
  // A column count far beyond what the page holds.
  std::string bytes = test::readFile(path);
  PageFile probe(path, false);
  const uint32_t page = findTable(probe, "Table1").definitionPage();
  bytes[page * 4096 + 45] = '\xFF';
  bytes[page * 4096 + 46] = '\x0F';
  test::writeFile(path, bytes);
  PageFile file(path, false);
  EXPECT_THROW(readTableDef(file, page), FormatError);
}

}  // namespace
}  // namespace vov::access
