// Guarded dispatch of event handlers.
#include "ui/platform/dispatch.h"

#include <QWidget>

#include "data/error.h"
#include "ui/platform/platform.h"

namespace vov::ui {

namespace {

ExceptionHandler& handlerSlot() {
  static ExceptionHandler h;
  return h;
}

// Before the mapping window registers its handler (start-up), errors are
// still shown rather than lost.
void fallbackHandler(const std::exception& e) {
  setScreenCursor(crDefault);
  messageBox(nullptr, e.what(), "Vovarize", MB_OK | MB_ICONERROR);
}

}  // namespace

void setApplicationExceptionHandler(ExceptionHandler handler) {
  handlerSlot() = std::move(handler);
}

void handleEscapedException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const Abort&) {
    // silent
  } catch (const std::exception& e) {
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    if (handlerSlot()) handlerSlot()(e);
    else fallbackHandler(e);
  } catch (...) {
    std::runtime_error unknown("Unknown error");
    if (handlerSlot()) handlerSlot()(unknown);
    else fallbackHandler(unknown);
  }
}

void runGuarded(const std::function<void()>& fn) {
  try {
    fn();
  } catch (...) {
    handleEscapedException(std::current_exception());
  }
}

}  // namespace vov::ui
