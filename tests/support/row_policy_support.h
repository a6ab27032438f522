// What the row-policy tests of every engine share: old SQLite rows that a
// new table dst(id key, name varchar(4) not null, qty int, born date,
// tag varchar(3)) refuses in different ways, and the request that moves
// them with a given mode and error policy.
#ifndef VOVARIZE_TESTS_SUPPORT_ROW_POLICY_SUPPORT_H
#define VOVARIZE_TESTS_SUPPORT_ROW_POLICY_SUPPORT_H

#include <string>
#include <utility>
#include <vector>

#include "mapping/mapping_line.h"
#include "migration/migrate_table.h"

namespace vov::test {

// Row 2 a NULL name, 3 a tag too long, 4 a quantity that is no number, 5 a
// date that does not exist, 7 both NULL name and long tag.
inline const char* const kRefusedRowsSql =
    "create table src(code varchar(2), name varchar(10), qty varchar(5), born varchar(10),"
    " n integer);"
    "insert into src values('1', '甲', '5', '2020-01-02', 1);"
    "insert into src values('2', null, '7', '2020-01-03', 2);"
    "insert into src values('3', '丙', '8', '2020-01-04', 12345);"
    "insert into src values('4', '丁', 'many', '2020-01-05', 4);"
    "insert into src values('5', '戊', '9', '2020-02-30', 5);"
    "insert into src values('6', '己', '1', '2020-01-07', 6);"
    "insert into src values('7', null, '1', '2020-01-08', 99999);";

inline std::vector<std::string> srcToDstLines() {
  std::vector<std::string> lines;
  for (auto [from, to] : std::vector<std::pair<const char*, const char*>>{
           {"code", "id"}, {"name", "name"}, {"qty", "qty"}, {"born", "born"}, {"n", "tag"}})
    lines.push_back(composeFieldMappingLine("src", from, 4, "dst", to));
  return lines;
}

// src into newTable through lines, counted into *counts.
inline MigrationRequest policyRequest(const std::string& newTable, std::vector<std::string> lines,
                                      WriteMode mode, OnRowError onError, bool dry,
                                      MigrationCounts* counts) {
  MigrationRequest r;
  r.oldTable = [] { return std::string("src"); };
  r.newTable = [newTable] { return newTable; };
  r.lines = std::move(lines);
  r.filter = kDefaultFilterText;
  r.mode = mode;
  r.onRowError = onError;
  r.dryRun = dry;
  r.counts = counts;
  return r;
}

}  // namespace vov::test

#endif
