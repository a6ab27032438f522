// The dry run's row check on a PostgreSQL new database: what the server
// tells of a row without writing it.
#ifndef VOVARIZE_DATA_POSTGRES_PG_ROW_CHECK_H
#define VOVARIZE_DATA_POSTGRES_PG_ROW_CHECK_H

#include <memory>

#include "data/backend.h"
#include "data/postgres/pg_connection.h"

namespace vov::pg {

// nullptr when `w.table` is not a table the check understands (a view, a
// foreign table): the dry run then tells nothing of its rows.
std::unique_ptr<RowCheck> makeRowCheck(const std::shared_ptr<Conn>& conn, const RowWrite& w);

}  // namespace vov::pg

#endif
