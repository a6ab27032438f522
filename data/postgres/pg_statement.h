// Prepared statements on a PostgreSQL connection.
//
// Outside a transaction each run goes to the server and back before
// execute() returns. Inside one, runs travel in batches, each fenced by a
// savepoint:
// - a plain insert into a table ("insert into t(a, b) values(?, ?)") goes
//   as COPY ... FROM STDIN, in the binary form typed by the table's columns,
//   or in the text form for a column type or value that has no binary form
//   here (pg_copy.h);
// - any other statement (an insert into a view or a table with rules, an
//   update) keeps each run one statement, many in flight (pipeline mode).
// When a batch fails, the transaction goes back to its savepoint and the
// batch's runs go again one statement each (each under a savepoint of its
// own), up to the first that fails: the runs before it are kept, and the
// failure is raised with the server's message for that one statement and
// the count of runs kept. When refused rows are set aside (RunPolicy), a
// refused run is reported instead and the runs after it go on. The outcome
// is that of one statement per run, executed one after another.
// Updates that must find their row, and statements COPY cannot stand in for
// when refused rows are set aside, go one run at a time.
#ifndef VOVARIZE_DATA_POSTGRES_PG_STATEMENT_H
#define VOVARIZE_DATA_POSTGRES_PG_STATEMENT_H

#include <cstddef>
#include <memory>
#include <string>

#include "data/backend.h"
#include "data/postgres/pg_connection.h"

namespace vov::pg {

// A batch ends after this many runs, or once its values take this many
// bytes; its runs are kept until it ends, for the replay after a failure.
constexpr int kBatchRuns = 10000;
constexpr size_t kBatchBytes = 8u << 20;

// `sql` has "?" placeholders. Raises vov::Error when the server refuses it.
std::unique_ptr<Statement> prepareStatement(const std::shared_ptr<Conn>& conn,
                                            const std::string& sql);

}  // namespace vov::pg

#endif
