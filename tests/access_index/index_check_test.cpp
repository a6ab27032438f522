// The index checker finds each kind of damage: entries out of order, a
// node entry that is not the largest below it, a broken sibling link, a
// row without its entry, an entry without its row, a wrong key.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "data/access/format/bytes.h"
#include "data/access/format/index_check.h"
#include "data/access/format/index_tree.h"
#include "data/access/format/page.h"
#include "tests/access_index/index_support.h"

namespace vov::access {
namespace {

using test::FilePages;
using test::longBytes;

constexpr uint32_t kTable3 = 91, kRoot = 94;  // types_ace14.accdb, empty Long index

IndexDef longIndex() {
  IndexDef d;
  d.name = "PrimaryKey";
  d.root = kRoot;
  IndexedColumn c;
  c.name = "a";
  c.key.type = kColLong;
  d.columns.push_back(c);
  return d;
}

// An index of 3000 rows over a root node and a dozen leaves.
struct Grown {
  FilePages pages{"access/types_ace14.accdb"};
  IndexDef def = longIndex();
  test::RowsAt rows;
  Grown() {
    IndexTree tree(pages, kTable3, kRoot);
    for (int32_t i = 0; i < 3000; ++i) {
      rows.add(500 + i / 100, i % 100, longBytes(i * 3));
      tree.insert(rowKey(def, {KeyValue::of(longBytes(i * 3))}), 500 + i / 100, i % 100);
    }
    tree.flush();
  }
  void check() {
    IndexCheck c(pages, kTable3, "Table3", def, rows.lookup());
    c.expectRows(rows.size());
  }
  IndexPage root() {
    IndexPage p;
    IndexPage::parse(pages.read(kRoot), 4096, &p);
    return p;
  }
  void rewrite(uint32_t page, const std::function<void(IndexPage&)>& change) {
    IndexPage p;
    ASSERT_EQ(IndexPage::parse(pages.read(page), 4096, &p), nullptr);
    change(p);
    p.serialize(pages.write(page), 4096, kTable3);
  }
};

void expectFault(const std::function<void()>& f, const char* words) {
  try {
    f();
    ADD_FAILURE() << "no fault found";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Table3"), std::string::npos) << e.what();
  }
}

TEST(IndexCheck, SoundIndexPasses) {
  Grown g;
  ASSERT_FALSE(g.root().leaf());
  g.check();
}

TEST(IndexCheck, FindsEachKindOfDamage) {
  {
    Grown g;  // two entries of a leaf swapped
    const uint32_t leaf = g.root().child(0);
    g.rewrite(leaf, [](IndexPage& p) {
      const std::string first(p.entry(0));
      p.erase(0);
      p.insert(1, first);
    });
    expectFault([&] { g.check(); }, "顺序");
  }
  {
    Grown g;  // a node entry that is not the last entry of its child
    g.rewrite(kRoot, [](IndexPage& p) {
      const uint32_t child = p.child(0);
      std::string e(p.sortPart(0));
      e[3] ^= 0x01;
      p.erase(0);
      p.insert(0, nodeEntry(e, child));
    });
    expectFault([&] { g.check(); }, "最大");
  }
  {
    Grown g;  // a leaf that no longer names its right neighbour
    const uint32_t leaf = g.root().child(1);
    g.rewrite(leaf, [](IndexPage& p) { p.next = 0; });
    expectFault([&] { g.check(); }, "链接");
  }
  {
    Grown g;  // a row the index does not know
    g.rows.add(900, 1, longBytes(1));
    expectFault([&] { g.check(); }, "没有索引条目");
  }
  {
    Grown g;  // an entry whose row is gone
    g.rows.remove(500 + 12, 34);
    expectFault([&] { g.check(); }, "不是表中的行");
  }
  {
    Grown g;  // a row whose value is not the key its entry holds
    g.rows.add(500, 77, longBytes(-1));
    expectFault([&] { g.check(); }, "应为");
  }
  {
    Grown g;  // a second entry for a row, under another key
    {
      IndexTree tree(g.pages, kTable3, kRoot);
      tree.insert(rowKey(g.def, {KeyValue::of(longBytes(5))}), 520, 7);
      tree.flush();
    }
    expectFault([&] { g.check(); }, "应为");
  }
}

// Rows whose key has no verified encoding are matched by address alone,
// so two entries naming one of them are caught by the address.
TEST(IndexCheck, TwoEntriesOfARowWithAnUnverifiedKey) {
  FilePages pages("access/types_ace14.accdb");
  IndexDef def = longIndex();
  def.columns[0].key.type = kColText;
  def.columns[0].key.sortOrder = 0x0409;
  def.columns[0].key.sortVersion = 1;  // General, which has no verified "z"
  test::RowsAt rows;
  rows.add(600, 1, "zz");
  rows.add(600, 2, "yy");
  IndexTree tree(pages, kTable3, kRoot);
  tree.insert(std::string("\x7f\x0e\xa7\x0e\xa7\x01\x00", 7), 600, 2);
  tree.insert(std::string("\x7f\x20\x01\x00", 4), 600, 1);
  {
    tree.flush();
    IndexCheck c(pages, kTable3, "Table3", def, rows.lookup());
    c.expectRows(2);
    EXPECT_EQ(c.keysCompared(), 1u);
    EXPECT_EQ(c.keysUnverified(), 1u);
  }
  tree.insert(std::string("\x7f\x21\x01\x00", 4), 600, 1);
  tree.flush();
  expectFault([&] { IndexCheck(pages, kTable3, "Table3", def, rows.lookup()); }, "两个索引条目");
}

}  // namespace
}  // namespace vov::access
