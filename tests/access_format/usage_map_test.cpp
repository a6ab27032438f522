// Usage maps read from Access-written files and written back, inline and as
// reference maps.
#include <gtest/gtest.h>

#include "data/access/format/catalog.h"
#include "data/access/format/table_def.h"
#include "data/access/format/usage_map.h"
#include "tests/support/test_support.h"

namespace vov::access {
namespace {

TEST(UsageMaps, ReadInlineAndReferenceMapsAsAccessWroteThem) {
  PageFile file(test::testData("access/emoticons_ace14.accdb"), false);
  const TableDef def = readTableDef(file, findTable(file, "data").definitionPage());
  const UsageMap owned = UsageMap::read(file, def.ownedPages);
  EXPECT_TRUE(owned.reference());
  EXPECT_EQ(owned.pages(), std::vector<uint32_t>{86});
  EXPECT_EQ(owned.bitmapPages().size(), 17u);
  const UsageMap global = UsageMap::read(file, RowPointer{1, 0});
  EXPECT_FALSE(global.reference());
  // The free-page map marks pages past the end of the file, none inside it.
  EXPECT_EQ(global.next(0), file.pageCount());
}

TEST(UsageMaps, GrowPastTheInlineReachIntoAReferenceMapAndReadBack) {
  test::TempDir dir;
  const std::string path = test::copyTestData(dir, "access/types_ace14.accdb");
  std::vector<uint32_t> want;
  {
    PageFile file(path, true);
    const TableDef def = readTableDef(file, findTable(file, "Table3").definitionPage());
    UsageMap m = UsageMap::read(file, def.ownedPages);
    ASSERT_FALSE(m.reference());
    EXPECT_EQ(m.size(), 0u);
    for (uint32_t p : {3u, 9u, 511u}) m.add(p);
    m.write(file, [&] { return file.append(); });
    EXPECT_FALSE(m.reference());  // still within reach
    for (uint32_t p = 500; p < 40000; p += 7) m.add(p);
    m.remove(9);
    m.write(file, [&] { return file.append(); });
    EXPECT_TRUE(m.reference());
    EXPECT_EQ(m.bitmapPages()[0] != 0 && m.bitmapPages()[1] != 0, true);
    want = m.pages();
    file.flush(true);
  }
  PageFile file(path, false);
  const TableDef def = readTableDef(file, findTable(file, "Table3").definitionPage());
  const UsageMap back = UsageMap::read(file, def.ownedPages);
  EXPECT_TRUE(back.reference());
  EXPECT_EQ(back.pages(), want);
  EXPECT_FALSE(back.contains(9));
  EXPECT_TRUE(back.contains(3));
  EXPECT_EQ(back.next(39999), 0u);
}

TEST(UsageMaps, AMapRowThatIsNotOneFails) {
  PageFile file(test::testData("access/bench_jet4.mdb"), false);
  EXPECT_THROW(UsageMap::read(file, RowPointer{2, 0}), FormatError);  // a definition page
  EXPECT_THROW(UsageMap::read(file, RowPointer{1, 9}), FormatError);  // no such row
}

}  // namespace
}  // namespace vov::access
