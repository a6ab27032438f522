// Choosing and opening the backend a connection string names.
#include "data/backend.h"

#include "data/access/access_backend.h"
#include "data/connection_string.h"
#include "data/error.h"
#include "data/postgres/postgres_backend.h"
#include "data/sqlite/sqlite_backend.h"

namespace vov {

std::unique_ptr<Backend> openBackend(const std::string& connectionString) {
  const std::string source = dataSourceOf(connectionString);
  if (source.empty()) throw Error("没有指定要打开的数据库");
  switch (detectEngine(source)) {
    case EngineKind::Missing:
      throw Error("找不到数据库文件“" + source + "”");
    case EngineKind::Unknown:
      throw Error("“" + source + "”不是可以打开的数据库文件（支持 Access 和 SQLite 文件）");
    case EngineKind::Sqlite:
      return openSqliteBackend(source);
    case EngineKind::Access:
      return openAccessBackend(source);
    case EngineKind::Postgres:
      return openPostgresBackend(source);
  }
  throw Error("无法识别的数据库");
}

}  // namespace vov
