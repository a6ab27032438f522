// The application-wide error display: the one place where an error that
// escaped a command is shown to the user.
#ifndef VOVARIZE_APP_ERROR_DISPLAY_H
#define VOVARIZE_APP_ERROR_DISPLAY_H

#include <exception>
#include <string>

#include "app/error_text.h"

namespace vov {

// Puts the normal cursor back and shows the error in a message box with
// the application title and the stop icon.
void showErrorBox(const std::exception& error);

}  // namespace vov

#endif
