// Filter conditions on Access tables: the rules on made-up rows, then each
// form of condition on nwind.mdb against the rows mdb-export prints.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "data/access/access_backend.h"
#include "data/access/access_filter.h"
#include "data/error.h"
#include "tests/access/access_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

const std::vector<FieldInfo> kFields = {
    {"name", ftWideString, 50}, {"qty", ftInteger, 0},    {"price", ftCurrency, 4},
    {"ratio", ftFloat, 0},      {"when", ftDateTime, 0},  {"ok", ftBoolean, 0},
    {"data", ftBlob, 0},        {"Asset No", ftWideString, 5}};

DateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  DateTime t;
  t.year = y; t.month = mo; t.day = d; t.hour = h; t.minute = mi; t.second = s;
  return t;
}

std::vector<Value> sampleRow() {
  return {Value::fromText("Müller"),       Value::fromInt(5),
          Value::fromDecimal("0.1000"),    Value::fromReal(0.15),
          Value::fromDateTime(at(2024, 5, 1, 13, 30)), Value::fromBool(true),
          Value::fromBytes(std::string("\x01\x02", 2)), Value::fromText("30050")};
}

bool holds(const std::string& condition, const std::vector<Value>& row = sampleRow()) {
  return AccessFilter(condition, kFields).matches(row);
}

std::string refusal(const std::string& condition) {
  try {
    AccessFilter f(condition, kFields);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(AccessFilter, NullMakesComparisonsUnknown) {
  std::vector<Value> row = sampleRow();
  row[1] = Value();
  EXPECT_FALSE(holds("qty = 1", row));
  EXPECT_FALSE(holds("not qty = 1", row));
  EXPECT_FALSE(holds("not (qty <> 1)", row));
  EXPECT_TRUE(holds("qty = 1 or ok", row));
  EXPECT_FALSE(holds("qty = 1 and ok", row));
  EXPECT_TRUE(holds("qty is null", row));
  EXPECT_FALSE(holds("qty is not null", row));
  EXPECT_FALSE(holds("qty in (1, 5)", row));
  EXPECT_FALSE(holds("qty not in (1, 5)", row));
  EXPECT_FALSE(holds("name = null"));
}

TEST(AccessFilter, TextComparesWithoutCase) {
  EXPECT_TRUE(holds("name = 'MÜLLER'"));
  EXPECT_TRUE(holds("name = \"müller\""));
  EXPECT_TRUE(holds("name <> 'Mueller'"));
  EXPECT_TRUE(holds("name < 'n' and name > 'M'"));
  EXPECT_TRUE(holds("name like 'm%ll_r'"));
  EXPECT_TRUE(holds("name like '%ÜL%'"));
  EXPECT_TRUE(holds("name like '[a-m]%'"));
  EXPECT_FALSE(holds("name like '[!m]%'"));
  EXPECT_TRUE(holds("name not like 'x%'"));
  EXPECT_FALSE(holds("name like 'M'"));
  EXPECT_FALSE(holds("name like 'Müller*'")) << "* is no wildcard for ADO";
  EXPECT_TRUE(holds("name = 'it''s' or name = 'Müller'"));
  EXPECT_TRUE(holds("[Asset No] = '30050' and `asset no` like '300%'"));
}

TEST(AccessFilter, NumbersCompareExactly) {
  EXPECT_TRUE(holds("price = 0.1"));
  EXPECT_TRUE(holds("price = '0.10'"));
  // As doubles these two are one number; as decimals they are not.
  EXPECT_TRUE(holds("price > 0.09999999999999999999"));
  EXPECT_FALSE(holds("price = 0.10000000000000000001"));
  EXPECT_TRUE(holds("ratio = 0.15"));
  EXPECT_TRUE(holds("qty = 5 and qty >= 5 and qty <= 5 and qty > -6 and qty < 5.5"));
  EXPECT_TRUE(holds("qty between 1 and 5"));
  EXPECT_FALSE(holds("qty not between 1 and 5"));
  EXPECT_TRUE(holds("qty in (1, 5, 7)"));
  EXPECT_TRUE(holds("qty = 5e0"));
  EXPECT_TRUE(holds("1 = 1"));
  EXPECT_TRUE(holds("qty"));
}

TEST(AccessFilter, DatesAndYesNo) {
  EXPECT_TRUE(holds("when = #2024-05-01 13:30:00#"));
  EXPECT_TRUE(holds("when = #5/1/2024 1:30 PM#"));
  EXPECT_TRUE(holds("when >= '2024-05-01' and when < \"2024/5/2\""));
  EXPECT_FALSE(holds("when < #2024-05-01#"));
  EXPECT_TRUE(holds("ok"));
  EXPECT_FALSE(holds("not ok"));
  EXPECT_TRUE(holds("ok = true and ok = yes and ok <> false"));
  EXPECT_TRUE(holds("ok = 1 and ok = -1"));
  EXPECT_TRUE(holds("ok = 'true'"));
}

TEST(AccessFilter, RefusesWhatItCannotDo) {
  EXPECT_NE(refusal("").find("缺少条件"), std::string::npos);
  EXPECT_NE(refusal("qty =").find("不完整"), std::string::npos);
  EXPECT_NE(refusal("name = 5").find("引号"), std::string::npos);
  EXPECT_NE(refusal("qty = 'abc'").find("类型不匹配"), std::string::npos);
  EXPECT_NE(refusal("when = 'soon'").find("类型不匹配"), std::string::npos);
  EXPECT_NE(refusal("when = #31/31/2024#").find("无法识别日期"), std::string::npos);
  EXPECT_NE(refusal("colour = 'red'").find("没有字段“colour”"), std::string::npos);
  EXPECT_NE(refusal("upper(name) = 'X'").find("不支持函数"), std::string::npos);
  EXPECT_NE(refusal("name = 'abc").find("没有配对"), std::string::npos);
  EXPECT_NE(refusal("[name = 'abc'").find("没有配对"), std::string::npos);
  EXPECT_NE(refusal("qty + 1 = 2").find("无法理解"), std::string::npos);
  EXPECT_NE(refusal("qty = 1 order by qty").find("无法理解“order by qty”"), std::string::npos);
  EXPECT_NE(refusal("data = 'x'").find("二进制"), std::string::npos);
  EXPECT_NE(refusal("name").find("不是条件"), std::string::npos);
  EXPECT_NE(refusal("qty = 1 ; drop table x").find("无法理解"), std::string::npos);
  EXPECT_NE(refusal(std::string(500, '(') + "qty = 1" + std::string(500, ')')).find("太深"),
            std::string::npos);
  for (const char* c : {"qty = 1", "not not ok", "(qty = 5)"}) EXPECT_EQ(refusal(c), "") << c;
}

// ------------------------------------------------------------- on nwind.mdb

namespace {

using Keep = std::function<bool(const test::ExportRow&)>;

double num(const std::optional<std::string>& s) { return s ? std::strtod(s->c_str(), nullptr) : NAN; }

std::string key(const std::vector<std::optional<std::string>>& parts) {
  std::string k;
  for (const auto& p : parts) k += p.value_or("<null>") + "/";
  return k;
}

// The first two columns of the rows the backend selects, and of the rows
// of mdb-export's output that `keep` accepts.
void expectSame(Backend& b, const std::string& table, const std::string& condition, const Keep& keep) {
  std::vector<std::string> got, want;
  for (const auto& r : test::readAll(b, "select * from [" + table + "] where " + condition + ";"))
    got.push_back(key({r[0].toText(), r[1].isNull() ? std::nullopt : std::optional(r[1].toText())}));
  for (const auto& r : test::exportRows(test::testData("access/nwind.mdb"), table))
    if (keep(r)) want.push_back(key({r[0], r[1]}));
  EXPECT_EQ(got, want) << table << " where " << condition;
  EXPECT_FALSE(want.empty()) << "a condition that selects nothing proves little: " << condition;
}

}  // namespace

TEST(AccessFilter, EachFormOnNorthwind) {
  auto b = openAccessBackend(test::testData("access/nwind.mdb"));
  // Orders: 0 OrderID, 1 CustomerID, 2 EmployeeID, 3 OrderDate, 6 ShipVia,
  // 7 Freight, 11 ShipRegion, 13 ShipCountry.
  expectSame(*b, "Orders", "ShipCountry = \"Germany\"", [](auto& r) { return r[13] == "Germany"; });
  expectSame(*b, "Orders", "shipcountry = 'GERMANY'", [](auto& r) { return r[13] == "Germany"; });
  expectSame(*b, "Orders", "Freight > 100 and ShipVia <> 2",
             [](auto& r) { return num(r[7]) > 100 && r[6] != "2"; });
  expectSame(*b, "Orders", "Freight <= 1.5 or Freight >= 800",
             [](auto& r) { return num(r[7]) <= 1.5 || num(r[7]) >= 800; });
  expectSame(*b, "Orders", "ShipRegion is null", [](auto& r) { return !r[11]; });
  expectSame(*b, "Orders", "ShipRegion is not null and ShipRegion < 'C'",
             [](auto& r) { return r[11] && *r[11] < "C"; });
  expectSame(*b, "Orders", "CustomerID like 'B%'", [](auto& r) { return r[1]->rfind("B", 0) == 0; });
  expectSame(*b, "Orders", "CustomerID like '_L%'", [](auto& r) { return r[1]->substr(1, 1) == "L"; });
  expectSame(*b, "Orders", "not (EmployeeID = 5 or EmployeeID <= 2)",
             [](auto& r) { return !(r[2] == "5" || num(r[2]) <= 2); });
  expectSame(*b, "Orders", "OrderDate >= #1995-01-01# and OrderDate < '1995-02-01'",
             [](auto& r) { return *r[3] >= "1995-01-01" && *r[3] < "1995-02-01"; });
  // Order Details: 0 OrderID, 1 ProductID, 2 UnitPrice, 3 Quantity, 4 Discount.
  expectSame(*b, "Order Details", "UnitPrice = 14", [](auto& r) { return r[2] == "14.0000"; });
  expectSame(*b, "Order Details", "Discount = 0.15",
             [](auto& r) { return static_cast<float>(num(r[4])) == 0.15f; });
  expectSame(*b, "Order Details", "Quantity >= 100 or (UnitPrice < 5 and Quantity > 40)",
             [](auto& r) { return num(r[3]) >= 100 || (num(r[2]) < 5 && num(r[3]) > 40); });
  expectSame(*b, "Order Details", "OrderID in (10248, 10250) and ProductID between 40 and 60",
             [](auto& r) {
               return (r[0] == "10248" || r[0] == "10250") && num(r[1]) >= 40 && num(r[1]) <= 60;
             });
  // Products: 1 ProductName, 9 Discontinued.
  expectSame(*b, "Products", "Discontinued", [](auto& r) { return r[9] == "1"; });
  expectSame(*b, "Products", "not Discontinued", [](auto& r) { return r[9] == "0"; });
  expectSame(*b, "Products", "Discontinued = true and ProductName like '%an%'",
             [](auto& r) {
               std::string name = *r[1];
               for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
               return r[9] == "1" && name.find("an") != std::string::npos;
             });
  // Employees: 9 Region.
  expectSame(*b, "Employees", "Region is null", [](auto& r) { return !r[9]; });
}

TEST(AccessFilter, StatementsTheBackendRefuses) {
  auto b = openAccessBackend(test::testData("access/nwind.mdb"));
  auto message = [&](const std::string& sql) -> std::string {
    try {
      test::readAll(*b, sql);
    } catch (const Error& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_NE(message("select * from Orders order by OrderID").find("只支持 where"), std::string::npos);
  EXPECT_NE(message("select OrderID from Orders").find("select * from 表名"), std::string::npos);
  EXPECT_NE(message("select * from Orders where ;").find("缺少条件"), std::string::npos);
  EXPECT_NE(message("select * from Orders where CustomerID = 5").find("引号"), std::string::npos);
  EXPECT_NE(message("select * from Nothing").find("没有表“Nothing”"), std::string::npos);
  EXPECT_NE(message("select * from [Orders]x").find("select * from 表名"), std::string::npos);
  EXPECT_TRUE(test::noChildProcesses()) << "a refused query leaves no reader behind";
}
