// The connection string the program builds for a chosen database, and the
// reading of it that picks a backend.
#ifndef VOVARIZE_DATA_CONNECTION_STRING_H
#define VOVARIZE_DATA_CONNECTION_STRING_H

#include <string>

namespace vov {

// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";" +
// "Persist Security Info=False", the path unchanged.
std::string buildConnectionString(const std::string& path);

// The data source named by a connection string: what stands between
// "Data Source=" and the final ";Persist Security Info=False" (or the next
// ";" when that tail is missing). A bare path or address is returned as is.
std::string dataSourceOf(const std::string& connectionString);

enum class EngineKind { Missing, Unknown, Sqlite, Access, Postgres, MariaDb };

// Decides by the address scheme or, for files, by the first bytes.
// Missing: the file cannot be opened (`openErrno` tells why: ENOENT when
// it does not exist). Unknown: it exists but is no database this program
// reads (an empty file, a folder or a device included).
EngineKind detectEngine(const std::string& dataSource, int* openErrno = nullptr);

// A PostgreSQL or MySQL/MariaDB address with its password replaced by
// "***", for captions and messages; other data sources are returned
// unchanged.
std::string withoutPassword(const std::string& dataSource);

}  // namespace vov

#endif
