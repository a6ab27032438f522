// Export of one old table to a text file: the path is split into folder and
// file name and handed to the engine's text driver in one statement.
#ifndef VOVARIZE_MIGRATION_EXPORT_TABLE_H
#define VOVARIZE_MIGRATION_EXPORT_TABLE_H

#include <string>

namespace vov {

class Connection;

struct ExportPath {
  std::string folder;  // up to and including the last separator; may be empty
  std::string file;
};

// Splits after the last "/" (on Windows after the last backslash or colon:
// there a colon can only be a drive's, and "/" is not looked at).
ExportPath splitExportPath(const std::string& path);

// "Select * Into [Text;Database=<folder>].<file> From <quoted table>"
std::string exportStatement(Connection& connection, const std::string& table,
                            const std::string& path);

// Writes the whole table as CSV to `path`, replacing an existing file.
// Raises vov::Error; a failure leaves no file behind.
void exportTable(Connection& connection, const std::string& table, const std::string& path);

}  // namespace vov

#endif
