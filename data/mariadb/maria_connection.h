// One MySQL/MariaDB connection shared by the backend and the statements,
// cursors and browsers it hands out. The connector runs in its non-blocking
// mode and every wait for the server happens here, in short slices: a
// server that owes an answer and stays silent for the server time-out, or
// an interruption, ends the wait and the connection, with a message that
// says so. A connection serves one conversation at a time: a cursor
// streaming rows or a statement with a batch in flight owns it until
// another user claims it, and is then asked to let go.
#ifndef VOVARIZE_DATA_MARIADB_MARIA_CONNECTION_H
#define VOVARIZE_DATA_MARIADB_MARIA_CONNECTION_H

#include <mysql.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/error.h"
#include "data/mariadb/maria_text.h"

namespace vov::maria {

// A user that may hold the connection between calls.
class ConnUser {
 public:
  virtual ~ConnUser() = default;
  // Bring the conversation to a point where the connection is idle. Must not
  // throw; a failure is kept for the user to report later.
  virtual void release() noexcept = 0;
};

// The connection-lost wording shown before the connector's own message.
extern const char kConnectionLost[];

class Conn {
 public:
  // Connects and sets up the session (utf8mb4, strict SQL mode); raises
  // vov::Error with the server's message, without the password.
  static std::shared_ptr<Conn> open(const std::string& address);
  ~Conn();
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;

  MYSQL* my() const { return my_; }

  void claim(ConnUser* user);
  void yield(ConnUser* user) {
    if (holder_ == user) holder_ = nullptr;
  }
  ConnUser* holder() const { return holder_; }

  // Drives one call of the connector's non-blocking API to its end:
  // `status` is what its _start function returned, `cont(ready)` calls its
  // _cont function. Never throws; the call's own result tells failure.
  template <class Cont>
  void complete(int status, Cont&& cont) {
    while (status != 0) status = cont(wait(status));
  }
  // One step of a call in flight, if the socket is ready now; the new status.
  template <class Cont>
  int poke(int status, Cont&& cont) {
    int ready = readyNow(status);
    return ready ? cont(ready) : status;
  }

  // Runs one statement without parameters and drops any result.
  void exec(const std::string& sql);
  // The rows of a small query, as text (nullopt for NULL).
  using TextRow = std::vector<std::optional<std::string>>;
  std::vector<TextRow> rows(const std::string& sql);
  // `s` as a quoted string literal for this connection.
  std::string literal(const std::string& s) const;

  // What the server says of the session.
  bool inTransaction() const;
  // The program's own transaction, from begin to commit or rollback.
  void setInProgramTransaction(bool open) { programTransaction_ = open; }
  bool inProgramTransaction() const { return programTransaction_; }
  // The server ended the program's transaction on its own (after a
  // deadlock, say): its rows are gone. Asks the server, since an error
  // does not carry the session's state.
  bool transactionDropped();
  // The connection is gone: lost, or given up by a time-out or interruption.
  bool lost() const;
  bool isMariaDb() const { return mariaDb_; }
  unsigned long maxPacket() const { return maxPacket_; }

  // The message for the connection's last failure, never the password.
  std::string message() const;
  std::string message(MYSQL_STMT* stmt) const;
  unsigned errorNumber(MYSQL_STMT* stmt = nullptr) const;
  [[noreturn]] void fail() const { throw Error(message()); }
  std::string scrub(std::string text) const;

  // A failure found while letting go, for its statement to report.
  void setPending(const void* owner, const StatementError& e);
  void throwPending(const void* owner);

  // Asks the server, on a short connection of its own, to stop the
  // statement this connection runs. Failures are ignored: the caller reads
  // on to the end either way.
  void stopRunningStatement() noexcept;

 private:
  Conn(MYSQL* my, Address address, std::vector<std::string> secrets);
  static MYSQL* connect(const Address& a, bool forStop, std::string* why);
  int wait(int status);
  int readyNow(int status);
  void giveUp(const std::string& why);

  MYSQL* my_;
  Address address_;
  std::vector<std::string> secrets_;
  ConnUser* holder_ = nullptr;
  std::unique_ptr<StatementError> pending_;
  const void* pendingOwner_ = nullptr;
  bool mariaDb_ = true;
  unsigned long maxPacket_ = 16u << 20;
  bool programTransaction_ = false;
  std::string gaveUp_;  // why the connection was given up, if it was
};

}  // namespace vov::maria

#endif
