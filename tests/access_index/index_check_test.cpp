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
  std::vector<std::string> values;
  Grown() {
    IndexTree tree(pages, kTable3, kRoot);
    for (int32_t i = 0; i < 3000; ++i) {
      values.push_back(longBytes(i * 3));
      tree.insert(rowKey(def, {KeyValue::of(values.back())}), 500 + i / 100, i % 100);
    }
    tree.flush();
  }
  void check(const std::function<void(IndexCheck&)>& rows) {
    IndexCheck c(pages, kTable3, "Table3", def);
    rows(c);
    c.finish();
  }
  void allRows(IndexCheck& c, int skip = -1) {
    for (int i = 0; i < 3000; ++i)
      if (i != skip) c.row(500 + i / 100, i % 100, {KeyValue::of(values[i])});
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
  g.check([&](IndexCheck& c) { g.allRows(c); });
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
    expectFault([&] { g.check([](IndexCheck&) {}); }, "顺序");
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
    expectFault([&] { g.check([](IndexCheck&) {}); }, "最大");
  }
  {
    Grown g;  // a leaf that no longer names its right neighbour
    const uint32_t leaf = g.root().child(1);
    g.rewrite(leaf, [](IndexPage& p) { p.next = 0; });
    expectFault([&] { g.check([](IndexCheck&) {}); }, "链接");
  }
  {
    Grown g;  // a row the index does not know
    expectFault([&] {
      g.check([&](IndexCheck& c) {
        g.allRows(c);
        c.row(900, 1, {KeyValue::of(longBytes(1))});
      });
    }, "没有索引条目");
  }
  {
    Grown g;  // an entry whose row is gone
    expectFault([&] { g.check([&](IndexCheck& c) { g.allRows(c, 1234); }); }, "不是表中的行");
  }
  {
    Grown g;  // a row whose value is not the key its entry holds
    g.values[77] = longBytes(-1);
    expectFault([&] { g.check([&](IndexCheck& c) { g.allRows(c); }); }, "应为");
  }
}

}  // namespace
}  // namespace vov::access
