// The dry run's check of rows for a MySQL/MariaDB table, without writing it.
#ifndef VOVARIZE_DATA_MARIADB_MARIA_ROW_CHECK_H
#define VOVARIZE_DATA_MARIADB_MARIA_ROW_CHECK_H

#include <memory>
#include <string>

#include "data/backend.h"
#include "data/mariadb/maria_connection.h"

namespace vov::maria {

// For `w` into the base table `table` (its name as the catalogue spells
// it); nullptr when the server lets this session make no scratch table.
std::unique_ptr<RowCheck> makeRowCheck(const std::shared_ptr<Conn>& conn, const std::string& table,
                                       const RowWrite& w);

}  // namespace vov::maria

#endif
