// What a grid cell shows for a value, and the value written back for the
// text a user typed into a cell. Plain C++: the typed text is checked
// against the field's type here, so a wrong entry is refused with a message
// that names the field instead of being stored in a shape the column was
// not made for.
#ifndef VOVARIZE_UI_DATA_GRID_CELL_VALUE_H
#define VOVARIZE_UI_DATA_GRID_CELL_VALUE_H

#include <string>

#include "data/field_type.h"
#include "data/value.h"

namespace vov {

// Binary values are not shown as raw bytes but as their length.
std::string cellText(const Value& v);

// Binary columns cannot be typed into.
bool isBinaryField(const FieldInfo& f);

// The value to write for `text` typed into a cell of field `f`. Empty text
// is null, except in text fields where it stays the empty text. Raises
// vov::Error (in Chinese) when the text does not fit the field's type.
Value cellValue(const FieldInfo& f, const std::string& text);

}  // namespace vov

#endif
