// The process-wide stop request.
#include "data/interrupt.h"

#include <atomic>

#include "data/error.h"

namespace vov {

namespace {
// Lock-free, so a signal handler may set it.
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

void requestInterrupt() { requested.store(true, std::memory_order_relaxed); }

bool interruptRequested() { return requested.load(std::memory_order_relaxed); }

void clearInterrupt() { requested.store(false, std::memory_order_relaxed); }

void checkInterrupt() {
  if (interruptRequested()) throw Abort();
}

}  // namespace vov
