// Choosing and opening the backend a connection string names.
#include "data/backend.h"

#include <cerrno>

#include "data/access/access_backend.h"
#include "data/connection_string.h"
#include "data/error.h"
#include "data/error_context.h"
#include "data/mariadb/mariadb_backend.h"
#include "data/postgres/postgres_backend.h"
#include "data/sqlite/sqlite_backend.h"

namespace vov {

const char kNoRowToUpdate[] = "新表中没有主键与这一行相同的行，无法更新";

std::string Backend::keyedWriteStatement(const RowWrite& w,
                                         const std::vector<std::string>& markers) const {
  auto isKey = [&w](size_t i) {
    for (size_t k : w.key)
      if (k == i) return true;
    return false;
  };
  // A list of only key columns still needs something to set: the key itself,
  // to the value it already has.
  std::vector<size_t> set;
  for (size_t i = 0; i < w.columns.size(); ++i)
    if (!isKey(i)) set.push_back(i);
  if (set.empty() && !w.key.empty()) set.push_back(w.key.front());

  const std::string table = quoteName(w.table);
  std::string sql;
  if (w.mode == WriteMode::Update) {
    sql = "update " + table + " set ";
    for (size_t j = 0; j < set.size(); ++j)
      sql += (j ? "," : "") + quoteName(w.columns[set[j]]) + "=" + markers[set[j]];
    sql += " where ";
    for (size_t j = 0; j < w.key.size(); ++j)
      sql += (j ? " and " : "") + quoteName(w.columns[w.key[j]]) + "=" + markers[w.key[j]];
    return sql;
  }
  std::string columns, values, target, updates;
  for (size_t i = 0; i < w.columns.size(); ++i) {
    columns += (i ? "," : "") + quoteName(w.columns[i]);
    values += (i ? "," : "") + markers[i];
  }
  for (size_t j = 0; j < w.key.size(); ++j) target += (j ? "," : "") + quoteName(w.columns[w.key[j]]);
  for (size_t j = 0; j < set.size(); ++j) {
    const std::string c = quoteName(w.columns[set[j]]);
    updates += (j ? "," : "") + c + "=excluded." + c;
  }
  return "insert into " + table + "(" + columns + ") values(" + values + ") on conflict(" + target +
         ") do update set " + updates;
}

std::unique_ptr<Backend> openBackend(const std::string& connectionString) {
  const std::string source = dataSourceOf(connectionString);
  if (source.empty()) throw Error("没有指定要打开的数据库");
  int openErrno = 0;
  switch (detectEngine(source, &openErrno)) {
    case EngineKind::Missing:
      if (openErrno == ENOENT) throw Error("找不到数据库文件“" + echo(source, 4 * kEchoChars) + "”");
      throw Error("无法打开数据库文件“" + echo(source, 4 * kEchoChars) + "”：" + systemReason(openErrno));
    case EngineKind::Unknown:
      throw Error("“" + echo(source, 4 * kEchoChars) + "”不是可以打开的数据库文件（支持 Access 和 SQLite 文件）");
    case EngineKind::Sqlite:
      return openSqliteBackend(source);
    case EngineKind::Access:
      return openAccessBackend(source);
    case EngineKind::Postgres:
      return openPostgresBackend(source);
    case EngineKind::MariaDb:
      return openMariaDbBackend(source);
  }
  throw Error("无法识别的数据库");
}

}  // namespace vov
