// Rows appended to copies of Access-written files, read back by mdb-export,
// mdb-count, the program's own reader and the checker.
#include <gtest/gtest.h>

#include <set>

#include "data/access/access_backend.h"
#include "data/access/format/catalog.h"
#include "data/access/format/long_value.h"
#include "data/access/format/row.h"
#include "data/access/format/table_def.h"
#include "data/access/format/usage_map.h"
#include "tests/access_write/write_support.h"
#include "tests/support/test_support.h"

namespace vov::test {
namespace {

using Row = std::vector<Value>;
using Printed = std::vector<std::optional<std::string>>;

Value text(const std::string& s) { return Value::fromText(s); }

std::string repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

const std::vector<std::string> kDateTestColumns = {"IDCol", "DateTimeCol", "DateCol", "TimeCol",
                                                   "LongTextCol", "ShortTextCol"};

TEST(AccessAppend, EveryReaderReadsOldAndNewRowsExactly) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  const std::vector<ExportRow> before = exportRows(path, "DateTest");
  ASSERT_EQ(before.size(), 6u);

  const std::string memoInline = repeat("inline memo ", 20);
  const std::string memoOnePage = repeat("x", 1500);         // 3000 bytes: one LVAL row
  const std::string memoChain = repeat("长备注", 4000);       // 24000 bytes: a chain
  const std::string chinese = "客户名称：上海永盛贸易有限公司";
  const std::string longest = repeat("é", 255);
  std::vector<Row> rows = {
      {Value::fromInt(7), text("2024-05-06 07:08:09"), text("2024-05-06"),
       text("1899-12-30 13:14:15"), text(memoInline), text("Hello")},
      {Value::fromInt(8), Value::fromDateTime(DateTime{1950, 3, 1, 6, 0, 0, 0}), Value::null(),
       Value::null(), text(memoOnePage), text(chinese)},
      {Value(), Value(), Value(), Value(), Value(), Value()},
      {text("9"), text("2024-02-29T23:59:59"), Value::fromInt(45000), Value::null(),
       text(memoChain), text(longest)},
      {Value::fromReal(10.0), Value::fromDateTime(DateTime{1850, 3, 1, 6, 0, 0, 0}), Value::null(),
       Value::null(), text(""), text("")},
  };
  ASSERT_EQ(appendRows(path, "DateTest", kDateTestColumns, rows), "");

  EXPECT_EQ(checkerProblems(path), "");
  EXPECT_EQ(storedCount(path, "DateTest"), 11);
  const std::vector<ExportRow> after = exportRows(path, "DateTest");
  ASSERT_EQ(after.size(), 11u);
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]) << i;
  const std::vector<Printed> want = {
      {"7", "2024-05-06 07:08:09", "2024-05-06 00:00:00", "1899-12-30 13:14:15", memoInline, "Hello"},
      {"8", "1950-03-01 06:00:00", std::nullopt, std::nullopt, memoOnePage, chinese},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"9", "2024-02-29 23:59:59", "2023-03-15 00:00:00", std::nullopt, memoChain, longest},
      // mdb-export prints neither dates before 1900 nor empty texts (it
      // shows them as NULL); the program's reader checks those below.
      {"10", "1900-01-00 00:00:00", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(after[6 + i], want[i]) << "new row " << i;

  // The program's own reader agrees, row for row.
  const auto mine = readerRows(path, "DateTest");
  ASSERT_EQ(mine.size(), 11u);
  EXPECT_EQ(mine[6][4], memoInline);
  EXPECT_EQ(mine[9][4], memoChain);
  EXPECT_EQ(mine[7][5], chinese);
  EXPECT_EQ(mine[10][1], "1850-03-01 06:00:00");
  EXPECT_EQ(mine[10][4], "");
  EXPECT_EQ(mine[10][5], "");
  EXPECT_EQ(mine[8], std::vector<std::string>(6, "<null>"));
  EXPECT_EQ(mine[9][0], "9");
}

// Enough long values and rows to take the file past what an inline usage
// map reaches (512 pages): the maps become reference maps.
TEST(AccessAppend, ThousandsOfRowsAndLongValuesGrowTheMaps) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  std::vector<Row> rows;
  for (int i = 0; i < 3000; ++i)
    rows.push_back({Value::fromInt(1000 + i), text("2001-01-01 00:00:00"), Value(), Value(),
                    i % 5 == 0 ? text(repeat("长值", 1000 + i)) : text("m" + std::to_string(i)),
                    text("row " + std::to_string(i))});
  ASSERT_EQ(appendRows(path, "DateTest", kDateTestColumns, rows), "");
  EXPECT_EQ(checkerProblems(path), "");
  EXPECT_EQ(storedCount(path, "DateTest"), 3006);
  const std::vector<ExportRow> after = exportRows(path, "DateTest");
  ASSERT_EQ(after.size(), 3006u);
  for (int i : {0, 1, 5, 1234, 2995, 2999}) {
    EXPECT_EQ(after[6 + i][0], std::to_string(1000 + i));
    EXPECT_EQ(after[6 + i][4], i % 5 == 0 ? repeat("长值", 1000 + i) : "m" + std::to_string(i));
    EXPECT_EQ(after[6 + i][5], "row " + std::to_string(i));
  }
  access::PageFile f(path, false);
  EXPECT_GT(f.pageCount(), 600u);
  const access::TableDef def = access::readTableDef(f, access::findTable(f, "DateTest").definitionPage());
  EXPECT_TRUE(access::UsageMap::read(f, def.column("LongTextCol")->longValuePages).reference());
  EXPECT_GT(access::UsageMap::read(f, def.ownedPages).size(), 20u);
  EXPECT_EQ(readerRows(path, "DateTest").size(), 3006u);
}

// emoticons_ace14.accdb keeps the pages of its table in a reference map
// that Access wrote: the new pages go into that map, beside page 86.
TEST(AccessAppend, NewPagesJoinAReferenceMapAccessWrote) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/emoticons_ace14.accdb");
  const std::vector<ExportRow> before = exportRows(path, "data");
  auto ownedMap = [&] {
    access::PageFile f(path, false);
    const access::TableDef def = access::readTableDef(f, access::findTable(f, "data").definitionPage());
    return access::UsageMap::read(f, def.ownedPages);
  };
  const std::vector<uint32_t> bitmaps = ownedMap().bitmapPages();
  std::vector<Row> rows;
  for (int i = 0; i < 4000; ++i)
    rows.push_back({Value::fromInt(i), text(repeat("new row ", 8) + std::to_string(i))});
  ASSERT_EQ(appendRows(path, "data", {"key", "data"}, rows), "");
  EXPECT_EQ(checkerProblems(path), "");
  const access::UsageMap owned = ownedMap();
  EXPECT_TRUE(owned.reference());
  EXPECT_TRUE(owned.contains(86));
  EXPECT_GT(owned.size(), 40u);
  EXPECT_EQ(owned.bitmapPages(), bitmaps);  // the same bitmap page, not a new map
  EXPECT_EQ(storedCount(path, "data"), static_cast<int64_t>(before.size() + rows.size()));
  const std::vector<ExportRow> after = exportRows(path, "data");
  ASSERT_EQ(after.size(), before.size() + rows.size());
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]);
  for (int i : {1, 2345, 3999})
    EXPECT_EQ(after[before.size() + i][1], repeat("new row ", 8) + std::to_string(i));
  EXPECT_EQ(readerRows(path, "data").size(), after.size());
}

// A long value stays in its row, takes one LVAL row or runs over a chain of
// them; the sizes on either side of each change of form, and one of a
// megabyte, read back whole with the pages the form needs.
TEST(AccessAppend, LongValuesOnEitherSideOfEachFormAndOverManyPages) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  const size_t room = access::maxRowSize(4096), piece = room - 4;
  struct Case {
    size_t bytes;  // of UTF-16, two a character
    size_t pages;  // LVAL pages it takes (0: it stays in the row)
  };
  const std::vector<Case> cases = {{1024, 0}, {1026, 1}, {room, 1}, {room + 2, 2},
                                   {2 * piece, 2}, {2 * piece + 2, 3},
                                   {1 << 20, ((1 << 20) + piece - 1) / piece}};
  std::vector<Row> rows;
  std::vector<std::string> memos;
  for (size_t i = 0; i < cases.size(); ++i) {
    const size_t chars = cases[i].bytes / 2;
    memos.push_back(i % 2 ? repeat("长", chars) : std::string(chars - 4, 'x') + "末尾的字");
    rows.push_back({Value::fromInt(static_cast<int64_t>(100 + i)), Value(), Value(), Value(),
                    text(memos.back()), text("r" + std::to_string(i))});
  }
  ASSERT_EQ(appendRows(path, "DateTest", kDateTestColumns, rows), "");
  EXPECT_EQ(checkerProblems(path), "");
  const std::vector<ExportRow> after = exportRows(path, "DateTest");
  const auto mine = readerRows(path, "DateTest");
  ASSERT_EQ(after.size(), 6 + cases.size());
  ASSERT_EQ(mine.size(), after.size());
  access::PageFile f(path, false);
  const access::TableDef def = access::readTableDef(f, access::findTable(f, "DateTest").definitionPage());
  size_t memoColumn = 0;
  while (def.columns[memoColumn].name != "LongTextCol") ++memoColumn;
  std::vector<size_t> pagesOf;
  std::vector<access::FieldSpan> spans;
  access::scanRows(f, def, [&](access::RowPointer, const uint8_t* row, uint32_t length) {
    ASSERT_TRUE(access::crackRow(def, row, length, &spans));
    std::set<uint32_t> pages;
    const access::FieldSpan& s = spans[memoColumn];
    if (!s.null) access::readLongValue(f, row + s.start, s.length, [&](uint32_t p) { pages.insert(p); });
    pagesOf.push_back(pages.size());
  });
  ASSERT_EQ(pagesOf.size(), after.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].bytes);
    // libmdb hands out at most 199,999 bytes of a memo.
    EXPECT_TRUE(after[6 + i][4] == memos[i].substr(0, 199999))
        << (after[6 + i][4] ? after[6 + i][4]->size() : 0);
    EXPECT_TRUE(mine[6 + i][4] == memos[i]) << mine[6 + i][4].size();
    EXPECT_EQ(pagesOf[6 + i], cases[i].pages);
  }
}

TEST(AccessAppend, ValuesAreConvertedAsAccessConvertsThemOrRefusedAtTheirRow) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  const std::vector<std::string> cols = {"IDCol", "DateCol", "ShortTextCol"};
  EXPECT_EQ(appendRows(path, "DateTest", cols,
                       {{text(" 42 "), text("2020-01-02"), Value::fromInt(17)},
                        {Value::fromReal(2.5), Value::fromDecimal("3.5"), Value::fromReal(0.1)},
                        {Value::fromDecimal("3.5"), Value(), Value::fromDecimal("12.50")}}),
            "");
  const auto rows = exportRows(path, "DateTest");
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[6][0], "42");
  EXPECT_EQ(rows[6][2], "2020-01-02 00:00:00");
  EXPECT_EQ(rows[6][5], "17");
  EXPECT_EQ(rows[7][0], "2");  // half to even
  EXPECT_EQ(rows[7][2], "1900-01-02 12:00:00");  // a number of days
  EXPECT_EQ(rows[7][5], "0.1");
  EXPECT_EQ(rows[8][0], "4");
  EXPECT_EQ(rows[8][5], "12.50");

  // Each refusal names the field and keeps the rows before it.
  struct Case {
    Row bad;
    const char* says;
  } cases[] = {
      {{text("abc"), Value(), Value()}, "不是数字"},
      {{text("3000000000"), Value(), Value()}, "超出"},
      {{Value(), text("2021-02-30"), Value()}, "不是日期"},
      {{Value(), Value(), text(repeat("字", 256))}, "超过该列的长度 255"},
      {{Value(), Value(), Value::fromBytes("\x01\x02")}, "二进制"},
  };
  int64_t count = 9;
  for (const Case& c : cases) {
    const std::string error = appendRows(path, "DateTest", cols, {{Value::fromInt(1), Value(), text("ok")}, c.bad});
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_NE(error.find("字段“"), std::string::npos) << error;
    ++count;
    EXPECT_EQ(storedCount(path, "DateTest"), count) << error;
  }
  EXPECT_EQ(checkerProblems(path), "");
  EXPECT_EQ(exportRows(path, "DateTest").size(), static_cast<size_t>(count));
}

TEST(AccessAppend, DecimalAndMemoColumnsOfAnotherFile) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/fixed_numeric_jet4.mdb");
  ASSERT_EQ(appendRows(path, "test", {"col1", "col2", "col3"},
                       {{text("备注"), Value::fromDecimal("123456789012345678"), Value::fromInt(-5)},
                        {Value(), text("-0"), Value::fromDecimal("7.6")}}),
            "");
  EXPECT_EQ(checkerProblems(path), "");
  const auto rows = exportRows(path, "test");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1][0], "备注");
  EXPECT_EQ(rows[1][1], "123456789012345678");
  EXPECT_EQ(rows[1][2], "-5");
  EXPECT_EQ(rows[2][1], "0");
  EXPECT_EQ(rows[2][2], "8");
  EXPECT_NE(appendRows(path, "test", {"col2"}, {{text("1234567890123456789")}}).find("精度"),
            std::string::npos);
}

}  // namespace
}  // namespace vov::test

namespace vov::test {
namespace {

// A job run that sets refused rows aside: the row is reported and the rows
// around it go in.
TEST(AccessAppend, RefusedRowsCanBeSetAsideWhileTheOthersGoIn) {
  TempDir dir;
  const std::string path = copyTestData(dir, "access/DateTestDatabase.mdb");
  auto backend = openAccessBackend(path);
  auto insert = backend->prepare("insert into [DateTest]([IDCol],[ShortTextCol]) values(?,?)");
  ASSERT_TRUE(insert->setRunPolicy(RunPolicy{true, false}));
  EXPECT_FALSE(backend->prepare("insert into [DateTest]([IDCol]) values(?)")->setRunPolicy(RunPolicy{false, true}));
  backend->begin();
  insert->execute({Value::fromInt(1), text("one")});
  insert->execute({text("two"), text("two")});
  insert->execute({Value::fromInt(3), text(std::string(300, 'x'))});
  insert->execute({Value::fromInt(4), text("four")});
  const std::vector<RefusedRun> refused = insert->takeRefused();
  backend->commit();
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0].run, 1);
  EXPECT_NE(refused[0].message.find("IDCol"), std::string::npos);
  EXPECT_EQ(refused[1].run, 2);
  const auto rows = exportRows(path, "DateTest");
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[6][5], "one");
  EXPECT_EQ(rows[7][5], "four");
  EXPECT_EQ(checkerProblems(path), "");
}

}  // namespace
}  // namespace vov::test

namespace vov::test {
namespace {

TEST(AccessAppend, AutoNumbersContinueAcrossSessionsAndAGivenValueIsRefused) {
  for (const char* file : {"access/bench_jet4.mdb", "access/bench_ace14.accdb"}) {
    SCOPED_TRACE(file);
    TempDir dir;
    const std::string path = copyTestData(dir, file);
    ASSERT_EQ(appendRows(path, "订单明细", {"客户代码"}, {{text("a")}, {text("b")}, {text("c")}}), "");
    ASSERT_EQ(appendRows(path, "订单明细", {"客户代码", "编号"}, {{text("d"), Value()}, {text("e"), Value()}}), "");
    const std::string error = appendRows(path, "订单明细", {"客户代码", "编号"}, {{text("f"), Value::fromInt(99)}});
    EXPECT_NE(error.find("自动编号"), std::string::npos) << error;
    EXPECT_NE(error.find("编号"), std::string::npos) << error;
    const auto rows = exportRows(path, "订单明细");
    ASSERT_EQ(rows.size(), 5u);
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], std::to_string(i + 1));
    EXPECT_EQ(rows[4][1], "e");
    access::PageFile f(path, false);
    EXPECT_EQ(access::readTableDef(f, access::findTable(f, "订单明细").definitionPage()).lastAutoNumber, 5u);
    EXPECT_EQ(checkerProblems(path), "");
  }
}

}  // namespace
}  // namespace vov::test
