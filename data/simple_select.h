// Reading the two statement shapes the program sends to read a table:
//   select * from <table>            and   select * from <table> <filter>;
// where <table> is bare or quoted with "", [] or ``. Backends that cannot
// run arbitrary SQL (Access) or that read whole tables in windows (the grid)
// recognise them here.
#ifndef VOVARIZE_DATA_SIMPLE_SELECT_H
#define VOVARIZE_DATA_SIMPLE_SELECT_H

#include <string>
#include <vector>

namespace vov {

struct SimpleSelect {
  std::string table;  // the name with its quotes removed
  std::string rest;   // what follows the name, trimmed, without a final ";"
};

// `knownNames`, when given, lets a bare name hold blanks: the longest known
// name (letter case ignored) that the text starts with is taken, as Access
// reads "select * from Order Details".
bool parseSimpleSelect(const std::string& sql, SimpleSelect* out,
                       const std::vector<std::string>* knownNames = nullptr);

}  // namespace vov

#endif
