// Bounded waits on a database server's socket, for every backend that talks
// to a server (PostgreSQL, MariaDB). A server that stops answering (process
// stopped, network gone) must never hold the program for ever: a wait for an
// answer the server owes ends after serverTimeoutSeconds() without any byte
// from it, and soon after a stop request (data/interrupt.h: Ctrl-C in the
// batch command).
#ifndef VOVARIZE_DATA_SERVER_WAIT_H
#define VOVARIZE_DATA_SERVER_WAIT_H

#include <chrono>

namespace vov {

// VOVARIZE_SERVER_TIMEOUT_S when it holds a whole number of seconds from 1
// up, else 30. Read once.
int serverTimeoutSeconds();

// One wait for answers from a server over one socket.
class SocketWait {
 public:
  enum Outcome { kReady, kTimedOut, kInterrupted };

  SocketWait();

  // Polls `fd` until it is readable (or writable, as asked), the server has
  // been silent too long, or a stop request has waited out its grace: half
  // a second more of silence, so that a healthy server still finishes what
  // it was answering. Readability counts as an answer and starts the
  // silence clock again.
  Outcome wait(int fd, bool read, bool write);

  // Seconds of silence after which wait() gives up.
  int timeoutSeconds() const { return timeout_; }

 private:
  using Clock = std::chrono::steady_clock;
  int timeout_;
  Clock::time_point lastAnswer_;
  Clock::time_point stopSeen_{};  // when this wait first saw a stop request
};

}  // namespace vov

#endif
