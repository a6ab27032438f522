// The marker scan of parameterised statements.
#include <gtest/gtest.h>

#include "data/markers.h"

using vov::scanMarkers;

TEST(Markers, InsertStatementOfTheMigration) {
  auto s = scanMarkers("insert into T([id],[first name],[city]) values(:kh0,:kh1,:kh2)");
  EXPECT_EQ(s.text, "insert into T([id],[first name],[city]) values(?,?,?)");
  EXPECT_EQ(s.names, (std::vector<std::string>{"kh0", "kh1", "kh2"}));
}

TEST(Markers, QuotesOfAllThreeKindsHideColons) {
  EXPECT_EQ(scanMarkers("a ':x' b").text, "a ':x' b");
  EXPECT_EQ(scanMarkers("a \":x\" b").text, "a \":x\" b");
  EXPECT_EQ(scanMarkers("a `:x` b").text, "a `:x` b");
  // Square brackets do not quote.
  auto s = scanMarkers("[a :x b]");
  EXPECT_EQ(s.text, "[a ? b]");
  EXPECT_EQ(s.names, std::vector<std::string>{"x"});
  // A colon after a closed quote is a marker again.
  s = scanMarkers("'it''s' :p");
  EXPECT_EQ(s.text, "'it''s' ?");
  EXPECT_EQ(s.names, std::vector<std::string>{"p"});
}

// Only the quote that opened a region closes it: a name holding another
// kind of quote keeps the markers after it.
TEST(Markers, OtherQuotesInsideAQuotedRegionDoNotEndIt) {
  auto s = scanMarkers("insert into \"it's\"(\"a`b\",\"c'd\") values(:kh0,:kh1)");
  EXPECT_EQ(s.text, "insert into \"it's\"(\"a`b\",\"c'd\") values(?,?)");
  EXPECT_EQ(s.names, (std::vector<std::string>{"kh0", "kh1"}));
  s = scanMarkers("`x\"y` ':a\"b' \"q\"\"r\" :p");
  EXPECT_EQ(s.text, "`x\"y` ':a\"b' \"q\"\"r\" ?");
  EXPECT_EQ(s.names, std::vector<std::string>{"p"});
  // An unclosed region hides every colon after it.
  EXPECT_EQ(scanMarkers("'it\"s :p").names.size(), 0u);
}

TEST(Markers, DoubleColonStandsForOne) {
  auto s = scanMarkers("select a::int, :p");
  EXPECT_EQ(s.text, "select a:int, ?");
  EXPECT_EQ(s.names, std::vector<std::string>{"p"});
  EXPECT_EQ(scanMarkers("::::").text, "::");
}

TEST(Markers, RepeatedNamesEachAddAParameter) {
  auto s = scanMarkers(":a,:a,:b");
  EXPECT_EQ(s.text, "?,?,?");
  EXPECT_EQ(s.names, (std::vector<std::string>{"a", "a", "b"}));
}

TEST(Markers, NamesEndAtEachDelimiter) {
  for (const char* d : {" ", ",", ";", ")", "\r", "\n"}) {
    auto s = scanMarkers(std::string(":n") + d + "x");
    EXPECT_EQ(s.text, std::string("?") + d + "x") << "delimiter " << int(d[0]);
    EXPECT_EQ(s.names, std::vector<std::string>{"n"});
  }
  auto end = scanMarkers("x=:last");
  EXPECT_EQ(end.text, "x=?");
  EXPECT_EQ(end.names, std::vector<std::string>{"last"});
}

TEST(Markers, TabIsPartOfTheName) {
  auto s = scanMarkers(":a\tb c");
  EXPECT_EQ(s.text, "? c");
  EXPECT_EQ(s.names, std::vector<std::string>{"a\tb"});
}

TEST(Markers, QuotedNameLosesItsQuotes) {
  auto s = scanMarkers("values(:\"first name\", :'x')");
  EXPECT_EQ(s.text, "values(?, ?)");
  EXPECT_EQ(s.names, (std::vector<std::string>{"first name", "x"}));
}

TEST(Markers, DoubleByteTextPassesUnchanged) {
  // A full-width colon is no marker; an ASCII one after Chinese text is.
  auto s = scanMarkers("insert into 客户([名称]) values(:kh0) -- 说明：无 说明:无");
  EXPECT_EQ(s.text, "insert into 客户([名称]) values(?) -- 说明：无 说明?");
  EXPECT_EQ(s.names, (std::vector<std::string>{"kh0", "无"}));
  auto q = scanMarkers("where 名称 = '时间:12' and x=:v");
  EXPECT_EQ(q.text, "where 名称 = '时间:12' and x=?");
  EXPECT_EQ(q.names, std::vector<std::string>{"v"});
}
