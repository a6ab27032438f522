// The text of an error as the error display shows it.
#include "app/error_text.h"

namespace vov {

std::string errorBoxText(const std::string& message) {
  if (message.empty()) return message;
  // Step back over UTF-8 continuation bytes to the last character's first byte.
  size_t i = message.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(message[i]) & 0xC0) == 0x80) --i;
  if (static_cast<unsigned char>(message[i]) > static_cast<unsigned char>('.'))
    return message + ".";
  return message;
}

}  // namespace vov
