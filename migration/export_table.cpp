// Export of one old table to a text file.
#include "migration/export_table.h"

#include "data/engine.h"
#include "data/error.h"
#include "data/error_context.h"

namespace vov {

ExportPath splitExportPath(const std::string& path) {
#ifdef _WIN32
  size_t cut = path.find_last_of("\\:");
#else
  size_t cut = path.rfind('/');
#endif
  if (cut == std::string::npos) return {std::string(), path};
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

std::string exportStatement(Connection& connection, const std::string& table,
                            const std::string& path) {
  ExportPath p = splitExportPath(path);
  return "Select * Into [Text;Database=" + p.folder + "]." + p.file + " From " +
         connection.quoteName(table);
}

void exportTable(Connection& connection, const std::string& table, const std::string& path) {
  if (splitExportPath(path).file.empty())
    throw Error("导出文件“" + echo(path, 4 * kEchoChars) + "”没有文件名");
  try {
    connection.execute(exportStatement(connection, table, path));
  } catch (Error& e) {
    // A write failure names the file already; anything else came from
    // reading the old table.
    placeEngineError(e, Side::Old, connection.connectionString(), "从",
                     "读取表“" + echo(table) + "”时");
    throw;
  }
}

}  // namespace vov
