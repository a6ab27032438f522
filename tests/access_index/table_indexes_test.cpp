// All indexes of a table on insert, with the tables' own definitions:
// unique and required indexes refuse a row before anything changes,
// ignore-nulls indexes leave all-NULL rows out, logical indexes sharing
// one physical index are kept once, counts follow distinct keys, and an
// unverified character is named with table, index and column.
#include <gtest/gtest.h>

#include <map>

#include "data/access/format/catalog.h"
#include "data/access/format/index_check.h"
#include "data/access/format/table_indexes.h"
#include "data/access/format/usage_map.h"
#include "tests/access_index/index_support.h"
#include "tests/support/test_support.h"

namespace vov::access {
namespace {

using test::longBytes;

// A table of a copy of a test file, with its indexes ready for inserts;
// new index pages go into the index's own usage map.
struct Table {
  test::TempDir dir;
  PageFile file;
  TableDef def;
  std::vector<std::unique_ptr<FileIndexPages>> pages;
  std::unique_ptr<TableIndexes> indexes;

  Table(const std::string& testFile, const std::string& name)
      : file(test::copyTestData(dir, testFile), true),
        def(readTableDef(file, findTable(file, name).definitionPage())) {
    std::vector<IndexPages*> raw;
    for (const RealIndex& r : def.realIndexes) {
      pages.push_back(std::make_unique<FileIndexPages>(file, [this, r] {
        PageRef p = file.append();
        UsageMap m = UsageMap::read(file, r.usageMap);
        m.add(p->number);
        m.write(file, [this] { return file.append(); });
        return p->number;
      }));
      raw.push_back(pages.back().get());
    }
    indexes = std::make_unique<TableIndexes>(name, def.page, indexDefs(def), raw);
  }
  const IndexDef& index(const std::string& name) {
    for (size_t i = 0; i < indexes->size(); ++i)
      if (indexes->def(i).name == name) return indexes->def(i);
    throw std::runtime_error("no index " + name);
  }
};

std::string refusal(TableIndexes& t, const std::vector<KeyValue>& values) {
  try {
    t.prepare(values);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(TableIndexes, UniqueAndRequiredIndexesRefuseTheRowFirst) {
  // types_ace14.accdb Table1: primary key on text A (2 rows: "a", "abcdefg").
  Table t("access/types_ace14.accdb", "Table1");
  ASSERT_TRUE(t.index("PrimaryKey").unique);
  ASSERT_TRUE(t.index("PrimaryKey").required);
  std::vector<KeyValue> row(9);
  row[0] = KeyValue::of("ABCDEFG");  // only case differs from a stored key
  const std::string dup = refusal(*t.indexes, row);
  EXPECT_NE(dup.find("表“Table1”的索引“PrimaryKey”不允许重复的值"), std::string::npos) << dup;
  row[0] = KeyValue{};
  const std::string null = refusal(*t.indexes, row);
  EXPECT_NE(null.find("不允许空值"), std::string::npos) << null;
  EXPECT_NE(null.find("列“A”"), std::string::npos) << null;

  const uint32_t before = t.index("PrimaryKey").count;
  row[0] = KeyValue::of("hij");
  const TableIndexes::Keys keys = t.indexes->prepare(row);
  t.indexes->insert(keys, 4000, 0);
  EXPECT_EQ(t.index("PrimaryKey").count, before + 1);
  // Now "HIJ" is taken too.
  row[0] = KeyValue::of("HIJ");
  EXPECT_NE(refusal(*t.indexes, row).find("不允许重复的值"), std::string::npos);
}

TEST(TableIndexes, IgnoreNullsAndSharedIndexesAndCounts) {
  // indexprops_jet4.mdb TableIgnoreNulls2_temp (empty): primary key on
  // text "row", DataIndex on (data1, data2) ignoring NULLs.
  Table t("access/indexprops_jet4.mdb", "TableIgnoreNulls2_temp");
  const IndexDef& data = t.index("DataIndex");
  ASSERT_TRUE(data.ignoreNulls);
  ASSERT_FALSE(data.unique);
  const std::string twelve = longBytes(12);
  struct R {
    const char* row;
    const char* data1;
    bool data2;
  };
  uint8_t n = 0;
  std::map<uint32_t, std::vector<KeyValue>> stored;
  for (R r : {R{"r1", nullptr, false}, R{"r2", "x", false}, R{"r3", nullptr, true},
              R{"r4", "x", false}, R{"r5", "x", true}}) {
    std::vector<KeyValue> row(3);
    row[0] = KeyValue::of(r.row);
    if (r.data1) row[1] = KeyValue::of(r.data1);
    if (r.data2) row[2] = KeyValue::of(twelve);
    const TableIndexes::Keys k = t.indexes->prepare(row);
    stored[3000 << 8 | n] = row;
    t.indexes->insert(k, 3000, n++);
  }
  // r1 has no entry; r2 and r4 share a key.
  EXPECT_EQ(t.index("DataIndex").count, 3u);
  EXPECT_EQ(t.index("PrimaryKey").count, 5u);
  t.indexes->flush();
  t.file.flush(false);
  const RowLookup lookup = [&](RowPointer at) { return &stored.at(at.encode()); };
  for (size_t i = 0; i < t.indexes->size(); ++i) {
    const IndexDef& d = t.indexes->def(i);
    IndexCheck c(*t.pages[i], t.def.page, "TableIgnoreNulls2_temp", d, lookup);
    const size_t entries = d.name == "DataIndex" ? 4u : 5u;
    c.expectRows(entries);
    EXPECT_EQ(c.entries(), entries);
    EXPECT_EQ(c.keysCompared(), entries);
    EXPECT_EQ(c.distinctKeys(), d.count);
  }

  // indexes_jet4.mdb Table2: ".rC" (a relationship) and PrimaryKey are one
  // physical index, named by the primary key.
  Table shared("access/indexes_jet4.mdb", "Table2");
  ASSERT_EQ(shared.def.indexes.size(), 3u);
  ASSERT_EQ(shared.indexes->size(), 2u);
  EXPECT_EQ(shared.indexes->def(0).name, "id");
  EXPECT_EQ(shared.indexes->def(1).name, "PrimaryKey");
}

TEST(TableIndexes, AnUnverifiedCharacterIsNamedWithItsTableIndexAndColumn) {
  // indexprops_ace14.accdb uses the General order, which has no verified z.
  Table t("access/indexprops_ace14.accdb", "TableIgnoreNulls1_temp");
  std::vector<KeyValue> row(2);
  row[0] = KeyValue::of("pizza");
  const std::string why = refusal(*t.indexes, row);
  EXPECT_NE(why.find("表“TableIgnoreNulls1_temp”的索引“PrimaryKey”"), std::string::npos) << why;
  EXPECT_NE(why.find("列“row”"), std::string::npos) << why;
  EXPECT_NE(why.find("字符“z”（U+007A）"), std::string::npos) << why;
  EXPECT_NE(why.find("常规"), std::string::npos) << why;
}

}  // namespace
}  // namespace vov::access
