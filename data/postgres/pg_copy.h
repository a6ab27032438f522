// The rows of a bulk insert in the forms COPY ... FROM STDIN reads, with no
// server involved: which inserts COPY can stand in for, and each row in the
// binary form (typed by the destination columns) or the text form.
//
// A row only goes binary when every value's binary form is the very value
// the server would make of the text an insert sends for it: each value is
// turned into that text first, and only texts the server's own input
// function reads one way, and that are read here the same way, are
// accepted. Anything else (another spelling, a type not listed here) takes
// the text form, which the server reads with the same input functions as an
// insert's parameters.
#ifndef VOVARIZE_DATA_POSTGRES_PG_COPY_H
#define VOVARIZE_DATA_POSTGRES_PG_COPY_H

#include <string>
#include <string_view>
#include <vector>

#include "data/value.h"

namespace vov::pg {

// "insert into <table>[(<columns>)] values(<$1>, ..., <$n>)", placeholders
// in order and nothing else, as numberPlaceholders() left it. The names are
// kept as written (quoted or not).
struct PlainInsert {
  std::string table;
  std::vector<std::string> columns;  // empty: the statement names none
};
bool parsePlainInsert(const std::string& sql, int params, PlainInsert* out);

// The name an identifier as written stands for: quotes removed (doubled
// ones made single), an unquoted one in lower case as the server folds it.
std::string identName(const std::string& written);

// One value of a row as the insert sends it: its text, or for Bytes into a
// bytea column the bytes themselves; `data` null for NULL.
struct SentValue {
  const char* data;
  size_t size;
};

// Builds COPY data for columns of the given types (type numbers, as the
// server describes the insert's parameters).
class CopyRows {
 public:
  explicit CopyRows(std::vector<unsigned> types);

  // Whether every column has a binary form here.
  bool binaryTypes() const { return binaryTypes_; }

  static void appendBinaryHeader(std::string& out);
  static void appendBinaryTrailer(std::string& out);

  // Appends one row, `row` the values and `sent` what the insert would
  // send for each, in the binary form; false, with nothing appended, when a
  // value has none (see above).
  bool appendBinary(const std::vector<Value>& row, const SentValue* sent, std::string& out);
  // The same in the text form, which every value that can be sent has.
  void appendText(const std::vector<Value>& row, const SentValue* sent, std::string& out);

 private:
  bool binaryValue(size_t column, const Value& v, std::string_view sent, std::string& out);

  std::vector<unsigned> types_;
  bool binaryTypes_ = true;
};

}  // namespace vov::pg

#endif
