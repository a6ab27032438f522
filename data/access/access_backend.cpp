// Placeholder until the libmdb reader lands: Access files are refused with
// a clear message rather than misread.
#include "data/access/access_backend.h"

#include "data/error.h"

namespace vov {

std::unique_ptr<Backend> openAccessBackend(const std::string& path) {
  throw Error("暂不能读取 Access 文件“" + path + "”");
}

}  // namespace vov
