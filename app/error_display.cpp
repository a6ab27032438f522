// The application-wide error display.
#include "app/error_display.h"

#include "ui/platform/platform.h"

namespace vov {

void showErrorBox(const std::exception& error) {
  ui::setScreenCursor(ui::crDefault);
  ui::messageBox(nullptr, errorBoxText(error.what()), kApplicationTitle,
                 ui::MB_OK | ui::MB_ICONERROR);
}

}  // namespace vov
