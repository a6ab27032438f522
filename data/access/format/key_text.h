// Text in index keys: the sort key of a text order, as Access writes it.
//
//   primary weights  0x01  diacritic weights  [0x01 0x01 0x01 special weights]  0x00
//
// A character has either primary weights (one or two bytes each; a few
// letters expand to two weights) and one diacritic weight, or only a
// special weight (apostrophe, hyphen, control characters): 4 bytes giving
// its place among the primary weights. Case is not kept, so keys that
// differ only in case are equal. Trailing diacritic weights 0x02 (none)
// are left out, and the special part with its separators when empty.
//
// The codes are those read from index entries Access wrote in the test
// files; a character without a verified code is refused, never guessed.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_KEY_TEXT_H
#define VOVARIZE_DATA_ACCESS_FORMAT_KEY_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vov::access {

enum class TextOrder {
  GeneralLegacy,  // sort order 0x0409 version 0: Jet 4, ACE with the legacy order
  General,        // sort order 0x0409 version 1: ACE 2010 and later
};

// The order a text column names by its sort order and version; false when
// it is not one whose codes are verified.
bool textOrderOf(uint16_t sortOrder, uint8_t version, TextOrder* out);

// The order's name as Access shows it in Chinese.
std::string textOrderName(TextOrder order);

// Appends the sort key of `utf8`, terminator included. Raises KeyError for
// text that is not UTF-8 or holds a character without a verified code.
void appendTextSortKey(std::vector<uint8_t>& out, TextOrder order, std::string_view utf8);

}  // namespace vov::access

#endif
