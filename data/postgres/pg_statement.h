// Prepared statements on a PostgreSQL connection.
//
// Outside a transaction each run goes to the server and back before
// execute() returns. Inside one, runs travel in batches of many: a plain
// "insert into t(cols) values($1..$n)" into an ordinary table as the rows of
// one COPY per batch, any other statement as runs kept in flight with
// libpq's pipeline mode. Each batch is fenced by a savepoint. When a batch
// fails, the transaction goes back to the savepoint, the batch's runs are
// replayed one statement each until the failing run is found, the runs
// before it are kept, and the failure is raised with their count, so that a
// commit keeps exactly the runs that succeeded.
#ifndef VOVARIZE_DATA_POSTGRES_PG_STATEMENT_H
#define VOVARIZE_DATA_POSTGRES_PG_STATEMENT_H

#include <memory>
#include <string>

#include "data/backend.h"
#include "data/postgres/pg_connection.h"

namespace vov::pg {

// `sql` has "?" placeholders. Raises vov::Error when the server refuses it.
std::unique_ptr<Statement> prepareStatement(const std::shared_ptr<Conn>& conn,
                                            const std::string& sql);

}  // namespace vov::pg

#endif
