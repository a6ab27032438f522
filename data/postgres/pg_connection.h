// One libpq connection shared by the PostgreSQL backend and the statements,
// cursors and browsers it hands out. A connection serves one conversation
// at a time: a cursor or a statement with runs in flight owns it until
// another user claims it, and is then asked to let go.
//
// Every wait on the server is bounded (data/server_wait.h): the connection
// is non-blocking, and a server that stays silent while it owes an answer,
// or an interrupt, abandons the connection. A lost connection remembers why
// it was lost, and every later use raises that reason.
#ifndef VOVARIZE_DATA_POSTGRES_PG_CONNECTION_H
#define VOVARIZE_DATA_POSTGRES_PG_CONNECTION_H

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "data/error.h"
#include "data/field_type.h"
#include "data/server_wait.h"
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
  bool lost() const { return !lostReason_.empty() || PQstatus(pg_) == CONNECTION_BAD; }
  // Raises the reason the connection was lost, if it was.
  void checkAlive();
  // The same, after reading what the server may have sent meanwhile (a
  // server that went away while the connection was idle).
  void probe();

  // Runs `sql` (no parameters; several statements allowed) and returns its
  // last result, or the result that starts a COPY; raises vov::Error on
  // failure. The caller holds the connection or has claimed it.
  Result exec(const std::string& sql);
  // Prepares `sql` under `name` ("" for the unnamed statement) and returns
  // its description.
  Result prepare(const std::string& name, const std::string& sql);
  // Runs one statement with parameters bound as text (types inferred by the
  // server; Bytes for a bytea parameter go binary).
  Result run(const std::string& sql, const std::vector<Value>& params);

  // The next result of the command in progress (null after its last),
  // waiting for it as long as the server keeps answering.
  Result nextResult();
  // Reads and drops the rest of the command's results.
  void drain();
  // Raises the connection's failure unless `ok` (a PQsend... or PQput...
  // call's return of 1).
  void sent(int ok);
  // Waits until libpq's output buffer has gone out, reading input meanwhile
  // so that the server never blocks on its replies.
  void flushAll();
  // Queues `n` bytes of COPY data, waiting while the server is behind.
  void putCopyData(const char* data, size_t n);

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
        if (!lost()) exec("rollback to savepoint vov_fence; release savepoint vov_fence");
      } catch (const Error&) {
        // The original failure is the one to report.
      }
      throw;
    }
    exec("release savepoint vov_fence");
  }

  // The message of a failed result (or of the connection when null): the
  // server's text and its detail, never the password; after a lost
  // connection, the reason it was lost.
  std::string message(const PGresult* r = nullptr) const;
  [[noreturn]] void fail(const PGresult* r = nullptr);
  // Removes every trace of the password from `text`.
  std::string scrub(std::string text) const;

  // A failure found while letting go, for its statement to report.
  void setPending(const void* owner, const StatementError& e);
  // Throws the failure kept for `owner` (any owner when null), once.
  void throwPending(const void* owner);

  // Names for server-side prepared statements and cursors.
  std::string nextName(const char* prefix) { return prefix + std::to_string(++names_); }

  // The description of the columns of a prepared or executed statement,
  // with auto-increment columns found in the catalogue.
  std::vector<FieldInfo> describeFields(const PGresult* description);

 private:
  Conn(PGconn* pg, std::vector<std::string> secrets);
  // Waits for the socket as SocketWait allows; abandons the connection
  // when the server stays silent or the program is interrupted.
  void await(SocketWait& w, bool read, bool write);
  [[noreturn]] void lostNow();
  [[noreturn]] void abandon(const std::string& why);

  PGconn* pg_;
  std::vector<std::string> secrets_;
  ConnUser* holder_ = nullptr;
  std::unique_ptr<StatementError> pending_;
  const void* pendingOwner_ = nullptr;
  long names_ = 0;
  std::string lostReason_;
};

// The connection-lost wording shown before the reason.
extern const char kConnectionLost[];

}  // namespace vov::pg

#endif
