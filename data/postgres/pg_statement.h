// Prepared statements on a PostgreSQL connection.
//
// Outside a transaction each run goes to the server and back before
// execute() returns. Inside one, each run is still one insert (or whatever
// the statement is) of its own, but many are kept in flight with libpq's
// pipeline mode, in batches each fenced by a savepoint. The server reports
// the first run of a batch that failed; the transaction goes back to the
// savepoint, the runs before it are sent again and kept, and the failure is
// raised with the count of runs kept, so that a commit keeps exactly the
// runs that succeeded.
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
