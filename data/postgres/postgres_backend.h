// The PostgreSQL backend over libpq, for a "postgresql://" or
// "postgres://" address.
#ifndef VOVARIZE_DATA_POSTGRES_POSTGRES_BACKEND_H
#define VOVARIZE_DATA_POSTGRES_POSTGRES_BACKEND_H

#include <memory>
#include <string>

#include "data/backend.h"

namespace vov {

std::unique_ptr<Backend> openPostgresBackend(const std::string& address);

}  // namespace vov

#endif
