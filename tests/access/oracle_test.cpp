// Every table of every sample Access file, read through the backend and
// compared with what the mdbtools programs print for it.
//
// Normalisation of mdb-export's text before comparing:
// - Currency and Decimal: equal as exact decimals ("14.0000" = "14").
// - Single: equal after both are rounded to single precision; Double:
//   equal to 15 significant digits (mdb-export prints no more).
// - Date/Time: ours rounded to the second (mdb-export prints seconds);
//   mdb-export prints "1900-01-00 00:00:00" for dates it cannot show
//   (before 1899-12-30 or after about 4637), where ours must lie outside
//   that range (the exact values are checked in SpecialValues).
// - Text: mdb-export turns each UTF-16 unit of a character beyond the
//   Basic Multilingual Plane into "?", so such characters of ours become
//   "??" (the exact text is checked in SpecialValues).
// - Yes/No: "1"/"0"; binary and OLE data: upper-case hexadecimal.
// Calculated and "Date/Time Extended" columns are left out: mdb-export
// cannot decode them (the values tests check them against the files).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <map>

#include "data/access/access_backend.h"
#include "data/error.h"
#include "data/text_util.h"
#include "tests/access/access_support.h"
#include "tests/support/test_support.h"

using namespace vov;

namespace {

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

std::string plainDecimal(std::string s) {
  bool neg = !s.empty() && s[0] == '-';
  if (neg) s.erase(0, 1);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  s.erase(0, std::min(s.find_first_not_of('0'), s.size() - 1));
  return neg && s != "0" ? "-" + s : s;
}

// Characters beyond the Basic Multilingual Plane as mdb-export shows them.
std::string asMdbExportShowsText(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0xF0) {
      out += "??";
      i += 4;
    } else {
      out += s[i++];
    }
  }
  return out;
}

struct SchemaColumn {
  std::string name;
  std::string type;  // as mdb-schema's access dialect writes it
  bool serial = false;
  bool undecoded = false;  // calculated or extended date: mdb-export cannot read it
};

// Columns with a formula, as mdb-prop lists their properties.
std::vector<std::string> calculatedColumns(const std::string& file, const std::string& table) {
  std::vector<std::string> names;
  std::string current;
  for (const std::string& l : lines(test::runCommand("mdb-prop " + test::shellQuote(file) + " " +
                                                     test::shellQuote(table) + " 2>/dev/null"))) {
    if (l.compare(0, 6, "name: ") == 0) current = l.substr(6);
    else if (l.compare(0, 12, "\tExpression:") == 0) names.push_back(current);
  }
  return names;
}

// Column names and types from mdb-schema, the AutoNumber columns from its
// PostgreSQL dialect (SERIAL).
std::vector<SchemaColumn> schemaColumns(const std::string& file, const std::string& table) {
  std::vector<SchemaColumn> cols;
  auto body = [](const std::string& text) {
    std::vector<std::string> out;
    bool in = false;
    for (const std::string& l : lines(text)) {
      if (l == " (") in = true;
      else if (l == ");") in = false;
      else if (in) out.push_back(l);
    }
    return out;
  };
  for (const std::string& l : body(test::runCommand("mdb-schema -T " + test::shellQuote(table) + " " +
                                                    test::shellQuote(file) + " access 2>/dev/null"))) {
    size_t open = l.find('['), close = l.find(']');
    SchemaColumn c;
    c.name = l.substr(open + 1, close - open - 1);
    std::string rest = l.substr(close + 1);
    rest = rest.substr(rest.find_first_not_of('\t'));
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == ',')) rest.pop_back();
    const std::string notNull = " NOT NULL";
    if (rest.size() > notNull.size() && rest.compare(rest.size() - notNull.size(), notNull.size(), notNull) == 0)
      rest.erase(rest.size() - notNull.size());
    c.type = rest;
    cols.push_back(c);
  }
  std::vector<std::string> pg = body(test::runCommand("mdb-schema -T " + test::shellQuote(table) + " " +
                                                      test::shellQuote(file) + " postgres 2>/dev/null"));
  EXPECT_EQ(pg.size(), cols.size());
  for (size_t i = 0; i < cols.size() && i < pg.size(); ++i)
    cols[i].serial = pg[i].find("SERIAL") != std::string::npos;
  const std::vector<std::string> calculated = calculatedColumns(file, table);
  for (SchemaColumn& c : cols)
    c.undecoded = c.type == "Unknown_0014" ||
                  std::find(calculated.begin(), calculated.end(), c.name) != calculated.end();
  return cols;
}

FieldInfo expectedField(const SchemaColumn& c) {
  FieldInfo f;
  f.name = c.name;
  int a = 0, b = 0;
  if (std::sscanf(c.type.c_str(), "Text (%d)", &a) == 1) {
    f.type = ftWideString;
    f.size = a;
  } else if (std::sscanf(c.type.c_str(), "Numeric (%d, %d)", &a, &b) == 2) {
    f.type = ftBCD;
    f.size = b;
  } else if (std::sscanf(c.type.c_str(), "Binary (%d)", &a) == 1) {
    f.type = ftVarBytes;
    f.size = a;
  } else {
    static const std::map<std::string, FieldType> types = {
        {"Boolean", ftBoolean},  {"Byte", ftWord},       {"Integer", ftSmallint},
        {"Long Integer", ftInteger}, {"Single", ftFloat}, {"Double", ftFloat},
        {"DateTime", ftDateTime}, {"Currency", ftCurrency}, {"Replication ID", ftGuid},
        {"Memo/Hyperlink (255)", ftMemo}, {"OLE (255)", ftBlob}};
    auto it = types.find(c.type);
    EXPECT_NE(it, types.end()) << "type " << c.type;
    if (it != types.end()) f.type = it->second;
    if (f.type == ftCurrency) f.size = 4;
    if (f.type == ftGuid) f.size = 38;
  }
  if (c.serial) f.type = ftAutoInc;
  return f;
}

// Empty when `ours` is what mdb-export printed, else what differs.
std::string differs(const Value& ours, const std::optional<std::string>& theirs, const FieldInfo& f,
                    const std::string& schemaType) {
  auto show = [&] { return "ours " + ours.toText() + " (" + kindName(ours.kind()) + "), mdb-export " + theirs.value_or("<null>"); };
  if (!theirs) return ours.isNull() ? "" : show();
  const std::string& t = *theirs;
  switch (f.type) {
    case ftBoolean:
      return ours.kind() == Value::Kind::Bool && t == (ours.asBool() ? "1" : "0") ? "" : show();
    case ftWord: case ftSmallint: case ftInteger: case ftAutoInc: case ftLargeint:
      return ours.kind() == Value::Kind::Int && std::to_string(ours.asInt()) == t ? "" : show();
    case ftCurrency: case ftBCD:
      return ours.kind() == Value::Kind::Decimal && plainDecimal(ours.str()) == plainDecimal(t) ? "" : show();
    case ftFloat: {
      if (ours.kind() != Value::Kind::Real) return show();
      double x = ours.asReal(), y = std::strtod(t.c_str(), nullptr);
      bool same = schemaType == "Single" ? static_cast<float>(x) == static_cast<float>(y)
                                         : std::fabs(x - y) <= 1e-15 * std::max(1.0, std::fabs(y));
      return same ? "" : show();
    }
    case ftDateTime: {
      if (t == "1900-01-00 00:00:00") {
        if (ours.kind() == Value::Kind::Real) return "";
        int y = ours.kind() == Value::Kind::DateTime ? ours.asDateTime().year : 0;
        return y != 0 && (y < 1900 || y > 4000) ? "" : show();
      }
      if (ours.kind() != Value::Kind::DateTime) return show();
      DateTime d = ours.asDateTime();
      if (d.nanosecond >= 500000000) {
        ++d.second;  // the sample dates never carry into the minute
      }
      d.nanosecond = 0;
      return d.toText() == t ? "" : show();
    }
    case ftVarBytes: case ftBytes: case ftBlob:
      return ours.kind() == Value::Kind::Bytes && test::hexUpper(ours.str()) == t ? "" : show();
    default:
      return ours.kind() == Value::Kind::Text && asMdbExportShowsText(ours.str()) == t ? "" : show();
  }
}

}  // namespace

TEST(AccessOracle, TableNamesAreMdbTablesUserTables) {
  for (const std::string& file : test::accessFiles()) {
    auto backend = openAccessBackend(file);
    EXPECT_EQ(backend->tableNames(), lines(test::runCommand("mdb-tables -1 " + test::shellQuote(file))))
        << file;
  }
}

TEST(AccessOracle, FieldsMatchMdbSchema) {
  int tables = 0;
  for (const std::string& file : test::accessFiles()) {
    auto backend = openAccessBackend(file);
    for (const std::string& table : backend->tableNames()) {
      std::vector<FieldInfo> fields = backend->tableFields(table);
      std::vector<SchemaColumn> schema = schemaColumns(file, table);
      ASSERT_EQ(fields.size(), schema.size()) << baseName(file) << " " << table;
      for (size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(fields[i].name, schema[i].name) << baseName(file) << " " << table;
        if (schema[i].undecoded) continue;
        FieldInfo want = expectedField(schema[i]);
        EXPECT_EQ(fields[i].type, want.type) << baseName(file) << " " << table << "." << want.name;
        EXPECT_EQ(fields[i].size, want.size) << baseName(file) << " " << table << "." << want.name;
      }
      ++tables;
    }
  }
  EXPECT_EQ(tables, 43);
}

// mdb-export lists a moved row where its data went rather than where the
// row stands, so a row that differs from mdb-export's at its place is
// looked for among the rows not yet matched.
TEST(AccessOracle, RowsMatchMdbExport) {
  int tables = 0;
  for (const std::string& file : test::accessFiles()) {
    auto backend = openAccessBackend(file);
    for (const std::string& table : backend->tableNames()) {
      std::vector<SchemaColumn> schema = schemaColumns(file, table);
      auto cursor = backend->query("select * from " + backend->quoteName(table));
      const std::vector<FieldInfo> fields = cursor->fields();
      ASSERT_EQ(fields.size(), schema.size());
      std::vector<test::ExportRow> want = test::exportRows(file, table);
      std::vector<bool> matched(want.size());
      auto firstDifference = [&](const std::vector<Value>& row, size_t n) {
        for (size_t i = 0; i < fields.size(); ++i) {
          if (schema[i].undecoded) continue;
          std::string d = differs(row[i], want[n][i], fields[i], schema[i].type);
          if (!d.empty()) return fields[i].name + ": " + d;
        }
        return std::string();
      };
      std::vector<Value> row;
      size_t n = 0;
      int failures = 0;
      for (; cursor->next(row); ++n) {
        ASSERT_LT(n, want.size()) << baseName(file) << " " << table << ": more rows than mdb-export";
        ASSERT_EQ(want[n].size(), fields.size());
        std::string d = matched[n] ? "matched already" : firstDifference(row, n);
        size_t found = d.empty() ? n : want.size();
        for (size_t k = 0; found == want.size() && k < want.size(); ++k)
          if (!matched[k] && firstDifference(row, k).empty()) found = k;
        if (found < want.size()) {
          matched[found] = true;
        } else if (failures++ < 10) {
          ADD_FAILURE() << baseName(file) << " " << table << " row " << n << " " << d;
        }
      }
      EXPECT_EQ(n, want.size()) << baseName(file) << " " << table;
      ++tables;
    }
  }
  EXPECT_EQ(tables, 43);
}

// The values mdb-export cannot show, checked against what the files say of
// themselves.
TEST(AccessOracle, SpecialValues) {
  auto dates = openAccessBackend(test::testData("access/DateTestDatabase.mdb"));
  auto rows = test::readAll(*dates, "select * from DateTest");
  ASSERT_EQ(rows.size(), 6u);
  // Row 2 is described as "Year 9999", rows 3 and 4 as before 1900 and 1000.
  auto date = [&](size_t r, size_t c) { return rows[r][c].asDateTime().toText(); };
  EXPECT_EQ(rows[1][4].str(), "Year 9999");
  EXPECT_EQ(date(1, 1), "9999-01-01 00:00:00");
  EXPECT_EQ(date(2, 1), "1898-01-01 00:00:00");
  EXPECT_EQ(date(2, 2), "1899-01-01 00:00:00");
  EXPECT_EQ(date(2, 3), "1900-01-01 00:00:00");
  EXPECT_EQ(date(3, 1), "0632-01-01 00:00:00");
  EXPECT_EQ(rows[5][4].str(), "New line\r\nin field");

  // Each row holds "a", the character numbered by its key, "a".
  auto emoji = openAccessBackend(test::testData("access/emoticons_ace14.accdb"));
  rows = test::readAll(*emoji, "select * from data");
  ASSERT_EQ(rows.size(), 80u);
  for (const auto& r : rows) {
    char32_t cp = static_cast<char32_t>(r[0].asInt());
    std::string want = "a";
    want += static_cast<char>(0xF0 | (cp >> 18));
    want += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    want += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    want += static_cast<char>(0x80 | (cp & 0x3F));
    want += "a";
    EXPECT_EQ(r[1].str(), want) << "key " << r[0].asInt();
  }

  // Kinds: exact decimals for Currency and Decimal, never a double.
  auto types = openAccessBackend(test::testData("access/types_jet3.mdb"));
  rows = test::readAll(*types, "select * from Table1");
  ASSERT_EQ(rows.size(), 2u);
  const std::vector<Value>& r = rows[1];
  EXPECT_EQ(r[0], Value::fromText("abcdefg"));
  EXPECT_EQ(r[2], Value::fromInt(2));
  EXPECT_EQ(r[3], Value::fromInt(222));
  EXPECT_EQ(r[4], Value::fromInt(333333333));
  EXPECT_EQ(r[5], Value::fromReal(444.555));
  EXPECT_EQ(r[6].asDateTime().toText(), "1974-09-21 00:00:00");
  EXPECT_EQ(r[7], Value::fromDecimal("3.5000"));
  EXPECT_EQ(r[8], Value::fromBool(true));
  EXPECT_EQ(rows[0][8], Value::fromBool(false));

  auto numeric = openAccessBackend(test::testData("access/fixed_numeric_jet4.mdb"));
  rows = test::readAll(*numeric, "select * from test");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], Value::fromDecimal("1"));
  EXPECT_EQ(rows[0][5], Value::fromDecimal("-1"));

  // A Single keeps its shortest decimal form: 0.15, not 0.150000006.
  auto nwind = openAccessBackend(test::testData("access/nwind.mdb"));
  rows = test::readAll(*nwind, "select * from [Order Details] where OrderID = 10250 and ProductID = 51");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2], Value::fromDecimal("42.4000"));
  EXPECT_EQ(rows[0][4], Value::fromReal(0.15));
}
