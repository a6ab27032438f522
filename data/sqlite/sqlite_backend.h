// The SQLite backend: the embedded default engine.
//
// Declared column types map onto the program's field types and sizes so:
//   VARCHAR(n), CHAR(n), NVARCHAR(n), NCHAR(n), CHARACTER(n)  text, size n
//   TEXT, CLOB, MEMO, and VARCHAR without a length           memo, size 0
//   INTEGER PRIMARY KEY (the rowid alias, AUTOINCREMENT or not)  ftAutoInc
//   INTEGER, INT, BIGINT, SMALLINT, TINYINT                   integers, 0
//   DECIMAL(p,s), NUMERIC(p,s)                                 size s
//   CURRENCY, MONEY                                           size 4
//   GUID, UNIQUEIDENTIFIER                                    size 38
//   BINARY(n), VARBINARY(n)                                   size n
//   REAL, DOUBLE, FLOAT, BOOLEAN, DATE, TIME, DATETIME, BLOB  size 0
//   anything else                                             size 0
// Values keep their storage class: integer, real, text, blob or null.
#ifndef VOVARIZE_DATA_SQLITE_SQLITE_BACKEND_H
#define VOVARIZE_DATA_SQLITE_SQLITE_BACKEND_H

#include <memory>
#include <string>

#include "data/backend.h"

namespace vov {

// Opens an existing SQLite file; never creates one.
std::unique_ptr<Backend> openSqliteBackend(const std::string& path);

// The field type and size for a declared column type (see above).
FieldInfo sqliteFieldInfo(const std::string& name, const std::string& declType,
                          bool rowidAlias);

}  // namespace vov

#endif
