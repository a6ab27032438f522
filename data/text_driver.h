// The text driver: the engine-side writer behind the export statement
//   Select * Into [Text;Database=<folder>].<file> From <table>
// It is the same for every backend: the table is read through the backend's
// own query and written as CSV.
#ifndef VOVARIZE_DATA_TEXT_DRIVER_H
#define VOVARIZE_DATA_TEXT_DRIVER_H

#include <string>

#include "data/value.h"

namespace vov {

class Backend;

// One field of a CSV line as the export writes it (below), appended to
// `line`: text in double quotes, and so on.
void appendCsvField(std::string& line, const Value& v);
// Text in double quotes, inner quotes doubled.
void appendCsvQuoted(std::string& line, const std::string& text);

struct TextExport {
  std::string folder;  // as written, with its trailing separator
  std::string file;
  std::string table;   // as written in the statement (quoted or bare)
};

// True when `sql` is an export statement; fills `out`.
bool parseTextExport(const std::string& sql, TextExport* out);

// Writes the CSV file: a header line of the field names, one line per row,
// commas between fields, text in double quotes (inner quotes doubled),
// numbers plain, dates "yyyy-mm-dd hh:mm:ss", bytes as hexadecimal text in
// quotes, null as nothing, UTF-8, CR LF. The rows are only read. The file
// is written under a temporary name and renamed over the target, so a
// failure or a stop request (data/interrupt.h) leaves no half-written file
// and no temporary one; write failures are raised as vov::FileError.
void runTextExport(Backend& backend, const TextExport& job);

}  // namespace vov

#endif
