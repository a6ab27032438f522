// The application-wide error display: the one place where an error that
// escaped a command is shown to the user.
#ifndef VOVARIZE_APP_ERROR_DISPLAY_H
#define VOVARIZE_APP_ERROR_DISPLAY_H

#include <exception>
#include <string>

namespace vov {

constexpr const char kApplicationTitle[] = "Vovarize";

// The message as the box shows it: "." is appended when the text is not
// empty and the first byte of its last character is above "." (0x2E), so a
// text ending in a letter, digit, ":" or a Chinese character gets one, and
// one ending in ".", "!", ",", "-", ")" or a blank does not.
std::string errorBoxText(const std::string& message);

// Puts the normal cursor back and shows the error in a message box with
// the application title and the stop icon.
void showErrorBox(const std::exception& error);

}  // namespace vov

#endif
