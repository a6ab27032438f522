// UTF-16LE, the text form of Jet 4 and ACE files, to and from UTF-8.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_UTF16_H
#define VOVARIZE_DATA_ACCESS_FORMAT_UTF16_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vov::access {

// A lone surrogate becomes U+FFFD; an odd last byte is dropped.
std::string utf8FromUtf16le(const uint8_t* p, size_t bytes);
// Appends the UTF-16 code units of valid UTF-8 text; false (nothing
// appended) when the text is not valid UTF-8.
bool utf16FromUtf8(const std::string& s, std::u16string* out);

// Stored Jet 4 / ACE text: UTF-16LE, or "compressed" when it starts with
// FF FE, where a zero byte switches between one byte per character (the
// high byte zero) and two.
std::string decodeStoredText(const uint8_t* p, size_t bytes);

}  // namespace vov::access

#endif
