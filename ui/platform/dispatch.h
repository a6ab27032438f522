// Running event handlers so that every error they raise reaches the one
// application-wide handler, the way the message dispatch of the original
// toolkit did: the handler stops where the error arose, the error is shown,
// and the program goes on.
#ifndef VOVARIZE_UI_PLATFORM_DISPATCH_H
#define VOVARIZE_UI_PLATFORM_DISPATCH_H

#include <exception>
#include <functional>
#include <utility>

namespace vov::ui {

using ExceptionHandler = std::function<void(const std::exception&)>;

// Installs the application-wide handler (nullptr removes it).
void setApplicationExceptionHandler(ExceptionHandler handler);

// Runs `fn`; an error escaping it releases any mouse grab and goes to the
// application handler. A silent abort (vov::Abort) is dropped.
void runGuarded(const std::function<void()>& fn);

// Passes an error caught elsewhere (the application's event filter) on.
void handleEscapedException(std::exception_ptr error);

// Wraps a handler for QObject::connect.
template <class F>
auto guarded(F fn) {
  return [fn = std::move(fn)](auto&&...) { runGuarded(fn); };
}

}  // namespace vov::ui

#endif
