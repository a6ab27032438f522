// The MySQL/MariaDB backend over MariaDB Connector/C, for a "mysql://" or
// "mariadb://" address (see maria_text.h for its form). The session talks
// utf8mb4 and runs in strict SQL mode; rows that are only to be read are
// read in a read-only transaction.
#ifndef VOVARIZE_DATA_MARIADB_MARIADB_BACKEND_H
#define VOVARIZE_DATA_MARIADB_MARIADB_BACKEND_H

#include <memory>
#include <string>

#include "data/backend.h"

namespace vov {

std::unique_ptr<Backend> openMariaDbBackend(const std::string& address);

}  // namespace vov

#endif
