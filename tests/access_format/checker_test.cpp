// The checker accepts every file Access wrote, and catches each kind of
// damage it is there for, made by changing bytes of a copy.
#include <gtest/gtest.h>

#include <functional>

#include "data/access/format/bytes.h"
#include "data/access/format/catalog.h"
#include "data/access/format/checker.h"
#include "data/access/format/table_def.h"
#include "tests/access/access_support.h"
#include "tests/support/test_support.h"

namespace vov::access {
namespace {

std::string joined(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += x + "\n";
  return s;
}

TEST(Checker, AcceptsEveryFileAccessWrote) {
  int files = 0;
  for (const std::string& path : test::accessFiles()) {
    PageFile file(path, false);
    if (file.format().version() == Version::Jet3) continue;
    const CheckReport r = checkFile(file);
    EXPECT_TRUE(r.ok()) << path << "\n" << joined(r.problems);
    EXPECT_GT(r.tables, 5u) << path;
    ++files;
  }
  EXPECT_GE(files, 10);
}

// Changes a copy of ASampleDatabase.accdb through `damage` and returns the
// checker's problems.
std::string problemsAfter(const std::function<void(std::string& bytes, PageFile& f)>& damage,
                          const char* file = "access/ASampleDatabase.accdb") {
  test::TempDir dir;
  const std::string path = test::copyTestData(dir, file);
  std::string bytes = test::readFile(path);
  {
    PageFile f(path, false);
    damage(bytes, f);
  }
  test::writeFile(path, bytes);
  PageFile f(path, false);
  return joined(checkFile(f).problems);
}

uint8_t* at(std::string& bytes, uint32_t page, uint32_t off) {
  return reinterpret_cast<uint8_t*>(bytes.data()) + static_cast<size_t>(page) * 4096 + off;
}

TEST(Checker, CatchesEachKindOfDamage) {
  // Asset Items: data pages 44-46, memo column Comments, index page 47.
  EXPECT_NE(problemsAfter([](std::string& b, PageFile&) { put16(at(b, 45, 2), 100); })
                .find("空闲字节数"),
            std::string::npos);
  EXPECT_NE(problemsAfter([](std::string& b, PageFile&) { put16(at(b, 45, 14 + 2 * 3), 0x0FFF); })
                .find("超出页面"),
            std::string::npos);
  // A page of the table dropped from its map: its rows are unreachable.
  EXPECT_NE(problemsAfter([](std::string& b, PageFile& f) {
              const TableDef def = readTableDef(f, findTable(f, "Asset Items").definitionPage());
              RowExtent e;
              rowExtent(at(b, def.ownedPages.page, 0), 4096, def.ownedPages.row, &e);
              *at(b, def.ownedPages.page, e.start + 5 + 45 / 8) &= static_cast<uint8_t>(~(1u << (45 % 8)));
            }).find("没有列出这一页"),
            std::string::npos);
  // The database's free-page map offering a page in use.
  EXPECT_NE(problemsAfter([](std::string& b, PageFile&) {
              RowExtent e;
              rowExtent(at(b, 1, 0), 4096, 0, &e);
              *at(b, 1, e.start + 5 + 46 / 8) |= static_cast<uint8_t>(1u << (46 % 8));
            }).find("标为空闲"),
            std::string::npos);
  // A stored AutoNumber below the largest value in the table.
  EXPECT_NE(problemsAfter(
                [](std::string& b, PageFile& f) {
                  put32(at(b, findTable(f, "Table").definitionPage(), 20), 1);
                },
                "access/unicode_comp_jet4.mdb")
                .find("自动编号"),
            std::string::npos);
  // A table's own row count is checked when the caller asks for it.
  {
    test::TempDir dir;
    const std::string path = test::copyTestData(dir, "access/ASampleDatabase.accdb");
    uint32_t tdef;
    {
      PageFile f(path, false);
      tdef = findTable(f, "Asset Items").definitionPage();
    }
    std::string bytes = test::readFile(path);
    put32(at(bytes, tdef, 16), 64);
    test::writeFile(path, bytes);
    PageFile f(path, false);
    EXPECT_TRUE(checkFile(f).ok());
    EXPECT_NE(joined(checkFile(f).notes).find("记录的行数 64"), std::string::npos);
    CheckOptions strict;
    strict.exactRowCounts = {tdef};
    EXPECT_NE(joined(checkFile(f, strict).problems).find("64"), std::string::npos);
  }
  // So is an index's stored count of keys, where it was exact before.
  {
    test::TempDir dir;
    const std::string path = test::copyTestData(dir, "access/indexes_jet4.mdb");
    CheckOptions strict;
    {
      PageFile f(path, true);
      const CheckReport before = checkFile(f);
      ASSERT_TRUE(before.ok());
      // Access lets some counts drift (deleted rows, objects); others are exact.
      EXPECT_FALSE(before.notes.empty());
      ASSERT_FALSE(before.exactIndexCounts.empty());
      strict.exactIndexCounts = before.exactIndexCounts;
      const auto [page, index] = before.exactIndexCounts.back();
      TableDef def = readTableDef(f, page);
      def.realIndexes[index].entryCount += 1;
      writeTableCounts(f, def);
      f.flush(false);
    }
    PageFile f(path, false);
    EXPECT_TRUE(checkFile(f).ok());
    EXPECT_NE(joined(checkFile(f).notes).find("键数"), std::string::npos);
    EXPECT_NE(joined(checkFile(f, strict).problems).find("键数"), std::string::npos);
  }
}

TEST(Checker, CatchesABrokenIndex) {
  const std::string p = problemsAfter(
      [](std::string& b, PageFile& f) {
        const TableDef def = readTableDef(f, findTable(f, "Table1").definitionPage());
        // The first entry of the primary key's only page: its key bytes.
        for (const RealIndex& r : def.realIndexes)
          for (uint32_t i = 0; i < 4; ++i) *at(b, r.firstPage, 0x1E0 + 1 + i) = 0x7E;
      },
      "access/indexes_jet4.mdb");
  EXPECT_NE(p.find("索引"), std::string::npos) << p;
}

TEST(Checker, CatchesBrokenLongValues) {
  // MSysObjects' LvProp values live on LVAL pages of ASampleDatabase.
  const std::string p = problemsAfter([](std::string& b, PageFile&) {
    // Turn the first LVAL page into a page owned by table 42.
    for (uint32_t pg = 3; pg < b.size() / 4096; ++pg)
      if (*at(b, pg, 0) == kPageData && get32(at(b, pg, 4)) == datapage::kLvalOwner) {
        put32(at(b, pg, 4), 42);
        return;
      }
  });
  EXPECT_NE(p.find("长数据"), std::string::npos) << p;
}

}  // namespace
}  // namespace vov::access
