// Filter conditions on Access tables. The reader process can only walk a
// table, so the "where" condition of "select * from <table> where ..." is
// parsed here and tested on each row, with Jet's rules where users meet
// them: text compares without regard to case, "like" takes % and _ (and
// [abc] sets), dates are written #2024-05-01# or as quoted text, a
// comparison with null is never true.
//
// Supported: = <> != < > <= >=, like, is [not] null, [not] between .. and ..,
// [not] in (..), and, or, not, parentheses, numbers, 'text' and "text",
// #dates#, true/false/yes/no, and field names bare or in [] or ``.
#ifndef VOVARIZE_DATA_ACCESS_ACCESS_FILTER_H
#define VOVARIZE_DATA_ACCESS_ACCESS_FILTER_H

#include <memory>
#include <string>
#include <vector>

#include "data/field_type.h"
#include "data/value.h"

namespace vov {

class AccessFilter {
 public:
  // Parses `condition` (what follows "where") against the table's fields.
  // Raises vov::Error, in words for the user, when the condition cannot be
  // understood or compares values of kinds that do not go together.
  AccessFilter(const std::string& condition, const std::vector<FieldInfo>& fields);
  ~AccessFilter();
  AccessFilter(const AccessFilter&) = delete;
  AccessFilter& operator=(const AccessFilter&) = delete;

  // True when the row (one value per field) satisfies the condition.
  bool matches(const std::vector<Value>& row) const;

  struct Node;

 private:
  std::unique_ptr<Node> root_;
};

}  // namespace vov

#endif
