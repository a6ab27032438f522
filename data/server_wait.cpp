// Bounded socket waits and the server time-out setting.
#include "data/server_wait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "data/interrupt.h"

namespace vov {

namespace {

// Silence a healthy server may still take to answer after a stop request:
// short enough that the program stops well within a second.
constexpr std::chrono::milliseconds kStopGrace(500);
// How often a wait looks at the clock and the stop request.
constexpr int kSliceMs = 100;

}  // namespace

int serverTimeoutSeconds() {
  static const int seconds = [] {
    const char* text = std::getenv("VOVARIZE_SERVER_TIMEOUT_S");
    if (!text || !*text) return 30;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 1 || v > 86400 * 7) return 30;
    return static_cast<int>(v);
  }();
  return seconds;
}

SocketWait::SocketWait() : timeout_(serverTimeoutSeconds()), lastAnswer_(Clock::now()) {}

SocketWait::Outcome SocketWait::wait(int fd, bool read, bool write) {
  pollfd p{fd, static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0)), 0};
  for (;;) {
    p.revents = 0;
    int n = poll(&p, 1, kSliceMs);
    if (n < 0 && errno != EINTR) return kReady;  // the caller's next call reports the failure
    const Clock::time_point now = Clock::now();
    if (n > 0) {
      if (p.revents & (POLLIN | POLLHUP | POLLERR)) lastAnswer_ = now;
      return kReady;
    }
    if (interruptRequested()) {
      if (stopSeen_ == Clock::time_point()) stopSeen_ = now;
      if (now - std::max(lastAnswer_, stopSeen_) >= kStopGrace) return kInterrupted;
    }
    if (now - lastAnswer_ >= std::chrono::seconds(timeout_)) return kTimedOut;
  }
}

}  // namespace vov
