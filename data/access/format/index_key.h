// Index keys: the bytes an index entry holds for the values of its columns.
// Entries of an index are ordered by plain byte comparison of key and row
// pointer, so each column type has an encoding whose byte order is the
// value order. A column segment starts with a flag byte: 0x7F for a value,
// 0x00 for NULL; a descending column stores 0x80 / 0xFF and inverts its
// data bytes. Text is stored as a sort key of the column's text order
// (key_text.h), never as the text itself.
#ifndef VOVARIZE_DATA_ACCESS_FORMAT_INDEX_KEY_H
#define VOVARIZE_DATA_ACCESS_FORMAT_INDEX_KEY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/error.h"

namespace vov::access {

// What the key of one index column depends on.
struct KeyColumn {
  uint8_t type = 0;          // the column type byte of the table definition
  bool ascending = true;
  uint16_t sortOrder = 0;    // text columns: the sort order the column states
  uint8_t sortVersion = 0;   // and its version
};

// One column value of a row. Fixed-size types: the bytes as the row stores
// them (little-endian). Binary and extended dates: the stored bytes. Text:
// the characters as UTF-8.
struct KeyValue {
  bool null = true;
  std::string_view bytes;
  static KeyValue of(std::string_view b) { return {false, b}; }
};

// A value this encoder cannot key. `character` is the code point that has
// no verified code (0 when the whole value or type is the problem); the
// message says why in the user's language, without table or index, which
// the caller adds.
class KeyError : public Error {
 public:
  KeyError(const std::string& why, char32_t character = 0)
      : Error(why), character_(character) {}
  char32_t character() const { return character_; }

 private:
  char32_t character_;
};

// Appends the segment of one column value to `out`. Raises KeyError.
void appendKeySegment(std::vector<uint8_t>& out, const KeyColumn& column, const KeyValue& value);

// Whether the encoder knows keys of this column type at all (its NULL key
// is always known).
bool keyTypeSupported(uint8_t columnType);

// "字符“x”（U+0078）" for messages.
std::string describeCharacter(char32_t c);

}  // namespace vov::access

#endif
