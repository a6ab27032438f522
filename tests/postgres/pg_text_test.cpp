// The PostgreSQL backend's text handling, without a server: placeholders,
// column types and value text forms.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

#include "data/postgres/pg_copy.h"
#include "data/postgres/pg_text.h"

using namespace vov;
using namespace vov::pg;

TEST(PgPlaceholders, NumberedOutsideQuotesAndComments) {
  int n = 0;
  EXPECT_EQ(numberPlaceholders("insert into t(a,b) values(?,?)", &n),
            "insert into t(a,b) values($1,$2)");
  EXPECT_EQ(n, 2);
  EXPECT_EQ(numberPlaceholders("select ?, '?', \"a?\", 'it''s ?', ?", &n),
            "select $1, '?', \"a?\", 'it''s ?', $2");
  EXPECT_EQ(n, 2);
  EXPECT_EQ(numberPlaceholders("select E'\\'?', ? -- what?\n, ? /* a /* ? */ ? */", &n),
            "select E'\\'?', $1 -- what?\n, $2 /* a /* ? */ ? */");
  EXPECT_EQ(n, 2);
  // Dollar quotes, but not parameter references or names holding "$".
  EXPECT_EQ(numberPlaceholders("select $$?$$, $q$ ? $q$, a$b, ?", &n),
            "select $$?$$, $q$ ? $q$, a$b, $1");
  EXPECT_EQ(n, 1);
  // An unterminated quote swallows the rest rather than inventing parameters.
  EXPECT_EQ(numberPlaceholders("select 'open ?", &n), "select 'open ?");
  EXPECT_EQ(n, 0);
}

TEST(PgTypes, SizesFollowTheDeclaration) {
  struct Case {
    unsigned type;
    int typmod;
    bool autoInc;
    FieldType want;
    int size;
  } cases[] = {
      {kVarchar, 24, false, ftString, 20},   {kVarchar, -1, false, ftMemo, 0},
      {kBpchar, 7, false, ftFixedChar, 3},   {kText, -1, false, ftMemo, 0},
      {kNumeric, (10 << 16 | 2) + 4, false, ftBCD, 2},
      {kNumeric, -1, false, ftBCD, 0},       {kNumeric, (5 << 16 | 0x7fe) + 4, false, ftBCD, 0},
      {kMoney, -1, false, ftCurrency, 4},    {kUuid, -1, false, ftGuid, 38},
      {kBytea, -1, false, ftBlob, 0},        {kInt4, -1, true, ftAutoInc, 0},
      {kInt8, -1, true, ftAutoInc, 0},       {kInt2, -1, true, ftAutoInc, 0},
      {kInt4, -1, false, ftInteger, 0},      {kNumeric, -1, true, ftBCD, 0},
      {kBool, -1, false, ftBoolean, 0},      {kTimestamptz, -1, false, ftDateTime, 0},
      {kDate, -1, false, ftDate, 0},         {kTime, -1, false, ftTime, 0},
      {kFloat8, -1, false, ftFloat, 0},      {kJsonb, -1, false, ftMemo, 0},
      {1186 /* interval */, -1, false, ftString, 0},
  };
  for (const Case& c : cases) {
    FieldInfo f = fieldInfoFor("f", c.type, c.typmod, c.autoInc);
    EXPECT_EQ(f.type, c.want) << c.type << "/" << c.typmod;
    EXPECT_EQ(f.size, c.size) << c.type << "/" << c.typmod;
  }
}

static Value parsed(unsigned type, const std::string& text) {
  return valueFromText(type, text.data(), static_cast<int>(text.size()));
}

TEST(PgValues, TextResultsBecomeTypedValues) {
  EXPECT_EQ(parsed(kInt8, "-9223372036854775808"), Value::fromInt(INT64_MIN));
  EXPECT_EQ(parsed(kBool, "t"), Value::fromBool(true));
  EXPECT_EQ(parsed(kBool, "f"), Value::fromBool(false));
  EXPECT_EQ(parsed(kNumeric, "12345678901234567890.123400"),
            Value::fromDecimal("12345678901234567890.123400"));
  EXPECT_TRUE(std::isnan(parsed(kNumeric, "NaN").asReal()));
  EXPECT_EQ(parsed(kNumeric, "-Infinity"), Value::fromReal(-HUGE_VAL));
  EXPECT_EQ(parsed(kFloat8, "0.1"), Value::fromReal(0.1));
  EXPECT_EQ(parsed(kMoney, "-$1,234.56"), Value::fromDecimal("-1234.56"));
  EXPECT_EQ(parsed(kBytea, "\\x00ff41"), Value::fromBytes(std::string("\0\xff" "A", 3)));
  EXPECT_EQ(parsed(kText, "中文"), Value::fromText("中文"));

  DateTime dt;
  ASSERT_TRUE(DateTime::parse("2024-02-29 23:59:58.25", &dt));
  EXPECT_EQ(parsed(kTimestamp, "2024-02-29 23:59:58.25"), Value::fromDateTime(dt));
  EXPECT_EQ(parsed(kTimestamptz, "2024-02-29 23:59:58.25+05:30"), Value::fromDateTime(dt));
  ASSERT_TRUE(DateTime::parse("2024-02-29", &dt));
  EXPECT_EQ(parsed(kDate, "2024-02-29"), Value::fromDateTime(dt));
  ASSERT_TRUE(DateTime::parse("1899-12-30 08:30:00", &dt));
  EXPECT_EQ(parsed(kTime, "08:30:00"), Value::fromDateTime(dt));
  EXPECT_EQ(parsed(kTimetz, "08:30:00-02"), Value::fromDateTime(dt));
  // What a date cannot hold stays readable as text.
  EXPECT_EQ(parsed(kTimestamp, "infinity"), Value::fromText("infinity"));
  EXPECT_EQ(parsed(kDate, "0044-03-15 BC"), Value::fromText("0044-03-15 BC"));
}

TEST(PgValues, ParameterTextForms) {
  auto text = [](const Value& v) {
    std::string s;
    EXPECT_TRUE(appendParamText(v, s));
    return s;
  };
  EXPECT_EQ(text(Value::fromBool(true)), "1");
  EXPECT_EQ(text(Value::fromBool(false)), "0");
  EXPECT_EQ(text(Value::fromReal(0.1)), "0.1");
  EXPECT_EQ(text(Value::fromReal(HUGE_VAL)), "Infinity");
  EXPECT_EQ(text(Value::fromReal(-HUGE_VAL)), "-Infinity");
  EXPECT_EQ(text(Value::fromReal(std::numeric_limits<double>::quiet_NaN())), "NaN");
  EXPECT_EQ(text(Value::fromDecimal("-0.0100")), "-0.0100");
  DateTime dt;
  ASSERT_TRUE(DateTime::parse("2001-02-03 04:05:06.5", &dt));
  EXPECT_EQ(text(Value::fromDateTime(dt)), "2001-02-03 04:05:06.5");
  std::string s;
  EXPECT_FALSE(appendParamText(Value::fromText(std::string("a\0b", 3)), s));
}

// Only a plain insert of one row of parameters may travel as COPY: anything
// more (returning rows, conflicts, expressions, several rows) must stay an
// insert.
TEST(PgCopyStatements, OnlyPlainInsertsOfParameters) {
  PlainInsert p;
  ASSERT_TRUE(parsePlainInsert("insert into \"新 表\"(\"a\"\"b\",c) values($1,$2)", 2, &p));
  EXPECT_EQ(p.table, "\"新 表\"");
  EXPECT_EQ(p.columns, (std::vector<std::string>{"\"a\"\"b\"", "c"}));
  ASSERT_TRUE(parsePlainInsert(" INSERT  INTO s.t\n VALUES ( $1 , $2 ) ; ", 2, &p));
  EXPECT_EQ(p.table, "s.t");
  EXPECT_TRUE(p.columns.empty());
  const std::pair<const char*, int> others[] = {
      {"insert into t(a) values($1) returning id", 1},
      {"insert into t(a) values($1) on conflict do nothing", 1},
      {"insert into t(a, b) values($1, $2 + 1)", 2},
      {"insert into t(a, b) values($2, $1)", 2},
      {"insert into t(a) values($1), ($2)", 2},
      {"insert into t(a, b) values($1)", 1},
      {"insert into t(a) select $1", 1},
      {"insert into t(a) values($1); delete from t", 1},
      {"update t set a = $1", 1},
      {"with x as (select 1) insert into t(a) values($1)", 1},
  };
  for (const auto& [sql, params] : others) EXPECT_FALSE(parsePlainInsert(sql, params, &p)) << sql;
  EXPECT_EQ(identName("\"Mixed \"\"Q\"\"\""), "Mixed \"Q\"");
  EXPECT_EQ(identName("MixedCase"), "mixedcase");
}
