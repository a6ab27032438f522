// Values that mdb-export cannot show or shows elsewhere, read from the
// three files made for them: rows that moved to another page, calculated
// columns and "Date/Time Extended" columns. Expected values are those the
// files were made with, and the relations between a row's columns.
#include <gtest/gtest.h>

#include <cstdio>

#include "data/access/access_backend.h"
#include "data/text_util.h"
#include "tests/access/access_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

std::unique_ptr<Backend> open(const char* file) {
  return openAccessBackend(test::testData(std::string("access/") + file));
}

// A row as "a,-,b": texts as they are, null as "-".
std::string joined(const std::vector<Value>& row) {
  std::string s;
  for (size_t i = 0; i < row.size(); ++i) {
    if (i) s += ',';
    s += row[i].isNull() ? "-" : row[i].toText();
  }
  return s;
}

// "6/14/2021 10:45:12.3456789 PM" or "6/17/2020", as Access wrote the
// extended dates into a text column beside them.
bool parseUsDate(const std::string& s, DateTime* out) {
  DateTime d;
  int n = 0;
  if (std::sscanf(s.c_str(), "%d/%d/%d%n", &d.month, &d.day, &d.year, &n) != 3) return false;
  if (static_cast<size_t>(n) == s.size()) {
    *out = d;
    return true;
  }
  char fraction[16] = {0}, half[3] = {0};
  if (std::sscanf(s.c_str() + n, " %d:%d:%d.%9[0-9] %2s", &d.hour, &d.minute, &d.second, fraction,
                  half) != 5)
    return false;
  if (d.hour == 12) d.hour = 0;
  if (std::string(half) == "PM") d.hour += 12;
  std::string digits = fraction;
  digits.resize(9, '0');
  d.nanosecond = std::stoi(digits);
  *out = d;
  return true;
}

void put16(std::string& b, size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

// A Jet 3 row of nwind's Suppliers longer than 256 bytes: SupplierID 4242,
// every text column full, and a HomePage memo of `memo` bytes kept in the
// row. One-byte offsets need the jump table: its entries, like the
// offsets, stand last first before the count of offsets. It replaces the
// rows of one of the table's pages.
std::vector<std::string> writeLongJet3Row(const std::string& path, size_t memo) {
  std::vector<std::string> texts = {std::string(40, 'C'), std::string(30, 'N'), std::string(30, 'T'),
                                    std::string(60, 'A'), std::string(15, 'c'), std::string(15, 'r'),
                                    std::string(10, 'p'), std::string(15, 'o'), std::string(24, 'P'),
                                    std::string(24, 'F')};
  std::string homePage;
  for (size_t i = 0; i < memo; ++i) homePage += static_cast<char>('A' + i % 26);
  std::string row(1, '\x0C');  // 12 columns
  row += std::string("\x92\x10\0\0", 4);  // SupplierID 4242
  std::vector<size_t> offsets;
  for (const std::string& t : texts) {
    offsets.push_back(row.size());
    row += t;
  }
  offsets.push_back(row.size());
  std::string ref(12, '\0');  // memo reference: length, "in the row"
  put16(ref, 0, memo & 0xFFFF);
  put16(ref, 2, 0x8000 | (memo >> 16));
  row += ref + homePage;
  offsets.push_back(row.size());  // end of data
  size_t jumps = 0;
  while ((row.size() + offsets.size() + jumps + 3 - 1) / 256 != jumps) ++jumps;
  std::string tail;
  for (size_t i = offsets.size(); i-- > 0;) tail += static_cast<char>(offsets[i] & 0xFF);
  for (size_t k = jumps; k >= 1; --k) {
    unsigned first = 0xFF;
    for (size_t i = 0; i < offsets.size() && first == 0xFF; ++i)
      if (offsets[i] >= 256 * k) first = static_cast<unsigned>(i);
    tail += static_cast<char>(first);
  }
  tail += '\x0B';              // 11 variable columns
  tail += std::string("\xFF\x0F", 2);  // no nulls
  row += tail;

  std::string bytes = test::readFile(path);
  const size_t pageSize = 2048, base = 586 * pageSize;  // a data page of Suppliers
  EXPECT_EQ(bytes[base], 1);
  EXPECT_EQ(static_cast<unsigned char>(bytes[base + 4]) | (static_cast<unsigned char>(bytes[base + 5]) << 8), 550);
  std::string page(pageSize, '\0');
  page.replace(0, 8, bytes, base, 8);
  put16(page, 8, 1);
  put16(page, 10, static_cast<unsigned>(pageSize - row.size()));
  page.replace(pageSize - row.size(), row.size(), row);
  bytes.replace(base, pageSize, page);
  test::writeFile(path, bytes);
  texts.push_back(homePage);
  return texts;
}

bool hasStrayCharacters(const std::string& s) {
  return s.find('\0') != std::string::npos || s.find("\xEF\xBB\xBF") != std::string::npos;
}

}  // namespace

// Rows 3 and 5 grew and moved to pages of their own; each is read where it
// stood, and a deleted column's bytes stay out of the other columns.
TEST(AccessValues, MovedRowsReadWhereTheyStand) {
  auto b = open("overflow_jet4.mdb");
  const std::vector<std::string> want = {
      "row1col1,-,-,-,-,-,-,-,-",      "row2col1,row2col3,-,-,-,-,-,-,-",
      "-,row3col3,-,-,-,-,-,row3col9,-", "row4col1,row4col2,-,-,-,-,-,-,-",
      "-,row5col2,-,-,-,-,-,-,-",      "-,row6col2,row6col3,-,-,-,-,-,-",
      "row7col1,-,-,-,-,row7col7,-,-,-"};
  auto rows = test::readAll(*b, "select * from Table1");
  ASSERT_EQ(rows.size(), want.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(joined(rows[i]), want[i]) << "row " << i + 1;

  // The grid counts and windows the same rows, the moved ones in place.
  auto browser = b->browse("select * from Table1");
  EXPECT_EQ(browser->rowCount(), 7);
  std::vector<BrowseRow> window;
  browser->fetch(2, 3, window);
  ASSERT_EQ(window.size(), 3u);
  EXPECT_EQ(joined(window[0].values), want[2]);
  EXPECT_EQ(joined(window[2].values), want[4]);

  // A filter sees a moved row's own values.
  rows = test::readAll(*b, "select * from Table1 where data9 = 'row3col9'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(joined(rows[0]), want[2]);
}

// 217 bytes of memo leave a jump entry with no column to name (0xFF); 700
// need three entries.
TEST(AccessValues, LongJet3RowsReadThroughTheirJumpTable) {
  for (size_t memo : {217u, 400u, 700u}) {
    test::TempDir dir;
    const std::string path = test::copyTestData(dir, "access/nwind.mdb");
    const std::vector<std::string> texts = writeLongJet3Row(path, memo);
    auto b = openAccessBackend(path);
    auto rows = test::readAll(*b, "select * from Suppliers where SupplierID = 4242");
    ASSERT_EQ(rows.size(), 1u) << memo;
    ASSERT_EQ(rows[0].size(), texts.size() + 1);
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(rows[0][i + 1], Value::fromText(texts[i])) << memo << " " << i;
    // libmdb reads the row the same way.
    bool seen = false;
    for (const test::ExportRow& r : test::exportRows(path, "Suppliers")) {
      if (r[0] != std::optional<std::string>("4242")) continue;
      seen = true;
      for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(r[i + 1], std::optional<std::string>(texts[i])) << memo << " " << i;
    }
    EXPECT_TRUE(seen);
  }
}

TEST(AccessValues, CalculatedColumnsHoldTheirResults) {
  auto b = open("calcfields_ace14.accdb");
  auto cursor = b->query("select * from Table1");
  const std::vector<FieldInfo> f = cursor->fields();
  auto at = [&](const char* name) {
    for (size_t i = 0; i < f.size(); ++i)
      if (f[i].name == name) return i;
    ADD_FAILURE() << "no field " << name;
    return size_t{0};
  };
  // Fields carry the result's type.
  EXPECT_EQ(f[at("LastFirst")].type, ftWideString);
  EXPECT_EQ(f[at("LastFirstLen")].type, ftInteger);
  EXPECT_EQ(f[at("MonthlySalary")].type, ftCurrency);
  EXPECT_EQ(f[at("IsRich")].type, ftBoolean);
  EXPECT_EQ(f[at("AllNames")].type, ftMemo);
  EXPECT_EQ(f[at("WeeklySalary")].type, ftBCD);
  EXPECT_EQ(f[at("FloatTest")].type, ftFloat);
  EXPECT_EQ(f[at("BigNumTest")].type, ftBCD);

  std::vector<std::vector<Value>> rows;
  std::vector<Value> row;
  while (cursor->next(row)) rows.push_back(row);
  ASSERT_EQ(rows.size(), 4u);

  const std::vector<Value>& r = rows[0];
  EXPECT_EQ(r[at("LastFirst")], Value::fromText("Wayne, Bruce"));
  EXPECT_EQ(r[at("LastFirstLen")], Value::fromInt(12));
  EXPECT_EQ(r[at("Salary")], Value::fromDecimal("1000000.0000"));
  EXPECT_EQ(r[at("MonthlySalary")], Value::fromDecimal("83333.3333"));
  EXPECT_EQ(r[at("IsRich")], Value::fromBool(true));
  EXPECT_EQ(r[at("AllNames")], Value::fromText("Wayne, Bruce=Wayne, Bruce"));
  EXPECT_EQ(r[at("WeeklySalary")], Value::fromDecimal("19230.7692307692"));
  EXPECT_EQ(r[at("SalaryTest")], Value::fromDecimal("1000000.0000"));
  EXPECT_EQ(r[at("BoolTest")], Value::fromBool(true));
  EXPECT_EQ(r[at("Popularity")], Value::fromDecimal("50.325000"));
  EXPECT_EQ(r[at("DecimalTest")], Value::fromDecimal("50.325000"));
  EXPECT_EQ(r[at("FloatTest")], Value::fromReal(2583.2092));
  EXPECT_EQ(r[at("BigNumTest")], Value::fromDecimal("56505085819.424791296572280180"));

  // Every row: the formulas' relations to the row's other columns.
  for (const auto& x : rows) {
    const std::string id = x[at("ID")].toText();
    const std::string lastFirst = x[at("LastName")].str() + ", " + x[at("FirstName")].str();
    EXPECT_EQ(x[at("LastFirst")], Value::fromText(lastFirst)) << id;
    EXPECT_EQ(x[at("LastFirstLen")], Value::fromInt(static_cast<int64_t>(utf8Length(lastFirst)))) << id;
    EXPECT_EQ(x[at("AllNames")], Value::fromText(lastFirst + "=" + lastFirst)) << id;
    EXPECT_EQ(x[at("SalaryTest")], x[at("Salary")]) << id;
    EXPECT_EQ(x[at("DecimalTest")], x[at("Popularity")]) << id;
    const double salary = std::stod(x[at("Salary")].str());
    EXPECT_EQ(x[at("IsRich")], Value::fromBool(salary > 100000)) << id;
    EXPECT_NEAR(std::stod(x[at("MonthlySalary")].str()), salary / 12, 0.0001) << id;
    EXPECT_NEAR(std::stod(x[at("WeeklySalary")].str()), salary / 52, 1e-9) << id;
    for (const Value& v : x) {
      if (v.kind() == Value::Kind::Text) {
        EXPECT_FALSE(hasStrayCharacters(v.str())) << id << " " << v.str();
      }
    }
  }
}

TEST(AccessValues, ExtendedDatesKeepTheirPrecision) {
  auto b = open("extdate_ace17.accdb");
  auto cursor = b->query("select * from Table1");
  const std::vector<FieldInfo>& f = cursor->fields();
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[2].name, "DateExt");
  EXPECT_EQ(f[2].type, ftDateTime);
  EXPECT_EQ(f[5].type, ftDateTime);
  std::vector<std::vector<Value>> rows;
  std::vector<Value> row;
  while (cursor->next(row)) rows.push_back(row);
  ASSERT_EQ(rows.size(), 9u);
  // Rows 7 and 8 moved; the table reads in the order of its IDs.
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], Value::fromInt(static_cast<int64_t>(i + 1)));

  EXPECT_EQ(rows[0][2].toText(), "2020-06-17 00:00:00");
  EXPECT_EQ(rows[5][2].toText(), "2021-06-14 22:45:12.3456789");
  EXPECT_EQ(rows[7][2].toText(), "0100-06-14 12:45:00.1234567");
  for (const auto& r : rows) {
    const std::string id = r[0].toText();
    EXPECT_EQ(r[5], r[3]) << "DateNormalCalc is [DateNormal], row " << id;
    if (r[4].isNull()) {
      EXPECT_TRUE(r[2].isNull()) << id;
      continue;
    }
    DateTime d;
    ASSERT_TRUE(parseUsDate(r[4].str(), &d)) << r[4].str();
    ASSERT_EQ(r[2].kind(), Value::Kind::DateTime) << id;
    EXPECT_EQ(r[2].asDateTime().toText(), d.toText()) << "DateExtStr of row " << id;
  }
}
