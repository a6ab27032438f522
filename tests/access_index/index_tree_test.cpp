// Index trees: entries placed in key order through page splits at every
// level, in empty indexes of Access files and in one Access grew itself,
// each result walked and matched row by row by the index checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "data/access/format/index_check.h"
#include "data/access/format/index_tree.h"
#include "data/access/format/table_indexes.h"
#include "tests/access_index/index_support.h"

namespace vov::access {
namespace {

using test::FilePages;
using test::longBytes;

constexpr uint8_t kLong = 0x04;

IndexDef longIndex(uint32_t root, bool ascending) {
  IndexDef d;
  d.name = "PrimaryKey";
  d.root = root;
  IndexedColumn c;
  c.number = 0;
  c.name = "a";
  c.key.type = kLong;
  c.key.ascending = ascending;
  d.columns.push_back(c);
  return d;
}

std::string keyOf(const IndexDef& d, const std::string& stored) {
  return rowKey(d, {KeyValue::of(stored)});
}

struct Row {
  uint32_t page;
  uint8_t row;
  std::string stored;  // empty: NULL
};

// Walks the index and matches every row against it.
IndexCheck checkAll(FilePages& pages, uint32_t owner, const IndexDef& d, const std::vector<Row>& rows) {
  test::RowsAt at;
  for (const Row& r : rows) at.add(r.page, r.row, r.stored);
  IndexCheck check(pages, owner, "Table3", d, at.lookup());
  check.expectRows(rows.size());
  EXPECT_EQ(check.keysCompared(), rows.size());
  EXPECT_EQ(check.entries(), rows.size());
  return check;
}

// types_ace14.accdb, Table3 (definition page 91): an empty index on the
// Long column a, root page 94.
constexpr uint32_t kTable3 = 91;
constexpr uint32_t kTable3Root = 94;

TEST(IndexTree, AppendsInKeyOrderSplitUpToThreeLevels) {
  FilePages pages("access/types_ace14.accdb");
  const IndexDef d = longIndex(kTable3Root, true);
  IndexTree tree(pages, kTable3, kTable3Root);
  std::vector<Row> rows;
  for (int32_t i = 0; i < 400000; ++i) {
    Row r{2000 + static_cast<uint32_t>(i) / 200, static_cast<uint8_t>(i % 200), longBytes(i - 70000)};
    ASSERT_TRUE(tree.insert(keyOf(d, r.stored), r.page, r.row));
    rows.push_back(r);
  }
  tree.flush();
  checkAll(pages, kTable3, d, rows);

  // The root stayed where the definition says; below it two node levels.
  IndexPage root, second;
  ASSERT_EQ(IndexPage::parse(pages.read(kTable3Root), 4096, &root), nullptr);
  ASSERT_FALSE(root.leaf());
  ASSERT_NE(root.tail, 0u);
  ASSERT_EQ(IndexPage::parse(pages.read(root.tail), 4096, &second), nullptr);
  EXPECT_FALSE(second.leaf());
  EXPECT_EQ(std::count(pages.allocated().begin(), pages.allocated().end(), kTable3Root), 0);
  // Appending keeps leaves full: about 6 bytes an entry once prefixes are shared.
  EXPECT_LT(pages.allocated().size(), 400000u * 7 / 3616);
}

TEST(IndexTree, RandomOrderWithDuplicateKeysAndDescendingOrder) {
  for (bool ascending : {true, false}) {
    SCOPED_TRACE(ascending ? "ascending" : "descending");
    FilePages pages("access/types_ace14.accdb");
    const IndexDef d = longIndex(kTable3Root, ascending);
    IndexTree tree(pages, kTable3, kTable3Root);
    std::mt19937 random(7);
    std::vector<Row> rows;
    std::set<int32_t> seen;
    size_t fresh = 0;
    for (uint32_t i = 0; i < 40000; ++i) {
      const int32_t v = static_cast<int32_t>(random() % 9000) - 4500;
      Row r{3000 + i / 150, static_cast<uint8_t>(i % 150), longBytes(v)};
      if (random() % 50 == 0) r.stored.clear();  // NULL
      rows.push_back(r);
    }
    std::shuffle(rows.begin(), rows.end(), random);
    for (const Row& r : rows) {
      const std::string key = r.stored.empty() ? rowKey(d, {KeyValue{}}) : keyOf(d, r.stored);
      fresh += tree.insert(key, r.page, r.row);
    }
    std::set<std::string> distinct;
    for (const Row& r : rows) distinct.insert(r.stored);
    EXPECT_EQ(fresh, distinct.size());
    EXPECT_TRUE(tree.containsKey(keyOf(d, rows[17].stored)));
    EXPECT_FALSE(tree.containsKey(keyOf(d, longBytes(99999))));
    tree.flush();
    EXPECT_EQ(checkAll(pages, kTable3, d, rows).distinctKeys(), distinct.size());
  }
}

// compindex_ace14.accdb Table1: a descending index on CD_AGENTE that Access
// spread over a root node (page 80), a leaf and a tail leaf with the NULLs.
TEST(IndexTree, GrowsAnIndexAccessBuiltWithATailPage) {
  FilePages pages("access/compindex_ace14.accdb");
  const IndexDef d = longIndex(80, false);
  const size_t before = IndexCheck(pages, 74, "Table1", d, {}).entries();
  ASSERT_EQ(before, 512u);
  IndexTree tree(pages, 74, 80);
  uint32_t page = 5000;
  size_t added = 0;
  for (int32_t v : {-5, 0, 4800, 4813, 9000, 100000, 2, 4799}) {
    for (int k = 0; k < 250; ++k) {
      tree.insert(keyOf(d, longBytes(v + k)), page, static_cast<uint8_t>(k));
      ++added;
    }
    tree.insert(rowKey(d, {KeyValue{}}), page, 254);
    ++added;
    ++page;
  }
  tree.flush();
  IndexCheck after(pages, 74, "Table1", d, {});
  EXPECT_EQ(after.entries(), before + added);
}

}  // namespace
}  // namespace vov::access
