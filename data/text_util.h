// Small helpers on UTF-8 text shared by the data, mapping and migration code.
#ifndef VOVARIZE_DATA_TEXT_UTIL_H
#define VOVARIZE_DATA_TEXT_UTIL_H

#include <string>
#include <string_view>

namespace vov {

// Compares ignoring letter case (full Unicode simple case mapping).
bool equalsIgnoreCase(const std::string& a, const std::string& b);

// The code points of `s` with letter case folded as equalsIgnoreCase
// folds it, for ordering and pattern matching that ignore case.
std::u32string foldCase(const std::string& s);

bool isValidUtf8(const std::string& s);

// The code points of strict UTF-8 text into `out`; false when `s` is not
// valid UTF-8.
bool utf8CodePoints(std::string_view s, std::u32string* out);

// Appends code point `c` (at most U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, char32_t c);

// Number of characters (code points) of valid UTF-8 text.
size_t utf8Length(const std::string& s);

// The first `n` characters of UTF-8 text, never cutting inside one.
std::string utf8Prefix(const std::string& s, size_t n);

// `name` as a standard SQL quoted identifier: in double quotes, inner
// double quotes doubled.
std::string doubleQuotedName(const std::string& name);

}  // namespace vov

#endif
