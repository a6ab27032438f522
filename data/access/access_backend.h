// The Access backend: reads .mdb and .accdb files through libmdb, which
// runs in a helper process so that a damaged file cannot hang or crash the
// program. Access files are read-only on this platform.
#ifndef VOVARIZE_DATA_ACCESS_ACCESS_BACKEND_H
#define VOVARIZE_DATA_ACCESS_ACCESS_BACKEND_H

#include <memory>
#include <string>

#include "data/backend.h"

namespace vov {

// Shown, before anything is written, for every attempt to change an Access
// file (an insert of the migration, an edit in the data grid).
constexpr const char kAccessReadOnlyMessage[] =
    "Access 数据库文件在本平台上只能读取，不能写入";

std::unique_ptr<Backend> openAccessBackend(const std::string& path);

}  // namespace vov

#endif
