// Placeholder until the libpq backend lands.
#include "data/postgres/postgres_backend.h"

#include "data/error.h"

namespace vov {

std::unique_ptr<Backend> openPostgresBackend(const std::string&) {
  throw Error("暂不能连接 PostgreSQL 服务器");
}

}  // namespace vov
