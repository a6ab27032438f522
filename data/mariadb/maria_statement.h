// Runs of a prepared statement on a MySQL/MariaDB connection.
//
// Outside a transaction, and for any statement that is not the migration's
// plain insert into a table of a transactional engine, each run is one
// execution that goes to the server and back before execute() returns.
// Inside a transaction the insert's runs travel in batches, each one
// multi-row insert, with one batch in flight while the next is filled. A
// failed batch leaves nothing behind (the engine undoes the failed
// statement); its runs are then sent again one by one up to the first that
// fails, so that the failing run, the server's message for it and the runs
// kept before it are exactly those of one insert per run. The failure is
// raised with the count of runs kept, from a later execute() or finish().
#ifndef VOVARIZE_DATA_MARIADB_MARIA_STATEMENT_H
#define VOVARIZE_DATA_MARIADB_MARIA_STATEMENT_H

#include <memory>
#include <string>

#include "data/backend.h"
#include "data/mariadb/maria_connection.h"

namespace vov::maria {

// `sql` has "?" placeholders. Raises vov::Error when the server refuses it.
std::unique_ptr<Statement> prepareStatement(const std::shared_ptr<Conn>& conn,
                                            const std::string& sql);

// True when a failed statement on `table` leaves no rows behind and a
// rollback undoes its rows: a base table of a transactional engine. False
// for other tables, for views (whose tables cannot be told) and for names
// that are no table.
bool isTransactionalTable(Conn& conn, const std::string& table);

}  // namespace vov::maria

#endif
