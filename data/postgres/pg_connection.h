// One libpq connection shared by the PostgreSQL backend and the statements,
// cursors and browsers it hands out. A connection serves one conversation
// at a time: a cursor streaming rows or a statement with runs in flight
// owns it until another user claims it, and is then asked to let go.
#ifndef VOVARIZE_DATA_POSTGRES_PG_CONNECTION_H
#define VOVARIZE_DATA_POSTGRES_PG_CONNECTION_H

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "data/error.h"
#include "data/field_type.h"
#include "data/value.h"

namespace vov::pg {

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// A user that may hold the connection between calls.
class ConnUser {
 public:
  virtual ~ConnUser() = default;
  // Bring the conversation to a point where the connection is idle. Must not
  // throw; a failure is kept for the user to report later.
  virtual void release() noexcept = 0;
};

class Conn {
 public:
  // Connects; raises vov::Error with the server's message, without the
  // password.
  static std::shared_ptr<Conn> open(const std::string& address);
  ~Conn();
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;

  PGconn* pg() const { return pg_; }

  // Makes `user` the connection's holder (nullptr: nobody), after asking
  // the current holder to let go.
  void claim(ConnUser* user);
  // `user` is done with the connection.
  void yield(ConnUser* user) {
    if (holder_ == user) holder_ = nullptr;
  }
  ConnUser* holder() const { return holder_; }

  bool inTransaction() const;
  bool lost() const { return PQstatus(pg_) == CONNECTION_BAD; }

  // Runs `sql` (no parameters; several statements allowed) and returns its
  // last result; raises vov::Error on failure. The caller holds the
  // connection or has claimed it.
  Result exec(const std::string& sql);
  // Runs one statement with parameters bound as text (types inferred by the
  // server; Bytes for a bytea parameter go binary).
  Result run(const std::string& sql, const std::vector<Value>& params);

  // Runs `fn` so that a failure inside cannot abort the transaction the
  // connection is in: it is fenced by a savepoint.
  template <class F>
  void fenced(F&& fn) {
    if (!inTransaction()) {
      fn();
      return;
    }
    exec("savepoint vov_fence");
    try {
      fn();
    } catch (...) {
      try {
        exec("rollback to savepoint vov_fence; release savepoint vov_fence");
      } catch (const Error&) {
        // The original failure is the one to report.
      }
      throw;
    }
    exec("release savepoint vov_fence");
  }

  // The message of a failed result (or of the connection when null): the
  // server's text and its detail, never the password.
  std::string message(const PGresult* r = nullptr) const;
  [[noreturn]] void fail(const PGresult* r = nullptr) const { throw Error(message(r)); }
  // Removes every trace of the password from `text`.
  std::string scrub(std::string text) const;

  // A failure found while letting go, for its statement to report.
  void setPending(const void* owner, const StatementError& e);
  // Throws the failure kept for `owner` (any owner when null), once.
  void throwPending(const void* owner);

  // Names for server-side prepared statements.
  std::string nextStatementName() { return "vov_s" + std::to_string(++statements_); }

  // The description of the columns of a prepared or executed statement,
  // with auto-increment columns found in the catalogue.
  std::vector<FieldInfo> describeFields(const PGresult* description);

  // Waits until libpq's output buffer has gone out, reading input meanwhile
  // so that the server never blocks on its replies. Raises on a lost
  // connection.
  void flushAll();

 private:
  Conn(PGconn* pg, std::vector<std::string> secrets);

  PGconn* pg_;
  std::vector<std::string> secrets_;
  ConnUser* holder_ = nullptr;
  std::unique_ptr<StatementError> pending_;
  const void* pendingOwner_ = nullptr;
  long statements_ = 0;
};

// The connection-lost wording shown before the server's own message.
extern const char kConnectionLost[];

}  // namespace vov::pg

#endif
