// The text of an error as the error display shows it, without the display:
// shared by the GUI and the batch command, so both word an error alike.
#ifndef VOVARIZE_APP_ERROR_TEXT_H
#define VOVARIZE_APP_ERROR_TEXT_H

#include <string>

namespace vov {

constexpr const char kApplicationTitle[] = "Vovarize";

// The message as the box shows it: "." is appended when the text is not
// empty and the first byte of its last character is above "." (0x2E), so a
// text ending in a letter, digit, ":" or a Chinese character gets one, and
// one ending in ".", "!", ",", "-", ")" or a blank does not.
std::string errorBoxText(const std::string& message);

}  // namespace vov

#endif
