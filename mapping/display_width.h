// How many columns a text takes in a fixed-width display: a wide or
// full-width East Asian character two, every other character one. This is
// also the byte length of such text in the double-byte code pages (GBK) of
// the systems the mapping list files come from.
#ifndef VOVARIZE_MAPPING_DISPLAY_WIDTH_H
#define VOVARIZE_MAPPING_DISPLAY_WIDTH_H

#include <cstddef>
#include <string>

namespace vov {

// Columns of UTF-8 text; a byte that starts no valid character counts one.
size_t displayWidth(const std::string& utf8);

// Whether the character is wide (W) or full-width (F) by Unicode's East
// Asian Width property.
bool isWideCharacter(char32_t c);

}  // namespace vov

#endif
