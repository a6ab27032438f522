// The Access backend: reads .mdb and .accdb files through libmdb, which
// runs in a helper process so that a damaged file cannot hang or crash the
// program. Access files are read-only on this platform.
#ifndef VOVARIZE_DATA_ACCESS_ACCESS_BACKEND_H
#define VOVARIZE_DATA_ACCESS_ACCESS_BACKEND_H

#include <memory>
#include <string>

#include "data/backend.h"

namespace vov {

std::unique_ptr<Backend> openAccessBackend(const std::string& path);

}  // namespace vov

#endif
